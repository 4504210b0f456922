// A desk killed outright (SIGKILL) in the middle of its work: the database
// stays sound, every performance is either assigned or not, a booking rule is
// either whole or gone, each change is there with its history entry or
// neither is, and the next desk opens the database and works.
#include "Database.h"
#include "HistoryReplay.h"
#include "TestDb.h"
#include "stress/StressLog.h"
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <iostream>

namespace {

// Waits until the log holds at least lines lines (or the desk ended); false on timeout.
bool waitForLines(QProcess &p, const QString &log, int lines, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    qint64 seen = -1;
    while (t.elapsed() < timeoutMs) {
        // Parse only what grew: the log of a long run is read many times.
        const qint64 size = QFileInfo(log).size();
        if (size != seen) {
            seen = size;
            if (int(stress::readLog(log).size()) >= lines)
                return true;
        }
        if (p.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(2);
    }
    return false;
}

void kill9(QProcess &p)
{
    p.kill(); // SIGKILL: no destructor, no rollback, no flush
    p.waitForFinished(10000);
}

class CrashTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // What a fresh connection finds after the crash.
    void expectSoundDatabase()
    {
        auto fresh = Database::connect(db.url());
        if (!db.isPostgres()) {
            const DataPacket ok = fresh->query("PRAGMA integrity_check");
            ASSERT_EQ(ok.rowCount(), 1);
            EXPECT_EQ(ok.text(0, 0), QStringLiteral("ok"));
        }
        // No partial rows: every assignment names a project and a catalogued performance.
        EXPECT_EQ(fresh->query("select count(*) from QEL_PROJECT_PRODUCT where PROJECTID is null or PRODUCTCODE is null or PRODUCTCODE = '' "
                               "or PRODUCTCODE not in (select PRODUCTCODE from QEL_PRODUCT) or PROJECTID not in (select ID from QEL_PROJECT)")
                      .integer(0, 0),
                  0);
        EXPECT_EQ(fresh->query("select count(*) from qel_project_member_limit where PID not in (select ID from QEL_PROJECT)").integer(0, 0), 0);
        EXPECT_EQ(fresh->query("select count(*) from (select PRODUCTCODE from QEL_PROJECT_PRODUCT group by PRODUCTCODE having count(*) > 1) d")
                      .integer(0, 0),
                  0);
        // A change and its history entry commit together: replayed, the
        // history gives exactly the tables.
        const QStringList apart = history::mismatches(db);
        EXPECT_TRUE(apart.isEmpty()) << apart.mid(0, 10).join(QLatin1Char('\n')).toStdString();
    }

    // Starts a desk and kills it once its log holds `lines` lines.
    void crashAfter(const QStringList &args, const QString &log, int lines)
    {
        auto p = stress::startDesk(args);
        ASSERT_TRUE(p->waitForStarted(10000)) << p->errorString().toStdString();
        const bool reached = waitForLines(*p, log, lines, 60000);
        kill9(*p);
        ASSERT_TRUE(reached) << "the desk stopped early: " << p->readAllStandardError().toStdString();
        ++kills;
    }

    TestDatabase db{true};
    QTemporaryDir dir;
    int kills = 0;
};

TEST_F(CrashTest, KilledWhileAddingPerformancesLeavesEachAssignedOrNot)
{
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('断电演练项目')"));
    const QString pid = db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = '断电演练项目'"));
    const QString log = dir.filePath(QStringLiteral("add.log"));
    const QStringList args = {QStringLiteral("--database"), db.url(), QStringLiteral("--desk"), QStringLiteral("1"), QStringLiteral("--mode"),
                              QStringLiteral("add"), QStringLiteral("--project"), pid, QStringLiteral("--ops"), QStringLiteral("100000"),
                              QStringLiteral("--seconds"), QStringLiteral("60"), QStringLiteral("--log"), log};
    // Kill points spread over adding and removing; each round goes on from what the last left.
    QSet<QString> unexplained;
    for (const int step : {37, 113, 71, 190, 29, 151}) {
        const int before = int(stress::readLog(log).size());
        crashAfter(args, log, before + step);
        expectSoundDatabase();

        // The last acknowledged word on each performance holds.
        QHash<QString, bool> lastAck;
        for (const stress::Op &o : stress::readLog(log))
            if (o.acked() && (o.op == QLatin1String("A+") || o.op == QLatin1String("A-")))
                lastAck[o.arg(1)] = o.op == QLatin1String("A+");
        const DataPacket rows = db.query(QStringLiteral("select PRODUCTCODE from QEL_PROJECT_PRODUCT where PROJECTID = %1").arg(pid));
        QSet<QString> present;
        for (int r = 0; r < rows.rowCount(); ++r)
            present.insert(rows.text(r, 0));
        // Only the command under way at the kill may disagree with the log;
        // one such command per kill, and it stays unlogged afterwards.
        QSet<QString> disagree;
        for (auto it = lastAck.cbegin(); it != lastAck.cend(); ++it)
            if (present.contains(it.key()) != it.value())
                disagree.insert(it.key());
        for (const QString &code : present)
            if (!lastAck.contains(code))
                disagree.insert(code);
        EXPECT_LE((disagree - unexplained).size(), 1) << "acknowledged additions or removals were lost";
        unexplained = disagree;
    }
    // The next desk opens the database and works.
    auto next = stress::startDesk({QStringLiteral("--database"), db.url(), QStringLiteral("--desk"), QStringLiteral("2"), QStringLiteral("--ops"),
                                   QStringLiteral("40"), QStringLiteral("--seconds"), QStringLiteral("60"), QStringLiteral("--log"),
                                   dir.filePath(QStringLiteral("next.log"))});
    ASSERT_TRUE(next->waitForFinished(90000));
    EXPECT_EQ(next->exitCode(), 0) << next->readAllStandardError().toStdString();
    int acked = 0;
    for (const stress::Op &o : stress::readLog(dir.filePath(QStringLiteral("next.log"))))
        acked += o.acked();
    EXPECT_GT(acked, 0);
    expectSoundDatabase();
    std::cout << "kills " << kills << ", performance commands logged " << stress::readLog(log).size() << ", next desk acknowledged " << acked
              << std::endl;
}

TEST_F(CrashTest, KilledWhileDeletingProjectsLeavesEachRuleWholeOrGone)
{
    const QString log = dir.filePath(QStringLiteral("churn.log"));
    for (int round = 1; round <= 20; ++round) {
        const int before = int(stress::readLog(log).size());
        // The desk number keeps project names of different rounds apart.
        crashAfter({QStringLiteral("--database"), db.url(), QStringLiteral("--desk"), QString::number(round), QStringLiteral("--mode"),
                    QStringLiteral("churn"), QStringLiteral("--ops"), QStringLiteral("100000"), QStringLiteral("--seconds"), QStringLiteral("60"),
                    QStringLiteral("--log"), log},
                   log, before + 20 + 13 * round);
        expectSoundDatabase();
    }
    // Each rule that was built is either all there or all gone.
    const std::vector<stress::Op> ops = stress::readLog(log);
    QSet<QString> deleted;
    for (const stress::Op &o : ops)
        if (o.op == QLatin1String("PD") && o.acked())
            deleted.insert(o.arg(0));
    int whole = 0, gone = 0;
    for (const stress::Op &o : ops) {
        if (o.op != QLatin1String("BUILT"))
            continue;
        const QString pid = o.arg(0);
        const int project = db.count(QStringLiteral("select count(*) from QEL_PROJECT where ID = %1").arg(pid));
        const int limits = db.count(QStringLiteral("select count(*) from qel_project_member_limit where PID = %1").arg(pid));
        const int performances = db.count(QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT where PROJECTID = %1").arg(pid));
        if (project == 0) {
            ++gone;
            EXPECT_EQ(limits + performances, 0) << "project " << pid.toStdString() << " half deleted";
        } else {
            ++whole;
            EXPECT_FALSE(deleted.contains(pid)) << "acknowledged delete of " << pid.toStdString() << " lost";
            EXPECT_EQ(limits, o.arg(1).toInt()) << pid.toStdString();
            EXPECT_EQ(performances, o.arg(2).toInt()) << pid.toStdString();
        }
    }
    EXPECT_GT(gone, 0);

    // Killed inside the delete's transaction, after the project row went: all of it stays.
    auto held = stress::startDesk({QStringLiteral("--database"), db.url(), QStringLiteral("--desk"), QStringLiteral("99"), QStringLiteral("--mode"),
                                   QStringLiteral("churn"), QStringLiteral("--hold-in-delete"), QStringLiteral("--seconds"), QStringLiteral("60"),
                                   QStringLiteral("--log"), log});
    ASSERT_TRUE(held->waitForStarted(10000));
    QElapsedTimer t;
    t.start();
    QString builtPid;
    int builtLimits = -1, builtPerformances = -1;
    bool holding = false;
    while (!holding && t.elapsed() < 60000 && held->state() != QProcess::NotRunning) {
        for (const stress::Op &o : stress::readLog(log)) {
            if (o.desk != 99)
                continue;
            if (o.op == QLatin1String("BUILT")) {
                builtPid = o.arg(0);
                builtLimits = o.arg(1).toInt();
                builtPerformances = o.arg(2).toInt();
            }
            holding = holding || o.op == QLatin1String("HOLD");
        }
        QThread::msleep(5);
    }
    kill9(*held);
    ++kills;
    ASSERT_TRUE(holding) << held->readAllStandardError().toStdString();
    ASSERT_FALSE(builtPid.isEmpty());
    expectSoundDatabase();
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT where ID = %1").arg(builtPid)), 1) << "the uncommitted delete took effect";
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from qel_project_member_limit where PID = %1").arg(builtPid)), builtLimits);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT where PROJECTID = %1").arg(builtPid)), builtPerformances);
    EXPECT_GT(builtLimits + builtPerformances, 0);
    // Nor did any entry of that delete stay behind.
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT_HISTORY where PROJECT_ID = %1 and ACTION = 'delete'").arg(builtPid)), 0);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT_HISTORY where PROJECT_ID = %1 and ACTION = 'insert'").arg(builtPid)),
              1 + builtLimits + builtPerformances);
    std::cout << "kills " << kills << ", rules built " << whole + gone + 1 << ", deleted " << gone << ", left whole " << whole + 1 << std::endl;
}

} // namespace
