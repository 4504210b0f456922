// The operator's commands that write: performances added and deleted, the
// limit check per call, a checked project edit.
#include "BenchCommon.h"
#include "BenchUi.h"
#include <DBGrid.h>
#include <Pipe.h>
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

} // namespace bench
