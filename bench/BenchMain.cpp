// qelbench: every hot path of the project module against the raw engine doing
// the same work, measured side by side in one process. Prints one Markdown
// table on stdout; progress goes to stderr. bench/run is the way to call it.
#include "Baselines.h"
#include "BenchData.h"
#include "Results.h"
#include <DBGrid.h>
#include <Database.h>
#include <Dialogs.h>
#include <HostError.h>
#include <Pipe.h>
#include <Schema.h>
#include <uCDProductProject.h>
#include <uCDProject.h>
#include <uCDSearchproduct_pro.h>
#include <uUIProject.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>
#include <QUrl>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <valgrind/callgrind.h>
#include <sqlite3.h>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>

namespace {

constexpr int kGeneratorVersion = 2;

struct Options {
    QString pgUrl;
    QString dataDir;
    bool regen = false;
    int reps = 15;
    double minTime = 0.2;
    QStringList scales = {QStringLiteral("10k"), QStringLiteral("100k")};
    bool sqlite = true;
    QString only; // run only benchmarks whose name matches
    bool keep = false; // PostgreSQL: keep the data sets, reuse them next time
};

// One data set on one engine, and everything the benchmarks over it use.
struct Env {
    QString engine; // "sqlite" or "postgresql"
    Scale scale;
    QString url;
    QDate anchor;
    std::string prefix; // "sqlite/100k/"
    DataSetFacts facts;
    // Alive only while this data set's group runs.
    std::unique_ptr<RawEngine> raw;
    std::unique_ptr<QtSqlPeer> peer;
    std::unique_ptr<TCDProject> cd;
    std::unique_ptr<TcdProductProject> pp;
    std::unique_ptr<TCDSearchProduct_pro> search;
    // The statements the module sends, recorded through the trace hook.
    QByteArray projectSql, limitSql, searchSql;
    std::vector<QByteArray> conflictSql, addSql;
    qint64 projectTextBytes = 0;
    int searchServiceRows = 0, searchShownRows = 0;
    // Seconds per call of every contender ("limit_list/raw"), over all repetitions.
    std::map<std::string, std::vector<double>> samples;
    std::map<std::string, double> counts;
};

class CountingPresenter : public MessagePresenter {
public:
    int present(MessageKind kind, const QString &text, const QString &, int) override
    {
        ++count;
        last = text;
        return kind == MessageKind::Confirm ? mrYes : 1;
    }
    int count = 0;
    QString last;
};
CountingPresenter g_presenter;

void say(const QString &s)
{
    std::cerr << "[qelbench] " << s.toStdString() << std::endl;
}

// Under valgrind --tool=callgrind --collect-atstart=no, only the measured
// loops are counted; a no-op otherwise.
struct Collect {
    Collect() { CALLGRIND_TOGGLE_COLLECT; }
    ~Collect() { CALLGRIND_TOGGLE_COLLECT; }
};

qint64 heapInUse()
{
    const struct mallinfo2 mi = mallinfo2();
    return qint64(mi.uordblks + mi.hblkhd);
}

// Counts paint events of one widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *w) : m_w(w) { w->installEventFilter(this); }
    ~PaintCounter() override
    {
        if (m_w)
            m_w->removeEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (o == m_w && e->type() == QEvent::Paint)
            ++count;
        return false;
    }

private:
    QPointer<QWidget> m_w;
};

// Runs the event loop until pred() or the deadline; false on timeout.
template <class P>
bool spinUntil(P pred, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (t.elapsed() > ms)
            return false;
    }
    return true;
}

// Lets pending updates land: a few idle rounds after the last event.
void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
}

void closeWindow(TFrmProject *w)
{
    QPointer<TFrmProject> guard(w);
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (guard)
        delete guard.data();
}

// ---- the data sets --------------------------------------------------------------

// Generator, day and schema: a kept data set is used only while all three match.
QString dataStamp(const Env &env)
{
    const QByteArray schema = SchemaScript(env.engine);
    return QStringLiteral("%1 %2 %3").arg(kGeneratorVersion).arg(env.anchor.toString(Qt::ISODate)).arg(qHash(schema), 0, 16);
}

QString sqlitePath(const Options &o, const Scale &s)
{
    return QDir(o.dataDir).filePath(QStringLiteral("projects-%1.db").arg(s.label));
}

// SQLite files are kept between runs of the same day and generator; a stamp
// file written last marks a complete one.
void prepareSqlite(const Options &o, Env &env)
{
    const QString path = sqlitePath(o, env.scale);
    const QString stampPath = path + QStringLiteral(".stamp");
    const QString stamp = dataStamp(env);
    env.url = QStringLiteral("sqlite:") + path;
    QFile sf(stampPath);
    if (!o.regen && sf.open(QIODevice::ReadOnly) && QString::fromUtf8(sf.readAll()).trimmed() == stamp && QFileInfo::exists(path)) {
        say(QStringLiteral("sqlite %1: reusing %2").arg(env.scale.label, path));
        return;
    }
    sf.close();
    QDir().mkpath(o.dataDir);
    QFile::remove(stampPath);
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(path + suffix);
    QElapsedTimer t;
    t.start();
    Database::open(env.url);
    GenerateDataSet(env.scale, env.anchor, [&](const QString &what) { say(QStringLiteral("sqlite %1: %2").arg(env.scale.label, what)); });
    Database::close();
    QFile out(stampPath);
    if (out.open(QIODevice::WriteOnly))
        out.write(stamp.toUtf8());
    say(QStringLiteral("sqlite %1: generated in %2 s").arg(env.scale.label).arg(t.elapsed() / 1000.0, 0, 'f', 1));
}

QString withDatabase(const QString &url, const QString &db)
{
    QUrl u(url);
    u.setPath(QLatin1Char('/') + db);
    return u.toString();
}

// A database of its own on the given server, dropped at exit.
struct PgDatabases {
    QString admin;
    QStringList names;
    ~PgDatabases()
    {
        for (const QString &n : names) {
            try {
                auto conn = Database::connect(admin);
                conn->exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(n).toUtf8());
            } catch (const std::exception &e) {
                std::cerr << "warning: " << n.toStdString() << " not dropped: " << e.what() << std::endl;
            }
        }
    }
};

void preparePostgres(const Options &o, PgDatabases &dbs, Env &env)
{
    const QString name = QStringLiteral("qelbench_%1").arg(env.scale.label);
    const QString stamp = dataStamp(env);
    env.url = withDatabase(o.pgUrl, name);
    if (o.keep && !o.regen) {
        try {
            auto conn = Database::connect(env.url);
            if (conn->query("select V from QELBENCH_STAMP").text(0, 0) == stamp) {
                say(QStringLiteral("postgresql %1: reusing database %2").arg(env.scale.label, name));
                return;
            }
        } catch (const EHostError &) {
        }
    }
    {
        auto admin = Database::connect(o.pgUrl);
        admin->exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name).toUtf8());
        admin->exec(QStringLiteral("CREATE DATABASE %1 ENCODING 'UTF8' TEMPLATE template0").arg(name).toUtf8());
    }
    if (!o.keep)
        dbs.names << name;
    QElapsedTimer t;
    t.start();
    Database::open(env.url);
    GenerateDataSet(env.scale, env.anchor, [&](const QString &what) { say(QStringLiteral("postgresql %1: %2").arg(env.scale.label, what)); });
    Database::connection()->exec(QStringLiteral("create table QELBENCH_STAMP (V varchar(40)); insert into QELBENCH_STAMP values ('%1')").arg(stamp).toUtf8());
    Database::close();
    say(QStringLiteral("postgresql %1: generated in %2 s").arg(env.scale.label).arg(t.elapsed() / 1000.0, 0, 'f', 1));
}

// ---- per group set-up ------------------------------------------------------------

void recordStatements(const std::function<void()> &f, QStringList &out)
{
    Database::setTraceHook([&out](const QString &, const QString &sql) { out << sql; });
    try {
        f();
    } catch (...) {
        Database::setTraceHook({});
        throw;
    }
    Database::setTraceHook({});
}

void clearAdded(Env &env)
{
    env.raw->exec(QByteArray("DELETE FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = ") + env.facts.insertProject.toUtf8());
}

void addTheWindowsWay(Env &env)
{
    for (const QString &code : env.facts.addCodes) {
        QString name;
        if (env.pp->brepeat(code, name))
            ShowWarningMessage(QStringLiteral("演出: ") + name + QStringLiteral("已被其他项目使用！"), QStringLiteral("警告"));
        else
            env.pp->InsertProduct(env.facts.insertProject, code);
    }
}

void openGroup(Env &env, const Options &o)
{
    Database::open(env.url);
    env.facts = ReadFacts(env.anchor);
    env.raw = RawEngine::open(env.url);
    env.peer = std::make_unique<QtSqlPeer>(env.url);
    if (!env.peer->available())
        say(QStringLiteral("%1: no QSqlQueryModel peer: %2").arg(env.engine, env.peer->why()));
    const QString ctx = BenchContext();

    env.cd = std::make_unique<TCDProject>();
    env.cd->Context = ctx;
    env.pp = std::make_unique<TcdProductProject>();
    env.pp->Context = ctx;
    env.pp->ProjectID = env.facts.insertProject;

    auto *s = new TCDSearchProduct_pro();
    env.search.reset(s);
    s->SetContext(ctx);
    s->AllStatus = false;
    s->ExcludeProducts = env.pp->sgetproduct(env.facts.exclusionProject);
    s->GetProductClassBrief();
    s->GetPlaceBrief();
    s->GetCityBrief();
    s->ResetCondition(true);
    // The 90 days from the data set's anchor day.
    s->cdsCondition->Edit();
    s->cdsCondition->FieldByName(QStringLiteral("BHappenTime")).SetAsDateTime(QDateTime(env.anchor, QTime(0, 0)));
    s->cdsCondition->FieldByName(QStringLiteral("EHappenTime")).SetAsDateTime(QDateTime(env.anchor.addDays(90), QTime(0, 0)));
    s->cdsCondition->Post();

    QStringList seen;
    recordStatements([&] { env.cd->GetProject(QString()); }, seen);
    recordStatements([&] { env.cd->GetProjectmember(QString()); }, seen);
    recordStatements([&] { s->actRetrieveExecute(nullptr); }, seen);
    if (seen.size() != 3)
        throw EHostError(QStringLiteral("expected one statement per list load, saw %1").arg(seen.size()));
    env.projectSql = seen[0].toUtf8();
    env.limitSql = seen[1].toUtf8();
    env.searchSql = seen[2].toUtf8();
    env.searchServiceRows = s->cdsProduct->packet().rowCount();
    env.searchShownRows = s->cdsProduct->RecordCount();

    seen.clear();
    recordStatements(
        [&] {
            for (const auto &p : env.facts.limitPairs)
                env.cd->bhavepromem(p.first, p.second, QString());
        },
        seen);
    for (const QString &q : seen)
        env.conflictSql.push_back(q.toUtf8());

    clearAdded(env);
    seen.clear();
    recordStatements([&] { addTheWindowsWay(env); }, seen);
    for (const QString &q : seen)
        env.addSql.push_back(q.toUtf8());
    clearAdded(env);
    if (env.addSql.size() != 2 * size_t(env.facts.addCodes.size()))
        throw EHostError(QStringLiteral("adding performances sent %1 statements").arg(env.addSql.size()));

    env.projectTextBytes = env.raw->textBytes(env.projectSql);
    // Warm every path once: caches, lazily loaded plug-ins, the first paint.
    std::vector<QVariant> cells;
    env.raw->query(env.projectSql, cells);
    env.raw->query(env.limitSql, cells);
    env.raw->query(env.searchSql, cells);
    if (env.peer->available()) {
        env.peer->load(QString::fromUtf8(env.projectSql));
        env.peer->load(QString::fromUtf8(env.limitSql));
    }
    Q_UNUSED(o);
}

void closeGroup(Env &env)
{
    env.search.reset();
    env.pp.reset();
    env.cd.reset();
    env.peer.reset();
    env.raw.reset();
    env.conflictSql.clear();
    env.addSql.clear();
    Database::close();
}

// ---- the benchmarks ----------------------------------------------------------------

double timedCall(const std::function<void()> &f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One measure, several contenders: every iteration times each contender once,
// in an order that rotates, so that all of them meet the same machine; the
// samples of all repetitions are pooled. after() runs untimed.
struct Contender {
    std::string name;
    std::function<void()> run;
    std::function<void()> after;
};

void bmRotation(benchmark::State &st, Env *env, const std::string &measure, const std::vector<Contender> &cs)
{
    size_t i = 0;
    const Collect collect;
    for (auto _ : st) {
        for (size_t k = 0; k < cs.size(); ++k) {
            const Contender &c = cs[(i + k) % cs.size()];
            env->samples[measure + "/" + c.name].push_back(timedCall(c.run));
            if (c.after)
                c.after();
        }
        ++i;
    }
}

// The list loads: the module (model reset included, resets counted), the raw
// engine into QVariants, the engine alone, and QSqlQueryModel.
void bmList(benchmark::State &st, Env *env, const std::string &measure, const QByteArray *sql, const std::function<void()> &load,
            TQELDataSource *source)
{
    int resets = 0, loads = 0;
    const auto c = QObject::connect(source, &QAbstractItemModel::modelReset, [&] { ++resets; });
    auto cells = std::make_shared<std::vector<QVariant>>();
    std::vector<Contender> cs = {
        {"module", [&] { load(); ++loads; }, {}},
        {"raw", [env, sql, cells] { env->raw->query(*sql, *cells); }, {}},
        {"engine", [env, sql] { benchmark::DoNotOptimize(env->raw->touch(*sql)); }, {}},
    };
    if (env->peer->available()) {
        const QString text = QString::fromUtf8(*sql);
        cs.push_back({"qsql", [env, text] { env->peer->load(text); }, {}});
    }
    bmRotation(st, env, measure, cs);
    QObject::disconnect(c);
    env->counts[measure + "/resets"] += resets;
    env->counts[measure + "/loads"] += loads;
}

void bmSearch(benchmark::State &st, Env *env)
{
    auto cells = std::make_shared<std::vector<QVariant>>();
    bmRotation(st, env, "search",
               {
                   {"module", [env] { env->search->actRetrieveExecute(nullptr); }, {}},
                   {"raw", [env, cells] { env->raw->query(env->searchSql, *cells); }, {}},
                   {"engine", [env] { benchmark::DoNotOptimize(env->raw->touch(env->searchSql)); }, {}},
               });
    env->counts["search/found"] = env->search->cdsProduct->packet().rowCount();
    env->counts["search/shown"] = env->search->cdsProduct->RecordCount();
}

void bmConflict(benchmark::State &st, Env *env)
{
    const auto &pairs = env->facts.limitPairs;
    auto cells = std::make_shared<std::vector<QVariant>>();
    size_t km = 0, kr = 0;
    int conflicts = 0, rawConflicts = 0;
    bmRotation(st, env, "conflict",
               {
                   {"module",
                    [&] {
                        const auto &p = pairs[int(km++ % size_t(pairs.size()))];
                        // A pipe made for this one check, as a data module makes one.
                        env->cd->DBPipe = std::make_unique<TCADBPipe2>();
                        conflicts += env->cd->bhavepromem(p.first, p.second, QString());
                    },
                    {}},
                   {"raw",
                    [&] {
                        env->raw->query(env->conflictSql[kr++ % env->conflictSql.size()], *cells);
                        rawConflicts += !cells->empty() && (*cells)[0].toInt() == 1;
                    },
                    {}},
               });
    if (conflicts != rawConflicts)
        st.SkipWithError("module and raw disagree");
}

void bmAdd(benchmark::State &st, Env *env)
{
    const int before = g_presenter.count;
    auto cells = std::make_shared<std::vector<QVariant>>();
    bmRotation(st, env, "add1000",
               {
                   {"module", [env] { addTheWindowsWay(*env); }, [env] { clearAdded(*env); }},
                   {"raw",
                    [env, cells] {
                        for (size_t k = 0; k + 1 < env->addSql.size(); k += 2) {
                            env->raw->query(env->addSql[k], *cells);
                            if (cells->empty())
                                env->raw->exec(env->addSql[k + 1]);
                        }
                    },
                    [env] { clearAdded(*env); }},
               });
    if (g_presenter.count != before)
        st.SkipWithError(("messages while adding: " + g_presenter.last.toStdString()).c_str());
}

void bmMemory(benchmark::State &st, Env *env)
{
    // Heap growth over one load, less what SQLite's own caches took meanwhile.
    qint64 delta = 0, engine = 0;
    const Collect collect;
    for (auto _ : st) {
        env->cd->cdsProject->Close();
        malloc_trim(0);
        const qint64 before = heapInUse(), engineBefore = sqlite3_memory_used();
        env->cd->GetProject(QString());
        engine = sqlite3_memory_used() - engineBefore;
        delta = heapInUse() - before - engine;
    }
    st.counters["heap_bytes"] = double(delta);
    st.counters["engine_cache_bytes"] = double(engine);
    st.counters["bytes_used"] = double(env->cd->cdsProject->bytesUsed());
    st.counters["text_bytes"] = double(env->projectTextBytes);
    st.counters["rows"] = env->cd->cdsProject->RecordCount();
}

TFrmProject *openWindow()
{
    auto *w = new TFrmProject();
    FrmProject = w;
    w->SetContext(BenchContext());
    return w;
}

// The window: created, shown and painted once (closed untimed), against the
// two loads its show runs, alone.
void bmWindow(benchmark::State &st, Env *env)
{
    QPointer<TFrmProject> w;
    std::unique_ptr<TCDProject> alone;
    bool painted = true;
    bmRotation(st, env, "window",
               {
                   {"module",
                    [&] {
                        w = openWindow();
                        PaintCounter paints(w->QELDBGrid1->viewport());
                        w->show();
                        painted = painted && spinUntil([&] { return paints.count > 0; });
                    },
                    [&] {
                        if (!CDProject || CDProject->cdsProject->RecordCount() == 0)
                            painted = false;
                        closeWindow(w);
                        settle();
                    }},
                   {"loads",
                    [&] {
                        alone = std::make_unique<TCDProject>();
                        alone->Context = BenchContext();
                        alone->GetProject(QString());
                        alone->GetProjectmember(QString());
                    },
                    [&] { alone.reset(); }},
               });
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
    auto press = [&](Qt::Key key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::ControlModifier);
        QApplication::sendEvent(grid, &down);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::ControlModifier);
        QApplication::sendEvent(grid, &up);
    };
    const Collect collect;
    for (auto _ : st) {
        painted.count = 0;
        press(Qt::Key_End);
        spinUntil([&] { return painted.count > 0; });
        st.PauseTiming();
        settle();
        repaints += painted.count;
        wrong += CDProject->cdsProject->RecNo() != rows - 1;
        press(Qt::Key_Home);
        settle();
        st.ResumeTiming();
    }
    st.counters["repaints"] = double(repaints) / double(st.iterations());
    st.counters["missed_last_row"] = wrong;
    st.counters["rows"] = rows;
    closeWindow(w);
    settle();
}

void registerGroup(Env &env, const Options &o)
{
    // Set up but never registered: what --only leaves out.
    struct Dropped : benchmark::internal::Benchmark {
        Dropped() : Benchmark("dropped") {}
        void Run(benchmark::State &) override {}
    };
    static std::vector<std::unique_ptr<Dropped>> dropped;
    auto plain = [&](const char *name, auto fn) -> benchmark::internal::Benchmark * {
        const std::string full = env.prefix + name;
        if (!o.only.isEmpty() && !QString::fromStdString(full).contains(QRegularExpression(o.only)))
            return dropped.emplace_back(std::make_unique<Dropped>()).get();
        return benchmark::RegisterBenchmark(full.c_str(), fn);
    };
    auto reg = [&](const char *name, auto fn) {
        return plain(name, fn)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(o.reps)
            ->MinTime(o.minTime);
    };
    Env *e = &env;
    reg("project_list", [e](benchmark::State &st) {
        bmList(st, e, "project_list", &e->projectSql, [e] { e->cd->GetProject(QString()); }, e->cd->DSProject);
    });
    reg("limit_list", [e](benchmark::State &st) {
        bmList(st, e, "limit_list", &e->limitSql, [e] { e->cd->GetProjectmember(QString()); }, e->cd->dsprojectmember);
    });
    reg("search", [e](benchmark::State &st) { bmSearch(st, e); });
    reg("window", [e](benchmark::State &st) { bmWindow(st, e); });
    if (env.scale.label != QLatin1String("100k"))
        return;
    reg("conflict", [e](benchmark::State &st) { bmConflict(st, e); })->Unit(benchmark::kMicrosecond);
    reg("add1000", [e](benchmark::State &st) { bmAdd(st, e); })->MinTime(std::max(o.minTime, 1.0));
    plain("memory", [e](benchmark::State &st) { bmMemory(st, e); })->Iterations(1)->Repetitions(1);
    reg("window/scroll", [e](benchmark::State &st) { bmWindowScroll(st, e); })->Unit(benchmark::kMicrosecond);
}

// ---- the table -----------------------------------------------------------------------

QString thousands(double n)
{
    return QLocale(QLocale::English).toString(qint64(n + 0.5));
}

double medianOf(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double minOf(const std::vector<double> &v)
{
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

void fillTable(Table &t, const Collector &c, const std::vector<Env *> &envs, const QString &engine, const QString &engineText)
{
    const Env *full = nullptr, *tenth = nullptr;
    for (const Env *e : envs) {
        if (e->engine != engine)
            continue;
        (e->scale.label == QLatin1String("100k") ? full : tenth) = e;
    }
    if (!full)
        return;
    const std::string p = full->prefix;
    auto samples = [](const Env *e, const std::string &key) {
        const auto it = e->samples.find(key);
        return it == e->samples.end() ? std::vector<double>() : it->second;
    };
    auto med = [&](const std::string &key) { return medianOf(samples(full, key)); };
    auto count = [&](const std::string &key) {
        const auto it = full->counts.find(key);
        return it == full->counts.end() ? 0.0 : it->second;
    };
    const bool pg = engine == QLatin1String("postgresql");
    t.section(QStringLiteral("%1 — %2 projects, %3 limits, %4 performances")
                  .arg(engineText, thousands(full->scale.projects), thousands(full->scale.limits), thousands(full->scale.performances)));

    // Module against a baseline: medians of the paired samples.
    auto versus = [&](const QString &what, const std::string &measure, const std::string &base, const QString &baseName, double target,
                      bool judged = true, const QString &targetText = QString()) {
        const double mod = med(measure + "/module"), raw = med(measure + "/" + base);
        const double r = raw > 0 ? mod / raw : 0;
        t.row(what, formatSeconds(mod), baseName + QLatin1Char(' ') + formatSeconds(raw), formatRatio(r),
              targetText.isEmpty() ? QStringLiteral("≤ %1×").arg(target) : targetText, r > 0 && r <= target, judged);
    };
    auto resets = [&](const std::string &measure) {
        const double loads = count(measure + "/loads");
        return loads > 0 ? count(measure + "/resets") / loads : -1;
    };
    const double resetsP = resets("project_list"), resetsL = resets("limit_list");
    versus(QStringLiteral("GetProject('') → cdsProject, %1 rows, model resets per load: %2")
               .arg(thousands(full->scale.projects))
               .arg(resetsP),
           "project_list", "raw", QStringLiteral("raw"), 1.3);
    versus(QStringLiteral("GetProjectmember('') (join), %1 rows, model resets per load: %2")
               .arg(thousands(full->scale.limits))
               .arg(resetsL),
           "limit_list", "raw", QStringLiteral("raw"), 1.3);
    if (resetsP != 1 || resetsL != 1)
        t.row(QStringLiteral("one model reset per load"), QString::number(resetsP), QString::number(resetsL), QString(), QStringLiteral("1"), false);

    auto vsPeer = [&](const QString &what, const std::string &measure) {
        const double mod = med(measure + "/module"), peer = med(measure + "/qsql");
        if (peer <= 0) {
            t.row(what, formatSeconds(mod), QStringLiteral("QSqlQueryModel: not run (%1)").arg(full->peer ? full->peer->why() : QString()),
                  QString(), QStringLiteral("≥ 2× faster"), false, false);
            return;
        }
        const double speed = mod > 0 ? peer / mod : 0;
        t.row(what, formatSeconds(mod), QStringLiteral("QSqlQueryModel ") + formatSeconds(peer), formatRatio(speed) + QStringLiteral(" faster"),
              QStringLiteral("≥ 2× faster"), speed >= 2);
    };
    vsPeer(QStringLiteral("GetProject('') vs QSqlQueryModel (fetchMore to the end, data() of every cell)"), "project_list");
    vsPeer(QStringLiteral("GetProjectmember('') vs QSqlQueryModel"), "limit_list");

    versus(QStringLiteral("catalogue search, 90 days: %1 found, %2 excluded, %3 shown (actRetrieveExecute)")
               .arg(thousands(count("search/found")), thousands(full->scale.exclusions), thousands(count("search/shown"))),
           "search", "raw", QStringLiteral("raw"), 2.5);

    // Engine alone, for reading the two above: what no client can save.
    for (const auto &[measure, label] : {std::pair<std::string, QString>{"project_list", QStringLiteral("GetProject")},
                                         {"limit_list", QStringLiteral("GetProjectmember")},
                                         {"search", QStringLiteral("catalogue search")}}) {
        const double eng = med(measure + "/engine"), mod = med(measure + "/module");
        t.row(QStringLiteral("(%1: the engine alone, every cell fetched, nothing kept)").arg(label), formatSeconds(mod),
              QStringLiteral("engine ") + formatSeconds(eng), formatRatio(eng > 0 ? mod / eng : 0), QString(), true, false);
    }

    if (tenth) {
        // Across the two data sets: the fastest call of each, as background load only adds.
        auto low = [&](const Env *e, const std::string &key) { return minOf(samples(e, key)); };
        auto linear = [&](const QString &what, const std::string &key, const std::string &baseKey, const QString &baseName) {
            const double a = low(tenth, key), b = low(full, key);
            const double ra = low(tenth, baseKey), rb = low(full, baseKey);
            const double r = a > 0 ? b / a : 0;
            t.row(QStringLiteral("linear, %1: %2 → %3 projects").arg(what, tenth->scale.label, full->scale.label),
                  formatSeconds(a) + QStringLiteral(" → ") + formatSeconds(b),
                  ra > 0 && rb > 0 ? QStringLiteral("%1 %2").arg(baseName, formatRatio(rb / ra)) : QString(), formatRatio(r),
                  QStringLiteral("≤ 11"), r > 0 && r <= 11, a > 0 && b > 0);
        };
        linear(QStringLiteral("GetProject"), "project_list/module", "project_list/engine", QStringLiteral("engine"));
        linear(QStringLiteral("GetProjectmember"), "limit_list/module", "limit_list/engine", QStringLiteral("engine"));
        linear(QStringLiteral("catalogue search"), "search/module", "search/engine", QStringLiteral("engine"));
        linear(QStringLiteral("main window open"), "window/module", "window/loads", QStringLiteral("loads"));
    }

    versus(QStringLiteral("bhavepromem through a newly created pipe, per call"), "conflict", "raw",
           pg ? QStringLiteral("PQexec") : QStringLiteral("raw"), 1.2, pg && med("conflict/raw") > 0,
           pg ? QString() : QStringLiteral("(PostgreSQL only)"));
    versus(QStringLiteral("1,000 performances added (brepeat + InsertProduct each) vs the same 2,000 statements"), "add1000", "raw",
           QStringLiteral("raw"), 1.3);
    {
        const double heap = c.counter(p + "memory", "heap_bytes"), used = c.counter(p + "memory", "bytes_used");
        const double text = c.counter(p + "memory", "text_bytes");
        const double r = text > 0 ? heap / text : 0;
        t.row(QStringLiteral("memory of cdsProject, %1 projects (heap growth; bytesUsed %2)")
                  .arg(thousands(c.counter(p + "memory", "rows")), formatBytes(used)),
              formatBytes(heap), QStringLiteral("text ") + formatBytes(text), formatRatio(r), QStringLiteral("≤ 3×"), r > 0 && r <= 3);
    }
    versus(QStringLiteral("TFrmProject offscreen: create, show, first paint of the grid"), "window", "loads", QStringLiteral("loads alone"), 1.5);
    {
        const double repaints = c.counter(p + "window/scroll", "repaints", -1);
        const double missed = c.counter(p + "window/scroll", "missed_last_row", 0);
        t.row(QStringLiteral("scroll to the last row (Ctrl+End), grid repaints"),
              QStringLiteral("%1 in %2").arg(repaints).arg(formatSeconds(c.best(p + "window/scroll"))), QString(), QString(),
              QStringLiteral("1 repaint"), repaints == 1 && missed == 0);
    }
}

QString cpuName()
{
    QFile f(QStringLiteral("/proc/cpuinfo"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
    return QStringLiteral("unknown CPU");
}

} // namespace

// The offscreen platform says this once per window shown; nothing to act on.
void quietHandler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    if (msg.contains(QLatin1String("propagateSizeHints")) || msg.contains(QLatin1String("XDG_RUNTIME_DIR")))
        return;
    std::cerr << qPrintable(qFormatLogMessage(type, ctx, msg)) << std::endl;
}

int main(int argc, char **argv)
{
    qInstallMessageHandler(quietHandler);
    benchmark::Initialize(&argc, argv);
    Options o;
    o.pgUrl = qEnvironmentVariable("QEL_BENCH_PG");
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        auto value = [&]() { return i + 1 < argc ? QString::fromLocal8Bit(argv[++i]) : QString(); };
        if (a == QLatin1String("--pg"))
            o.pgUrl = value();
        else if (a == QLatin1String("--data"))
            o.dataDir = value();
        else if (a == QLatin1String("--regen"))
            o.regen = true;
        else if (a == QLatin1String("--reps"))
            o.reps = value().toInt();
        else if (a == QLatin1String("--min-time"))
            o.minTime = value().toDouble();
        else if (a == QLatin1String("--scales"))
            o.scales = value().split(QLatin1Char(','));
        else if (a == QLatin1String("--keep"))
            o.keep = true;
        else if (a == QLatin1String("--only"))
            o.only = value();
        else if (a == QLatin1String("--no-sqlite"))
            o.sqlite = false;
        else {
            std::cerr << "usage: qelbench [--pg URL] [--data DIR] [--regen] [--reps N] [--min-time S] [--scales 10k,100k] [--no-sqlite] [--only REGEX] [--keep]"
                         " [--benchmark_* flags]\n";
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                                                       QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"));
    if (o.dataDir.isEmpty())
        o.dataDir = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../bench-data"));
    SetMessagePresenter(&g_presenter);

    const QDate anchor = QDate::currentDate();
    std::vector<std::unique_ptr<Env>> envs;
    PgDatabases pgdbs;
    pgdbs.admin = o.pgUrl;
    try {
        for (const QString &engine : {QStringLiteral("sqlite"), QStringLiteral("postgresql")}) {
            if (engine == QLatin1String("sqlite") && !o.sqlite)
                continue;
            if (engine == QLatin1String("postgresql") && o.pgUrl.isEmpty())
                continue;
            for (const Scale &s : {TenthScale(), FullScale()}) {
                if (!o.scales.contains(s.label))
                    continue;
                auto env = std::make_unique<Env>();
                env->engine = engine;
                env->scale = s;
                env->anchor = anchor;
                env->prefix = (engine + QLatin1Char('/') + s.label + QLatin1Char('/')).toStdString();
                if (engine == QLatin1String("sqlite"))
                    prepareSqlite(o, *env);
                else
                    preparePostgres(o, pgdbs, *env);
                envs.push_back(std::move(env));
            }
        }
    } catch (const std::exception &e) {
        std::cerr << "qelbench: data set: " << e.what() << std::endl;
        return 1;
    }

    QElapsedTimer total;
    total.start();
    Collector collector;
    for (auto &env : envs) {
        say(QStringLiteral("running %1").arg(QString::fromStdString(env->prefix)));
        try {
            openGroup(*env, o);
        } catch (const std::exception &e) {
            std::cerr << "qelbench: " << env->prefix << ": " << e.what() << std::endl;
            return 1;
        }
        registerGroup(*env, o);
        benchmark::RunSpecifiedBenchmarks(&collector, "^" + env->prefix);
        closeGroup(*env);
    }
    benchmark::Shutdown();
    // Every contender's samples, for a closer look (stderr).
    for (const auto &env : envs)
        for (const auto &[key, v] : env->samples)
            std::cerr << "[samples] " << env->prefix << key << ": n=" << v.size() << " min=" << formatSeconds(minOf(v)).toStdString()
                      << " median=" << formatSeconds(medianOf(v)).toStdString() << std::endl;

    Table table;
    std::vector<Env *> raw;
    for (auto &e : envs)
        raw.push_back(e.get());
    fillTable(table, collector, raw, QStringLiteral("sqlite"), QStringLiteral("SQLite %1").arg(QLatin1String(sqlite3_libversion())));
    QString pgVersion;
    if (!o.pgUrl.isEmpty()) {
        try {
            auto conn = Database::connect(o.pgUrl);
            pgVersion = conn->query("SHOW server_version").text(0, 0);
        } catch (const std::exception &) {
        }
        fillTable(table, collector, raw, QStringLiteral("postgresql"), QStringLiteral("PostgreSQL %1 (loopback)").arg(pgVersion));
    }
    table.note(QStringLiteral("Wall-clock time per call. Each measure times the module and its baselines (raw engine into QVariants, engine "
                              "alone, QSqlQueryModel) one after the other in rotating order, repeated %1 times in random order among "
                              "the measures; module, baseline and ratio are medians of those paired calls. The linear rows compare the "
                              "fastest call at each size, background load only ever adding time. "
                              "%2, %3 cores, Qt %4, %5; %6.")
                   .arg(o.reps)
                   .arg(cpuName())
                   .arg(QThread::idealThreadCount())
                   .arg(QLatin1String(qVersion()), QSysInfo::prettyProductName(), QDate::currentDate().toString(Qt::ISODate)));
    std::cout << table.markdown().toStdString() << std::flush;
    say(QStringLiteral("benchmarks took %1 s").arg(total.elapsed() / 1000));
    return table.failures() ? 3 : 0;
}
