// qelbench: what an operator waits for in the project module, each against
// the engine alone doing the same work (every cell fetched, nothing kept),
// measured side by side in one process. Prints one Markdown table on stdout;
// progress goes to stderr. bench/run is the way to call it.
#include "Baselines.h"
#include "BenchData.h"
#include "BenchUi.h"
#include "BenchDistance.h"
#include "Processes.h"
#include "Results.h"
#include <ClientDataSet.h>
#include <CommaText.h>
#include <SqlText.h>
#include <DBGrid.h>
#include <DataSource.h>
#include <Database.h>
#include <SqliteBackend.h>
#include <HostMemory.h>
#include <Dialogs.h>
#include <HostError.h>
#include <Pipe.h>
#include <Schema.h>
#include <Unitprojectinfo.h>
#include <uCDProductProject.h>
#include <uCDProject.h>
#include <uCDSearchproduct_pro.h>
#include <uUIHistory.h>
#include <uUIProductProject.h>
#include <uUIProject.h>
#include <uUISearchProduct_pro.h>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLibraryInfo>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QSysInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
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
    bool top = false; // the largest data set of its engine in this run
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
    QString exclusionText; // the exclusion project's codes, as comma text
    // The statements the module sends, recorded through the trace hook.
    QByteArray projectSql, limitSql;
    std::vector<QByteArray> searchSql, windowSql, dialogSql, limitDialogSql, conflictSql, addSql, deleteSql, historyProjectSql, historyAllSql;
    qint64 projectTextBytes = 0;
    // Seconds per call of every contender ("limit_list/engine"), in the order
    // taken: the i-th samples of one measure's contenders are one pair.
    std::map<std::string, std::vector<double>> samples;
    std::map<std::string, double> counts;
    std::map<std::string, QString> notes;
};

// Answers every message at once: Yes to confirmations, OK to the rest, which
// are counted, since none should come up while measuring.
class CountingPresenter : public MessagePresenter {
public:
    int present(MessageKind kind, const QString &text, const QString &, int) override
    {
        if (kind == MessageKind::Confirm) {
            ++confirms;
            return mrYes;
        }
        ++count;
        last = text;
        return 1;
    }
    int count = 0, confirms = 0;
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


void closeWindow(TFrmProject *w)
{
    QPointer<TFrmProject> guard(w);
    dispose(guard);
}

void pressKey(QWidget *w, Qt::Key key, Qt::KeyboardModifiers mods)
{
    QKeyEvent down(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(w, &down);
    QKeyEvent up(QEvent::KeyRelease, key, mods);
    QApplication::sendEvent(w, &up);
}

// Maps 宋体 to an installed Song/Ming face, as qelclient does.
void mapFonts()
{
    QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                                                       QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"));
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


// ---- statements -------------------------------------------------------------------

// Transaction control is the client's own business: a floor replays the data
// statements only, in one transaction of its own where it writes.
bool isTransactionControl(const QString &sql)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(begin|commit|rollback|savepoint|release|end)\\b"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(sql).hasMatch();
}

bool isQuery(const QByteArray &sql)
{
    const QByteArray head = sql.trimmed().left(6).toLower();
    return head.startsWith("select") || head.startsWith("with");
}

// Every data statement a pipe sent while f ran.
std::vector<QByteArray> record(const std::function<void()> &f)
{
    QStringList seen;
    Database::setTraceHook([&seen](const QString &, const QString &sql) { seen << sql; });
    try {
        f();
    } catch (...) {
        Database::setTraceHook({});
        throw;
    }
    Database::setTraceHook({});
    std::vector<QByteArray> out;
    for (const QString &q : seen)
        if (!isTransactionControl(q))
            out.push_back(q.toUtf8());
    return out;
}

// The engine alone on recorded statements: queries stepped to the end with
// every cell fetched and nothing kept, the others executed.
void replay(RawEngine &raw, const std::vector<QByteArray> &sqls)
{
    for (const QByteArray &q : sqls) {
        if (isQuery(q))
            benchmark::DoNotOptimize(raw.touch(q));
        else
            raw.exec(q);
    }
}

QByteArray beginSql(const Env &env)
{
    // As the host begins: SQLite takes the write lock up front.
    return env.engine == QLatin1String("sqlite") ? QByteArray("BEGIN IMMEDIATE") : QByteArray("BEGIN");
}

void replayInOneTransaction(Env &env, const std::vector<QByteArray> &sqls)
{
    env.raw->exec(beginSql(env));
    try {
        replay(*env.raw, sqls);
    } catch (...) {
        env.raw->exec("ROLLBACK");
        throw;
    }
    env.raw->exec("COMMIT");
}

// Assignments made and removed behind the module's back, between measured calls.
void unassign(Env &env, const QString &project)
{
    env.raw->exec(QByteArray("DELETE FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = ") + project.toUtf8());
}

void assign(Env &env, const QString &project, const QStringList &codes)
{
    env.raw->exec(beginSql(env));
    for (qsizetype i = 0; i < codes.size(); i += 1000) {
        QString sql = QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) VALUES ");
        for (qsizetype j = i; j < std::min(codes.size(), i + 1000); ++j)
            sql += (j > i ? QStringLiteral(",(") : QStringLiteral("(")) + project + QLatin1Char(',') + QuotedStr(codes[j]) + QLatin1Char(')');
        env.raw->exec(sql.toUtf8());
    }
    env.raw->exec("COMMIT");
}

qint64 assignedCount(Env &env, const QString &project)
{
    std::vector<QVariant> cells;
    env.raw->query(QByteArray("SELECT COUNT(*) FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = ") + project.toUtf8(), cells);
    return cells.empty() ? -1 : cells[0].toLongLong();
}

// ---- windows ------------------------------------------------------------------------

TFrmProject *openWindow()
{
    auto *w = new TFrmProject();
    FrmProject = w;
    w->SetContext(BenchContext());
    return w;
}

// The catalogue search as the performance window opens it: every status, the
// project's own codes excluded; shown non-modally so the bench keeps control.
// Returns once the grid has painted.
QPointer<TUISearchProduct_pro> openSearchDialog(const Env &env, bool &painted)
{
    QPointer<TUISearchProduct_pro> dlg = new TUISearchProduct_pro();
    UISearchProduct_pro = dlg.data();
    dlg->SnapIn->SetContext(BenchContext());
    dlg->AllStatus = true;
    dlg->ExcludeProducts = env.exclusionText;
    PaintCounter paints(dlg->dgrd_Product->viewport());
    dlg->show();
    painted = spinUntil([&] { return paints.count > 0; }) && painted;
    return dlg;
}

QPointer<TFrmProductProject> openProductWindow(const QString &project)
{
    QPointer<TFrmProductProject> w = new TFrmProductProject();
    FrmProductProject = w.data();
    w->Context = BenchContext();
    w->ProjectID = project;
    PaintCounter paints(w->dgrproduct->viewport());
    w->show();
    spinUntil([&] { return paints.count > 0; });
    settle();
    return w;
}

// The window's bulk add where it has one; until then the loop its add button
// runs after the search dialog (brepeat + InsertProduct each), then its reload.
template <class W>
concept AddsProducts = requires(W *w, const QStringList &codes) { w->AddProducts(codes); };

template <class W>
void addTheWindowsWay(W *w, const QStringList &codes)
{
    if constexpr (AddsProducts<W>) {
        w->AddProducts(codes);
    } else {
        for (const QString &code : codes) {
            QString name;
            if (cdProductProject->brepeat(code, name))
                ShowWarningMessage(QStringLiteral("演出: ") + name + QStringLiteral("已被其他项目使用！"), QStringLiteral("警告"));
            else
                cdProductProject->InsertProduct(w->ProjectID, code);
        }
        cdProductProject->GetProductProject(w->EdtProductName->text());
    }
}

// The limit dialog as TFrmProject::insertlimit fills it before it is shown.
struct LimitDialog {
    std::unique_ptr<TFormprojectinfo> dlg;
    QStringList projectIds, memberIds;
};

void fillLimitDialog(Env &env, LimitDialog &d)
{
    d.dlg = std::make_unique<TFormprojectinfo>();
    d.dlg->setWindowTitle(QStringLiteral("新增项目限购"));
    env.cd->getpromemberinfo(d.dlg->cbbproject, d.dlg->cbbmemberclassname, d.projectIds, d.memberIds);
    d.dlg->cbbproject->setCurrentIndex(-1);
    d.dlg->cbbmemberclassname->setCurrentIndex(-1);
    d.dlg->cbblimit_type->setCurrentIndex(0);
    d.dlg->ckbenable->setChecked(true);
}

bool showLimitDialog(LimitDialog &d)
{
    PaintCounter dialog(d.dlg.get()), box(d.dlg->cbbproject);
    d.dlg->show();
    return spinUntil([&] { return dialog.count > 0 && box.count > 0; });
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

// ---- the benchmarks ----------------------------------------------------------------

double timedCall(const std::function<void()> &f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One measure, several contenders: every iteration times each contender once,
// in an order that rotates from iteration to iteration (across calls too), so
// that all of them meet the same machine. before() and after() run untimed.
struct Contender {
    std::string name;
    std::function<void()> run;
    std::function<void()> after;
    std::function<void()> before;
};

void bmRotation(benchmark::State &st, Env *env, const std::string &measure, const std::vector<Contender> &cs)
{
    double &turn = env->counts[measure + "/turn"];
    const Collect collect;
    for (auto _ : st) {
        const size_t first = size_t(turn++);
        for (size_t k = 0; k < cs.size(); ++k) {
            const Contender &c = cs[(first + k) % cs.size()];
            if (c.before)
                c.before();
            env->samples[measure + "/" + c.name].push_back(timedCall(c.run));
            if (c.after)
                c.after();
        }
    }
}

// The list loads: the module (model reset included, resets counted), the
// engine alone, the naive client (every cell into a QVariant) and QSqlQueryModel.
void bmList(benchmark::State &st, Env *env, const std::string &measure, const QByteArray *sql, const std::function<void()> &load,
            TQELDataSource *source)
{
    int resets = 0, loads = 0;
    const auto c = QObject::connect(source, &QAbstractItemModel::modelReset, [&] { ++resets; });
    auto cells = std::make_shared<std::vector<QVariant>>();
    std::vector<Contender> cs = {
        {"module", [&] { load(); ++loads; }, {}, {}},
        {"engine", [env, sql] { benchmark::DoNotOptimize(env->raw->touch(*sql)); }, {}, {}},
        {"naive", [env, sql, cells] { env->raw->query(*sql, *cells); }, {}, {}},
    };
    if (env->peer->available()) {
        const QString text = QString::fromUtf8(*sql);
        cs.push_back({"qsql", [env, text] { env->peer->load(text); }, {}, {}});
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
enum class HistoryWrite { Adds, Edits, Save };

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

// The project list as a grid shows it (100,000 rows at full size), exported
// through the grid's own exporters into a folder of the build tree.
void bmExport(benchmark::State &st, Env *env)
{
    TQELDBGrid grid;
    grid.SetColumns({{QStringLiteral("ID"), QStringLiteral("编   号"), 130},
                     {QStringLiteral("CNAME"), QStringLiteral("演出项目"), 302},
                     {QStringLiteral("CROSSDISCOUNT"), QStringLiteral("跨场折扣率(%)\r\n"), 132},
                     {QStringLiteral("CROSTNUM"), QStringLiteral("跨场打折满足张数"), 181},
                     {QStringLiteral("CROSSPNUM"), QStringLiteral("跨场打折满足场次数"), 170}});
    grid.SetDataSource(env->cd->DSProject);
    env->cd->GetProject(QString());
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("export-XXXXXX")));
    const QString xlsx = dir.filePath(QStringLiteral("projects.xlsx")), csv = dir.filePath(QStringLiteral("projects.csv"));
    bmRotation(st, env, "export",
               {
                   {"xlsx", [&] { grid.ExportXlsx(xlsx); }, {}, {}},
                   {"csv", [&] { grid.ExportCsv(csv); }, {}, {}},
               });
    env->counts["export/rows"] = grid.model()->rowCount();
    env->counts["export/xlsx_bytes"] = double(QFileInfo(xlsx).size());
    env->counts["export/csv_bytes"] = double(QFileInfo(csv).size());
    grid.SetDataSource(nullptr);
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
    rounds("delete", 1, [e](benchmark::State &st) { bmDelete(st, e); });
    rounds("cold", 1, [e](benchmark::State &st) { bmCold(st, e); });
    plain("memory", [e](benchmark::State &st) { bmMemory(st, e); })->Iterations(1)->Repetitions(1);
    plain("peak_rss", [e](benchmark::State &st) { bmPeakRss(st, e); })->Iterations(1)->Repetitions(1);
    reg("window/scroll", [e](benchmark::State &st) { bmWindowScroll(st, e); })->Unit(benchmark::kMicrosecond);
    rounds("limit_sort", 2, [e](benchmark::State &st) { bmLimitSort(st, e); });
    rounds("export", 1, [e](benchmark::State &st) { bmExport(st, e); });
}

// ---- the table -----------------------------------------------------------------------

QString thousands(double n)
{
    return QLocale(QLocale::English).toString(qint64(n + 0.5));
}


// The median of a[i] / b[i]: each call against the one beside it in the same round.
double pairedRatio(const std::vector<double> &a, const std::vector<double> &b)
{
    std::vector<double> r;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] > 0 && b[i] > 0)
            r.push_back(a[i] / b[i]);
    return medianOf(r);
}

void fillTable(Table &t, const Collector &c, const std::vector<Env *> &envs, const QString &engine, const QString &engineText)
{
    const Env *full = nullptr, *tenth = nullptr;
    for (const Env *e : envs) {
        if (e->engine != engine)
            continue;
        (e->top ? full : tenth) = e;
    }
    if (!full)
        return;
    const std::string p = full->prefix;
    static const std::vector<double> none;
    auto samples = [](const Env *e, const std::string &key) -> const std::vector<double> & {
        const auto it = e->samples.find(key);
        return it == e->samples.end() ? none : it->second;
    };
    auto med = [&](const std::string &key) { return medianOf(samples(full, key)); };
    auto count = [&](const std::string &key, const Env *e = nullptr) {
        e = e ? e : full;
        const auto it = e->counts.find(key);
        return it == e->counts.end() ? 0.0 : it->second;
    };
    auto ran = [&](const std::string &key) { return !samples(full, key).empty(); };
    auto note = [&](const std::string &key) {
        const auto it = full->notes.find(key);
        return it == full->notes.end() ? QString() : it->second;
    };
    const bool pg = engine == QLatin1String("postgresql");
    t.section(QStringLiteral("%1 — %2 projects, %3 limits, %4 performances")
                  .arg(engineText, thousands(full->scale.projects), thousands(full->scale.limits), thousands(full->scale.performances)));

    // The module against a floor: medians of each side; the ratio is the
    // median of the paired ratios. Rows of measures left out are left out.
    auto versus = [&](const QString &what, const std::string &measure, const std::string &mod, const std::string &base, const QString &baseName,
                      double target, bool judged = true, const QString &targetText = QString()) {
        const std::string mk = measure + "/" + mod, bk = measure + "/" + base;
        if (!ran(mk))
            return;
        const double r = pairedRatio(samples(full, mk), samples(full, bk));
        t.row(what, formatSeconds(med(mk)), baseName + QLatin1Char(' ') + formatSeconds(med(bk)), formatRatio(r),
              targetText.isEmpty() ? QStringLiteral("≤ %1×").arg(target) : targetText, r > 0 && r <= target, judged);
    };
    auto resets = [&](const std::string &measure) {
        const double loads = count(measure + "/loads");
        return loads > 0 ? count(measure + "/resets") / loads : -1;
    };
    const QString engineAlone = QStringLiteral("engine");
    const double resetsP = resets("project_list"), resetsL = resets("limit_list");
    versus(QStringLiteral("GetProject('') → cdsProject, %1 rows, model resets per load: %2").arg(thousands(full->scale.projects)).arg(resetsP),
           "project_list", "module", "engine", engineAlone, 1.2);
    versus(QStringLiteral("GetProjectmember('') (join), %1 rows, model resets per load: %2").arg(thousands(full->scale.limits)).arg(resetsL),
           "limit_list", "module", "engine", engineAlone, 1.2);
    if (ran("project_list/module") && ran("limit_list/module") && (resetsP != 1 || resetsL != 1))
        t.row(QStringLiteral("one model reset per load"), QString::number(resetsP), QString::number(resetsL), QString(), QStringLiteral("1"), false);
    versus(QStringLiteral("TFrmProject offscreen: create, show, first paint of the grid"), "window", "module", "engine",
           QStringLiteral("engine (its %1 statements)").arg(count("window/statements")), 1.5);
    versus(QStringLiteral("search dialog as the performance window opens it (every status, %1 excluded): show, search, grid painted; "
                          "%2 found, %3 shown")
               .arg(thousands(full->scale.exclusions), thousands(count("dialog/found")), thousands(count("dialog/shown"))),
           "dialog", "module", "engine", QStringLiteral("engine (its %1 statements)").arg(count("dialog/statements")), 1.5);
    versus(QStringLiteral("catalogue search with the 所属项目 column (all %1 holdings read in its round trip, matched in memory): %2 found, %3 of "
                          "them held")
               .arg(thousands(count("holders/holdings")), thousands(count("holders/found")), thousands(count("holders/held"))),
           "holders", "with", "without", QStringLiteral("the same search without it"), 1.1);
    const QString pass = QStringLiteral("one pass reading PRODUCTCODE");
    versus(QStringLiteral("search dialog: Ctrl+A over %1 rows, grid repainted (the key's handling alone: %2)")
               .arg(thousands(count("select/rows")), formatSeconds(med("select/ctrl_a_key"))),
           "select", "ctrl_a", "pass", pass, 3);
    versus(QStringLiteral("search dialog: OK with %1 rows selected (codes as comma text)").arg(thousands(count("select/rows"))), "select", "ok",
           "pass", pass, 3);
    {
        const QString how = note("add/path") == QLatin1String("AddProducts")
                                ? QStringLiteral("TFrmProductProject::AddProducts")
                                : QStringLiteral("the add button's loop (brepeat + InsertProduct each), then the list reload");
        versus(QStringLiteral("%1 performances added: %2").arg(thousands(count("add/codes")), how), "add", "module", "engine",
               QStringLiteral("engine, its %1 statements in one transaction").arg(thousands(count("add/statements"))), 1.5);
    }
    versus(QStringLiteral("%1 selected performances deleted (ToolButton2, confirmed), list reloaded").arg(thousands(count("delete/rows"))), "delete",
           "module", "engine", QStringLiteral("engine, its %1 statements in one transaction").arg(thousands(count("delete/statements"))), 1.5);
    versus(QStringLiteral("history window (Ctrl+H) on the project with the most entries: %1 of %2 entries listed, shown and painted")
               .arg(thousands(count("history_project/rows")), thousands(count("history/entries"))),
           "history_project", "module", "engine", engineAlone, 1.5);
    versus(QStringLiteral("history window on all projects: the newest %1 of %2 entries listed, shown and painted")
               .arg(thousands(count("history_all/rows")), thousands(count("history/entries"))),
           "history_all", "module", "engine", engineAlone, 1.5);
    versus(QStringLiteral("history cost: 1,000 performances added (AddProducts, one transaction), with the history"), "history_add", "with",
           "without", QStringLiteral("the same without its %1 history triggers").arg(count("history_add/triggers")), 1.2);
    versus(QStringLiteral("history cost: 100 project edits (EdtPro, each its own transaction), with the history"), "history_edit", "with", "without",
           QStringLiteral("the same without its %1 history triggers").arg(count("history_edit/triggers")), 1.2);
    versus(QStringLiteral("history cost as the operator waits for it: one project edit saved from the project window (EdtPro, then GetProject with the "
                          "search text that found it), with the history"),
           "history_save", "with", "without", QStringLiteral("the same without its %1 history triggers").arg(count("history_save/triggers")), 1.2,
           false);
    versus(QStringLiteral("conflict check on one project edit saved from the project window (the row read under its lock, then EdtPro, in one "
                          "transaction; then GetProject with the search text that found it)"),
           "edit_check", "checked", "plain", QStringLiteral("EdtPro alone, then the same GetProject"), 1.2, false);
    versus(QStringLiteral("(floor) the same 1,000 adds' statements on the engine alone, in one transaction, with one more row per performance "
                          "(the entry's text) in a table without indexes"),
           "history_add", "floor_entry", "floor_plain", QStringLiteral("the same without those rows"), 1.2, false);
    // The time those rows add, put on the module's own write without history.
    const auto onModule = [&](const std::string &measure) {
        const double base = med(measure + "/without"), extra = med(measure + "/floor_indexed") - med(measure + "/floor_plain");
        return base > 0 ? QStringLiteral("; added to the module's write without history: %1").arg(formatRatio((base + extra) / base)) : QString();
    };
    versus(QStringLiteral("(floor) the same, the rows inserted straight into the history table (its key, its two indexes, its size)%1")
               .arg(onModule("history_add")),
           "history_add", "floor_indexed", "floor_plain", QStringLiteral("the same without those rows"), 1.2, false);
    versus(QStringLiteral("(floor) the same 100 edits' statements on the engine alone, each its own transaction, with one more row (the entry's "
                          "text) in a table without indexes"),
           "history_edit", "floor_entry", "floor_plain", QStringLiteral("the same without that row"), 1.2, false);
    versus(QStringLiteral("(floor) the same, the row inserted straight into the history table (its key, its two indexes, its size)%1")
               .arg(onModule("history_edit")),
           "history_edit", "floor_indexed", "floor_plain", QStringLiteral("the same without that row"), 1.2, false);
    versus(QStringLiteral("(floor) Qt's own window for the history: a bare QDialog of its size whose QTableView shows the same %1 rows, already "
                          "in memory (no statement), shown and painted; above 0.5× the statement, 1.5× is out of reach")
               .arg(thousands(count("history_project/rows"))),
           "history_project", "qt_floor", "engine", engineAlone, 0.5, false);
    versus(QStringLiteral("limit dialog: getpromemberinfo fills %1 projects, dialog shown and painted").arg(thousands(count("limit_dialog/projects"))),
           "limit_dialog", "module", "engine", engineAlone, 1.5);
    if (ran("dropdown/module")) {
        const double m = med("dropdown/module");
        t.row(QStringLiteral("limit dialog: project drop-down (%1 items) opened until painted").arg(thousands(count("dropdown/items"))),
              formatSeconds(m), QString(), QString(), QStringLiteral("≤ 50 ms"), m > 0 && m <= 0.050);
    }
    // Loosely judged: the client pays once for Qt, fonts and its package,
    // which the shell never loads; at this scale the loads must dominate.
    versus(QStringLiteral("cold start: qelclient --screenshot until the main window is drawn and saved"), "cold", "module", "engine",
           QStringLiteral("%1 on the same %2 statements").arg(note("cold/shell"), QString::number(count("cold/statements"))), 2);
    versus(QStringLiteral("bhavepromem through a newly created pipe, per call"), "conflict", "module", "engine", engineAlone, 1.2, pg,
           pg ? QString() : QStringLiteral("(PostgreSQL only)"));
    if (c.has(p + "memory")) {
        const double heap = c.counter(p + "memory", "heap_bytes"), used = c.counter(p + "memory", "bytes_used");
        const double text = c.counter(p + "memory", "text_bytes");
        const double r = text > 0 ? heap / text : 0;
        t.row(QStringLiteral("memory of cdsProject, %1 projects (heap growth; bytesUsed %2)").arg(thousands(c.counter(p + "memory", "rows")), formatBytes(used)),
              formatBytes(heap), QStringLiteral("text ") + formatBytes(text), formatRatio(r), QStringLiteral("≤ 3×"), r > 0 && r <= 3);
    }
    if (c.has(p + "peak_rss")) {
        const double before = c.counter(p + "peak_rss", "before"), peak = c.counter(p + "peak_rss", "peak");
        const double text = c.counter(p + "peak_rss", "text");
        const double r = text > 0 ? (peak - before) / text : 0;
        t.row(QStringLiteral("resident memory of a client opening the search dialog (%1 found): peak %2, %3 before the dialog")
                  .arg(thousands(c.counter(p + "peak_rss", "rows")), formatBytes(peak), formatBytes(before)),
              formatBytes(peak - before), QStringLiteral("text ") + formatBytes(text), formatRatio(r), QStringLiteral("(reported)"), true, false);
    }
    if (c.has(p + "window/scroll")) {
        const double repaints = c.counter(p + "window/scroll", "repaints", -1);
        const double missed = c.counter(p + "window/scroll", "missed_last_row", 0);
        t.row(QStringLiteral("scroll to the last row (Ctrl+End), grid repaints"),
              QStringLiteral("%1 in %2").arg(repaints).arg(formatSeconds(c.median(p + "window/scroll"))), QString(), QString(),
              QStringLiteral("1 repaint"), repaints == 1 && missed == 0);
    }

    {
        const QString load = QStringLiteral("the load it follows (GetProjectmember, repainted)");
        versus(QStringLiteral("limit list, %1 rows: a click on 演出项目 sorts it in pinyin order, grid repainted").arg(thousands(count("limit_sort/rows"))),
               "limit_sort", "sort_text", "load", load, 1.5);
        versus(QStringLiteral("limit list, %1 rows: a click on 限购数量 sorts it by number, grid repainted").arg(thousands(count("limit_sort/rows"))),
               "limit_sort", "sort_number", "load", load, 1.5);
        for (const auto &[kind, label] : {std::pair<std::string, QString>{"xlsx", QStringLiteral("Excel (.xlsx)")}, {"csv", QStringLiteral("CSV")}}) {
            if (!ran("export/" + kind))
                continue;
            const double m = med("export/" + kind);
            t.row(QStringLiteral("project list, %1 rows as shown, exported to %2 (%3)")
                      .arg(thousands(count("export/rows")), label, formatBytes(count("export/" + kind + "_bytes"))),
                  formatSeconds(m), QString(), QString(), QStringLiteral("≤ 2 s"), m > 0 && m <= 2.0);
        }
    }

    if (tenth) {
        // Across the two data sets: the median call at each size.
        auto linear = [&](const QString &what, const std::string &key, const std::string &baseKey, const QString &baseName, const QString &sizes) {
            const double a = medianOf(samples(tenth, key)), b = medianOf(samples(full, key));
            if (a <= 0 || b <= 0)
                return;
            const double ra = medianOf(samples(tenth, baseKey)), rb = medianOf(samples(full, baseKey));
            const double r = b / a;
            t.row(QStringLiteral("linear, %1: %2").arg(what, sizes), formatSeconds(a) + QStringLiteral(" → ") + formatSeconds(b),
                  ra > 0 && rb > 0 ? QStringLiteral("%1 %2").arg(baseName, formatRatio(rb / ra)) : QString(), formatRatio(r), QStringLiteral("≤ 11"),
                  r <= 11);
        };
        const QString projects = QStringLiteral("%1 → %2 projects").arg(tenth->scale.label, full->scale.label);
        const QString engineF = QStringLiteral("engine");
        linear(QStringLiteral("GetProject"), "project_list/module", "project_list/engine", engineF, projects);
        linear(QStringLiteral("GetProjectmember"), "limit_list/module", "limit_list/engine", engineF, projects);
        linear(QStringLiteral("catalogue search (actRetrieveExecute)"), "search/module", "search/engine", engineF, projects);
        linear(QStringLiteral("main window open"), "window/module", "window/engine", engineF, projects);
        linear(QStringLiteral("search dialog open"), "dialog/module", "dialog/engine", engineF, projects);
        const QString rows = QStringLiteral("%1 → %2 rows").arg(thousands(count("select/rows", tenth)), thousands(count("select/rows")));
        linear(QStringLiteral("Ctrl+A"), "select/ctrl_a", "select/pass", QStringLiteral("pass"), rows);
        linear(QStringLiteral("OK"), "select/ok", "select/pass", QStringLiteral("pass"), rows);
        linear(QStringLiteral("limit dialog fill and show"), "limit_dialog/module", "limit_dialog/engine", engineF, projects);
    }

    // For reading the rows above, never judged: the catalogue query alone,
    // the naive client (every cell into a QVariant) and the Qt SQL peer.
    versus(QStringLiteral("(catalogue search alone, actRetrieveExecute, released performances: %1 found, %2 shown)")
               .arg(thousands(count("search/found")), thousands(count("search/shown"))),
           "search", "module", "engine", engineAlone, 0, false, QStringLiteral("—"));
    for (const auto &[measure, label] : {std::pair<std::string, QString>{"project_list", QStringLiteral("GetProject")},
                                         {"limit_list", QStringLiteral("GetProjectmember")},
                                         {"search", QStringLiteral("catalogue search")}}) {
        versus(QStringLiteral("(%1 vs the naive client: every cell into a QVariant)").arg(label), measure, "module", "naive",
               QStringLiteral("naive client"), 0, false, QStringLiteral("—"));
    }
    for (const auto &[measure, label] : {std::pair<std::string, QString>{"project_list", QStringLiteral("GetProject")},
                                         {"limit_list", QStringLiteral("GetProjectmember")}}) {
        const std::string mk = measure + "/module", qk = measure + "/qsql";
        if (!ran(mk) || !ran(qk))
            continue;
        const double speed = pairedRatio(samples(full, qk), samples(full, mk));
        t.row(QStringLiteral("(%1 vs QSqlQueryModel: fetchMore to the end, data() of every cell)").arg(label), formatSeconds(med(mk)),
              QStringLiteral("QSqlQueryModel ") + formatSeconds(med(qk)), formatRatio(speed) + QStringLiteral(" faster"), QStringLiteral("—"), true, false);
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
