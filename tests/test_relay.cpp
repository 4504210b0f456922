// The relay that puts a PostgreSQL server at a distance and loses answers.
#include "Database.h"
#include "DelayRelay.h"
#include "Errors.h"
#include "HostError.h"
#include "TestDb.h"
#include <QElapsedTimer>
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

TEST_F(RelayTest, DelaysEachWayCountsRoundTripsAndDrops)
{
    auto conn = Database::connect(relay->url(db->url()));
    relay->setDelay(10);
    relay->resetCounts();
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(conn->query("select 1").integer(0, 0), 1);
        const qint64 ms = t.elapsed();
        EXPECT_GE(ms, 20);
        EXPECT_LT(ms, 60);
        EXPECT_EQ(relay->roundTrips(), i + 1);
    }
    EXPECT_GT(relay->bytesToServer(), 5 * 14);
    EXPECT_GT(relay->bytesToClient(), relay->bytesToServer());

    relay->dropAll();
    EXPECT_THROW(conn->query("select 1"), EConnectionLost);
    EXPECT_EQ(conn->query("select 2").integer(0, 0), 2); // a new session through the relay
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

} // namespace
