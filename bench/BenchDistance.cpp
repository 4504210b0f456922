// Desks at a distance: the operator's commands on PostgreSQL through a relay
// that adds a round-trip time, each against its floor: one round trip plus
// the engine alone on the same statements in one transaction (recorded
// through the trace hook, replayed by libpq on a direct connection).
#include "BenchDistance.h"
#include "BenchUi.h"
#include "Baselines.h"
#include "Results.h"
#include "../tests/support/DelayRelay.h"
#include <DBGrid.h>
#include <Database.h>
#include <HostError.h>
#include <PostgresBackend.h>
#include <SqlText.h>
#include <Unitprojectinfo.h>
#include <uCDHistory.h>
#include <uCDProductProject.h>
#include <uCDProject.h>
#include <uUIHistory.h>
#include <uUIProductProject.h>
#include <uUIProject.h>
#include <uUIProjectEdit.h>
#include <uUISearchProduct_pro.h>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

// The rows' own objects; names no generated project has.
const QString kEditName = QStringLiteral("QELBENCH远程编辑");
const QString kCreateName = QStringLiteral("QELBENCH远程新建");
const QString kRestoreName = QStringLiteral("QELBENCH远程恢复");
constexpr int kDeleted = 500;      // performances deleted in one command
constexpr int kRestoredCodes = 10; // performances of the restored project
constexpr int kRtts[] = {0, 20};   // ms

struct Command {
    std::string key;
    QString label;
    int maxTrips;      // the target at RTT 20 ms
    double maxRatio;   // of the floor at RTT 20 ms; 0: not judged
    std::function<void()> prepare, run, check, after; // module: prepare, run (timed), check, after
    std::function<void()> floorPrepare, floorAfter;  // around the floor's replay
    std::vector<QByteArray> sql;                      // what run sent, recorded once
};

struct Registered {
    DistanceGroup group;
    bool ran = false;
    std::vector<std::pair<std::string, QString>> rows; // key, label
    std::map<std::string, std::pair<int, double>> targets;
};
Registered g_registered;

double seconds(const std::function<void()> &f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::vector<QByteArray> record(const std::function<void()> &f)
{
    std::vector<QByteArray> seen;
    Database::setTraceHook([&seen](const QString &, const QString &sql) { seen.push_back(sql.toUtf8()); });
    try {
        f();
    } catch (...) {
        Database::setTraceHook({});
        throw;
    }
    Database::setTraceHook({});
    return seen;
}

// Seconds of the day in a libpq trace line's timestamp ("2024-05-01 12:00:00.123456").
double traceTime(const QByteArray &stamp)
{
    const QList<QByteArray> hms = stamp.mid(stamp.indexOf(' ') + 1).split(':');
    return hms.size() == 3 ? hms[0].toDouble() * 3600 + hms[1].toDouble() * 60 + hms[2].toDouble() : -1;
}

// How long each transaction stayed open on the server, from libpq's own
// trace of one session: BEGIN sent until COMMIT sent (both reach the server
// one one-way delay later).
std::vector<double> transactionsOpen(const QByteArray &trace)
{
    std::vector<double> open;
    double begun = -1;
    for (const QByteArray &line : trace.split('\n')) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() < 5 || f[1] != "F")
            continue;
        if (f[4].contains("\"BEGIN"))
            begun = traceTime(f[0]);
        else if (f[4].contains("\"COMMIT\"") && begun >= 0) {
            double t = traceTime(f[0]) - begun;
            if (t < 0)
                t += 86400;
            open.push_back(t);
            begun = -1;
        }
    }
    return open;
}

// Everything one run needs; torn down in order (windows, then the relay's
// session, then the relay).
class Distance {
public:
    Distance(const DistanceGroup &g) : m_g(g), m_direct(Database::url()) {}
    ~Distance()
    {
        try {
            closeWindows();
            m_directCd.reset();
            m_directPp.reset();
            Database::setTraceHook({});
            if (m_raw)
                removeOwn();
            if (!m_direct.isEmpty())
                Database::open(m_direct);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "qelbench distance: clean-up: %s\n", e.what());
        }
    }

    void run(benchmark::State &st)
    {
        setUp();
        buildCommands();
        // Warm the relay's session, then record each command's statements once.
        for (Command &c : m_commands) {
            c.prepare();
            c.sql = record(c.run);
            c.check();
            c.after();
        }
        int round = 0;
        for (auto _ : st) {
            // The two RTTs take turns going first.
            for (int k = 0; k < 2; ++k) {
                const int rtt = kRtts[(k + round) % 2];
                m_relay->setDelay(rtt / 2);
                for (Command &c : m_commands) {
                    c.prepare();
                    m_relay->resetCounts();
                    const double t = seconds(c.run);
                    const qint64 trips = m_relay->roundTrips();
                    c.check();
                    c.after();
                    sample(c.key + "/rtt" + std::to_string(rtt)).push_back(t);
                    m_trips[c.key + "/trips" + std::to_string(rtt)].push_back(double(trips));
                }
            }
            m_relay->setDelay(0);
            for (Command &c : m_commands) {
                c.floorPrepare();
                sample(c.key + "/engine").push_back(seconds([&] { m_raw->transaction(c.sql, QByteArray(), 0); }));
                c.floorAfter();
            }
            ++round;
        }
        for (const auto &[key, v] : m_trips)
            (*m_g.counts)["distance/" + key] = medianOf(v);
        for (const Command &c : m_commands) {
            (*m_g.counts)["distance/" + c.key + "/statements"] = double(c.sql.size());
            g_registered.rows.push_back({c.key, c.label});
            g_registered.targets[c.key] = {c.maxTrips, c.maxRatio};
        }
        batchOpenTime();
        g_registered.ran = true;
    }

private:
    std::vector<double> &sample(const std::string &key) { return (*m_g.samples)["distance/" + key]; }

    [[noreturn]] static void fail(const QString &what) { throw EHostError(QStringLiteral("distance: ") + what); }

    qint64 scalar(const QByteArray &sql)
    {
        std::vector<QVariant> cells;
        m_raw->query(sql, cells);
        return cells.empty() ? -1 : cells[0].toLongLong();
    }

    void unassign(const QString &project) { m_raw->exec("DELETE FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = " + project.toUtf8()); }

    void assign(const QString &project, const QStringList &codes)
    {
        QString sql = QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) VALUES ");
        for (qsizetype j = 0; j < codes.size(); ++j)
            sql += (j ? QStringLiteral(",(") : QStringLiteral("(")) + project + QLatin1Char(',') + QuotedStr(codes[j]) + QLatin1Char(')');
        m_raw->exec(sql.toUtf8());
    }

    // The rows' own projects, limits and assignments; the data set's
    // projects that receive and lose performances left empty.
    void removeOwn()
    {
        const QByteArray mine = "(SELECT ID FROM QEL_PROJECT WHERE CNAME LIKE 'QELBENCH%')";
        m_raw->exec("DELETE FROM qel_project_member_limit WHERE PID IN " + mine);
        m_raw->exec("DELETE FROM QEL_PROJECT_PRODUCT WHERE PROJECTID IN " + mine);
        m_raw->exec("DELETE FROM QEL_PROJECT WHERE CNAME LIKE 'QELBENCH%'");
        unassign(m_g.facts->insertProject);
        unassign(m_g.facts->deleteProject);
        QStringList quoted;
        for (const QString &c : m_restoreCodes)
            quoted << QuotedStr(c);
        if (!quoted.isEmpty())
            m_raw->exec(("DELETE FROM QEL_PROJECT_PRODUCT WHERE PRODUCTCODE IN (" + quoted.join(QLatin1Char(',')) + ")").toUtf8());
    }

    // Fixtures on the direct connection, then the process's database through the relay.
    void setUp()
    {
        const DataSetFacts &f = *m_g.facts;
        if (f.addCodes.size() < 1000 || f.deleteCodes.size() < kDeleted + kRestoredCodes)
            fail(QStringLiteral("the data set lacks free performances"));
        m_raw = RawEngine::open(m_g.url);
        m_restoreCodes = f.deleteCodes.mid(kDeleted, kRestoredCodes);
        // A run that was stopped may have left its objects behind.
        removeOwn();

        std::vector<QVariant> classes;
        m_raw->query("SELECT MEMBER_CLASS_ID, MEMBER_CLASS_NAME FROM um_member_class ORDER BY MEMBER_CLASS_ID LIMIT 2", classes);
        if (classes.size() < 4)
            fail(QStringLiteral("fewer than two member classes"));
        m_classIds = {classes[0].toString(), classes[2].toString()};
        m_className = classes[1].toString();
        const auto project = [&](const QString &name) {
            return scalar(("INSERT INTO QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) VALUES (" + QuotedStr(name) + ", 10, 2, 2) RETURNING ID")
                              .toUtf8());
        };
        m_editId = project(kEditName);
        m_restoreId = project(kRestoreName);
        for (const QString &c : m_classIds)
            m_raw->exec(("INSERT INTO qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) VALUES (" +
                         QString::number(m_restoreId) + ", " + QuotedStr(c) + ", 3, '1', '1')")
                            .toUtf8());
        assign(QString::number(m_restoreId), m_restoreCodes);

        // Data modules of the direct connection for the untimed steps: their
        // pipes take the connection open when first used.
        m_directCd = std::make_unique<TCDProject>();
        m_directCd->Context = BenchContext();
        m_directCd->ChkProName(0, kEditName);
        m_directPp = std::make_unique<TcdProductProject>();
        m_directPp->Context = BenchContext();
        m_exclusions = m_directPp->sgetproduct(f.exclusionProject);

        const QUrl server(m_g.url);
        m_relay = std::make_unique<DelayRelay>(server.host(), server.port(5432));
        Database::open(m_relay->url(m_g.url));
    }

    void closeWindows()
    {
        dispose(m_history);
        dispose(m_search);
        dispose(m_products);
        if (m_main) {
            dispose(m_main);
            settle();
        }
    }

    void openMain()
    {
        m_main = new TFrmProject();
        FrmProject = m_main.data();
        m_main->SetContext(BenchContext());
        PaintCounter paints(m_main->QELDBGrid1->viewport());
        m_main->show();
        if (!spinUntil([&] { return paints.count > 0; }))
            fail(QStringLiteral("the main window did not paint"));
    }

    // The main window open on its project tab, as the commands find it.
    void mainReady(int tab)
    {
        if (!m_main)
            openMain();
        m_main->Pgproject->setCurrentIndex(tab);
        settle();
    }

    void openProducts(const QString &project)
    {
        m_products = new TFrmProductProject();
        FrmProductProject = m_products.data();
        m_products->Context = BenchContext();
        m_products->ProjectID = project;
        PaintCounter paints(m_products->dgrproduct->viewport());
        m_products->show();
        spinUntil([&] { return paints.count > 0; });
        settle();
    }

    void buildCommands()
    {
        const DataSetFacts &f = *m_g.facts;
        const auto nothing = [] {};
        const QString edit = QString::number(m_editId), restore = QString::number(m_restoreId);

        m_commands.push_back({"open",
                              QStringLiteral("open the main window: TFrmProject shown, project and limit lists loaded, grid painted"), 6, 0,
                              [this] { closeWindows(); },
                              [this] { openMain(); },
                              [this] {
                                  if (!CDProject || CDProject->cdsProject->RecordCount() == 0 || CDProject->cdsprojectmember->RecordCount() == 0)
                                      fail(QStringLiteral("the main window's lists are empty"));
                              },
                              nothing, nothing, nothing, {}});

        const QByteArray dropCreated = ("DELETE FROM QEL_PROJECT WHERE CNAME = " + QuotedStr(kCreateName)).toUtf8();
        m_commands.push_back({"create", QStringLiteral("create a project: 新建, dialog filled and OK (name check, insert), list reloaded"), 6, 0,
                              [this] { mainReady(0); },
                              [this] {
                                  Answer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
                                      d->edtProjectName->setText(kCreateName);
                                      d->spdCrossDiscount->setValue(20);
                                      d->btnOK->click();
                                  });
                                  m_main->ToolButton1->click();
                              },
                              [this] {
                                  if (scalar(("SELECT COUNT(*) FROM QEL_PROJECT WHERE CNAME = " + QuotedStr(kCreateName)).toUtf8()) != 1)
                                      fail(QStringLiteral("the project was not created"));
                              },
                              [this, dropCreated] { m_raw->exec(dropCreated); }, nothing, [this, dropCreated] { m_raw->exec(dropCreated); }, {}});

        m_commands.push_back({"edit", QStringLiteral("edit a project: 编辑 on its row, dialog changed and OK (checked save), list reloaded"), 6, 0,
                              [this] {
                                  mainReady(0);
                                  if (!CDProject->cdsProject->Locate(QStringLiteral("ID"), m_editId))
                                      fail(QStringLiteral("the project to edit is not listed"));
                                  m_main->UpdateCommands();
                              },
                              [this] {
                                  m_discount = m_discount % 50 + 11;
                                  Answer<TfrmProjectEdit> answer([this](TfrmProjectEdit *d) {
                                      d->spdCrossDiscount->setValue(m_discount);
                                      d->btnOK->click();
                                  });
                                  m_main->ToolButton2->click();
                              },
                              [this, edit] {
                                  if (scalar("SELECT CROSSDISCOUNT FROM QEL_PROJECT WHERE ID = " + edit.toUtf8()) != m_discount)
                                      fail(QStringLiteral("the edit was not saved"));
                              },
                              nothing, nothing, nothing, {}});

        const QByteArray dropLimit =
            ("DELETE FROM qel_project_member_limit WHERE PID = " + edit + " AND MEMBER_CLASS_ID = " + QuotedStr(m_classIds[0])).toUtf8();
        m_commands.push_back({"limit",
                              QStringLiteral("add a member-class limit: 新增 on the limit tab, dialog filled and OK (checks, insert), list reloaded"), 6,
                              0, [this] { mainReady(1); },
                              [this] {
                                  Answer<TFormprojectinfo> answer([this](TFormprojectinfo *d) {
                                      d->cbbproject->setCurrentIndex(d->cbbproject->findText(kEditName));
                                      d->cbblimit_type->setCurrentIndex(0);
                                      d->cbbmemberclassname->setCurrentIndex(d->cbbmemberclassname->findText(m_className));
                                      d->edtlimitcount->setText(QStringLiteral("4"));
                                      d->btnok->click();
                                  });
                                  m_main->ToolButton1->click();
                              },
                              [this, edit] {
                                  if (scalar("SELECT COUNT(*) FROM qel_project_member_limit WHERE PID = " + edit.toUtf8()) != 1)
                                      fail(QStringLiteral("the limit was not added"));
                              },
                              [this, dropLimit] {
                                  m_raw->exec(dropLimit);
                                  closeWindows();
                              },
                              nothing, [this, dropLimit] { m_raw->exec(dropLimit); }, {}});

        m_commands.push_back({"search",
                              QStringLiteral("catalogue search dialog as the performance window opens it: shown with its first search, then 查询 once; "
                                             "grid painted each time"),
                              6, 0, nothing,
                              [this] {
                                  m_search = new TUISearchProduct_pro();
                                  UISearchProduct_pro = m_search.data();
                                  m_search->SnapIn->SetContext(BenchContext());
                                  m_search->AllStatus = true;
                                  m_search->ExcludeProducts = m_exclusions;
                                  PaintCounter paints(m_search->dgrd_Product->viewport());
                                  m_search->show();
                                  bool ok = spinUntil([&] { return paints.count > 0; });
                                  paints.count = 0;
                                  m_search->BitBtn1->click();
                                  ok = spinUntil([&] { return paints.count > 0; }) && ok;
                                  if (!ok)
                                      fail(QStringLiteral("the search dialog did not paint"));
                              },
                              [this] {
                                  if (m_search->dsProduct->DataSet()->RecordCount() == 0)
                                      fail(QStringLiteral("the search found nothing"));
                              },
                              [this] {
                                  dispose(m_search);
                                  settle();
                              },
                              nothing, nothing, {}});

        const QString into = f.insertProject;
        m_commands.push_back({"add",
                              QStringLiteral("add %1 performances: the performance window's bulk add (TFrmProductProject::AddProducts), list reloaded")
                                  .arg(QLocale(QLocale::English).toString(f.addCodes.size())),
                              6, 3, [this, into] { openProducts(into); },
                              [this] { m_products->AddProducts(m_g.facts->addCodes); },
                              [this, into] {
                                  if (scalar("SELECT COUNT(*) FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = " + into.toUtf8()) != m_g.facts->addCodes.size())
                                      fail(QStringLiteral("not every performance was added"));
                              },
                              [this, into] {
                                  unassign(into);
                                  dispose(m_products);
                                  settle();
                              },
                              nothing, [this, into] { unassign(into); }, {}});

        const QString from = f.deleteProject;
        m_commands.push_back({"delete",
                              QStringLiteral("delete %1 selected performances: 删除 in the performance window, confirmed (DelProducts), list reloaded")
                                  .arg(kDeleted),
                              6, 3,
                              [this, from] {
                                  assign(from, m_g.facts->deleteCodes.mid(0, kDeleted));
                                  openProducts(from);
                                  m_products->dgrproduct->selectAll();
                                  settle();
                                  if (m_products->dgrproduct->SelectedRows().size() != kDeleted)
                                      fail(QStringLiteral("the performances to delete are not all selected"));
                              },
                              [this] { m_products->ToolButton2->click(); },
                              [this, from] {
                                  if (scalar("SELECT COUNT(*) FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = " + from.toUtf8()) != 0)
                                      fail(QStringLiteral("performances were left after the delete"));
                              },
                              [this] {
                                  dispose(m_products);
                                  settle();
                              },
                              [this, from] { assign(from, m_g.facts->deleteCodes.mid(0, kDeleted)); }, [this, from] { unassign(from); }, {}});

        m_commands.push_back({"restore",
                              QStringLiteral("restore a deleted project with 2 limits and %1 performances: 恢复 on its delete in the history window, "
                                             "confirmed (RestoreProject), history reloaded")
                                  .arg(kRestoredCodes),
                              4, 0,
                              [this] {
                                  m_directCd->DelPro(m_restoreId);
                                  const qint64 entry = scalar("SELECT MAX(ID) FROM QEL_PROJECT_HISTORY WHERE ROW_KIND = 'project' AND ACTION = "
                                                              "'delete' AND PROJECT_ID = " +
                                                              QByteArray::number(m_restoreId));
                                  m_history = new TFrmHistory();
                                  m_history->SetContext(BenchContext());
                                  m_history->SetProject(m_restoreId, kRestoreName);
                                  m_history->BtnSearchClick(nullptr);
                                  PaintCounter paints(m_history->GrdHistory->viewport());
                                  m_history->show();
                                  spinUntil([&] { return paints.count > 0; });
                                  if (!m_history->CDHistory->cdsHistory->Locate(QStringLiteral("ID"), entry))
                                      fail(QStringLiteral("the delete entry is not listed"));
                                  m_history->UpdateCommands();
                                  settle();
                                  if (!m_history->BtnRestore->isEnabled())
                                      fail(QStringLiteral("恢复 is not offered on the delete entry"));
                              },
                              [this] { m_history->BtnRestore->click(); },
                              [this, restore] {
                                  if (scalar("SELECT COUNT(*) FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = " + restore.toUtf8()) != kRestoredCodes)
                                      fail(QStringLiteral("the project was not restored"));
                              },
                              [this] {
                                  dispose(m_history);
                                  settle();
                              },
                              [this] { m_directCd->DelPro(m_restoreId); }, nothing, {}});
    }

    // The bulk add at RTT 20 ms once more, with libpq's trace on the relay's
    // session: how long each batch's transaction stays open on the server.
    void batchOpenTime()
    {
        auto *pg = dynamic_cast<PostgresBackend *>(Database::connection().get());
        Command *add = nullptr;
        for (Command &c : m_commands)
            if (c.key == "add")
                add = &c;
        if (!pg || !add)
            return;
        m_relay->setDelay(kRtts[1] / 2);
        add->prepare();
        FILE *trace = std::tmpfile();
        if (!trace || !pg->handle())
            return;
        PQtrace(pg->handle(), trace);
        try {
            add->run();
        } catch (...) {
            PQuntrace(pg->handle());
            std::fclose(trace);
            throw;
        }
        PQuntrace(pg->handle());
        add->check();
        add->after();
        m_relay->setDelay(0);
        std::rewind(trace);
        QByteArray text;
        char buf[65536];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, trace)) > 0;)
            text.append(buf, qsizetype(n));
        std::fclose(trace);
        const std::vector<double> open = transactionsOpen(text);
        if (open.empty())
            return;
        (*m_g.counts)["distance/add/tx_open_max"] = *std::max_element(open.begin(), open.end());
        (*m_g.counts)["distance/add/tx_count"] = double(open.size());
    }

    DistanceGroup m_g;
    QString m_direct;
    std::unique_ptr<RawEngine> m_raw;
    std::unique_ptr<DelayRelay> m_relay;
    std::unique_ptr<TCDProject> m_directCd;
    std::unique_ptr<TcdProductProject> m_directPp;
    QPointer<TFrmProject> m_main;
    QPointer<TFrmProductProject> m_products;
    QPointer<TUISearchProduct_pro> m_search;
    QPointer<TFrmHistory> m_history;
    std::vector<Command> m_commands;
    std::map<std::string, std::vector<double>> m_trips;
    QString m_exclusions, m_className;
    QStringList m_classIds, m_restoreCodes;
    qint64 m_editId = 0, m_restoreId = 0;
    int m_discount = 10;
};

} // namespace

void RegisterDistance(const DistanceGroup &group, const QString &only, int rounds)
{
    const std::string name = group.prefix + "distance";
    if (!only.isEmpty() && !QString::fromStdString(name).contains(QRegularExpression(only)))
        return;
    g_registered.group = group;
    benchmark::RegisterBenchmark(name.c_str(),
                                 [group](benchmark::State &st) {
                                     try {
                                         Distance(group).run(st);
                                     } catch (const std::exception &e) {
                                         st.SkipWithError(e.what());
                                     }
                                 })
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(std::max(1, rounds))
        ->Repetitions(1);
}

void FillDistanceTable(Table &t)
{
    const Registered &r = g_registered;
    if (!r.ran)
        return;
    const auto &samples = *r.group.samples;
    const auto &counts = *r.group.counts;
    const auto get = [&](const std::string &key) -> std::vector<double> {
        const auto it = samples.find("distance/" + key);
        return it == samples.end() ? std::vector<double>() : it->second;
    };
    const auto count = [&](const std::string &key) {
        const auto it = counts.find("distance/" + key);
        return it == counts.end() ? 0.0 : it->second;
    };
    t.section(QStringLiteral("PostgreSQL — desks at a distance: each command through a relay adding the round-trip time (%1 data set)")
                  .arg(QString::fromStdString(r.group.prefix).section(QLatin1Char('/'), 1, 1)));
    for (const auto &[key, label] : r.rows) {
        const std::vector<double> engine = get(key + "/engine");
        const auto [maxTrips, maxRatio] = r.targets.at(key);
        for (const int rtt : kRtts) {
            const std::vector<double> module = get(key + "/rtt" + std::to_string(rtt));
            if (module.empty())
                continue;
            const double rttS = rtt / 1000.0;
            std::vector<double> ratios;
            for (size_t i = 0; i < std::min(module.size(), engine.size()); ++i)
                ratios.push_back(module[i] / (engine[i] + rttS));
            const double ratio = medianOf(ratios);
            const double trips = count(key + "/trips" + std::to_string(rtt));
            const bool far = rtt == kRtts[1];
            QString target = QStringLiteral("(reported)");
            bool ok = true;
            if (far) {
                target = QStringLiteral("≤ %1 round trips").arg(maxTrips);
                ok = trips <= maxTrips;
                if (maxRatio > 0) {
                    target += QStringLiteral(", ≤ %1× floor").arg(maxRatio);
                    ok = ok && ratio > 0 && ratio <= maxRatio;
                }
            }
            t.row(QStringLiteral("%1 — RTT %2 ms: %3 round trips").arg(label).arg(rtt).arg(trips),
                  formatSeconds(medianOf(module)),
                  QStringLiteral("floor %1 (1 RTT + engine %2 on its %3 statements)")
                      .arg(formatSeconds(medianOf(engine) + rttS), formatSeconds(medianOf(engine)))
                      .arg(QLocale(QLocale::English).toString(qint64(count(key + "/statements")))),
                  formatRatio(ratio), target, ok, far);
        }
    }
    const double open = count("add/tx_open_max");
    if (open > 0) {
        const double rtt = kRtts[1] / 1000.0;
        t.row(QStringLiteral("(floor) bulk add at RTT %1 ms: the longest a batch's transaction stays open on the server (BEGIN sent to COMMIT "
                             "sent, libpq trace; %2 transactions)")
                  .arg(kRtts[1])
                  .arg(count("add/tx_count")),
              formatSeconds(open), QStringLiteral("RTT %1").arg(formatSeconds(rtt)), formatRatio(open / rtt), QStringLiteral("(reported)"), true, false);
    }
}
