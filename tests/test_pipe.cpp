// The data pipe and both database backends, on the engine QEL_DATABASE selects.
#include "ChangeWatcher.h"
#include "Database.h"
#include "Errors.h"
#include "HostError.h"
#include "Pipe.h"
#include "SqliteBackend.h"
#include "TestPresenter.h"
#include "TestDb.h"
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

const QString kCtx = QStringLiteral("test_pipe");

class PipeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db.exec(QStringLiteral("create table t_pipe_probe (id integer primary key, name varchar(40), qty integer, "
                               "price numeric(10,2), at timestamp)"));
    }

    int rows() { return db.count(QStringLiteral("select count(*) from t_pipe_probe")); }
    int insert(TCADBPipe2 &p, int id, const QString &name = QStringLiteral("x"))
    {
        return p.ExecSQL(kCtx, QStringLiteral("insert into t_pipe_probe (id, name, qty) values (%1, '%2', %1)").arg(id).arg(name));
    }
    // The id of the server session behind the shared connection.
    qint64 sessionPid()
    {
        const DataPacket p = pipe.GetData(kCtx, QStringLiteral("select pg_backend_pid() as pid"));
        return p.integer(0, 0);
    }
    // Ends the shared connection's server session from the other connection and waits until it is gone.
    void killSession(qint64 pid)
    {
        const QString ok = db.scalar(QStringLiteral("select pg_terminate_backend(%1, 5000)").arg(pid));
        ASSERT_EQ(ok, QStringLiteral("1")) << "the server did not end session " << pid;
    }

    TestDatabase db;
    TCADBPipe2 pipe;
};

int col(const DataPacket &p, const char *name)
{
    const int c = p.columnIndex(QString::fromLatin1(name));
    EXPECT_GE(c, 0) << "no column " << name;
    return c;
}

TEST_F(PipeTest, ExecSqlReturnsRowsAffectedAndIsTraced)
{
    StatementRecorder rec;
    EXPECT_EQ(insert(pipe, 1), 1);
    EXPECT_EQ(pipe.ExecSQL(QStringLiteral("两行"), QStringLiteral("insert into t_pipe_probe (id, qty) values (2, 1), (3, 1)")), 2);
    EXPECT_EQ(pipe.ExecSQL(kCtx, QStringLiteral("update t_pipe_probe set qty = qty + 10")), 3);
    EXPECT_EQ(pipe.ExecSQL(kCtx, QStringLiteral("update t_pipe_probe set name = 'y' where id = 2")), 1);
    EXPECT_EQ(pipe.ExecSQL(kCtx, QStringLiteral("delete from t_pipe_probe where id > 100")), 0);
    EXPECT_EQ(pipe.ExecSQL(kCtx, QStringLiteral("select * from t_pipe_probe")), 0) << "a query changes no row";

    // The effects reached the database, not just the pipe's session.
    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(db.count(QStringLiteral("select sum(qty) from t_pipe_probe")), 3 * 1 + 3 * 10);
    EXPECT_EQ(db.scalar(QStringLiteral("select name from t_pipe_probe where id = 2")), QStringLiteral("y"));

    ASSERT_EQ(rec.count(), 6);
    EXPECT_EQ(rec.contexts().at(1), QStringLiteral("两行"));
    EXPECT_EQ(rec.statements().at(2), QStringLiteral("update t_pipe_probe set qty = qty + 10"));
    EXPECT_EQ(rec.contexts().at(0), kCtx);
}

TEST_F(PipeTest, GetDataGivesTypedColumnsUnderTheirNames)
{
    db.exec(QStringLiteral("insert into t_pipe_probe values (1, '张三', 5, 12.50, '2024-03-05 14:30:15')"));
    db.exec(QStringLiteral("insert into t_pipe_probe (id) values (2)"));
    const DataPacket p = pipe.GetData(kCtx, QStringLiteral(
        "select id, name, qty, price, at, 1 as vStatus, "
        "case when qty > 3 then 'big' else 'small' end as sizeClass, qty * 2 as doubled "
        "from t_pipe_probe order by id"));
    ASSERT_EQ(p.columnCount(), 8);
    ASSERT_EQ(p.rowCount(), 2);

    const int id = col(p, "id"), name = col(p, "name"), qty = col(p, "qty"), price = col(p, "price"), at = col(p, "at");
    const int status = col(p, "vStatus"), size = col(p, "sizeClass"), doubled = col(p, "doubled");
    ASSERT_TRUE(id >= 0 && name >= 0 && qty >= 0 && price >= 0 && at >= 0 && status >= 0 && size >= 0 && doubled >= 0);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(status, 5);
    EXPECT_EQ(p.column(status).name.compare(QStringLiteral("vstatus"), Qt::CaseInsensitive), 0);
    EXPECT_EQ(p.column(size).name.compare(QStringLiteral("sizeclass"), Qt::CaseInsensitive), 0);

    EXPECT_EQ(p.column(id).type, FieldType::Integer);
    EXPECT_EQ(p.column(name).type, FieldType::Text);
    EXPECT_EQ(p.column(name).size, 40);
    EXPECT_EQ(p.column(qty).type, FieldType::Integer);
    EXPECT_EQ(p.column(price).type, FieldType::Float);
    EXPECT_EQ(p.column(at).type, FieldType::DateTime);
    EXPECT_EQ(p.column(status).type, FieldType::Integer);
    EXPECT_EQ(p.column(size).type, FieldType::Text);
    EXPECT_EQ(p.column(doubled).type, FieldType::Integer);

    EXPECT_EQ(p.integer(0, id), 1);
    EXPECT_EQ(p.text(0, name), QStringLiteral("张三"));
    EXPECT_EQ(p.integer(0, qty), 5);
    EXPECT_DOUBLE_EQ(p.real(0, price), 12.5);
    EXPECT_EQ(p.dateTime(0, at), QDateTime(QDate(2024, 3, 5), QTime(14, 30, 15)));
    EXPECT_EQ(p.text(0, at), QStringLiteral("2024-03-05 14:30:15"));
    EXPECT_EQ(p.integer(0, status), 1);
    EXPECT_EQ(p.text(0, size), QStringLiteral("big"));
    EXPECT_EQ(p.integer(0, doubled), 10);

    // Nulls read as empty text and zero, and stay recognisable as null.
    EXPECT_TRUE(p.isNull(1, name));
    EXPECT_EQ(p.text(1, name), QString());
    EXPECT_TRUE(p.isNull(1, qty));
    EXPECT_EQ(p.integer(1, qty), 0);
    EXPECT_EQ(p.real(1, price), 0.0);
    EXPECT_FALSE(p.dateTime(1, at).isValid());
    EXPECT_TRUE(p.isNull(1, doubled));
    EXPECT_FALSE(p.isNull(1, status));
    EXPECT_EQ(p.text(1, size), QStringLiteral("small"));
}

TEST_F(PipeTest, EmptyResultStillNamesItsColumns)
{
    const DataPacket p = pipe.GetData(kCtx, QStringLiteral("select id, name as title from t_pipe_probe where id < 0"));
    EXPECT_EQ(p.rowCount(), 0);
    ASSERT_EQ(p.columnCount(), 2);
    EXPECT_EQ(p.columnIndex(QStringLiteral("title")), 1);
    EXPECT_EQ(p.column(0).type, FieldType::Integer);
}

TEST_F(PipeTest, TextOutsideGbkIsRefusedBeforeReachingTheDatabase)
{
    StatementRecorder rec;
    const QString msg = thrownMessage([&] { insert(pipe, 9, QStringLiteral("a😀b")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("😀"))) << msg.toStdString();
    EXPECT_TRUE(msg.contains(QStringLiteral("U+1F600"))) << msg.toStdString();
    EXPECT_TRUE(msg.contains(QStringLiteral("GBK"))) << msg.toStdString();
    EXPECT_EQ(rec.count(), 0) << "a refused statement must not be sent";
    EXPECT_EQ(rows(), 0);
}

TEST_F(PipeTest, ContextOutsideGbkIsRefusedToo)
{
    StatementRecorder rec;
    const QString msg = thrownMessage([&] { pipe.ExecSQL(QStringLiteral("场次😀"), QStringLiteral("delete from t_pipe_probe")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("U+1F600"))) << msg.toStdString();
    EXPECT_EQ(rec.count(), 0);
}

TEST_F(PipeTest, EachRefusalNamesItsOwnCharacterAndLaterTextStillPasses)
{
    StatementRecorder rec;
    EXPECT_THROW(insert(pipe, 9, QStringLiteral("a😀b")), EHostError);
    // A second refusal in the same session names its own character, not a stale one.
    const QString msg = thrownMessage([&] { pipe.GetData(kCtx, QStringLiteral("select id from t_pipe_probe where name = '한'")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("U+D55C"))) << msg.toStdString();
    EXPECT_EQ(rec.count(), 0);
    // Ordinary Chinese text after a refusal is accepted as before.
    EXPECT_NO_THROW(insert(pipe, 10, QStringLiteral("越剧")));
    EXPECT_EQ(db.scalar(QStringLiteral("select name from t_pipe_probe where id = 10")), QStringLiteral("越剧"));
}

TEST_F(PipeTest, NulCharacterIsRefused)
{
    StatementRecorder rec;
    QString sql = QStringLiteral("insert into t_pipe_probe (id, name) values (1, 'a");
    sql += QChar(0);
    sql += QStringLiteral("b')");
    const QString msg = thrownMessage([&] { pipe.ExecSQL(kCtx, sql); });
    EXPECT_TRUE(msg.contains(QStringLiteral("NUL"))) << msg.toStdString();
    EXPECT_EQ(rec.count(), 0);
    EXPECT_EQ(rows(), 0);
}

TEST_F(PipeTest, ChineseTextRoundTripsIntact)
{
    const QString text = QStringLiteral("《梁祝》越剧·第二场——“十八相送”（乂丶臺灣）");
    ASSERT_EQ(insert(pipe, 1, text), 1);
    const DataPacket viaPipe = pipe.GetData(kCtx, QStringLiteral("select name, length(name) as n from t_pipe_probe"));
    ASSERT_EQ(viaPipe.rowCount(), 1);
    EXPECT_EQ(viaPipe.text(0, 0), text);
    // Stored as characters, not as mangled bytes.
    EXPECT_EQ(viaPipe.integer(0, 1), text.size());
    EXPECT_EQ(db.scalar(QStringLiteral("select name from t_pipe_probe where id = 1")), text);
    // And found again by a query that carries the same text.
    const DataPacket found = pipe.GetData(kCtx, QStringLiteral("select id from t_pipe_probe where name = '%1'").arg(text));
    EXPECT_EQ(found.rowCount(), 1);
}

TEST_F(PipeTest, FailingStatementCarriesTheServersMessage)
{
    QString msg = thrownMessage([&] { pipe.ExecSQL(kCtx, QStringLiteral("insert into no_such_table values (1)")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("no_such_table"))) << msg.toStdString();
    EXPECT_TRUE(msg.startsWith(QStringLiteral("数据库"))) << "Chinese first: " << msg.toStdString();

    msg = thrownMessage([&] { pipe.GetData(kCtx, QStringLiteral("selec 1")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("selec"))) << msg.toStdString();
    EXPECT_TRUE(msg.contains(QStringLiteral("syntax error"))) << msg.toStdString();

    ASSERT_EQ(insert(pipe, 1), 1);
    msg = thrownMessage([&] { insert(pipe, 1); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("数据库拒绝了这次修改（违反约束）："))) << msg.toStdString();
    EXPECT_EQ(rows(), 1);

    // The connection is still good afterwards.
    EXPECT_EQ(pipe.GetData(kCtx, QStringLiteral("select count(*) as n from t_pipe_probe")).integer(0, 0), 1);
}

TEST_F(PipeTest, TransactionRolledBackOnExceptionLeavesNothing)
{
    try {
        PipeTransaction t(pipe);
        insert(pipe, 1);
        insert(pipe, 2);
        // Not yet visible to anyone else.
        EXPECT_EQ(rows(), 0);
        throw std::runtime_error("operator cancelled");
    } catch (const std::runtime_error &) {
    }
    EXPECT_FALSE(Database::connection()->inTransaction());
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(pipe.GetData(kCtx, QStringLiteral("select count(*) from t_pipe_probe")).integer(0, 0), 0);

    // A failing statement inside the transaction also ends in a clean rollback.
    try {
        PipeTransaction t(pipe);
        insert(pipe, 1);
        insert(pipe, 1);
        t.commit();
        ADD_FAILURE() << "duplicate key was accepted";
    } catch (const EHostError &) {
    }
    EXPECT_FALSE(Database::connection()->inTransaction());
    EXPECT_EQ(rows(), 0);
}

TEST_F(PipeTest, CommittedTransactionKeepsItsWork)
{
    {
        PipeTransaction t(pipe);
        EXPECT_TRUE(Database::connection()->inTransaction());
        insert(pipe, 1);
        insert(pipe, 2);
        t.commit();
    }
    EXPECT_FALSE(Database::connection()->inTransaction());
    EXPECT_EQ(rows(), 2);
}

TEST_F(PipeTest, RollbackWithoutTransactionDoesNothingAndNestedBeginIsRefused)
{
    EXPECT_NO_THROW(pipe.RollbackTrans());
    insert(pipe, 1);
    pipe.BeginTrans();
    const QString msg = thrownMessage([&] { pipe.BeginTrans(); });
    EXPECT_FALSE(msg.isEmpty());
    EXPECT_TRUE(Database::connection()->inTransaction()) << "the first transaction must survive";
    insert(pipe, 2);
    pipe.CommitTrans();
    EXPECT_EQ(rows(), 2);
}

TEST_F(PipeTest, CommitAfterFailedStatementFollowsTheEngine)
{
    pipe.BeginTrans();
    insert(pipe, 1);
    EXPECT_THROW(insert(pipe, 1), EHostError);
    if (db.isPostgres()) {
        // The server aborts the whole transaction; COMMIT must not pass for success.
        const QString later = thrownMessage([&] { insert(pipe, 2); });
        EXPECT_TRUE(later.contains(QStringLiteral("回滚"))) << later.toStdString();
        const QString msg = thrownMessage([&] { pipe.CommitTrans(); });
        EXPECT_TRUE(msg.contains(QStringLiteral("已回滚"))) << msg.toStdString();
        EXPECT_FALSE(Database::connection()->inTransaction());
        EXPECT_EQ(rows(), 0);
    } else {
        // SQLite undoes only the failing statement.
        pipe.CommitTrans();
        EXPECT_EQ(rows(), 1);
    }
}

TEST_F(PipeTest, PipesShareOneConnection)
{
    TCADBPipe2 other;
    pipe.BeginTrans();
    EXPECT_TRUE(Database::connection()->inTransaction());
    insert(pipe, 1);
    // The other pipe sees the uncommitted row; a separate connection does not.
    EXPECT_EQ(other.GetData(kCtx, QStringLiteral("select count(*) from t_pipe_probe")).integer(0, 0), 1);
    EXPECT_EQ(rows(), 0);
    // Ending the transaction from the other pipe ends the one begun here.
    other.RollbackTrans();
    EXPECT_FALSE(Database::connection()->inTransaction());
    EXPECT_EQ(pipe.GetData(kCtx, QStringLiteral("select count(*) from t_pipe_probe")).integer(0, 0), 0);

    pipe.BeginTrans();
    insert(other, 2);
    other.CommitTrans();
    EXPECT_EQ(rows(), 1);
}

TEST_F(PipeTest, PostgresTypesMapToPacketTypes)
{
    if (!db.isPostgres())
        GTEST_SKIP() << "PostgreSQL only";
    const DataPacket p = pipe.GetData(kCtx, QStringLiteral(
        "select true as yes, false as no, 7::int2 as small, 9000000000::int8 as big, 'pg_class'::regclass::oid as o, "
        "1.25::float4 as f4, -2.5::float8 as f8, 123456.789::numeric as num, "
        "date '2024-02-29' as d, timestamptz '2024-02-29 08:09:10.5+00' as tz, "
        "'ab'::char(6) as fixed, 'x'::varchar as free, 'text'::text as t, interval '1 day' as span"));
    ASSERT_EQ(p.rowCount(), 1);
    const auto type = [&](const char *n) { return p.column(col(p, n)).type; };
    EXPECT_EQ(type("yes"), FieldType::Integer);
    EXPECT_EQ(p.integer(0, col(p, "yes")), 1);
    EXPECT_EQ(p.integer(0, col(p, "no")), 0);
    EXPECT_FALSE(p.isNull(0, col(p, "no")));
    EXPECT_EQ(type("small"), FieldType::Integer);
    EXPECT_EQ(p.integer(0, col(p, "small")), 7);
    EXPECT_EQ(p.integer(0, col(p, "big")), 9000000000LL);
    EXPECT_EQ(type("o"), FieldType::Integer);
    EXPECT_EQ(p.integer(0, col(p, "o")), 1259);
    EXPECT_EQ(type("f4"), FieldType::Float);
    EXPECT_DOUBLE_EQ(p.real(0, col(p, "f4")), 1.25);
    EXPECT_DOUBLE_EQ(p.real(0, col(p, "f8")), -2.5);
    EXPECT_EQ(type("num"), FieldType::Float);
    EXPECT_DOUBLE_EQ(p.real(0, col(p, "num")), 123456.789);
    EXPECT_EQ(type("d"), FieldType::DateTime);
    EXPECT_EQ(p.dateTime(0, col(p, "d")), QDateTime(QDate(2024, 2, 29), QTime(0, 0)));
    EXPECT_EQ(type("tz"), FieldType::DateTime);
    EXPECT_FALSE(p.isNull(0, col(p, "tz")));
    EXPECT_EQ(p.dateTime(0, col(p, "tz")).date().year(), 2024);
    EXPECT_EQ(type("fixed"), FieldType::Text);
    EXPECT_EQ(p.column(col(p, "fixed")).size, 6);
    EXPECT_EQ(p.text(0, col(p, "fixed")), QStringLiteral("ab    "));
    EXPECT_EQ(p.column(col(p, "free")).size, 0);
    EXPECT_EQ(type("t"), FieldType::Text);
    EXPECT_EQ(type("span"), FieldType::Text);
    EXPECT_EQ(p.text(0, col(p, "span")), QStringLiteral("1 day"));

    // Fractions of a second survive to the millisecond.
    const DataPacket ms = pipe.GetData(kCtx, QStringLiteral("select timestamp '2024-01-02 03:04:05.678' as t"));
    EXPECT_EQ(ms.dateTime(0, 0), QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5, 678)));
}

TEST_F(PipeTest, PostgresLostConnectionIsReportedThenRepaired)
{
    if (!db.isPostgres())
        GTEST_SKIP() << "PostgreSQL only";
    insert(pipe, 1);
    const qint64 before = sessionPid();
    killSession(before);
    const QString msg = thrownMessage<EConnectionLost>([&] { pipe.GetData(kCtx, QStringLiteral("select count(*) from t_pipe_probe")); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("与数据库服务器的连接已断开"))) << msg.toStdString();

    // The next call reconnects by itself, on the same pipe and without reopening.
    const DataPacket p = pipe.GetData(kCtx, QStringLiteral("select count(*) from t_pipe_probe"));
    EXPECT_EQ(p.integer(0, 0), 1);
    EXPECT_NE(sessionPid(), before);
    // The repaired session still speaks ISO dates.
    EXPECT_EQ(pipe.GetData(kCtx, QStringLiteral("select timestamp '2024-05-06 07:08:09' as t")).dateTime(0, 0),
              QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));
    EXPECT_EQ(insert(pipe, 2), 1);
    EXPECT_EQ(rows(), 2);
}

TEST_F(PipeTest, PostgresLostConnectionInsideTransactionLosesThatTransaction)
{
    if (!db.isPostgres())
        GTEST_SKIP() << "PostgreSQL only";
    {
        PipeTransaction t(pipe);
        insert(pipe, 1);
        killSession(sessionPid());
        EXPECT_THROW(insert(pipe, 2), EConnectionLost);
        EXPECT_FALSE(Database::connection()->inTransaction()) << "the transaction died with the session";
        const QString msg = thrownMessage<EConnectionLost>([&] { t.commit(); });
        EXPECT_TRUE(msg.contains(QStringLiteral("连接已断开"))) << msg.toStdString();
    }
    EXPECT_FALSE(Database::connection()->inTransaction());
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(insert(pipe, 3), 1);
    EXPECT_EQ(rows(), 1);
}

TEST_F(PipeTest, PostgresCommitAfterSessionEndedReportsLoss)
{
    if (!db.isPostgres())
        GTEST_SKIP() << "PostgreSQL only";
    pipe.BeginTrans();
    insert(pipe, 1);
    killSession(sessionPid());
    // The client has not noticed yet; the COMMIT itself discovers the loss.
    const QString msg = thrownMessage<EConnectionLost>([&] { pipe.CommitTrans(); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("与数据库服务器的连接已断开"))) << msg.toStdString();
    EXPECT_FALSE(Database::connection()->inTransaction());
    EXPECT_EQ(rows(), 0);
    EXPECT_NO_THROW(pipe.RollbackTrans());
    EXPECT_EQ(pipe.GetData(kCtx, QStringLiteral("select 1 as one")).integer(0, 0), 1);
}

// A second statement in one text is refused before either runs (SQLite used
// to drop it and report success, PostgreSQL ran both); blanks, a comment and
// a closing semicolon make no statement.
TEST_F(PipeTest, ASecondStatementInOneTextIsRefusedBeforeAnythingRuns)
{
    insert(pipe, 5);
    const auto refused = [&](const std::function<void()> &call) { return thrownMessage(call).startsWith(MultipleStatementsText()); };
    EXPECT_TRUE(refused([&] { pipe.ExecSQL(kCtx, QStringLiteral("insert into t_pipe_probe (id) values (1); insert into t_pipe_probe (id) values (2)")); }));
    EXPECT_TRUE(refused([&] { pipe.ExecSQL(kCtx, QStringLiteral("insert into t_pipe_probe (id) values (1);delete from t_pipe_probe")); }));
    EXPECT_TRUE(refused([&] { pipe.GetData(kCtx, QStringLiteral("select 1 as one; delete from t_pipe_probe")); }));
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(pipe.ExecSQL(kCtx, QStringLiteral("insert into t_pipe_probe (id) values (3);  -- a note\n")), 1);
    EXPECT_EQ(rows(), 2);
}

TEST_F(PipeTest, WatcherReportsOtherDesksChangesOnPostgresAlsoAfterAReconnect)
{
    TQELChangeWatcher watcher(nullptr), second(nullptr);
    watcher.SetInterval(db.isPostgres() ? 60000 : 200); // on PostgreSQL the socket has to wake it
    QStringList seen;
    QObject::connect(&watcher, &TQELChangeWatcher::Changed, [&](const QList<TChangeNotice> &notices) {
        for (const TChangeNotice &n : notices)
            seen << n.Table + QLatin1Char(':') + QString::number(n.ProjectID);
    });
    const auto arrived = [&](const QString &notice) {
        QElapsedTimer t;
        t.start();
        while (!seen.contains(notice) && t.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return seen.contains(notice);
    };
    watcher.Start();
    if (!db.isPostgres()) {
        // Two windows watch: what one takes from the connection reaches both.
        int secondSaw = 0;
        QObject::connect(&second, &TQELChangeWatcher::Changed, [&](const QList<TChangeNotice> &notices) { secondSaw += int(notices.size()); });
        second.Start();
        insert(pipe, 1);
        db.exec(QStringLiteral("insert into t_pipe_probe (id) values (2)"));
        EXPECT_TRUE(arrived(QStringLiteral(":0")));
        EXPECT_EQ(seen, QStringList{QStringLiteral(":0")}) << "one commit of another desk, none of our own";
        EXPECT_EQ(secondSaw, 1);
        return;
    }
    // The desk's own change is not news; another desk's is, a payload out of shape as an unnamed change.
    pipe.GetData(kCtx, QStringLiteral("select pg_notify('qel_change', 'project:1') as n"));
    db.scalar(QStringLiteral("select pg_notify('qel_change', 'limit:42')"));
    db.scalar(QStringLiteral("select pg_notify('qel_change', 'limit:四十二')"));
    EXPECT_TRUE(arrived(QStringLiteral(":0")));
    EXPECT_EQ(seen, QStringList({QStringLiteral("limit:42"), QStringLiteral(":0")}));

    // A new session listens again; what came in between is reported as an unnamed change.
    const qint64 before = sessionPid();
    killSession(before);
    EXPECT_THROW(sessionPid(), EConnectionLost);
    EXPECT_NE(sessionPid(), before);
    seen.clear();
    db.scalar(QStringLiteral("select pg_notify('qel_change', 'product:7')"));
    EXPECT_TRUE(arrived(QStringLiteral("product:7"))) << seen.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral(":0")));

    // Watching ends with the last watcher.
    second.Start();
    watcher.Stop();
    EXPECT_GE(Database::connection()->changeSocket(), 0);
    second.Stop();
    EXPECT_EQ(Database::connection()->changeSocket(), -1);
}

TEST_F(PipeTest, SqliteWriteWaitsForALockedFileThenFailsClearly)
{
    if (db.isPostgres())
        GTEST_SKIP() << "SQLite only";
    insert(pipe, 1);
    db.raw().begin(); // BEGIN IMMEDIATE: holds the write lock
    db.exec(QStringLiteral("insert into t_pipe_probe (id) values (50)"));
    QElapsedTimer timer;
    timer.start();
    const QString msg = thrownMessage([&] { insert(pipe, 2); });
    EXPECT_GE(timer.elapsed(), 4000) << "the write should wait for the busy timeout";
    EXPECT_TRUE(msg.contains(QStringLiteral("占用"))) << msg.toStdString();
    db.raw().rollback();
    EXPECT_EQ(rows(), 1);
    // Once the lock is released the same write goes through.
    EXPECT_EQ(insert(pipe, 2), 1);
    EXPECT_EQ(rows(), 2);
}

// Opening databases by hand, without the per-test database.
TEST(BackendOpen, SqliteReadOnlyFileGivesClearError)
{
    if (TestDatabase::postgresSelected())
        GTEST_SKIP() << "SQLite only";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("readonly.db"));
    {
        SqliteBackend b(path);
        b.execScript("PRAGMA journal_mode=DELETE; create table t (id integer); insert into t values (1);");
    }
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    FilePermissionsEnforced enforced;
    if (!enforced.active())
        GTEST_SKIP() << "running as root without a way to give up root's write access";
    Database::open(QStringLiteral("sqlite:") + path);
    TCADBPipe2 pipe;
    EXPECT_EQ(pipe.GetData(kCtx, QStringLiteral("select count(*) from t")).integer(0, 0), 1);
    const QString msg = thrownMessage([&] { pipe.ExecSQL(kCtx, QStringLiteral("insert into t values (2)")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("只读"))) << msg.toStdString();
    EXPECT_EQ(pipe.GetData(kCtx, QStringLiteral("select count(*) from t")).integer(0, 0), 1);
    Database::close();
}

TEST(BackendOpen, UnopenableDatabasesGiveClearErrors)
{
    QString msg = thrownMessage([] { Database::open(QStringLiteral("sqlite:/nonexistent-qel-folder/sub/x.db")); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("无法打开数据库文件"))) << msg.toStdString();
    EXPECT_FALSE(Database::isOpen());

    // Port 1 on loopback: nobody listens, the refusal is immediate.
    msg = thrownMessage([] { Database::connect(QStringLiteral("postgresql://postgres@127.0.0.1:1/postgres?connect_timeout=5")); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("无法连接数据库服务器："))) << msg.toStdString();
    EXPECT_GT(msg.size(), QStringLiteral("无法连接数据库服务器：").size()) << "libpq's reason is missing";

    msg = thrownMessage([] { Database::open(QStringLiteral("mysql://host/db")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("mysql://host/db"))) << msg.toStdString();

    // A pipe with no open database says so instead of crashing.
    TCADBPipe2 pipe;
    msg = thrownMessage([&] { pipe.GetData(kCtx, QStringLiteral("select 1")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("尚未连接数据库"))) << msg.toStdString();
}

TEST(BackendOpen, PostgresWrongDatabaseNameGivesServersReason)
{
    if (!TestDatabase::postgresSelected())
        GTEST_SKIP() << "PostgreSQL only";
    const QString url = withDatabaseName(qEnvironmentVariable("QEL_DATABASE"), QStringLiteral("qel_no_such_db"));
    const QString msg = thrownMessage([&] { Database::connect(url); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("无法连接数据库服务器："))) << msg.toStdString();
    EXPECT_TRUE(msg.contains(QStringLiteral("qel_no_such_db"))) << msg.toStdString();
}

TEST(TestSupport, DatabaseUrlRewriting)
{
    EXPECT_EQ(withDatabaseName(QStringLiteral("postgresql://postgres@127.0.0.1:5432/postgres"), QStringLiteral("n")),
              QStringLiteral("postgresql://postgres@127.0.0.1:5432/n"));
    EXPECT_EQ(withDatabaseName(QStringLiteral("postgresql://u@h:1/old?sslmode=disable"), QStringLiteral("n")),
              QStringLiteral("postgresql://u@h:1/n?sslmode=disable"));
    EXPECT_EQ(withDatabaseName(QStringLiteral("postgresql://u@h:1"), QStringLiteral("n")), QStringLiteral("postgresql://u@h:1/n"));
    EXPECT_EQ(withDatabaseName(QStringLiteral("postgresql://u@h?x=1"), QStringLiteral("n")), QStringLiteral("postgresql://u@h/n?x=1"));
}

TEST(TestSupport, EachTestDatabaseIsFreshOpenAndRemovedAfterwards)
{
    QString url, file, name;
    {
        TestDatabase demo(true);
        url = demo.url();
        file = demo.sqlitePath();
        name = demo.databaseName();
        EXPECT_TRUE(Database::isOpen());
        EXPECT_EQ(Database::url(), url);
        EXPECT_GT(demo.count(QStringLiteral("select count(*) from QEL_PROJECT")), 0) << "demo data missing";
        EXPECT_FALSE(demo.scalar(QStringLiteral("select count(*) from QEL_PROJECT")).isEmpty());
        EXPECT_EQ(demo.scalar(QStringLiteral("select 1 from QEL_PROJECT where 1 = 0")), QString()) << "no row: empty text";
        EXPECT_EQ(demo.isPostgres(), TestDatabase::postgresSelected());
        if (demo.isPostgres()) {
            EXPECT_TRUE(name.startsWith(QStringLiteral("qeltest_"))) << name.toStdString();
        } else {
            EXPECT_TRUE(QFile::exists(file));
        }
    }
    EXPECT_FALSE(Database::isOpen());
    if (TestDatabase::postgresSelected()) {
        auto admin = Database::connect(qEnvironmentVariable("QEL_DATABASE"));
        const DataPacket p = admin->query(QStringLiteral("select count(*) from pg_database where datname = '%1'").arg(name).toUtf8());
        EXPECT_EQ(p.integer(0, 0), 0) << "database not dropped";
    } else {
        EXPECT_FALSE(QFile::exists(file)) << "file not removed";
    }

    TestDatabase empty;
    EXPECT_NE(empty.url(), url);
    EXPECT_EQ(empty.count(QStringLiteral("select count(*) from QEL_PROJECT")), 0);
}

TEST(TestSupport, PresenterRecordsMessagesAndGivesScriptedAnswers)
{
    TestPresenter &tp = testPresenter();
    EXPECT_EQ(tp.count(), 0) << "each test starts with nothing recorded";
    EXPECT_EQ(ShowConfirmMessage(QStringLiteral("删除该项目？"), QStringLiteral("确认")), mrYes);
    tp.pushAnswer(mrNo);
    EXPECT_EQ(ShowConfirmMessage(QStringLiteral("再次确认？"), QStringLiteral("确认")), mrNo);
    EXPECT_EQ(MessageBox(QStringLiteral("已保存"), QStringLiteral("提示"), MB_ICONINFORMATION), 1);
    ShowWarningMessage(QStringLiteral("名称不能为空"), QStringLiteral("警告"));
    ShowErrorMessage(QStringLiteral("出错了"), QStringLiteral("错误"));
    ASSERT_EQ(tp.count(), 5);
    EXPECT_EQ(tp.count(MessageKind::Confirm), 2);
    EXPECT_EQ(tp.calls().at(2).kind, MessageKind::Box);
    EXPECT_EQ(tp.calls().at(2).flags, MB_ICONINFORMATION);
    EXPECT_EQ(tp.calls().at(2).caption, QStringLiteral("提示"));
    EXPECT_EQ(tp.last().kind, MessageKind::Error);
    EXPECT_EQ(tp.last().flags, MB_ICONERROR);
    EXPECT_EQ(tp.texts().at(3), QStringLiteral("名称不能为空"));
    EXPECT_TRUE(tp.anyTextContains(QStringLiteral("再次")));
    EXPECT_EQ(tp.pendingAnswers(), 0);
    tp.pushAnswer(mrNo);
    tp.clear();
    EXPECT_EQ(tp.count(), 0);
    EXPECT_EQ(ShowConfirmMessage(QStringLiteral("？"), QString()), mrYes) << "clear() drops scripted answers";
}

} // namespace
