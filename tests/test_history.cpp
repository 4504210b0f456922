// The change history: what each command of the data modules leaves in it,
// that refused changes leave nothing, the list and its filters, undoing a
// project delete, and a database made before the history. On the engine
// QEL_DATABASE selects.
#include "SqlText.h"
#include "Context.h"
#include "Database.h"
#include "DemoData.h"
#include "Errors.h"
#include "HistoryReplay.h"
#include "HostError.h"
#include "Pipe.h"
#include "Schema.h"
#include "PostgresBackend.h"
#include "SqliteBackend.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "uCDHistory.h"
#include "uCDProductProject.h"
#include "uCDProject.h"
#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <optional>
#include <postgresql/libpq-fe.h>

namespace {

const QString kZhang = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("票务组"), QStringLiteral("张三"), QStringLiteral("A")});
const QString kLi = TQELContext::Compose({QStringLiteral("02"), QStringLiteral("G02"), QStringLiteral("李四"), QStringLiteral("G")});

class HistoryTest : public ::testing::Test {
protected:
    HistoryTest()
    {
        cd.Context = kZhang;
        pp.Context = kZhang;
        hist.Context = kZhang;
    }
    void SetUp() override
    {
        db.exec(QStringLiteral("insert into um_member_class values ('M1', '金卡')"));
        db.exec(QStringLiteral("insert into um_member_class values ('M2', '银卡')"));
        db.exec(QStringLiteral("insert into um_member_class values ('M3', '铜卡')"));
        for (const char *code : {"P1", "P2", "P3"})
            db.exec(QStringLiteral("insert into QEL_PRODUCT values ('%1', '演出%1', '2030-01-01 19:30:00', 'C1', 'V1', '01', null, null, null, '5', "
                                   "null, null)")
                        .arg(QLatin1String(code)));
    }

    qint64 projectId(const QString &name) { return db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = ") + QuotedStr(name)).toLongLong(); }
    int entries() { return db.count(QStringLiteral("select count(*) from QEL_PROJECT_HISTORY")); }
    QString deletedCounts(qint64 entry)
    {
        return db.scalar(QStringLiteral("select DELETED_LIMITS || '|' || DELETED_PRODUCTS from QEL_PROJECT_HISTORY where ID = %1").arg(entry));
    }
    qint64 lastId() { return db.scalar(QStringLiteral("select max(ID) from QEL_PROJECT_HISTORY")).toLongLong(); }
    // The entries written after entry `after`, oldest first.
    QList<THistoryEntry> since(qint64 after)
    {
        THistoryFilter all;
        all.Limit = 0;
        QList<THistoryEntry> out;
        for (const THistoryEntry &e : hist.ReadHistory(all))
            if (e.ID > after)
                out.prepend(e);
        return out;
    }
    // A project with two member-class limits and two performances.
    qint64 projectWithRows(const QString &name)
    {
        EXPECT_TRUE(cd.InsertPro(name, 15, 2, 3));
        const qint64 id = projectId(name);
        const QString pid = QString::number(id);
        EXPECT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("4"), QStringLiteral("1")));
        EXPECT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M2"), QStringLiteral("6"), QStringLiteral("1"), QStringLiteral("0")));
        EXPECT_TRUE(pp.InsertProduct(pid, QStringLiteral("P1")));
        EXPECT_TRUE(pp.InsertProduct(pid, QStringLiteral("P2")));
        return id;
    }
    // Deletes the project as the window does; returns its delete entry.
    qint64 deleteProject(qint64 id)
    {
        EXPECT_TRUE(cd.DelPro(id));
        return db.scalar(QStringLiteral("select max(ID) from QEL_PROJECT_HISTORY where ROW_KIND = 'project' and ACTION = 'delete'")).toLongLong();
    }
    // The three tables as text, for "nothing changed" and "all came back".
    QStringList tables()
    {
        QStringList out;
        out << db.texts(QStringLiteral("select ID || '|' || CNAME || '|' || CROSSDISCOUNT || '|' || CROSTNUM || '|' || CROSSPNUM from QEL_PROJECT order by ID"));
        out << db.texts(QStringLiteral("select PID || '|' || MEMBER_CLASS_ID || '|' || MAX_NUM || '|' || limit_type || '|' || coalesce(enable, '-') "
                                       "from qel_project_member_limit order by PID, MEMBER_CLASS_ID"));
        out << db.texts(QStringLiteral("select PROJECTID || '|' || PRODUCTCODE from QEL_PROJECT_PRODUCT order by PRODUCTCODE"));
        return out;
    }
    void expectOperator(const THistoryEntry &e, const QString &node, const QString &group, const QString &user)
    {
        EXPECT_EQ(e.NodeCode, node) << e.ID;
        EXPECT_EQ(e.Group, group) << e.ID;
        EXPECT_EQ(e.UserName, user) << e.ID;
    }

    TestDatabase db;
    TCDProject cd;
    TcdProductProject pp;
    TCDHistory hist;
};

// ---- each command's entries --------------------------------------------------------

TEST_F(HistoryTest, ProjectInsertEditAndDeleteEachLeaveOneEntryWithOperatorAndValues)
{
    const qint64 start = lastId();
    const QDateTime before = QDateTime::currentDateTime().addSecs(-5);
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("春季音乐节"), 10, 2, 3));
    const qint64 id = projectId(QStringLiteral("春季音乐节"));
    QList<THistoryEntry> e = since(start);
    ASSERT_EQ(e.size(), 1);
    EXPECT_EQ(e[0].RowKind, QStringLiteral("project"));
    EXPECT_EQ(e[0].Action, QStringLiteral("insert"));
    expectOperator(e[0], QStringLiteral("01"), QStringLiteral("票务组"), QStringLiteral("张三"));
    EXPECT_EQ(e[0].ProjectID, id);
    EXPECT_EQ(e[0].ProjectName, QStringLiteral("春季音乐节"));
    EXPECT_TRUE(e[0].RowKey.isEmpty());
    EXPECT_TRUE(e[0].BeforeValues.isEmpty());
    // The same text on both engines.
    EXPECT_EQ(e[0].AfterValues, QStringLiteral("{\"ID\":%1,\"CNAME\":\"春季音乐节\",\"CROSSDISCOUNT\":10,\"CROSTNUM\":2,\"CROSSPNUM\":3}").arg(id));
    EXPECT_GE(e[0].ChangedAt, before);
    EXPECT_LE(e[0].ChangedAt, QDateTime::currentDateTime().addSecs(5));

    // Another operator edits it: the entry holds both sides and the new name.
    cd.Context = kLi;
    ASSERT_TRUE(cd.EdtPro(id, QStringLiteral("夏季音乐节"), 20, 2, 3));
    e = since(start);
    ASSERT_EQ(e.size(), 2);
    EXPECT_EQ(e[1].Action, QStringLiteral("update"));
    expectOperator(e[1], QStringLiteral("02"), QStringLiteral("G02"), QStringLiteral("李四"));
    EXPECT_EQ(e[1].ProjectName, QStringLiteral("夏季音乐节"));
    EXPECT_EQ(e[1].BeforeValues, e[0].AfterValues);
    EXPECT_EQ(e[1].AfterValues, QStringLiteral("{\"ID\":%1,\"CNAME\":\"夏季音乐节\",\"CROSSDISCOUNT\":20,\"CROSTNUM\":2,\"CROSSPNUM\":3}").arg(id));
    const QList<THistoryChange> changed = TCDHistory::ChangedFields(e[1]);
    ASSERT_EQ(changed.size(), 2);
    EXPECT_EQ(changed[0].Field, QStringLiteral("CNAME"));
    EXPECT_EQ(TCDHistory::ChangeText(changed[0]), QStringLiteral("春季音乐节 → 夏季音乐节"));
    EXPECT_EQ(changed[1].Field, QStringLiteral("CROSSDISCOUNT"));
    EXPECT_EQ(TCDHistory::ChangeText(changed[1]), QStringLiteral("10 → 20"));

    ASSERT_TRUE(cd.DelPro(id));
    e = since(start);
    ASSERT_EQ(e.size(), 3);
    EXPECT_EQ(e[2].Action, QStringLiteral("delete"));
    EXPECT_EQ(e[2].ProjectName, QStringLiteral("夏季音乐节"));
    EXPECT_EQ(e[2].BeforeValues, e[1].AfterValues);
    EXPECT_TRUE(e[2].AfterValues.isEmpty());
    const QList<THistoryChange> gone = TCDHistory::ChangedFields(e[2]);
    ASSERT_EQ(gone.size(), 5) << "a delete shows the whole row";
    EXPECT_EQ(TCDHistory::ChangeText(gone[1]), QStringLiteral("夏季音乐节 → （无）"));
    EXPECT_TRUE(history::mismatches(db).isEmpty()) << history::mismatches(db).join(QLatin1Char('\n')).toStdString();
}

TEST_F(HistoryTest, ValuesAreTheSameJsonTextOnBothEngines)
{
    // Quotes, backslashes and control characters are escaped alike by json_object and by to_json.
    const QString name = QStringLiteral("引号\"与\\反斜杠\t制表\n换行'单引号");
    ASSERT_TRUE(cd.InsertPro(name, 0, 0, 0));
    const THistoryEntry e = since(0).last();
    EXPECT_EQ(e.AfterValues, QStringLiteral("{\"ID\":%1,\"CNAME\":\"引号\\\"与\\\\反斜杠\\t制表\\n换行'单引号\",\"CROSSDISCOUNT\":0,\"CROSTNUM\":0,\"CROSSPNUM\":0}")
                                 .arg(projectId(name)));
    EXPECT_EQ(history::parseValues(e.AfterValues).value(QStringLiteral("CNAME")), name);
}

TEST_F(HistoryTest, LimitInsertEditAndDeleteEachLeaveOneEntry)
{
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("限购项目"), 0, 0, 0));
    const qint64 id = projectId(QStringLiteral("限购项目"));
    const QString pid = QString::number(id);
    const qint64 start = lastId();

    ASSERT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("5"), QStringLiteral("1")));
    cd.Context = kLi;
    ASSERT_TRUE(cd.updatememberlimit(pid, QStringLiteral("M2"), QStringLiteral("M1"), QStringLiteral("8"), QStringLiteral("1"), QStringLiteral("0")));
    cd.Context = kZhang;
    ASSERT_TRUE(cd.Dellimit(id, QStringLiteral("M2"), QStringLiteral("1")));
    // An identity-card limit: the empty member class is its key.
    ASSERT_TRUE(cd.Insertmemberlimit(pid, QString(), QStringLiteral("2"), QStringLiteral("2")));

    const QList<THistoryEntry> e = since(start);
    ASSERT_EQ(e.size(), 4);
    for (const THistoryEntry &x : e) {
        EXPECT_EQ(x.RowKind, QStringLiteral("limit"));
        EXPECT_EQ(x.ProjectID, id);
        EXPECT_EQ(x.ProjectName, QStringLiteral("限购项目"));
    }
    EXPECT_EQ(e[0].Action, QStringLiteral("insert"));
    EXPECT_EQ(e[0].RowKey, QStringLiteral("M1"));
    expectOperator(e[0], QStringLiteral("01"), QStringLiteral("票务组"), QStringLiteral("张三"));
    // The insert leaves enable to the table's default, and the entry shows it.
    EXPECT_EQ(e[0].AfterValues, QStringLiteral("{\"PID\":%1,\"MEMBER_CLASS_ID\":\"M1\",\"MAX_NUM\":5,\"limit_type\":\"1\",\"enable\":\"1\"}").arg(id));

    EXPECT_EQ(e[1].Action, QStringLiteral("update"));
    EXPECT_EQ(e[1].RowKey, QStringLiteral("M2"));
    expectOperator(e[1], QStringLiteral("02"), QStringLiteral("G02"), QStringLiteral("李四"));
    EXPECT_EQ(e[1].BeforeValues, e[0].AfterValues);
    EXPECT_EQ(e[1].AfterValues, QStringLiteral("{\"PID\":%1,\"MEMBER_CLASS_ID\":\"M2\",\"MAX_NUM\":8,\"limit_type\":\"1\",\"enable\":\"0\"}").arg(id));
    QStringList shown;
    for (const THistoryChange &c : TCDHistory::ChangedFields(e[1]))
        shown << c.Field + QLatin1Char(':') + TCDHistory::ChangeText(c);
    EXPECT_EQ(shown, QStringList({QStringLiteral("MEMBER_CLASS_ID:M1 → M2"), QStringLiteral("MAX_NUM:5 → 8"), QStringLiteral("enable:1 → 0")}));

    EXPECT_EQ(e[2].Action, QStringLiteral("delete"));
    EXPECT_EQ(e[2].RowKey, QStringLiteral("M2"));
    EXPECT_EQ(e[2].BeforeValues, e[1].AfterValues);
    EXPECT_TRUE(e[2].AfterValues.isEmpty());

    EXPECT_EQ(e[3].RowKey, QString());
    EXPECT_EQ(e[3].AfterValues, QStringLiteral("{\"PID\":%1,\"MEMBER_CLASS_ID\":\"\",\"MAX_NUM\":2,\"limit_type\":\"2\",\"enable\":\"1\"}").arg(id));
    EXPECT_TRUE(history::mismatches(db).isEmpty()) << history::mismatches(db).join(QLatin1Char('\n')).toStdString();
}

TEST_F(HistoryTest, PerformanceAddAndRemoveEachLeaveOneEntry)
{
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("演出项目"), 0, 0, 0));
    const qint64 id = projectId(QStringLiteral("演出项目"));
    const QString pid = QString::number(id);
    const qint64 start = lastId();
    ASSERT_TRUE(pp.InsertProduct(pid, QStringLiteral("P1")));
    pp.Context = kLi;
    ASSERT_TRUE(pp.DelProductProject(pid, QStringLiteral("P1")));
    // Removing what is not there changes nothing and records nothing.
    EXPECT_FALSE(pp.DelProductProject(pid, QStringLiteral("P1")));

    const QList<THistoryEntry> e = since(start);
    ASSERT_EQ(e.size(), 2);
    EXPECT_EQ(e[0].RowKind, QStringLiteral("product"));
    EXPECT_EQ(e[0].Action, QStringLiteral("insert"));
    EXPECT_EQ(e[0].RowKey, QStringLiteral("P1"));
    EXPECT_EQ(e[0].ProjectName, QStringLiteral("演出项目"));
    expectOperator(e[0], QStringLiteral("01"), QStringLiteral("票务组"), QStringLiteral("张三"));
    EXPECT_EQ(e[0].AfterValues, QStringLiteral("{\"PROJECTID\":%1,\"PRODUCTCODE\":\"P1\"}").arg(id));
    EXPECT_EQ(e[1].Action, QStringLiteral("delete"));
    expectOperator(e[1], QStringLiteral("02"), QStringLiteral("G02"), QStringLiteral("李四"));
    EXPECT_EQ(e[1].BeforeValues, e[0].AfterValues);
}

TEST_F(HistoryTest, AProjectDeleteRecordsEveryRowItTookWithTheProjectsName)
{
    const qint64 id = projectWithRows(QStringLiteral("整体删除"));
    const qint64 start = lastId();
    cd.Context = kLi;
    ASSERT_TRUE(cd.DelPro(id));
    const QList<THistoryEntry> e = since(start);
    ASSERT_EQ(e.size(), 5) << "the project, its two limits and its two performances";
    // The project's row goes first, yet every entry carries its name.
    EXPECT_EQ(e[0].RowKind, QStringLiteral("project"));
    QStringList kinds;
    for (const THistoryEntry &x : e) {
        EXPECT_EQ(x.Action, QStringLiteral("delete"));
        EXPECT_EQ(x.ProjectID, id);
        EXPECT_EQ(x.ProjectName, QStringLiteral("整体删除")) << x.RowKind.toStdString();
        EXPECT_EQ(x.TxID, e[0].TxID) << "one transaction";
        expectOperator(x, QStringLiteral("02"), QStringLiteral("G02"), QStringLiteral("李四"));
        kinds << x.RowKind + QLatin1Char(':') + x.RowKey;
    }
    kinds.sort();
    EXPECT_EQ(kinds, QStringList({QStringLiteral("limit:M1"), QStringLiteral("limit:M2"), QStringLiteral("product:P1"), QStringLiteral("product:P2"),
                                  QStringLiteral("project:")}));
    EXPECT_EQ(deletedCounts(e[0].ID), QStringLiteral("2|2")) << "what the delete took";
    // Commands of their own are transactions of their own.
    EXPECT_NE(since(0).first().TxID, e[0].TxID);
}

// ---- refused and failed changes leave nothing ----------------------------------------

TEST_F(HistoryTest, RefusedChangesLeaveNoEntry)
{
    const qint64 id = projectWithRows(QStringLiteral("已有项目"));
    const QString pid = QString::number(id);
    const int before = entries();

    // Duplicate name (the database's unique key).
    EXPECT_FALSE(thrownMessage([&] { cd.InsertPro(QStringLiteral("已有项目"), 0, 0, 0); }).isEmpty());
    // Text GBK cannot hold: refused before sending.
    const QString gbk = thrownMessage([&] { cd.InsertPro(QStringLiteral("演出・"), 0, 0, 0); });
    EXPECT_TRUE(gbk.contains(QStringLiteral("GBK"))) << gbk.toStdString();
    // A limit of the other type (the database's rule) and one of the same member class.
    EXPECT_TRUE(thrownMessage([&] { cd.Insertmemberlimit(pid, QString(), QStringLiteral("1"), QStringLiteral("2")); })
                    .contains(QStringLiteral("同一项目的限购类型必须一致")));
    EXPECT_FALSE(thrownMessage([&] { cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("1"), QStringLiteral("1")); }).isEmpty());
    // A quantity that is no whole number.
    EXPECT_FALSE(thrownMessage([&] { cd.Insertmemberlimit(pid, QStringLiteral("M3"), QStringLiteral("1.5"), QStringLiteral("1")); }).isEmpty());
    // A performance already assigned; one for a project that is gone.
    EXPECT_FALSE(pp.InsertProduct(pid, QStringLiteral("P1")));
    EXPECT_FALSE(pp.InsertProduct(QStringLiteral("999999"), QStringLiteral("P3")));
    // Writes that find no row.
    EXPECT_FALSE(cd.EdtPro(999999, QStringLiteral("无此项目"), 0, 0, 0));
    EXPECT_FALSE(cd.Dellimit(id, QStringLiteral("M9"), QStringLiteral("1")));
    EXPECT_FALSE(cd.DelPro(999999));
    EXPECT_EQ(entries(), before);

    // A transaction that is rolled back takes its entries with it.
    {
        PipeTransaction tx(*cd.DBPipe);
        cd.DBPipe->ExecSQL(kZhang, QStringLiteral("Delete From QEL_PROJECT where ID=") + pid);
        cd.DBPipe->ExecSQL(kZhang, QStringLiteral("Delete From QEL_PROJECT_PRODUCT where projectID=") + pid);
        // Inside the transaction its entries are there: the project and its two performances.
        EXPECT_EQ(cd.DBPipe->GetData(kZhang, QStringLiteral("select count(*) from QEL_PROJECT_HISTORY")).integer(0, 0), before + 3);
    }
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT where ID = ") + pid), 1);
    EXPECT_TRUE(history::mismatches(db).isEmpty()) << history::mismatches(db).join(QLatin1Char('\n')).toStdString();
}

TEST_F(HistoryTest, AStatementThatFailsOnALaterRowKeepsNoneOfItsEntries)
{
    const qint64 id = projectWithRows(QStringLiteral("多行项目"));
    const QString pid = QString::number(id);
    const int before = entries();
    const QStringList rows = tables();
    // The first limit is updated (its entry written) before the second fails.
    const QString failOnSecond = db.isPostgres() ? QStringLiteral("MAX_NUM + 1 / (case when MEMBER_CLASS_ID = 'M2' then 0 else 1 end)")
                                                 : QStringLiteral("case when MEMBER_CLASS_ID = 'M2' then 1.5 else MAX_NUM + 1 end");
    const QString update = QStringLiteral("update qel_project_member_limit set MAX_NUM = %1 where PID = %2").arg(failOnSecond, pid);
    EXPECT_FALSE(thrownMessage([&] { cd.DBPipe->ExecSQL(kZhang, update); }).isEmpty());
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(tables(), rows);

    // Inside a transaction: the earlier statement keeps its entry, the failed one leaves none.
    {
        PipeTransaction tx(*cd.DBPipe);
        cd.DBPipe->ExecSQL(kZhang, QStringLiteral("update QEL_PROJECT set CROSSDISCOUNT = 40 where ID = ") + pid);
        EXPECT_FALSE(thrownMessage([&] { cd.DBPipe->ExecSQL(kZhang, update); }).isEmpty());
        if (!db.isPostgres()) { // PostgreSQL ends the transaction on an error
            EXPECT_EQ(cd.DBPipe->GetData(kZhang, QStringLiteral("select count(*) from QEL_PROJECT_HISTORY")).integer(0, 0), before + 1);
            tx.commit();
        }
    }
    if (!db.isPostgres()) {
        const QList<THistoryEntry> e = since(0);
        ASSERT_EQ(e.size(), before + 1);
        EXPECT_EQ(e.last().Action, QStringLiteral("update"));
        EXPECT_TRUE(e.last().AfterValues.contains(QStringLiteral("\"CROSSDISCOUNT\":40"))) << e.last().AfterValues.toStdString();
    }
    EXPECT_TRUE(history::mismatches(db).isEmpty()) << history::mismatches(db).join(QLatin1Char('\n')).toStdString();
}

TEST_F(HistoryTest, AWriteThatTimesOutOnALockLeavesNoEntry)
{
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("锁定项目"), 0, 0, 0));
    const int before = entries();
    // Another desk holds the lock the write needs.
    auto other = Database::connect(db.url());
    other->begin();
    if (db.isPostgres())
        other->exec("LOCK TABLE QEL_PROJECT IN EXCLUSIVE MODE");
    else
        other->exec("UPDATE um_member_class SET MEMBER_CLASS_NAME = MEMBER_CLASS_NAME");
    const QString msg = thrownMessage([&] { cd.InsertPro(QStringLiteral("等待中的项目"), 0, 0, 0); });
    EXPECT_TRUE(msg.contains(QStringLiteral("占用"))) << msg.toStdString();
    other->rollback();
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT where CNAME = '等待中的项目'")), 0);
    // The same operator's next write is recorded with it.
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("等待中的项目"), 0, 0, 0));
    const THistoryEntry e = since(0).last();
    EXPECT_EQ(e.ProjectName, QStringLiteral("等待中的项目"));
    expectOperator(e, QStringLiteral("01"), QStringLiteral("票务组"), QStringLiteral("张三"));
}

TEST_F(HistoryTest, TheOperatorSurvivesARolledBackTransactionAndALostSession)
{
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("会话项目"), 0, 0, 0));
    const QString pid = QString::number(projectId(QStringLiteral("会话项目")));
    // Li's first statement comes inside a transaction that is rolled back:
    // on PostgreSQL the operator set there goes back with it.
    {
        PipeTransaction tx(*cd.DBPipe);
        cd.DBPipe->ExecSQL(kLi, QStringLiteral("Delete From QEL_PROJECT_PRODUCT where projectID=") + pid);
    }
    cd.Context = kLi;
    ASSERT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("3"), QStringLiteral("1")));
    expectOperator(since(0).last(), QStringLiteral("02"), QStringLiteral("G02"), QStringLiteral("李四"));

    if (!db.isPostgres())
        return;
    // The server ends the session; the next command reconnects, and the new
    // session must know the operator again.
    const QString backend = cd.DBPipe->GetData(kLi, QStringLiteral("select pg_backend_pid()")).text(0, 0);
    db.exec(QStringLiteral("select pg_terminate_backend(%1)").arg(backend));
    for (int i = 0; i < 500 && db.count(QStringLiteral("select count(*) from pg_stat_activity where pid = %1").arg(backend)) > 0; ++i)
        QThread::msleep(10);
    EXPECT_FALSE(thrownMessage<EConnectionLost>([&] { cd.DBPipe->GetData(kLi, QStringLiteral("select 1")); }).isEmpty());
    ASSERT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M2"), QStringLiteral("3"), QStringLiteral("1")));
    const THistoryEntry e = since(0).last();
    EXPECT_EQ(e.RowKey, QStringLiteral("M2"));
    expectOperator(e, QStringLiteral("02"), QStringLiteral("G02"), QStringLiteral("李四"));
}

// ---- the list for the window ------------------------------------------------------------

TEST_F(HistoryTest, AProjectsOldEntriesAreReadOffItsIndexNotFoundByWalkingNewerOnes)
{
    // Project 7's 3,000 entries come first; 60,000 entries of other projects
    // after them. Walking entries backwards by ID would pass all of those.
    const bool pg = db.isPostgres();
    const auto fill = [&](int first, int count, const QString &project) {
        const QString rows = pg ? QStringLiteral("generate_series(%1, %2) AS g(x)").arg(first).arg(first + count - 1)
                                : QStringLiteral("g");
        const QString with = pg ? QString()
                                : QStringLiteral("WITH RECURSIVE g(x) AS (SELECT %1 UNION ALL SELECT x + 1 FROM g WHERE x < %2) ")
                                      .arg(first)
                                      .arg(first + count - 1);
        db.exec(with + QStringLiteral("INSERT INTO QEL_PROJECT_HISTORY (CHANGED_AT, TXID, ROW_KIND, ACTION, PROJECT_ID, PROJECT_NAME, AFTER_VALUES) "
                                      "SELECT '2026-01-01 00:00:00', x, 'project', 'update', %1, 'p', '{}' FROM %2")
                        .arg(project, rows));
    };
    fill(1, 3000, QStringLiteral("7"));
    fill(3001, 60000, QStringLiteral("8 + x % 500"));
    db.exec(QStringLiteral("ANALYZE"));

    THistoryFilter f;
    f.ProjectID = 7;
    f.Limit = 500;
    const QString sql = TCDHistory::HistorySql(f);
    // PostgreSQL's plan is one text column; SQLite's detail is the last.
    const DataPacket plan = db.query((pg ? QStringLiteral("EXPLAIN ") : QStringLiteral("EXPLAIN QUERY PLAN ")) + sql);
    QString text;
    for (int r = 0; r < plan.rowCount(); ++r)
        text += plan.text(r, plan.columnCount() - 1) + QLatin1Char('\n');
    EXPECT_TRUE(text.contains(QStringLiteral("ix_qel_project_history_project"), Qt::CaseInsensitive)) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Sort"), Qt::CaseInsensitive) || text.contains(QStringLiteral("TEMP B-TREE"))) << text.toStdString();

    // And what it reads: the project's newest 500, newest first.
    const QList<THistoryEntry> got = hist.ReadHistory(f);
    ASSERT_EQ(got.size(), 500);
    const qint64 newest = db.scalar(QStringLiteral("select max(ID) from QEL_PROJECT_HISTORY where PROJECT_ID = 7")).toLongLong();
    for (int i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].ProjectID, 7) << i;
        ASSERT_EQ(got[i].ID, newest - i) << i;
    }
}

TEST_F(HistoryTest, TheListFiltersByOperatorActionProjectAndTimeNewestFirst)
{
    const qint64 a = projectWithRows(QStringLiteral("甲项目"));
    cd.Context = kLi;
    pp.Context = kLi;
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("乙项目"), 0, 0, 0));
    const qint64 b = projectId(QStringLiteral("乙项目"));
    ASSERT_TRUE(pp.DelProductProject(QString::number(a), QStringLiteral("P2")));
    ASSERT_TRUE(cd.EdtPro(b, QStringLiteral("乙项目二"), 1, 1, 1));

    THistoryFilter f;
    f.Limit = 0;
    const QList<THistoryEntry> all = hist.ReadHistory(f);
    ASSERT_EQ(all.size(), 8);
    for (int i = 1; i < all.size(); ++i)
        EXPECT_GT(all[i - 1].ID, all[i].ID) << "newest first";

    f.UserName = QStringLiteral("李四");
    QList<THistoryEntry> got = hist.ReadHistory(f);
    ASSERT_EQ(got.size(), 3);
    EXPECT_EQ(got[0].Action, QStringLiteral("update"));
    EXPECT_EQ(got[1].Action, QStringLiteral("delete"));
    EXPECT_EQ(got[2].Action, QStringLiteral("insert"));
    f.NodeCode = QStringLiteral("01");
    EXPECT_TRUE(hist.ReadHistory(f).isEmpty()) << "every condition must hold";

    f = THistoryFilter();
    f.ProjectID = a;
    got = hist.ReadHistory(f);
    ASSERT_EQ(got.size(), 6);
    for (const THistoryEntry &e : got)
        EXPECT_EQ(e.ProjectID, a);
    f.Actions = {QStringLiteral("delete"), QStringLiteral("update")};
    got = hist.ReadHistory(f);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].RowKey, QStringLiteral("P2"));

    f = THistoryFilter();
    f.RowKinds = {QStringLiteral("project")};
    f.Limit = 2;
    got = hist.ReadHistory(f);
    ASSERT_EQ(got.size(), 2);
    EXPECT_EQ(got[0].ProjectName, QStringLiteral("乙项目二"));
    EXPECT_EQ(got[1].ProjectName, QStringLiteral("乙项目"));

    // Time range, in local time; the stored UTC time stamp is what it shows.
    const QDateTime now = QDateTime::currentDateTime();
    f = THistoryFilter();
    f.From = now.addSecs(-600);
    f.To = now.addSecs(600);
    EXPECT_EQ(hist.ReadHistory(f).size(), 8);
    f.From = now.addSecs(600);
    f.To = QDateTime();
    EXPECT_TRUE(hist.ReadHistory(f).isEmpty());
    f.From = QDateTime();
    f.To = now.addSecs(-600);
    EXPECT_TRUE(hist.ReadHistory(f).isEmpty());
    const THistoryEntry newest = all.first();
    QDateTime stored = QDateTime::fromString(db.scalar(QStringLiteral("select CHANGED_AT from QEL_PROJECT_HISTORY where ID = %1").arg(newest.ID)).left(19),
                                             QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    stored.setTimeZone(QTimeZone::utc());
    EXPECT_EQ(newest.ChangedAt.toSecsSinceEpoch(), stored.toSecsSinceEpoch());
    EXPECT_EQ(newest.ChangedAt.timeSpec(), Qt::LocalTime);
    EXPECT_LE(qAbs(newest.ChangedAt.secsTo(now)), 60) << "server time, shown in local time";
    // Just after the newest entry's own second, nothing.
    f.From = newest.ChangedAt.addSecs(2);
    f.To = QDateTime();
    EXPECT_TRUE(hist.ReadHistory(f).isEmpty());

    // The window's dataset: the same rows, CHANGED_AT in local time.
    f = THistoryFilter();
    f.UserName = QStringLiteral("李四");
    hist.GetHistory(f);
    ASSERT_EQ(hist.cdsHistory->RecordCount(), 3);
    hist.cdsHistory->First();
    const THistoryEntry cur = hist.CurrentEntry();
    EXPECT_EQ(cur.ID, all.first().ID);
    EXPECT_EQ(cur.Action, QStringLiteral("update"));
    EXPECT_EQ(cur.ChangedAt.toSecsSinceEpoch(), newest.ChangedAt.toSecsSinceEpoch());
    EXPECT_EQ(TCDHistory::ActionName(cur.Action), QStringLiteral("修改"));
    EXPECT_EQ(TCDHistory::RowKindName(cur.RowKind), QStringLiteral("项目"));

    // Filter values are literals, never SQL.
    f = THistoryFilter();
    f.UserName = QStringLiteral("x' or '1'='1");
    EXPECT_TRUE(hist.ReadHistory(f).isEmpty());
}

// ---- undoing a project delete -----------------------------------------------------------

TEST_F(HistoryTest, ARestoredProjectComesBackWithItsLimitsAndPerformancesAndItsID)
{
    const qint64 id = projectWithRows(QStringLiteral("恢复项目"));
    ASSERT_TRUE(cd.Insertmemberlimit(QString::number(id), QStringLiteral("M3"), QStringLiteral("9"), QStringLiteral("1")));
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("旁边的项目"), 1, 1, 1));
    const QStringList before = tables();
    cd.Context = kLi;
    ASSERT_TRUE(cd.DelPro(id));
    ASSERT_NE(tables(), before);

    THistoryFilter f;
    f.RowKinds = {QStringLiteral("project")};
    f.Actions = {QStringLiteral("delete")};
    const QList<THistoryEntry> deletes = hist.ReadHistory(f);
    ASSERT_EQ(deletes.size(), 1);
    const qint64 start = lastId();
    const TRestoreResult r = hist.RestoreProject(deletes[0].ID);
    ASSERT_TRUE(r.Restored) << r.Message.toStdString();
    EXPECT_TRUE(r.KeptID);
    EXPECT_EQ(r.ProjectID, id);
    EXPECT_EQ(r.Limits, 3);
    EXPECT_EQ(r.Performances, 2);
    EXPECT_TRUE(chineseFirst(r.Message)) << r.Message.toStdString();
    EXPECT_EQ(tables(), before) << "project, limits and performances as they were";

    // The restore is recorded: one entry per row, by the operator who restored it.
    const QList<THistoryEntry> e = since(start);
    ASSERT_EQ(e.size(), 6);
    for (const THistoryEntry &x : e) {
        EXPECT_EQ(x.Action, QStringLiteral("restore"));
        EXPECT_EQ(x.ProjectName, QStringLiteral("恢复项目"));
        EXPECT_EQ(x.TxID, e[0].TxID);
        expectOperator(x, QStringLiteral("01"), QStringLiteral("票务组"), QStringLiteral("张三"));
    }
    EXPECT_EQ(e[0].RowKind, QStringLiteral("project"));
    EXPECT_EQ(e[0].AfterValues, deletes[0].BeforeValues);
    EXPECT_EQ(TCDHistory::ActionName(e[0].Action), QStringLiteral("恢复"));
    EXPECT_TRUE(history::mismatches(db).isEmpty()) << history::mismatches(db).join(QLatin1Char('\n')).toStdString();

    // Restoring it again is refused, and changes nothing.
    const int count = entries();
    const TRestoreResult again = hist.RestoreProject(deletes[0].ID);
    EXPECT_FALSE(again.Restored);
    // Restored before, and its two performances that it holds again.
    ASSERT_EQ(again.Blockers.size(), 3) << again.Message.toStdString();
    EXPECT_TRUE(again.Blockers[0].contains(QStringLiteral("恢复过（恢复为项目 %1）").arg(id))) << again.Message.toStdString();
    EXPECT_EQ(entries(), count);
    EXPECT_EQ(tables(), before);

    // Entries that are no project delete cannot be restored.
    const TRestoreResult wrong = hist.RestoreProject(e[1].ID);
    EXPECT_FALSE(wrong.Restored);
    EXPECT_TRUE(chineseFirst(wrong.Message)) << wrong.Message.toStdString();
    EXPECT_FALSE(hist.RestoreProject(lastId() + 100).Restored);
    EXPECT_EQ(entries(), count);
}

TEST_F(HistoryTest, ARestoredProjectWhoseIDIsTakenGetsANewOne)
{
    const qint64 id = projectWithRows(QStringLiteral("换号项目"));
    ASSERT_TRUE(cd.DelPro(id));
    const qint64 del = lastId() - 4;
    ASSERT_EQ(db.scalar(QStringLiteral("select ROW_KIND || ACTION from QEL_PROJECT_HISTORY where ID = %1").arg(del)), QStringLiteral("projectdelete"));
    // Another project has taken the ID meanwhile.
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("占号项目"), 0, 0, 0));
    db.exec(QStringLiteral("update QEL_PROJECT set ID = %1 where CNAME = '占号项目'").arg(id));

    const TRestoreResult r = hist.RestoreProject(del);
    ASSERT_TRUE(r.Restored) << r.Message.toStdString();
    EXPECT_FALSE(r.KeptID);
    EXPECT_NE(r.ProjectID, id);
    EXPECT_TRUE(r.Message.contains(QStringLiteral("新编号"))) << r.Message.toStdString();
    EXPECT_EQ(projectId(QStringLiteral("换号项目")), r.ProjectID);
    EXPECT_EQ(db.texts(QStringLiteral("select MEMBER_CLASS_ID || ':' || MAX_NUM || ':' || coalesce(enable, '-') from qel_project_member_limit where PID = %1 "
                                      "order by MEMBER_CLASS_ID")
                           .arg(r.ProjectID)),
              QStringList({QStringLiteral("M1:4:1"), QStringLiteral("M2:6:0")}));
    EXPECT_EQ(db.texts(QStringLiteral("select PRODUCTCODE from QEL_PROJECT_PRODUCT where PROJECTID = %1 order by PRODUCTCODE").arg(r.ProjectID)),
              QStringList({QStringLiteral("P1"), QStringLiteral("P2")}));
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from qel_project_member_limit where PID = %1").arg(id)), 0);
}

TEST_F(HistoryTest, EveryBlockerIsListedAndNothingIsRestored)
{
    const qint64 id = projectWithRows(QStringLiteral("受阻项目"));
    ASSERT_TRUE(cd.DelPro(id));
    const qint64 del = lastId() - 4;
    // The name now belongs to another project, a performance to another
    // project, and a member class of one of its limits is gone.
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("受阻项目"), 0, 0, 0));
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("别的项目"), 0, 0, 0));
    const qint64 other = projectId(QStringLiteral("别的项目"));
    ASSERT_TRUE(pp.InsertProduct(QString::number(other), QStringLiteral("P2")));
    db.exec(QStringLiteral("delete from um_member_class where MEMBER_CLASS_ID = 'M2'"));
    const QStringList before = tables();
    const int count = entries();

    const TRestoreResult r = hist.RestoreProject(del);
    EXPECT_FALSE(r.Restored);
    ASSERT_EQ(r.Blockers.size(), 3) << r.Message.toStdString();
    EXPECT_TRUE(chineseFirst(r.Message));
    EXPECT_TRUE(r.Message.contains(QStringLiteral("项目名称“受阻项目”已被项目 %1 使用").arg(projectId(QStringLiteral("受阻项目"))))) << r.Message.toStdString();
    EXPECT_TRUE(r.Message.contains(QStringLiteral("演出 P2 已属于项目 %1（别的项目）").arg(other))) << r.Message.toStdString();
    EXPECT_TRUE(r.Message.contains(QStringLiteral("会员类别 M2 已不存在"))) << r.Message.toStdString();
    EXPECT_FALSE(r.Message.contains(QStringLiteral("P1"))) << "P1 is free";
    EXPECT_EQ(tables(), before);
    EXPECT_EQ(entries(), count);

    // With every blocker gone, the same entry restores it, under its old ID.
    ASSERT_TRUE(cd.DelPro(projectId(QStringLiteral("受阻项目"))));
    ASSERT_TRUE(pp.DelProductProject(QString::number(other), QStringLiteral("P2")));
    db.exec(QStringLiteral("insert into um_member_class values ('M2', '银卡')"));
    const TRestoreResult ok = hist.RestoreProject(del);
    ASSERT_TRUE(ok.Restored) << ok.Message.toStdString();
    EXPECT_EQ(ok.ProjectID, id);
    EXPECT_EQ(ok.Limits, 2);
    EXPECT_EQ(ok.Performances, 2);
    EXPECT_TRUE(history::mismatches(db).isEmpty()) << history::mismatches(db).join(QLatin1Char('\n')).toStdString();
}

TEST_F(HistoryTest, ADeleteThatTookTheRowsBeforeTheProjectRestoresThemToo)
{
    // Another writer's order: performances and limits first, then the project, in one transaction.
    const qint64 id = projectWithRows(QStringLiteral("先删子项"));
    const QStringList before = tables();
    TCADBPipe2 pipe;
    {
        PipeTransaction tx(pipe);
        pipe.ExecSQL(kLi, QStringLiteral("delete from QEL_PROJECT_PRODUCT where PROJECTID = %1").arg(id));
        pipe.ExecSQL(kLi, QStringLiteral("delete from qel_project_member_limit where PID = %1").arg(id));
        pipe.ExecSQL(kLi, QStringLiteral("delete from QEL_PROJECT where ID = %1").arg(id));
        tx.commit();
    }
    ASSERT_EQ(db.scalar(QStringLiteral("select ROW_KIND || ACTION from QEL_PROJECT_HISTORY where ID = %1").arg(lastId())), QStringLiteral("projectdelete"));
    EXPECT_EQ(deletedCounts(lastId()), QStringLiteral("2|2"));

    const TRestoreResult r = hist.RestoreProject(lastId());
    ASSERT_TRUE(r.Restored) << r.Message.toStdString();
    EXPECT_EQ(r.Limits, 2);
    EXPECT_EQ(r.Performances, 2);
    EXPECT_EQ(tables(), before);
    EXPECT_TRUE(history::mismatches(db).isEmpty()) << history::mismatches(db).join(QLatin1Char('\n')).toStdString();
}

TEST_F(HistoryTest, ADeleteRestoredOnceStaysRestoredAfterTheProjectIsRenamed)
{
    // Limits only: no performance of its own would block a second restore.
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("改名前"), 15, 2, 3));
    const qint64 id = projectId(QStringLiteral("改名前"));
    ASSERT_TRUE(cd.Insertmemberlimit(QString::number(id), QStringLiteral("M1"), QStringLiteral("4"), QStringLiteral("1")));
    ASSERT_TRUE(cd.DelPro(id));
    const qint64 first = lastId() - 1;
    ASSERT_EQ(db.scalar(QStringLiteral("select ROW_KIND || ACTION from QEL_PROJECT_HISTORY where ID = %1").arg(first)), QStringLiteral("projectdelete"));
    ASSERT_TRUE(hist.RestoreProject(first).Restored);
    ASSERT_TRUE(cd.EdtPro(id, QStringLiteral("改名后"), 15, 2, 3));
    const QStringList before = tables();
    const int count = entries();

    const TRestoreResult again = hist.RestoreProject(first);
    EXPECT_FALSE(again.Restored);
    ASSERT_EQ(again.Blockers.size(), 1) << again.Message.toStdString();
    EXPECT_TRUE(again.Blockers[0].contains(QStringLiteral("恢复过（恢复为项目 %1）").arg(id))) << again.Message.toStdString();
    EXPECT_EQ(tables(), before) << "no second project, no second set of limits";
    EXPECT_EQ(entries(), count);

    // Its later delete is the one to restore, under the name it had then.
    ASSERT_TRUE(cd.DelPro(id));
    const TRestoreResult later = hist.RestoreProject(lastId() - 1);
    ASSERT_TRUE(later.Restored) << later.Message.toStdString();
    EXPECT_EQ(tables(), before);
    EXPECT_FALSE(hist.RestoreProject(first).Restored);
    EXPECT_EQ(tables(), before);
}

TEST_F(HistoryTest, ADeletedProjectWhoseTextGbkCannotHoldSaysSoAndStaysDeleted)
{
    // Written by another tool: names and codes this system cannot write back.
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) values ('한국공연', 0, 0, 0)"));
    const qint64 id = projectId(QStringLiteral("한국공연"));
    db.exec(QStringLiteral("insert into um_member_class values ('M한', '韩卡')"));
    db.exec(QStringLiteral("insert into qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type) values (%1, 'M한', 2, '1')").arg(id));
    ASSERT_TRUE(pp.InsertProduct(QString::number(id), QStringLiteral("P3")));
    const qint64 del = deleteProject(id);
    const QStringList before = tables();
    const int count = entries();

    const TRestoreResult r = hist.RestoreProject(del);
    EXPECT_FALSE(r.Restored);
    ASSERT_EQ(r.Blockers.size(), 2) << r.Message.toStdString();
    EXPECT_TRUE(r.Blockers[0].startsWith(QStringLiteral("项目名称“한국공연”含有 GBK 无法表示的字符"))) << r.Message.toStdString();
    EXPECT_TRUE(r.Blockers[1].startsWith(QStringLiteral("会员类别“M한”含有 GBK 无法表示的字符"))) << r.Message.toStdString();
    EXPECT_TRUE(chineseFirst(r.Message)) << r.Message.toStdString();
    EXPECT_EQ(tables(), before);
    EXPECT_EQ(entries(), count);
    // The list still loads: the class no statement can carry shows its code alone.
    THistoryFilter f;
    f.ProjectID = id;
    hist.GetHistory(f);
    EXPECT_EQ(hist.RowName(QStringLiteral("limit"), QStringLiteral("M한")), QString());
    EXPECT_EQ(hist.RowName(QStringLiteral("product"), QStringLiteral("P3")), QStringLiteral("演出P3"));
    EXPECT_EQ(hist.RowTime(QStringLiteral("product"), QStringLiteral("P3")), QDateTime(QDate(2030, 1, 1), QTime(19, 30)));
}

TEST_F(HistoryTest, DateBoundsPastTheCalendarsEndAndOddValuesReadSafely)
{
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("某项目"), 0, 0, 0));
    // The date box's last day: the bound after it lies past year 9999.
    THistoryFilter f;
    f.To = QDate(9999, 12, 31).addDays(1).startOfDay();
    EXPECT_EQ(hist.ReadHistory(f).size(), entries());
    f = THistoryFilter();
    f.From = QDate(9999, 12, 31).addDays(1).startOfDay();
    EXPECT_TRUE(hist.ReadHistory(f).isEmpty());

    // Values written by another tool are shown as stored, arrays included.
    THistoryEntry e;
    e.RowKind = QStringLiteral("project");
    e.Action = QStringLiteral("update");
    e.BeforeValues = QStringLiteral("{\"CNAME\":[\"甲\",\"乙\"],\"CROSSDISCOUNT\":{\"a\":1}}");
    e.AfterValues = QStringLiteral("{\"CNAME\":\"丙\",\"CROSSDISCOUNT\":5}");
    const QString text = TCDHistory::ChangesText(e);
    EXPECT_TRUE(text.contains(QStringLiteral("[\"甲\",\"乙\"] → 丙"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("{\"a\":1} → 5"))) << text.toStdString();
}

// ---- a history nobody can quietly break ---------------------------------------------------

TEST_F(HistoryTest, TheDesksOwnConnectionCannotRewriteOrDeleteAnEntry)
{
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("原样保留"), 1, 1, 1));
    const QString all = QStringLiteral("select ID || ACTION || AFTER_VALUES from QEL_PROJECT_HISTORY order by ID");
    const QStringList before = db.texts(all);
    QStringList forgeries = {QStringLiteral("update QEL_PROJECT_HISTORY set ACTION = 'delete'"), QStringLiteral("delete from QEL_PROJECT_HISTORY")};
    if (db.isPostgres())
        forgeries << QStringLiteral("truncate QEL_PROJECT_HISTORY");
    for (const QString &sql : forgeries) {
        const QString msg = thrownMessage([&] { cd.DBPipe->ExecSQL(kZhang, sql); });
        EXPECT_TRUE(msg.contains(QStringLiteral("修改历史只能追加"))) << sql.toStdString() << ": " << msg.toStdString();
    }
    EXPECT_EQ(db.texts(all), before);
}

TEST_F(HistoryTest, AMissingOrEmptiedTriggerBlocksTheRestoreUntilTheStartMakesItAgain)
{
    const qint64 id = projectWithRows(QStringLiteral("三场演出"));
    ASSERT_TRUE(pp.InsertProduct(QString::number(id), QStringLiteral("P3")));
    // Behind the desk's back: the performances' trigger dropped, the limits'
    // made to record nothing, and the history made writable again.
    if (db.isPostgres()) {
        db.exec(QStringLiteral("DROP TRIGGER TR_QEL_PROJECT_PRODUCT_HISTORY ON QEL_PROJECT_PRODUCT"));
        db.exec(QStringLiteral("CREATE OR REPLACE FUNCTION QEL_LIMIT_HISTORY_ROW() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RETURN NULL; END $$"));
        db.exec(QStringLiteral("DROP TRIGGER TR_QEL_PROJECT_HISTORY_APPEND_ONLY ON QEL_PROJECT_HISTORY"));
    } else {
        db.exec(QStringLiteral("DROP TRIGGER TR_QEL_PROJECT_PRODUCT_HISTORY_DEL"));
        db.exec(QStringLiteral("DROP TRIGGER TR_QEL_LIMIT_HISTORY_DEL"));
        db.exec(QStringLiteral("CREATE TRIGGER TR_QEL_LIMIT_HISTORY_DEL AFTER DELETE ON qel_project_member_limit WHEN 0 BEGIN SELECT 1; END"));
        db.exec(QStringLiteral("DROP TRIGGER TR_QEL_PROJECT_HISTORY_NO_DELETE"));
    }
    const qint64 del = deleteProject(id);
    const QStringList before = tables();
    const int count = entries();

    const TRestoreResult r = hist.RestoreProject(del);
    EXPECT_FALSE(r.Restored);
    EXPECT_EQ(r.Blockers, QStringList({QStringLiteral("删除时该项目有限购 2 条，修改历史中只记录了 0 条，其余 2 条无法恢复"),
                                       QStringLiteral("删除时该项目有演出 3 场，修改历史中只记录了 0 场，其余 3 场无法恢复")}))
        << r.Message.toStdString();
    EXPECT_EQ(tables(), before);
    EXPECT_EQ(entries(), count);

    // The next start makes all of it again, as for a history from before the
    // counts; the one after finds nothing to do.
    db.exec(QStringLiteral("DROP INDEX IX_QEL_PROJECT_HISTORY_DELETES"));
    db.exec(QStringLiteral("ALTER TABLE QEL_PROJECT_HISTORY DROP COLUMN DELETED_PRODUCTS"));
    EXPECT_TRUE(UpgradeDatabase(*Database::connection()));
    EXPECT_FALSE(UpgradeDatabase(*Database::connection()));
    EXPECT_TRUE(Database::writeRefusal().isEmpty()) << Database::writeRefusal().toStdString();
    const qint64 other = projectWithRows(QStringLiteral("之后的项目"));
    ASSERT_TRUE(cd.DelPro(other));
    EXPECT_EQ(deletedCounts(lastId() - 4), QStringLiteral("2|2"));
    EXPECT_TRUE(hist.RestoreProject(lastId() - 4).Restored);
    EXPECT_FALSE(thrownMessage([&] { cd.DBPipe->ExecSQL(kZhang, QStringLiteral("delete from QEL_PROJECT_HISTORY")); }).isEmpty());
    EXPECT_EQ(entries(), count + 15);
}

TEST(HistoryUpgrade, AMissingTriggerThatCannotBeMadeAgainStopsWritesNotReads)
{
    const QString role = QStringLiteral("qel_desk_%1").arg(QCoreApplication::applicationPid());
    const auto dropRole = qScopeGuard([&] {
        if (TestDatabase::postgresSelected())
            Database::connect(qEnvironmentVariable("QEL_DATABASE"))->exec("DROP ROLE IF EXISTS " + role.toUtf8());
    });
    TestDatabase db;
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('已有项目')"));
    QString url = db.url();
    std::optional<FilePermissionsEnforced> enforced;
    const auto writable = qScopeGuard([&] {
        enforced.reset();
        QFile::setPermissions(db.tempDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::setPermissions(db.sqlitePath(), QFile::ReadOwner | QFile::WriteOwner);
    });
    if (db.isPostgres()) {
        // A role that may read and write the rows, not change the tables.
        db.exec(QStringLiteral("CREATE ROLE %1 LOGIN").arg(role));
        db.exec(QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO %1").arg(role));
        db.exec(QStringLiteral("DROP TRIGGER TR_QEL_PROJECT_HISTORY ON QEL_PROJECT"));
        url.replace(QStringLiteral("://postgres@"), QStringLiteral("://%1@").arg(role));
    } else {
        db.exec(QStringLiteral("DROP TRIGGER TR_QEL_PROJECT_HISTORY_UPD"));
        // A file this desk may only read.
        Database::close();
        db.dropConnections();
        QFile::setPermissions(db.tempDir(), QFile::ReadOwner | QFile::ExeOwner);
        QFile::setPermissions(db.sqlitePath(), QFile::ReadOwner);
        enforced.emplace();
        if (!enforced->active())
            GTEST_SKIP() << "file permissions cannot be enforced here";
    }
    Database::open(url);
    const auto close = qScopeGuard([] { Database::close(); });
    TCDProject cd;
    cd.Context = kZhang;
    EXPECT_FALSE(UpgradeDatabase(*Database::connection()));
    const QString refusal = Database::writeRefusal();
    EXPECT_TRUE(refusal.contains(QStringLiteral("本机无法补上")) && refusal.contains(QStringLiteral("TR_QEL_PROJECT_HISTORY"))) << refusal.toStdString();
    EXPECT_TRUE(chineseFirst(refusal));
    cd.GetProject(QString());
    EXPECT_EQ(cd.cdsProject->RecordCount(), 1) << "reads go on";
    THostErrorCause cause = THostErrorCause::Other;
    EXPECT_EQ(thrownMessage([&] {
                  try {
                      cd.EdtPro(cd.cdsProject->FieldByName(QStringLiteral("ID")).AsInteger(), QStringLiteral("改名"), 1, 1, 1);
                  } catch (const EHostError &e) {
                      cause = e.cause();
                      throw;
                  }
              }),
              refusal);
    EXPECT_EQ(cause, THostErrorCause::ReadOnly);
    EXPECT_EQ(Database::connect(db.url())->query("select CNAME from QEL_PROJECT").text(0, 0), QStringLiteral("已有项目"));
}

TEST(SqliteChanges, AnotherConnectionsCommitIsReportedOnceAndOwnWritesNever)
{
    TestDatabase db;
    if (db.isPostgres())
        GTEST_SKIP() << "SQLite's data version";
    SqliteBackend mine(db.sqlitePath()), other(db.sqlitePath());
    mine.watchChanges(true);
    EXPECT_TRUE(mine.takeChanges().isEmpty());
    mine.exec("insert into um_member_class values ('A1', '本机')");
    EXPECT_TRUE(mine.takeChanges().isEmpty()) << "its own commit";
    other.exec("insert into um_member_class values ('A2', '他机')");
    const QList<TChangeNotice> seen = mine.takeChanges();
    ASSERT_EQ(seen.size(), 1);
    EXPECT_TRUE(seen[0].Table.isEmpty());
    EXPECT_TRUE(mine.takeChanges().isEmpty()) << "reported once";
}

TEST_F(HistoryTest, OtherDesksHearOfEachKindOfChangeOncePerTransaction)
{
    if (!db.isPostgres())
        GTEST_SKIP() << "PostgreSQL's notifications";
    auto listener = Database::connect(db.url());
    listener->exec("LISTEN qel_change");
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("通知项目"), 0, 0, 0));
    const QString pid = QString::number(projectId(QStringLiteral("通知项目")));
    {
        PipeTransaction tx(*cd.DBPipe);
        ASSERT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("5"), QStringLiteral("1")));
        ASSERT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M2"), QStringLiteral("5"), QStringLiteral("1")));
        tx.commit();
    }
    // libpq is loaded with the client's library; its calls are looked up there.
    const auto consume = reinterpret_cast<int (*)(PGconn *)>(dlsym(RTLD_DEFAULT, "PQconsumeInput"));
    const auto next = reinterpret_cast<PGnotify *(*)(PGconn *)>(dlsym(RTLD_DEFAULT, "PQnotifies"));
    const auto release = reinterpret_cast<void (*)(void *)>(dlsym(RTLD_DEFAULT, "PQfreemem"));
    ASSERT_TRUE(consume && next && release);
    PGconn *conn = static_cast<PostgresBackend &>(*listener).handle();
    QStringList heard;
    for (int i = 0; i < 200 && heard.size() < 2; ++i, QThread::msleep(10)) {
        consume(conn);
        while (PGnotify *n = next(conn)) {
            heard << QString::fromUtf8(n->extra);
            release(n);
        }
    }
    EXPECT_EQ(heard, QStringList({QStringLiteral("project:") + pid, QStringLiteral("limit:") + pid}));
}

// ---- databases made by earlier versions ---------------------------------------------------

// The schema a shipped version made: the first (1), or the first and what the second added (2).
QByteArray ShippedSchema(const QString &engine, int version)
{
    QByteArray out;
    for (int v = 1; v <= version; ++v) {
        QFile f(QStringLiteral(QEL_SOURCE_DIR "/tests/data/schema-v%1.%2.sql").arg(v).arg(engine == QLatin1String("sqlite") ? "sqlite" : "postgres"));
        out += f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    return out;
}

void UpgradeFrom(int version)
{
    const bool pg = TestDatabase::postgresSelected();
    const QString engine = pg ? QStringLiteral("postgresql") : QStringLiteral("sqlite");
    ASSERT_EQ(ShippedSchema(engine, version).contains("CREATE TABLE QEL_PROJECT_HISTORY"), version == 2);
    QTemporaryDir dir;
    QString url, adminUrl, dbName;
    if (pg) {
        adminUrl = qEnvironmentVariable("QEL_DATABASE");
        dbName = QStringLiteral("qeltest_old_%1_%2").arg(QCoreApplication::applicationPid()).arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        Database::connect(adminUrl)->exec(QStringLiteral("CREATE DATABASE %1 ENCODING 'UTF8' TEMPLATE template0").arg(dbName).toUtf8());
        url = withDatabaseName(adminUrl, dbName);
    } else {
        url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("old.db"));
    }
    const auto dropDatabase = qScopeGuard([&] {
        if (pg)
            Database::connect(adminUrl)->exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(dbName).toUtf8());
    });

    // Made as that version made it: its schema, then the demo data.
    const QDate today = QDate::currentDate();
    {
        auto old = Database::connect(url);
        BackendTransaction tx(*old);
        old->execScript(ShippedSchema(engine, version));
        old->execScript(DemoDataScript(today));
        tx.commit();
    }
    const auto snapshot = [&](Backend &b) {
        QStringList out;
        for (const char *sql : {"select count(*) from QEL_PROJECT", "select count(*) from qel_project_member_limit", "select count(*) from QEL_PROJECT_PRODUCT",
                                "select count(*) from QEL_PRODUCT", "select max(CNAME) from QEL_PROJECT", "select sum(MAX_NUM) from qel_project_member_limit"})
            out << b.query(sql).text(0, 0);
        return out;
    };
    const char *stamp = pg ? "select max(VERSION) from QEL_SCHEMA_VERSION" : "PRAGMA user_version";
    const char *triggers = pg ? "select string_agg(lower(tgname), ',' order by lower(tgname)) from pg_trigger where not tgisinternal"
                              : "select group_concat(lower(name), ',') from (select name from sqlite_master where type = 'trigger' order by lower(name))";
    QStringList before;
    QString entries = QStringLiteral("0");
    {
        auto b = Database::connect(url);
        before = snapshot(*b);
        if (version == 2)
            entries = b->query("select count(*) from QEL_PROJECT_HISTORY").text(0, 0);
    }
    ASSERT_GT(before[0].toInt(), 0);

    // First start of this version: SQLite through the client's preparation, PostgreSQL through the upgrade.
    Database::open(url);
    auto closeDb = qScopeGuard([] { Database::close(); });
    if (pg)
        EXPECT_TRUE(UpgradeDatabase(*Database::connection()));
    else
        PrepareSqliteDatabase(*Database::connection(), today);
    EXPECT_EQ(snapshot(*Database::connection()), before) << "no data lost";
    EXPECT_EQ(Database::connection()->query("select count(*) from QEL_PROJECT_HISTORY").text(0, 0), entries) << "the past is neither invented nor lost";
    EXPECT_EQ(Database::connection()->query(stamp).integer(0, 0), SchemaVersion());
    // Every trigger of today's schema, the rules' included, and no other.
    QStringList want;
    for (auto it = QRegularExpression(QStringLiteral("^CREATE TRIGGER (\\w+)"), QRegularExpression::MultilineOption).globalMatch(QString::fromUtf8(SchemaScript(engine)));
         it.hasNext();)
        want << it.next().captured(1).toLower();
    want.sort();
    EXPECT_EQ(Database::connection()->query(triggers).text(0, 0), want.join(QLatin1Char(',')));
    // The next start finds nothing to do.
    EXPECT_FALSE(UpgradeDatabase(*Database::connection()));

    // Changes are recorded from now on.
    TCDProject cd;
    cd.Context = kZhang;
    const QString pid = Database::connection()->query("select min(ID) from QEL_PROJECT").text(0, 0);
    ASSERT_TRUE(cd.EdtPro(pid.toLongLong(), QStringLiteral("升级后改名"), 5, 5, 5));
    TCDHistory hist;
    hist.Context = kZhang;
    const QList<THistoryEntry> e = hist.ReadHistory(THistoryFilter());
    ASSERT_EQ(e.size(), entries.toInt() + 1);
    EXPECT_EQ(e[0].Action, QStringLiteral("update"));
    EXPECT_EQ(e[0].ProjectID, pid.toLongLong());
    EXPECT_EQ(e[0].UserName, QStringLiteral("张三"));
    // A project deleted now can be restored even though its rows predate the history.
    ASSERT_TRUE(cd.DelPro(pid.toLongLong()));
    THistoryFilter f;
    f.Actions = {QStringLiteral("delete")};
    f.RowKinds = {QStringLiteral("project")};
    const TRestoreResult r = hist.RestoreProject(hist.ReadHistory(f).value(0).ID);
    EXPECT_TRUE(r.Restored) << r.Message.toStdString();
    QStringList after = snapshot(*Database::connection());
    after[4] = before[4];
    EXPECT_EQ(after, before);
    if (version == 1)
        return;

    // A newer client's database: refused, with nothing written.
    Database::connection()->exec(pg ? "update QEL_SCHEMA_VERSION set VERSION = VERSION + 1" : "PRAGMA user_version = " + QByteArray::number(SchemaVersion() + 1));
    before = snapshot(*Database::connection()) << QString::number(SchemaVersion() + 1);
    closeDb.dismiss();
    Database::close();
    QFile file(dir.filePath(QStringLiteral("old.db")));
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.close();
    Database::open(url);
    const QString refused = thrownMessage([&] {
        if (pg)
            UpgradeDatabase(*Database::connection());
        else
            PrepareSqliteDatabase(*Database::connection(), today, SqliteFill::Demo);
    });
    EXPECT_EQ(refused, QStringLiteral("数据库结构版本为 %1，比本程序支持的版本 %2 新，请升级客户端后再连接。").arg(SchemaVersion() + 1).arg(SchemaVersion()));
    EXPECT_EQ(snapshot(*Database::connection()) << Database::connection()->query(stamp).text(0, 0), before);
    Database::close();
    EXPECT_TRUE(pg || (file.open(QIODevice::ReadOnly) && file.readAll() == bytes));
}

TEST(HistoryUpgrade, ADatabaseOfEachShippedVersionIsBroughtUpOnStartAndKeepsItsData)
{
    for (const int version : {1, 2}) {
        SCOPED_TRACE(version);
        UpgradeFrom(version);
    }
}

TEST(HistoryUpgrade, SqliteTriggersThatInsertTheirEntriesThemselvesAreReplacedOnStart)
{
    TestDatabase db;
    if (db.isPostgres())
        GTEST_SKIP() << "SQLite's triggers only";
    // The update trigger as an earlier version made it.
    db.exec(QStringLiteral("DROP TRIGGER TR_QEL_PROJECT_HISTORY_UPD"));
    db.exec(QStringLiteral(
        "CREATE TRIGGER TR_QEL_PROJECT_HISTORY_UPD AFTER UPDATE ON QEL_PROJECT BEGIN "
        "INSERT INTO QEL_PROJECT_HISTORY (CHANGED_AT, TXID, NODECODE, USERGROUP, USERNAME, ROW_KIND, ACTION, PROJECT_ID, PROJECT_NAME, ROW_KEY, "
        "BEFORE_VALUES, AFTER_VALUES) VALUES (strftime('%Y-%m-%d %H:%M:%f', 'now'), qel_txid((SELECT coalesce(max(ID), 0) + 1 FROM QEL_PROJECT_HISTORY)), "
        "qel_operator(0), qel_operator(1), qel_operator(2), 'project', 'update', NEW.ID, NEW.CNAME, NULL, "
        "json_object('ID', OLD.ID, 'CNAME', OLD.CNAME, 'CROSSDISCOUNT', OLD.CROSSDISCOUNT, 'CROSTNUM', OLD.CROSTNUM, 'CROSSPNUM', OLD.CROSSPNUM), "
        "json_object('ID', NEW.ID, 'CNAME', NEW.CNAME, 'CROSSDISCOUNT', NEW.CROSSDISCOUNT, 'CROSTNUM', NEW.CROSTNUM, 'CROSSPNUM', NEW.CROSSPNUM)); END"));
    TCDProject cd;
    cd.Context = kZhang;
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("旧触发器"), 10, 1, 1));
    const qint64 id = db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = '旧触发器'")).toLongLong();
    ASSERT_TRUE(cd.EdtPro(id, QStringLiteral("旧触发器"), 20, 2, 2));
    const QString byOld = QStringLiteral("select NODECODE || '|' || USERNAME || '|' || ROW_KIND || '|' || ACTION || '|' || PROJECT_NAME || '|' || "
                                         "BEFORE_VALUES || '|' || AFTER_VALUES from QEL_PROJECT_HISTORY where ACTION = 'update' order by ID");
    const QStringList oldEntries = db.texts(byOld);
    ASSERT_EQ(oldEntries.size(), 1);

    EXPECT_TRUE(UpgradeDatabase(*Database::connection()));
    EXPECT_FALSE(UpgradeDatabase(*Database::connection())) << "the next start finds nothing to do";
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from sqlite_master where type = 'trigger' and sql like '%qel_history(%'")), 9);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from sqlite_master where type = 'trigger' and sql like '%INSERT INTO QEL_PROJECT_HISTORY%'")), 0);

    // Back and forth: the new trigger's entry reads exactly as the old one's would.
    ASSERT_TRUE(cd.EdtPro(id, QStringLiteral("旧触发器"), 10, 1, 1));
    ASSERT_TRUE(cd.EdtPro(id, QStringLiteral("旧触发器"), 20, 2, 2));
    const QStringList all = db.texts(byOld);
    ASSERT_EQ(all.size(), 3);
    EXPECT_EQ(all[0], oldEntries[0]) << "kept";
    EXPECT_EQ(all[2], oldEntries[0]);

    // A connection that distrusts the file's schema still writes, with its entry.
    db.exec(QStringLiteral("PRAGMA trusted_schema = OFF"));
    EXPECT_TRUE(cd.EdtPro(id, QStringLiteral("旧触发器"), 30, 3, 3));
    db.exec(QStringLiteral("PRAGMA trusted_schema = ON"));
    EXPECT_EQ(db.texts(byOld).size(), 4);
    EXPECT_TRUE(history::mismatches(db).isEmpty()) << history::mismatches(db).join(QLatin1Char('\n')).toStdString();
}

TEST(HistoryUpgrade, ASchemaCreatedTodayHasTheHistoryFromTheStart)
{
    TestDatabase db;
    const QString engine = db.isPostgres() ? QStringLiteral("postgresql") : QStringLiteral("sqlite");
    EXPECT_TRUE(SchemaTables(engine).contains(QStringLiteral("qel_project_history")));
    EXPECT_FALSE(UpgradeDatabase(*Database::connection()));
    // A connection the client did not set up still records, with no operator.
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('直接写入')"));
    const DataPacket p = db.query(QStringLiteral("select NODECODE, USERNAME, ACTION, PROJECT_NAME from QEL_PROJECT_HISTORY"));
    ASSERT_EQ(p.rowCount(), 1);
    EXPECT_TRUE(p.isNull(0, 0));
    EXPECT_TRUE(p.isNull(0, 1));
    EXPECT_EQ(p.text(0, 2), QStringLiteral("insert"));
    EXPECT_EQ(p.text(0, 3), QStringLiteral("直接写入"));
}

} // namespace
