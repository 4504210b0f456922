// The windows: the main window opened and scrolled, the limit dialog and its
// drop-down, the limit list sorted, and a cold start of the client.
#include "BenchCommon.h"
#include "BenchUi.h"
#include "Processes.h"
#include <DBGrid.h>
#include <GridSortModel.h>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace bench {

namespace {

void closeWindow(TFrmProject *w)
{
    QPointer<TFrmProject> guard(w);
    dispose(guard);
}

} // namespace

// The limit dialog filled with every project and member class, shown and
// painted, against the engine on its statements.
void bmLimitDialog(benchmark::State &st, Env *env)
{
    LimitDialog d;
    bool painted = true;
    if (env->limitDialogSql.empty())
        env->limitDialogSql = record([&] { fillLimitDialog(*env, d); });
    d = LimitDialog();
    bmRotation(st, env, "limit_dialog",
               {
                   {"module",
                    [&] {
                        fillLimitDialog(*env, d);
                        painted = showLimitDialog(d) && painted;
                    },
                    [&] {
                        env->counts["limit_dialog/projects"] = d.dlg->cbbproject->count();
                        // The window's lists are locals that go with the dialog, after it.
                        d.dlg.reset();
                        d.projectIds.clear();
                        d.memberIds.clear();
                        settle();
                    },
                    {}},
                   {"engine", [env] { replay(*env->raw, env->limitDialogSql); }, {}, {}},
               });
    if (!painted)
        st.SkipWithError("the limit dialog did not paint");
}

// The project drop-down of the filled limit dialog: opened until its list painted.
void bmDropDown(benchmark::State &st, Env *env)
{
    LimitDialog d;
    fillLimitDialog(*env, d);
    bool painted = showLimitDialog(d);
    settle();
    QComboBox *box = d.dlg->cbbproject;
    PaintCounter paints(box->view()->viewport());
    bmRotation(st, env, "dropdown",
               {
                   {"module",
                    [&] {
                        paints.count = 0;
                        box->showPopup();
                        painted = spinUntil([&] { return paints.count > 0; }) && painted;
                    },
                    [&] {
                        box->hidePopup();
                        settle();
                    },
                    {}},
               });
    env->counts["dropdown/items"] = box->count();
    d.dlg.reset();
    settle();
    if (!painted)
        st.SkipWithError("the drop-down did not paint");
}

// A cold qelclient until its main window is drawn (the screenshot run saves it
// first), against the engine's own shell running the main window's statements.
void bmCold(benchmark::State &st, Env *env)
{
    const QString client = QCoreApplication::applicationDirPath() + QStringLiteral("/qelclient");
    if (!QFileInfo::exists(client)) {
        st.SkipWithError("qelclient is not built next to qelbench");
        return;
    }
    QTemporaryDir shots;
    const bool pg = env->engine == QLatin1String("postgresql");
    QByteArray script;
    QString shell;
    QStringList shellArgs, shellEnv;
    if (pg) {
        shell = psqlProgram();
        shellArgs = {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-v"),
                     QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), env->url};
        shellEnv = {QStringLiteral("PGCLIENTENCODING=UTF8"), QStringLiteral("PGDATESTYLE=ISO")};
    } else {
        shell = QStringLiteral("sqlite3");
        shellArgs = {QStringLiteral("-batch"), QStringLiteral("-bail"), env->url.mid(int(qstrlen("sqlite:")))};
        // The host's session settings, so that only the program differs.
        script = "PRAGMA case_sensitive_like=ON; PRAGMA cache_size=-65536;\n";
    }
    for (const QByteArray &q : env->windowSql)
        script += q + ";\n";
    const QStringList clientArgs = {QStringLiteral("-oL"), client, QStringLiteral("--database"), env->url, QStringLiteral("--screenshot"), shots.path()};
    QProcess p;
    bmRotation(st, env, "cold",
               {
                   {"module", [&] { timeUntilLine(p, QStringLiteral("stdbuf"), clientArgs, QStringLiteral("main-projects.png")); }, [&] { endProcess(p); }, {}},
                   {"engine", [&] { timeRun(shell, shellArgs, script, shellEnv); }, {}, {}},
               });
    env->notes["cold/shell"] = QFileInfo(shell).fileName();
    env->counts["cold/statements"] = double(env->windowSql.size());
}

// The main window: created, shown and painted once (closed untimed), against
// the engine on the statements it sent.
void bmWindow(benchmark::State &st, Env *env)
{
    QPointer<TFrmProject> w;
    bool painted = true;
    bmRotation(st, env, "window",
               {
                   {"module",
                    [&] {
                        w = openWindow();
                        PaintCounter paints(w->QELDBGrid1->viewport());
                        w->show();
                        painted = spinUntil([&] { return paints.count > 0; }) && painted;
                    },
                    [&] {
                        if (!CDProject || CDProject->cdsProject->RecordCount() == 0)
                            painted = false;
                        dispose(w);
                        settle();
                    },
                    {}},
                   {"engine", [env] { replay(*env->raw, env->windowSql); }, {}, {}},
               });
    env->counts["window/statements"] = double(env->windowSql.size());
    if (!painted)
        st.SkipWithError("the window did not paint its projects");
}

void bmWindowScroll(benchmark::State &st, Env *)
{
    TFrmProject *w = openWindow();
    w->show();
    TQELDBGrid *grid = w->QELDBGrid1;
    PaintCounter painted(grid->viewport());
    spinUntil([&] { return painted.count > 0; });
    settle();
    const int rows = CDProject->cdsProject->RecordCount();
    int repaints = 0, wrong = 0;
    const Collect collect;
    for (auto _ : st) {
        painted.count = 0;
        pressKey(grid, Qt::Key_End, Qt::ControlModifier);
        spinUntil([&] { return painted.count > 0; });
        st.PauseTiming();
        settle();
        repaints += painted.count;
        wrong += CDProject->cdsProject->RecNo() != rows - 1;
        pressKey(grid, Qt::Key_Home, Qt::ControlModifier);
        settle();
        st.ResumeTiming();
    }
    st.counters["repaints"] = double(repaints) / double(st.iterations());
    st.counters["missed_last_row"] = wrong;
    st.counters["rows"] = rows;
    closeWindow(w);
    settle();
}

// The limit list in a grid laid out as the main window's, shown offscreen:
// a click on a title (SortByColumn, what the click runs) until the grid has
// repainted, against the load it follows (GetProjectmember into the same
// grid, unsorted, until repainted).
void bmLimitSort(benchmark::State &st, Env *env)
{
    TQELDBGrid grid;
    grid.SetColumns({{QStringLiteral("CNAME"), QStringLiteral("演出项目"), 347},
                     {QStringLiteral("MEMBER_CLASS_NAME"), QStringLiteral("会员类别"), 156},
                     {QStringLiteral("MAX_NUM"), QStringLiteral("限购数量"), 156},
                     {QStringLiteral("limitname"), QStringLiteral("限购类型"), 156, Qt::AlignCenter},
                     {QStringLiteral("enablename"), QStringLiteral("是否可用"), 156}});
    grid.SetDataSource(env->cd->dsprojectmember);
    grid.resize(1000, 420);
    grid.show();
    env->cd->GetProjectmember(QString());
    PaintCounter paints(grid.viewport());
    spinUntil([&] { return paints.count > 0; });
    settle();
    bool painted = true;
    auto untilPainted = [&](const std::function<void()> &f) {
        paints.count = 0;
        f();
        painted = spinUntil([&] { return paints.count > 0; }) && painted;
    };
    auto unsorted = [&] {
        grid.SortByColumn(-1);
        settle();
    };
    bool ordered = true;
    // Checks the shown order once per call, untimed: names never fall in pinyin order.
    auto check = [&] {
        settle();
        const TQELClientDataSet *ds = env->cd->cdsprojectmember;
        const int f = ds->FieldIndex(grid.SortColumn() == 0 ? QStringLiteral("CNAME") : QStringLiteral("MAX_NUM"));
        std::vector<qint64> key;
        std::vector<uint8_t> blank;
        ds->SortKeys(f, key, blank);
        const TQELGridSortModel *m = grid.SortModel();
        for (int r = 1; r < m->rowCount(); ++r) {
            const int a = ds->rowAt(m->sourceRow(r - 1)), b = ds->rowAt(m->sourceRow(r));
            if (!blank[size_t(b)] && (blank[size_t(a)] || key[size_t(a)] > key[size_t(b)]))
                ordered = false;
        }
    };
    bmRotation(st, env, "limit_sort",
               {
                   {"sort_text", [&] { untilPainted([&] { grid.SortByColumn(0, Qt::AscendingOrder); }); }, check, unsorted},
                   {"sort_number", [&] { untilPainted([&] { grid.SortByColumn(2, Qt::AscendingOrder); }); }, check, unsorted},
                   {"load", [&] { untilPainted([&] { env->cd->GetProjectmember(QString()); }); }, [&] { settle(); }, unsorted},
               });
    env->counts["limit_sort/rows"] = grid.model()->rowCount();
    grid.SetDataSource(nullptr);
    if (!painted)
        st.SkipWithError("the grid did not repaint");
    if (!ordered)
        st.SkipWithError("the sorted grid is out of order");
}

} // namespace bench
