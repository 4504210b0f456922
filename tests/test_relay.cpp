// The relay that puts a PostgreSQL server at a distance and loses answers.
#include "Database.h"
#include "DelayRelay.h"
#include "Errors.h"
#include "HostError.h"
#include "TestDb.h"
#include <QElapsedTimer>
#include <cstdio>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <chrono>
#include <thread>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace {

class RelayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!TestDatabase::postgresSelected())
            GTEST_SKIP() << "the relay stands in front of a PostgreSQL server";
        db = std::make_unique<TestDatabase>();
        const QUrl server(db->url());
        relay = std::make_unique<DelayRelay>(server.host(), server.port(5432));
    }

    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<DelayRelay> relay;
};

TEST_F(RelayTest, DelaysEachWayAndCountsRoundTrips)
{
    auto conn = Database::connect(relay->url(db->url()));
    relay->setDelay(10);
    relay->resetCounts();
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(conn->query("select 1").integer(0, 0), 1);
        EXPECT_GE(t.elapsed(), 20);
        EXPECT_EQ(relay->roundTrips(), i + 1);
    }
}

// The desk tells what became of a write whose answer was lost: saved, not
// saved, or (nobody left to ask) unknown.
TEST_F(RelayTest, ALostAnswerIsLookedUpAndASilentServerFailsInTime)
{
    db->exec(QStringLiteral("create table t_relay (x integer)"));
    auto conn = Database::connect(relay->url(db->url()));
    const auto rows = [&](int x) { return db->count(QStringLiteral("select count(*) from t_relay where x = %1").arg(x)); };
    // The answer to COMMIT lost, autocommitted and in a transaction: saved.
    relay->swallowNextCommandComplete("COMMIT");
    EXPECT_EQ(conn->exec("insert into t_relay values (7)"), 1);
    EXPECT_TRUE(relay->swallowed());
    conn->begin();
    conn->exec("insert into t_relay values (8)");
    relay->swallowNextCommandComplete("COMMIT");
    EXPECT_NO_THROW(conn->commit());
    EXPECT_TRUE(relay->swallowed());
    EXPECT_EQ(rows(7) + rows(8), 2);
    // The same with the writes and their COMMIT sent together; a failing
    // write leaves the transaction to its rollback and nothing is saved.
    conn->begin();
    relay->swallowNextCommandComplete("COMMIT");
    EXPECT_FALSE(conn->commitWith({"insert into t_relay values (11)", "insert into t_relay values (11)"}).failure);
    EXPECT_TRUE(relay->swallowed());
    conn->begin();
    EXPECT_TRUE(conn->commitWith({"insert into t_relay values (12)", "insert into t_relay values ('x')"}).failure);
    conn->rollback();
    EXPECT_EQ(rows(11) * 10 + rows(12), 20);
    // A commit sent with the next transaction's first reads: they see it,
    // and a lost answer to it is looked up before they are given up.
    conn->begin();
    conn->exec("insert into t_relay values (13)");
    const BatchOutcome next = conn->commitThenBegin({"select count(*) from t_relay where x = 13"});
    EXPECT_TRUE(!next.failure && next.rows.value(0).integer(0, 0) == 1 && conn->inTransaction());
    conn->exec("insert into t_relay values (14)");
    relay->swallowNextCommandComplete("COMMIT");
    EXPECT_TRUE(conn->commitThenBegin({"select 1"}).failure);
    EXPECT_EQ(rows(13) + rows(14), 2);
    // Lost before the commit went out: not saved.
    relay->swallowNextCommandComplete("INSERT");
    QString msg = thrownMessage<EConnectionLost>([&] { conn->exec("insert into t_relay values (9)"); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("与数据库服务器的连接已断开"))) << msg.toStdString();
    EXPECT_EQ(rows(9), 0);
    // Saved, but the server went silent with the answer: unknown, in time.
    QUrl url(relay->url(db->url()));
    QUrlQuery q(url);
    q.addQueryItem(QStringLiteral("connect_timeout"), QStringLiteral("2"));
    url.setQuery(q);
    auto slow = Database::connect(url.toString());
    relay->swallowNextCommandComplete("COMMIT", true);
    msg = thrownMessage<EConnectionLost>([&] { slow->exec("insert into t_relay values (10)"); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("结果未知：连接在服务器确认之前断开，请刷新后核对"))) << msg.toStdString();
    EXPECT_EQ(rows(10), 1);
    relay->setSilent(false);

    relay->setSilent(true);
    QElapsedTimer t;
    t.start();
    EXPECT_THROW(Database::connect(url.toString()), EHostError);
    EXPECT_GE(t.elapsed(), 1000);
    EXPECT_LT(t.elapsed(), 4000);
}

// A primary behind the relay (so that its address can go silent) and a
// streaming standby, both of the test's own (scripts/pg-cluster.sh).
bool cluster(const QStringList &args, QString *url = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("bash"), QStringList{QStringLiteral(QEL_SOURCE_DIR "/scripts/pg-cluster.sh")} + args);
    const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (url)
        *url = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    if (!ok)
        std::fprintf(stderr, "pg-cluster.sh: %s\n", p.readAllStandardError().constData());
    return ok;
}

TEST(FailoverTest, ACommitLostAsThePrimaryGoesIsToldTrulyAndTheDeskThenGoesStraightToTheNewPrimary)
{
    if (!TestDatabase::postgresSelected())
        GTEST_SKIP() << "PostgreSQL only";
    QTemporaryDir dirs;
    QFile::setPermissions(dirs.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    const QString a = dirs.filePath(QStringLiteral("a")), b = dirs.filePath(QStringLiteral("b"));
    QString primary, standby;
    const auto stop = qScopeGuard([&] {
        cluster({QStringLiteral("stop"), b});
        cluster({QStringLiteral("stop"), a});
    });
    ASSERT_TRUE(cluster({QStringLiteral("start"), a}, &primary));
    ASSERT_TRUE(cluster({QStringLiteral("standby"), a, b}, &standby));
    const QUrl p(primary);
    DelayRelay relay(p.host(), p.port());
    auto desk = Database::connect(QStringLiteral("postgresql://postgres@127.0.0.1:%1,127.0.0.1:%2/postgres?target_session_attrs=read-write")
                                      .arg(relay.port())
                                      .arg(QUrl(standby).port()));
    desk->exec("create table t_fail (x integer)");
    EXPECT_EQ(desk->exec("insert into t_fail values (1)"), 1);

    // The answer to COMMIT is lost, the primary's address goes silent and the standby is promoted.
    relay.swallowNextCommandComplete("COMMIT", true);
    std::thread promote([&] {
        for (int i = 0; i < 3000 && !relay.swallowed(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        cluster({QStringLiteral("promote"), b});
    });
    QElapsedTimer t;
    t.start();
    QString told;
    bool saved = false;
    try {
        saved = desk->exec("insert into t_fail values (2)") == 1;
    } catch (const EHostError &e) {
        told = e.message();
    }
    const qint64 waited = t.elapsed();
    std::fprintf(stderr, "failover: %s after %lld ms\n", saved ? "saved" : qPrintable(told), waited);
    promote.join();
    auto check = Database::connect(standby);
    const qint64 landed = check->query("select count(*) from t_fail where x = 2").integer(0, 0);
    EXPECT_EQ(saved, landed == 1) << told.toStdString();
    if (!saved) {
        EXPECT_TRUE(told.startsWith(QStringLiteral("结果未知")) || (landed == 0 && told.startsWith(QStringLiteral("与数据库服务器的连接已断开"))))
            << told.toStdString();
    }
    EXPECT_LT(waited, 8000) << "a silent first address costs 2 s per try, not 10";

    // On the new primary now: a lost session there reconnects without asking the silent address.
    check->query("select pg_terminate_backend(pid) from pg_stat_activity where pid <> pg_backend_pid() and backend_type = 'client backend'");
    EXPECT_THROW(desk->query("select 1"), EConnectionLost);
    const qint64 tried = relay.accepted();
    EXPECT_EQ(desk->exec("insert into t_fail values (3)"), 1);
    EXPECT_EQ(relay.accepted(), tried) << "the old primary's address was tried first";
}

} // namespace
