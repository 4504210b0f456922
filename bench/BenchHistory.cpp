// The change history: its window, and what it costs the writes.
#include "BenchCommon.h"
#include "BenchUi.h"
#include <DBGrid.h>
#include <SqlText.h>
#include <uUIHistory.h>
#include <QDialog>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace bench {

// The history window as Ctrl+H opens it: created, its list loaded, shown and
// its grid painted; on the project with the most entries, or on all
// projects; against the engine on its statement.
void bmHistoryWindow(benchmark::State &st, Env *env, bool all)
{
    const std::string measure = all ? "history_all" : "history_project";
    const qint64 project = env->facts.exclusionProject.toLongLong();
    std::unique_ptr<TFrmHistory> w;
    bool painted = true;
    const auto open = [&] {
        w = std::make_unique<TFrmHistory>();
        w->SetContext(BenchContext());
        w->SetProject(all ? 0 : project, QStringLiteral("项目"));
        w->BtnSearchClick(nullptr);
        PaintCounter grid(w->GrdHistory->viewport());
        w->show();
        painted = spinUntil([&] { return grid.count > 0; }) && painted;
    };
    const auto close = [&] {
        env->counts[measure + "/rows"] = w->GrdHistory->model()->rowCount();
        w.reset();
        settle();
    };
    std::vector<QByteArray> &sql = all ? env->historyAllSql : env->historyProjectSql;
    if (sql.empty()) {
        sql = record(open);
        close();
    }
    // Qt's own floor for such a window: a bare dialog of the same size whose
    // table view shows the same rows and texts, already in memory.
    QStandardItemModel rows;
    {
        open();
        const QAbstractItemModel *m = w->GrdHistory->model();
        rows.setColumnCount(m->columnCount());
        for (int c = 0; c < m->columnCount(); ++c)
            rows.setHorizontalHeaderItem(c, new QStandardItem(m->headerData(c, Qt::Horizontal).toString()));
        for (int r = 0; r < m->rowCount(); ++r) {
            QList<QStandardItem *> items;
            for (int c = 0; c < m->columnCount(); ++c)
                items << new QStandardItem(m->index(r, c).data().toString());
            rows.appendRow(items);
        }
        close();
    }
    std::unique_ptr<QDialog> bare;
    const auto openBare = [&] {
        bare = std::make_unique<QDialog>();
        auto *layout = new QVBoxLayout(bare.get());
        auto *view = new QTableView;
        layout->addWidget(view);
        view->setModel(&rows);
        bare->resize(1360, 560);
        PaintCounter grid(view->viewport());
        bare->show();
        painted = spinUntil([&] { return grid.count > 0; }) && painted;
    };
    bmRotation(st, env, measure,
               {
                   {"module", open, close, {}},
                   {"engine", [env, &sql] { replay(*env->raw, sql); }, {}, {}},
                   {"qt_floor", openBare,
                    [&] {
                        bare.reset();
                        settle();
                    },
                    {}},
               });
    env->counts["history/entries"] = double(env->raw->touch("select ID from QEL_PROJECT_HISTORY"));
    if (!painted)
        st.SkipWithError("the history window did not paint");
}

// What the history costs the writes an operator waits for, through the
// module as the windows make them: 1,000 performances added (AddProducts, one
// transaction), 100 project edits (EdtPro, each its own transaction), or one
// edit saved as the project window saves it (EdtPro, then the list reloaded
// with the search text that found the project); with the history's triggers,
// and with them dropped beforehand and made again afterwards (outside the
// timing).
void bmHistoryCost(benchmark::State &st, Env *env, HistoryWrite kind)
{
    const bool edits = kind != HistoryWrite::Adds;
    const std::string measure = kind == HistoryWrite::Adds ? "history_add" : kind == HistoryWrite::Edits ? "history_edit" : "history_save";
    struct Trigger {
        QByteArray drop, create;
    };
    std::vector<Trigger> triggers;
    std::vector<QVariant> cells;
    if (env->engine == QLatin1String("sqlite")) {
        env->raw->query("select name, sql from sqlite_master where type = 'trigger' and name like '%HISTORY%'", cells);
        for (size_t i = 0; i + 1 < cells.size(); i += 2)
            triggers.push_back({"DROP TRIGGER " + cells[i].toString().toUtf8(), cells[i + 1].toString().toUtf8()});
    } else {
        env->raw->query("select t.tgname, c.relname, pg_get_triggerdef(t.oid) from pg_trigger t join pg_class c on c.oid = t.tgrelid "
                        "where not t.tgisinternal and t.tgname ilike '%history%'",
                        cells);
        for (size_t i = 0; i + 2 < cells.size(); i += 3)
            triggers.push_back({"DROP TRIGGER " + cells[i].toString().toUtf8() + " ON " + cells[i + 1].toString().toUtf8(),
                                cells[i + 2].toString().toUtf8()});
    }
    if (triggers.empty())
        return st.SkipWithError("no history triggers found");
    const auto drop = [&] {
        for (const Trigger &t : triggers)
            env->raw->exec(t.drop);
    };
    const auto create = [&] {
        for (const Trigger &t : triggers)
            env->raw->exec(t.create);
    };
    env->counts[measure + "/triggers"] = double(triggers.size());

    const int messages = g_presenter.count;
    std::function<void()> write, undo;
    QPointer<TFrmProductProject> w;
    std::vector<QVariant> name;
    const qint64 id = env->facts.deleteProject.toLongLong();
    // The i-th edit: its values change from one edit to the next.
    const auto edit = [&](int i) { env->cd->EdtPro(id, name[0].toString(), 70 + i % 25, 1 + i % 5, 1 + i % 4); };
    if (edits) {
        env->raw->query("select CNAME from QEL_PROJECT where ID = " + QByteArray::number(id), name);
        if (name.empty())
            return st.SkipWithError("no project to edit");
        if (kind == HistoryWrite::Save)
            write = [&, i = 0]() mutable {
                edit(++i);
                env->cd->GetProject(name[0].toString());
            };
        else
            write = [&] {
                for (int i = 0; i < 100; ++i)
                    edit(i);
            };
        undo = [] {};
    } else {
        const QString project = env->facts.insertProject;
        w = openProductWindow(project);
        unassign(*env, project);
        write = [&] { addTheWindowsWay(w.data(), env->facts.addCodes); };
        undo = [env, project] { unassign(*env, project); };
    }
    // After a call without the triggers: they are made again, the write undone.
    const auto restore = [&] {
        create();
        undo();
    };
    std::vector<Contender> cs = {
        {"with", write, undo, {}},
        {"without", write, restore, drop},
    };
    // The floor of any entry written in the change's own transaction: the
    // module's statements on the engine alone, in the same transactions,
    // with and without one more row per changed row (the entry's text) in a
    // table without indexes, through a statement prepared once.
    const bool sqlite = env->engine == QLatin1String("sqlite");
    struct Transaction {
        std::vector<QByteArray> sql;
        qsizetype entries;
    };
    std::vector<Transaction> floorTx;
    if (kind == HistoryWrite::Edits)
        for (int i = 0; i < 100; ++i)
            floorTx.push_back({record([&] { edit(i); }), 1});
    else if (kind == HistoryWrite::Adds)
        floorTx.push_back({record(write), env->facts.addCodes.size()});
    QByteArray entry, indexedEntry;
    if (!floorTx.empty()) {
        std::vector<QVariant> last;
        env->raw->query("select NODECODE, USERGROUP, USERNAME, ROW_KIND, ACTION, PROJECT_ID, PROJECT_NAME, ROW_KEY, BEFORE_VALUES, AFTER_VALUES "
                        "from QEL_PROJECT_HISTORY order by ID desc limit 1",
                        last);
        undo();
        if (last.size() != 10)
            return st.SkipWithError("the writes left no history entry");
        const auto value = [&](int i) { return last[size_t(i)].isNull() ? QByteArray("NULL") : QuotedStr(last[size_t(i)].toString()).toUtf8(); };
        // Into a table without any index, and into the history table itself
        // (its key and the two indexes the window reads by, its size), with
        // the triggers' work left out.
        const QByteArray columns = ", CHANGED_AT timestamp, TXID bigint, NODECODE text, USERGROUP text, USERNAME text, ROW_KIND text, ACTION text, "
                                   "PROJECT_ID bigint, PROJECT_NAME text, ROW_KEY text, BEFORE_VALUES text, AFTER_VALUES text)";
        env->raw->exec(QByteArray("CREATE TABLE QELBENCH_FLOOR (ID ") + (sqlite ? "INTEGER PRIMARY KEY" : "bigint") + columns);
        QByteArray values = QByteArray(" (CHANGED_AT, TXID, NODECODE, USERGROUP, USERNAME, ROW_KIND, ACTION, PROJECT_ID, PROJECT_NAME, ROW_KEY, "
                                       "BEFORE_VALUES, AFTER_VALUES) VALUES (") +
                            (sqlite ? "strftime('%Y-%m-%d %H:%M:%f','now')" : "clock_timestamp()") + ", 1";
        for (int i = 0; i < 10; ++i)
            values += ", " + value(i);
        values += ")";
        entry = "INSERT INTO QELBENCH_FLOOR" + values;
        indexedEntry = "INSERT INTO QEL_PROJECT_HISTORY" + values;
        const auto floor = [&](const QByteArray *withEntries) {
            for (const Transaction &tx : floorTx)
                env->raw->transaction(tx.sql, withEntries ? *withEntries : entry, withEntries ? tx.entries : 0);
        };
        cs.push_back({"floor_entry", [&] { floor(&entry); }, restore, drop});
        cs.push_back({"floor_indexed", [&] { floor(&indexedEntry); }, restore, drop});
        cs.push_back({"floor_plain", [&] { floor(nullptr); }, restore, drop});
    }
    bmRotation(st, env, measure, cs);
    if (!entry.isEmpty())
        env->raw->exec("DROP TABLE QELBENCH_FLOOR");
    if (w)
        dispose(w);
    settle();
    if (g_presenter.count != messages)
        st.SkipWithError(("messages while writing: " + g_presenter.last.toStdString()).c_str());
}

} // namespace bench
