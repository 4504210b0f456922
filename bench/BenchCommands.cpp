// The operator's commands that write: performances added and deleted, the
// limit check per call, a checked project edit.
#include "BenchCommon.h"
#include "BenchUi.h"
#include <DBGrid.h>
#include <Pipe.h>
#include <SqlText.h>
#include <uUIProjectEdit.h>
#include <QToolButton>

namespace bench {

void bmConflict(benchmark::State &st, Env *env)
{
    const auto &pairs = env->facts.limitPairs;
    size_t km = 0, kr = 0;
    int conflicts = 0, engineConflicts = 0;
    bmRotation(st, env, "conflict",
               {
                   {"module",
                    [&] {
                        const auto &p = pairs[int(km++ % size_t(pairs.size()))];
                        // A pipe made for this one check, as a data module makes one.
                        env->cd->DBPipe = std::make_unique<TCADBPipe2>();
                        conflicts += env->cd->bhavepromem(p.first, p.second, QString());
                    },
                    {}, {}},
                   {"engine", [&] { engineConflicts += env->raw->touch(env->conflictSql[kr++ % env->conflictSql.size()]) > 0; }, {}, {}},
               });
    if (conflicts != engineConflicts)
        st.SkipWithError("module and engine disagree");
}

// 1,000 performances added the window's way, against the statements it sent
// replayed by the engine in one transaction.
void bmAdd(benchmark::State &st, Env *env)
{
    const int messages = g_presenter.count;
    const QString project = env->facts.insertProject;
    const QStringList &codes = env->facts.addCodes;
    QPointer<TFrmProductProject> w = openProductWindow(project);
    auto clear = [env, project] { unassign(*env, project); };
    if (env->addSql.empty()) {
        clear();
        env->addSql = record([&] { addTheWindowsWay(w.data(), codes); });
        clear();
    }
    env->notes["add/path"] = AddsProducts<TFrmProductProject> ? QStringLiteral("AddProducts") : QStringLiteral("loop");
    qint64 stored = -1;
    bmRotation(st, env, "add",
               {
                   {"module", [&] { addTheWindowsWay(w.data(), codes); },
                    [&] {
                        stored = assignedCount(*env, project);
                        clear();
                    },
                    {}},
                   {"engine", [env] { replayInOneTransaction(*env, env->addSql); }, clear, {}},
               });
    env->counts["add/codes"] = double(codes.size());
    env->counts["add/statements"] = double(env->addSql.size());
    dispose(w);
    settle();
    if (g_presenter.count != messages)
        st.SkipWithError(("messages while adding: " + g_presenter.last.toStdString()).c_str());
    else if (stored != codes.size())
        st.SkipWithError(QStringLiteral("%1 of %2 performances stored").arg(stored).arg(codes.size()).toStdString().c_str());
}

// Every row of a 5,000-performance project selected and deleted with the
// window's delete button (confirmed), against its statements in one transaction.
void bmDelete(benchmark::State &st, Env *env)
{
    const int messages = g_presenter.count;
    const QString project = env->facts.deleteProject;
    const QStringList &codes = env->facts.deleteCodes;
    unassign(*env, project);
    assign(*env, project, codes);
    QPointer<TFrmProductProject> w = openProductWindow(project);
    auto refill = [&] {
        unassign(*env, project);
        assign(*env, project, codes);
    };
    auto selectAll = [&] {
        w->ToolButton4->click(); // refresh
        w->dgrproduct->selectAll();
        settle();
    };
    if (env->deleteSql.empty()) {
        selectAll();
        env->deleteSql = record([&] { w->ToolButton2->click(); });
        refill();
    }
    const int selected = [&] {
        selectAll();
        return int(w->dgrproduct->SelectedRows().size());
    }();
    qint64 left = -1;
    bmRotation(st, env, "delete",
               {
                   {"module", [&] { w->ToolButton2->click(); },
                    [&] {
                        left = assignedCount(*env, project);
                        refill();
                    },
                    selectAll},
                   {"engine", [env] { replayInOneTransaction(*env, env->deleteSql); }, refill, {}},
               });
    env->counts["delete/rows"] = selected;
    env->counts["delete/statements"] = double(env->deleteSql.size());
    dispose(w);
    settle();
    unassign(*env, project);
    if (g_presenter.count != messages)
        st.SkipWithError(("messages while deleting: " + g_presenter.last.toStdString()).c_str());
    else if (selected != codes.size() || left != 0)
        st.SkipWithError(QStringLiteral("%1 selected of %2, %3 left after the delete").arg(selected).arg(codes.size()).arg(left).toStdString().c_str());
}

// The check that no other desk changed the row, on one project edit as the
// project window saves it: EdtProChecked (the row read under its lock, then
// EdtPro, in one transaction) against EdtPro alone as it ran before; each
// followed by the list reload with the search text that found the project.
void bmEditCheck(benchmark::State &st, Env *env)
{
    std::vector<QVariant> name;
    const qint64 id = env->facts.deleteProject.toLongLong();
    env->raw->query("select CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM from QEL_PROJECT where ID = " + QByteArray::number(id), name);
    if (name.size() != 4)
        return st.SkipWithError("no project to edit");
    TProjectRow read{name[0].toString(), name[1].toInt(), name[2].toInt(), name[3].toInt()};
    int i = 0;
    const auto next = [&] { return TProjectRow{read.CName, 70 + ++i % 25, 1 + i % 5, 1 + i % 4}; };
    const std::vector<Contender> cs = {
        {"checked",
         [&] {
             const TProjectRow mine = next();
             TProjectRow now;
             if (env->cd->EdtProChecked(id, read, mine, now) != TSaveOutcome::Saved)
                 st.SkipWithError("the checked edit was not saved");
             read = mine;
             env->cd->GetProject(read.CName);
         },
         {},
         {}},
        {"plain",
         [&] {
             read = next();
             env->cd->EdtPro(id, read.CName, read.CrossDiscount, read.CrosTNum, read.CrossPNum);
             env->cd->GetProject(read.CName);
         },
         {},
         {}},
    };
    bmRotation(st, env, "edit_check", cs);
}

// 复制项目… on a project with 200 limits, as the project window runs it: the
// source's row current, ActCopy triggered, the dialog (its name check) answered
// OK, CopyPro (the new project and its limits in one transaction), both lists
// reloaded; against the data module's part alone (CopyPro and the reload) and
// the engine on the statements the window sent, in one transaction. The source
// and its 200 member classes are made before each call of the measure and
// removed after it, so no other measure sees them; each copy is removed
// untimed.
void bmCopy(benchmark::State &st, Env *env)
{
    constexpr int kLimits = 200;
    const QString source = QStringLiteral("QELBENCH复制源");
    const QString copy = source + QStringLiteral("（副本）");
    const QByteArray classes = "SELECT MEMBER_CLASS_ID FROM um_member_class WHERE MEMBER_CLASS_ID LIKE 'QB%'";
    const auto scalar = [env](const QByteArray &sql) {
        std::vector<QVariant> cells;
        env->raw->query(sql, cells);
        return cells.empty() ? qint64(-1) : cells[0].toLongLong();
    };
    const auto removeCopies = [&] {
        const QByteArray ids = "(SELECT ID FROM QEL_PROJECT WHERE CNAME LIKE " + QuotedStr(source + QLatin1Char('%')).toUtf8() + ")";
        env->raw->exec("DELETE FROM qel_project_member_limit WHERE PID IN " + ids);
        env->raw->exec("DELETE FROM QEL_PROJECT WHERE CNAME LIKE " + QuotedStr(source + QLatin1Char('%')).toUtf8());
    };
    const auto tidy = [&] {
        removeCopies();
        env->raw->exec("DELETE FROM um_member_class WHERE MEMBER_CLASS_ID IN (" + classes + ")");
    };
    tidy();
    env->raw->exec(beginSql(*env));
    for (int i = 1; i <= kLimits; ++i)
        env->raw->exec(QStringLiteral("INSERT INTO um_member_class (MEMBER_CLASS_ID, MEMBER_CLASS_NAME) VALUES ('QB%1', '复制测试会员%1')")
                           .arg(i, 3, 10, QLatin1Char('0'))
                           .toUtf8());
    env->raw->exec("INSERT INTO QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) VALUES (" + QuotedStr(source).toUtf8() + ", 85, 2, 2)");
    env->raw->exec("INSERT INTO qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) SELECT p.ID, c.MEMBER_CLASS_ID, 4, "
                   "'1', '1' FROM QEL_PROJECT p, um_member_class c WHERE p.CNAME = " +
                   QuotedStr(source).toUtf8() + " AND c.MEMBER_CLASS_ID LIKE 'QB%'");
    env->raw->exec("COMMIT");
    const qint64 sourceId = scalar("SELECT ID FROM QEL_PROJECT WHERE CNAME = " + QuotedStr(source).toUtf8());

    const int messages = g_presenter.count;
    QPointer<TFrmProject> w = openWindow();
    {
        PaintCounter paints(w->QELDBGrid1->viewport());
        w->show();
        spinUntil([&] { return paints.count > 0; });
    }
    settle();
    bool ok = true;
    const auto onSource = [&] {
        ok = CDProject->cdsProject->Locate(QStringLiteral("ID"), sourceId) && w->ActCopy->isEnabled() && ok;
    };
    const auto copied = [&] { return scalar("SELECT COUNT(*) FROM qel_project_member_limit l JOIN QEL_PROJECT p ON p.ID = l.PID WHERE p.CNAME = " +
                                            QuotedStr(copy).toUtf8()); };
    qint64 limits = -1;
    const auto after = [&] {
        limits = copied();
        ok = limits == kLimits && ok;
        env->raw->exec("DELETE FROM qel_project_member_limit WHERE PID IN (SELECT ID FROM QEL_PROJECT WHERE CNAME = " + QuotedStr(copy).toUtf8() + ")");
        env->raw->exec("DELETE FROM QEL_PROJECT WHERE CNAME = " + QuotedStr(copy).toUtf8());
    };
    const auto viaWindow = [&] {
        Answer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) { d->btnOK->click(); });
        w->ActCopy->trigger();
        ok = answer.seen && ok;
    };
    const auto viaData = [&] {
        CDProject->CopyPro(sourceId, TProjectRow{copy, 85, 2, 2});
        CDProject->GetProjectAndMember(w->EdtProName->text().trimmed(), w->edtprolimit->text().trimmed());
    };
    // The window's statements, recorded once; the copy's new ID in them is
    // put in place of the recorded one on each replay (untimed, split in
    // advance), read from the window's own look-up of it.
    onSource();
    const std::vector<QByteArray> sql = record(viaWindow);
    qint64 recordedId = -1;
    {
        std::vector<QVariant> cells;
        env->raw->query("SELECT ID FROM QEL_PROJECT WHERE CNAME = " + QuotedStr(copy).toUtf8(), cells);
        recordedId = cells.empty() ? -1 : cells[0].toLongLong();
    }
    after();
    const QByteArray idLookup = "SELECT ID FROM QEL_PROJECT WHERE CNAME = " + QuotedStr(copy).toUtf8();
    const QByteArray idMark = "Values('" + QByteArray::number(recordedId) + "',";
    struct Step {
        QByteArray head, tail; // tail empty: the statement as recorded
        bool lookup = false;
    };
    std::vector<Step> steps;
    for (const QByteArray &q : sql) {
        const qsizetype at = q.indexOf(idMark);
        if (q == idLookup)
            steps.push_back({q, {}, true});
        else if (at >= 0)
            steps.push_back({q.left(at) + "Values('", q.mid(at + idMark.size() - 2), false});
        else
            steps.push_back({q, {}, false});
    }
    const auto floor = [&] {
        std::vector<QVariant> cells;
        QByteArray id;
        env->raw->exec(beginSql(*env));
        for (const Step &s : steps) {
            if (s.lookup) {
                env->raw->query(s.head, cells);
                id = cells.empty() ? QByteArray() : cells[0].toByteArray();
            } else if (!s.tail.isEmpty()) {
                env->raw->exec(s.head + id + s.tail);
            } else if (isQuery(s.head)) {
                benchmark::DoNotOptimize(env->raw->touch(s.head));
            } else {
                env->raw->exec(s.head);
            }
        }
        env->raw->exec("COMMIT");
    };
    bmRotation(st, env, "copy",
               {
                   {"module", viaWindow, after, onSource},
                   {"data", viaData, after, {}},
                   {"engine", floor, after, {}},
               });
    env->counts["copy/limits"] = double(limits);
    env->counts["copy/statements"] = double(sql.size());
    dispose(w);
    settle();
    tidy();
    if (g_presenter.count != messages)
        st.SkipWithError(("messages while copying: " + g_presenter.last.toStdString()).c_str());
    else if (!ok || recordedId < 0)
        st.SkipWithError(QStringLiteral("the copy did not run as the window runs it (%1 of %2 limits copied)").arg(limits).arg(kLimits).toStdString().c_str());
}

} // namespace bench
