// qelbench: what an operator waits for in the project module, each against
// the engine alone doing the same work (every cell fetched, nothing kept),
// measured side by side in one process. Prints one Markdown table on stdout;
// progress goes to stderr. bench/run is the way to call it.
// The measures live beside it, one file per kind (BenchLoads, BenchSearch,
// BenchCommands, BenchHistory, BenchWindows, BenchExport); this file makes the
// data sets, registers the measures of each group and runs them.
#include "BenchCommon.h"
#include "BenchDistance.h"
#include "BenchUi.h"
#include "Results.h"
#include <Database.h>
#include <HostError.h>
#include <HostMemory.h>
#include <Pipe.h>
#include <Schema.h>
#include <SqliteBackend.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>
#include <QUrl>
#include <sqlite3.h>
#include <iostream>

using namespace bench;

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
        // The writes measured last time left their history entries: back
        // to the entries the set was made with (numbered from 1), so every
        // run reads the same history.
        // The history takes no deletes; this connection runs without triggers.
        SqliteBackend db(path);
        sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
        db.exec("DELETE FROM QEL_PROJECT_HISTORY WHERE ID > " + QByteArray::number(HistoryEntries(env.scale)));
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
    Database::connection()->execScript(QStringLiteral("create table QELBENCH_STAMP (V varchar(40)); insert into QELBENCH_STAMP values ('%1')").arg(stamp).toUtf8());
    Database::close();
    say(QStringLiteral("postgresql %1: generated in %2 s").arg(env.scale.label).arg(t.elapsed() / 1000.0, 0, 'f', 1));
}


// ---- per group set-up ------------------------------------------------------------

void openGroup(Env &env)
{
    Database::open(env.url);
    env.facts = ReadFacts(env.anchor);
    env.raw = RawEngine::open(env.url);
    env.peer = std::make_unique<QtSqlPeer>(env.url);
    if (!env.peer->available())
        say(QStringLiteral("%1: no QSqlQueryModel peer: %2").arg(env.engine, env.peer->why()));
    // A run that was stopped may have left its assignments behind.
    unassign(env, env.facts.insertProject);
    unassign(env, env.facts.deleteProject);
    const QString ctx = BenchContext();

    env.cd = std::make_unique<TCDProject>();
    env.cd->Context = ctx;
    env.pp = std::make_unique<TcdProductProject>();
    env.pp->Context = ctx;
    env.pp->ProjectID = env.facts.insertProject;
    env.exclusionText = env.pp->sgetproduct(env.facts.exclusionProject);

    // actRetrieveExecute alone, released performances only, the 90 days from the anchor day.
    auto *s = new TCDSearchProduct_pro();
    env.search.reset(s);
    s->SetContext(ctx);
    s->AllStatus = false;
    s->ExcludeProducts = env.exclusionText;
    s->GetProductClassBrief();
    s->GetPlaceBrief();
    s->GetCityBrief();
    s->ResetCondition(true);
    s->cdsCondition->Edit();
    s->cdsCondition->FieldByName(QStringLiteral("BHappenTime")).SetAsDateTime(QDateTime(env.anchor, QTime(0, 0)));
    s->cdsCondition->FieldByName(QStringLiteral("EHappenTime")).SetAsDateTime(QDateTime(env.anchor.addDays(90), QTime(0, 0)));
    s->cdsCondition->Post();

    auto one = [](const std::vector<QByteArray> &seen, const char *what) {
        if (seen.size() != 1)
            throw EHostError(QStringLiteral("expected one statement for %1, saw %2").arg(QLatin1String(what)).arg(seen.size()));
        return seen[0];
    };
    env.projectSql = one(record([&] { env.cd->GetProject(QString()); }), "GetProject");
    env.limitSql = one(record([&] { env.cd->GetProjectmember(QString()); }), "GetProjectmember");
    // The catalogue's query and the read of who holds what.
    env.searchSql = record([&] { s->actRetrieveExecute(nullptr); });
    if (env.searchSql.size() != 2)
        throw EHostError(QStringLiteral("expected two statements for actRetrieveExecute, saw %1").arg(env.searchSql.size()));
    env.conflictSql = record([&] {
        for (const auto &p : env.facts.limitPairs)
            env.cd->bhavepromem(p.first, p.second, QString());
    });

    // The main window's statements, for its floor and the shell's script; a warm-up too.
    {
        QPointer<TFrmProject> w;
        env.windowSql = record([&] {
            w = openWindow();
            PaintCounter paints(w->QELDBGrid1->viewport());
            w->show();
            spinUntil([&] { return paints.count > 0; });
        });
        dispose(w);
        settle();
    }

    env.projectTextBytes = env.raw->textBytes(env.projectSql);
    // Warm every path once: caches, lazily loaded plug-ins.
    std::vector<QVariant> cells;
    env.raw->query(env.projectSql, cells);
    env.raw->query(env.limitSql, cells);
    for (const QByteArray &q : env.searchSql)
        env.raw->query(q, cells);
    if (env.peer->available()) {
        env.peer->load(QString::fromUtf8(env.projectSql));
        env.peer->load(QString::fromUtf8(env.limitSql));
    }
}

void closeGroup(Env &env)
{
    env.search.reset();
    env.pp.reset();
    env.cd.reset();
    env.peer.reset();
    env.raw.reset();
    for (auto *v : {&env.windowSql, &env.dialogSql, &env.limitDialogSql, &env.conflictSql, &env.addSql, &env.deleteSql})
        v->clear();
    Database::close();
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
        return plain(name, fn)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(o.reps)->MinTime(o.minTime);
    };
    // Windows cost a set-up per call: a fixed number of rounds per repetition.
    auto rounds = [&](const char *name, int n, auto fn) {
        return plain(name, fn)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(o.reps)->Iterations(n);
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
    rounds("dialog", 2, [e](benchmark::State &st) { bmSearchDialog(st, e); });
    rounds("select", 3, [e](benchmark::State &st) { bmSelect(st, e); });
    rounds("limit_dialog", 3, [e](benchmark::State &st) { bmLimitDialog(st, e); });
    rounds("dropdown", 5, [e](benchmark::State &st) { bmDropDown(st, e); });
    if (env.engine == QLatin1String("postgresql") && env.scale.label == TenthScale().label)
        RegisterDistance({env.prefix, env.url, &env.facts, &env.samples, &env.counts}, o.only, o.reps);
    if (!env.top)
        return;
    reg("holders", [e](benchmark::State &st) { bmHolders(st, e); });
    reg("conflict", [e](benchmark::State &st) { bmConflict(st, e); })->Unit(benchmark::kMicrosecond);
    rounds("add", 2, [e](benchmark::State &st) { bmAdd(st, e); });
    rounds("history_project", 3, [e](benchmark::State &st) { bmHistoryWindow(st, e, false); });
    rounds("history_all", 3, [e](benchmark::State &st) { bmHistoryWindow(st, e, true); });
    rounds("history_add", 2, [e](benchmark::State &st) { bmHistoryCost(st, e, HistoryWrite::Adds); });
    rounds("history_edit", 3, [e](benchmark::State &st) { bmHistoryCost(st, e, HistoryWrite::Edits); });
    rounds("history_save", 3, [e](benchmark::State &st) { bmHistoryCost(st, e, HistoryWrite::Save); });
    rounds("edit_check", 3, [e](benchmark::State &st) { bmEditCheck(st, e); });
    rounds("copy", 3, [e](benchmark::State &st) { bmCopy(st, e); });
    rounds("delete", 1, [e](benchmark::State &st) { bmDelete(st, e); });
    rounds("cold", 1, [e](benchmark::State &st) { bmCold(st, e); });
    plain("memory", [e](benchmark::State &st) { bmMemory(st, e); })->Iterations(1)->Repetitions(1);
    plain("peak_rss", [e](benchmark::State &st) { bmPeakRss(st, e); })->Iterations(1)->Repetitions(1);
    reg("window/scroll", [e](benchmark::State &st) { bmWindowScroll(st, e); })->Unit(benchmark::kMicrosecond);
    rounds("limit_sort", 2, [e](benchmark::State &st) { bmLimitSort(st, e); });
    rounds("export", 1, [e](benchmark::State &st) { bmExport(st, e); });
    rounds("print", 1, [e](benchmark::State &st) { bmPrint(st, e); });
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
    // Measured as qelclient runs: with the host's allocator setting.
    KeepFreedMemoryForReuse();
    qInstallMessageHandler(quietHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && qstrcmp(argv[1], "--child-search-rss") == 0)
        return childSearchRss(argc, argv);
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
    QApplication app(argc, argv);
    mapFonts();
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
            Env *largest = nullptr;
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
                if (!largest || s.projects > largest->scale.projects)
                    largest = env.get();
                envs.push_back(std::move(env));
            }
            if (largest)
                largest->top = true;
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
            openGroup(*env);
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
        for (const auto &[key, v] : env->samples) {
            if (v.empty())
                continue;
            std::cerr << "[samples] " << env->prefix << key << ": n=" << v.size()
                      << " min=" << formatSeconds(*std::min_element(v.begin(), v.end())).toStdString()
                      << " median=" << formatSeconds(medianOf(v)).toStdString() << std::endl;
        }

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
        FillDistanceTable(table);
    }
    table.note(QStringLiteral("Wall-clock time per call. The floor of each row is named in its baseline column; \"engine\" is the engine alone on "
                              "the statements the module sent (recorded through the trace hook): every cell fetched, nothing kept, writes "
                              "replayed in one transaction. Each measure times the module and its floor one after the other, in an order "
                              "that rotates from round to round, repeated %1 times in random order among the measures. Module and baseline "
                              "are the medians of their calls; the ratio is the median of the paired ratios (each call against the floor's "
                              "call in the same round). Linear rows divide the median call on the larger data set by the median call on the "
                              "smaller. %2, %3 cores, Qt %4, %5; %6.")
                   .arg(o.reps)
                   .arg(cpuName())
                   .arg(QThread::idealThreadCount())
                   .arg(QLatin1String(qVersion()), QSysInfo::prettyProductName(), QDate::currentDate().toString(Qt::ISODate)));
    std::cout << table.markdown().toStdString() << std::flush;
    say(QStringLiteral("benchmarks took %1 s").arg(total.elapsed() / 1000));
    return table.failures() ? 3 : 0;
}
