// The catalogue search: the query alone, its holder column, the search dialog
// as the performance window opens it, Ctrl+A and OK in it, and a client's
// resident memory while it opens.
#include "BenchCommon.h"
#include "BenchUi.h"
#include "Processes.h"
#include <CommaText.h>
#include <Database.h>
#include <DBGrid.h>
#include <DataSource.h>
#include <HostError.h>
#include <Pipe.h>
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <cstdio>

namespace bench {

void bmSearch(benchmark::State &st, Env *env)
{
    auto cells = std::make_shared<std::vector<QVariant>>();
    bmRotation(st, env, "search",
               {
                   {"module", [env] { env->search->actRetrieveExecute(nullptr); }, {}, {}},
                   {"engine", [env] { replay(*env->raw, env->searchSql); }, {}, {}},
                   {"naive",
                    [env, cells] {
                        for (const QByteArray &q : env->searchSql)
                            env->raw->query(q, *cells);
                    },
                    {}, {}},
               });
    env->counts["search/found"] = env->search->cdsProduct->packet().rowCount();
    env->counts["search/shown"] = env->search->cdsProduct->RecordCount();
}

// The same search with the 所属项目 column (every holding read beside it, in
// its round trip, and matched to the rows found) and without it.
void bmHolders(benchmark::State &st, Env *env)
{
    TCDSearchProduct_pro *s = env->search.get();
    bmRotation(st, env, "holders",
               {
                   {"with", [s] { s->actRetrieveExecute(nullptr); }, {}, [s] { s->ReadHolders = true; }},
                   {"without", [s] { s->actRetrieveExecute(nullptr); }, {}, [s] { s->ReadHolders = false; }},
               });
    s->ReadHolders = true;
    s->actRetrieveExecute(nullptr);
    const TQELClientDataSet *ds = s->cdsProduct;
    const int holder = ds->FieldIndex(QStringLiteral("PROJECTNAME"));
    int held = 0;
    for (int row = 0; row < ds->packet().rowCount(); ++row)
        held += !ds->value(row, holder).toString().isEmpty();
    env->counts["holders/found"] = ds->packet().rowCount();
    env->counts["holders/held"] = held;
    env->counts["holders/holdings"] = double(TCADBPipe2().GetData(BenchContext(), QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT")).integer(0, 0));
    if (held == 0)
        st.SkipWithError("no row found shows its holder");
}

// The search dialog on its real path: created, shown, its first search run
// by the show, the grid painted; against the engine on every statement it sent.
void bmSearchDialog(benchmark::State &st, Env *env)
{
    QPointer<TUISearchProduct_pro> dlg;
    bool painted = true;
    if (env->dialogSql.empty()) {
        env->dialogSql = record([&] { dlg = openSearchDialog(*env, painted); });
        dispose(dlg);
        settle();
    }
    bmRotation(st, env, "dialog",
               {
                   {"module", [&] { dlg = openSearchDialog(*env, painted); },
                    [&] {
                        const TQELClientDataSet *ds = dlg->dsProduct->DataSet();
                        env->counts["dialog/found"] = ds->packet().rowCount();
                        env->counts["dialog/shown"] = ds->RecordCount();
                        painted = painted && ds->RecordCount() > 0;
                        dispose(dlg);
                        settle();
                    },
                    {}},
                   {"engine", [env] { replay(*env->raw, env->dialogSql); }, {}, {}},
               });
    env->counts["dialog/statements"] = double(env->dialogSql.size());
    if (!painted)
        st.SkipWithError("the search dialog did not paint its rows");
}

// Ctrl+A over every row the dialog shows, and OK after it, against one pass
// reading the code column of those rows.
void bmSelect(benchmark::State &st, Env *env)
{
    bool ok = true;
    QPointer<TUISearchProduct_pro> dlg = openSearchDialog(*env, ok);
    settle();
    TQELDBGrid *grid = dlg->dgrd_Product;
    const TQELClientDataSet *ds = dlg->dsProduct->DataSet();
    const int rows = ds->RecordCount();
    const int code = ds->FieldIndex(QStringLiteral("PRODUCTCODE"));
    PaintCounter paints(grid->viewport());
    qsizetype selected = -1, picked = -1;
    bmRotation(st, env, "select",
               {
                   {"ctrl_a",
                    [&] {
                        paints.count = 0;
                        // The selection alone as well: what is left is the repaint.
                        env->samples["select/ctrl_a_key"].push_back(timedCall([&] { pressKey(grid, Qt::Key_A, Qt::ControlModifier); }));
                        ok = spinUntil([&] { return paints.count > 0; }) && ok;
                    },
                    [&] { selected = grid->SelectedRows().size(); },
                    [&] {
                        grid->clearSelection();
                        settle();
                    }},
                   {"ok", [&] { dlg->actOk->trigger(); },
                    [&] {
                        picked = ReadCommaText(dlg->SelectedProducts).size();
                        dlg->show();
                        settle();
                    },
                    [&] {
                        grid->selectAll();
                        settle();
                    }},
                   {"pass",
                    [&] {
                        qsizetype n = 0;
                        for (int i = 0; i < rows; ++i)
                            n += ds->text(ds->rowAt(i), code).size();
                        benchmark::DoNotOptimize(n);
                    },
                    {}, {}},
               });
    env->counts["select/rows"] = rows;
    dispose(dlg);
    settle();
    if (!ok || rows == 0)
        st.SkipWithError("the search dialog did not paint");
    else if (selected != rows || picked != rows)
        st.SkipWithError(QStringLiteral("Ctrl+A selected %1, OK picked %2 of %3 rows").arg(selected).arg(picked).arg(rows).toStdString().c_str());
}

// Peak resident memory of a new process that shows the search dialog (as the
// performance window opens it), against the text of what the dialog holds.
void bmPeakRss(benchmark::State &st, Env *env)
{
    std::vector<double> before, peak, text, rows;
    for (auto _ : st) {
        for (int k = 0; k < 3; ++k) {
            const QByteArray out = runForOutput(QCoreApplication::applicationFilePath(),
                                                {QStringLiteral("--child-search-rss"), env->url, env->facts.exclusionProject});
            std::map<QByteArray, double> v;
            for (const QByteArray &kv : out.trimmed().split(' ')) {
                const qsizetype eq = kv.indexOf('=');
                v[kv.left(eq)] = kv.mid(eq + 1).toDouble();
            }
            before.push_back(v["before"]);
            peak.push_back(v["peak"]);
            text.push_back(v["text"]);
            rows.push_back(v["rows"]);
        }
    }
    auto median = [](std::vector<double> x) {
        std::sort(x.begin(), x.end());
        return x.empty() ? 0.0 : x[x.size() / 2];
    };
    st.counters["before"] = median(before);
    st.counters["peak"] = median(peak);
    st.counters["text"] = median(text);
    st.counters["rows"] = median(rows);
}

// qelbench --child-search-rss URL PROJECT: a process of its own that shows the
// search dialog as the performance window of PROJECT opens it and prints its
// peak resident memory before and with the dialog, and the text the dialog holds.
int childSearchRss(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    const QString url = QString::fromLocal8Bit(argv[2]), project = QString::fromLocal8Bit(argv[3]);
    QApplication app(argc, argv);
    mapFonts();
    SetMessagePresenter(&g_presenter);
    try {
        Database::open(url);
        TcdProductProject pp;
        pp.Context = BenchContext();
        Env env;
        env.exclusionText = pp.sgetproduct(project);
        // Qt's first window and the Chinese font cost the same with any dialog: paid before.
        {
            QLabel first(QStringLiteral("演出项目限购"));
            first.setFont(QFont(QStringLiteral("宋体"), 9));
            PaintCounter paints(&first);
            first.show();
            spinUntil([&] { return paints.count > 0; });
        }
        settle();
        // From here the peak is the dialog's.
        if (!resetPeakRss())
            throw EHostError(QStringLiteral("cannot reset the peak resident size (/proc/self/clear_refs)"));
        const qint64 before = currentRss();
        bool painted = true;
        QPointer<TUISearchProduct_pro> dlg;
        const std::vector<QByteArray> sqls = record([&] { dlg = openSearchDialog(env, painted); });
        settle();
        const qint64 peak = peakRss();
        const int rows = dlg->dsProduct->DataSet()->packet().rowCount();
        if (!painted || dlg->dsProduct->DataSet()->RecordCount() == 0)
            throw EHostError(QStringLiteral("the search dialog did not paint its rows"));
        dispose(dlg);
        // What it holds, as the engine's text: every result cell, and the exclusion list.
        auto raw = RawEngine::open(url);
        qint64 text = env.exclusionText.toUtf8().size();
        for (const QByteArray &q : sqls)
            if (isQuery(q))
                text += raw->textBytes(q);
        std::printf("before=%lld peak=%lld text=%lld rows=%d\n", static_cast<long long>(before), static_cast<long long>(peak),
                    static_cast<long long>(text), rows);
        Database::close();
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qelbench --child-search-rss: %s\n", e.what());
        return 1;
    }
}

} // namespace bench
