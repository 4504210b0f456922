// The PostgreSQL session. The settings the statements rely on hold whatever the
// server, the database, the role or the URL say; and a server that does not
// answer (at connect, behind another desk's lock, on a long statement) fails
// the command within a bounded time with a clear message, after which the same
// desk goes on working.
#include "Context.h"
#include "Database.h"
#include "Errors.h"
#include "GuiTest.h"
#include "Pipe.h"
#include "ProjectRows.h"
#include "ProjectWindow.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "uCDProject.h"
#include "uUIProject.h"
#include "uUIProjectEdit.h"
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QToolButton>
#include <QUrl>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <utility>
#include <gtest/gtest.h>

namespace {

const QString kCtx = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")});
// The name that emptied the limit table on a server with standard_conforming_strings off.
const QString kHostile = QStringLiteral("演出\\'; delete from qel_project_member_limit; --");
const QString kHostile2 = QStringLiteral("再演\\'; delete from qel_project_member_limit; --");
const QString kBusy = QStringLiteral("数据库正被其他操作员占用，请稍后再试：");
const QString kTimedOut = QStringLiteral("数据库语句执行超时，已取消，未保存任何修改：");
const QString kRefused = QStringLiteral("数据库会话设置无效：");
const QString kLost = QStringLiteral("与数据库服务器的连接已断开");

QString withParam(const QString &url, const QString &param)
{
    return url + (url.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) + param;
}

// Runs sql in a plain psql session, without any option of ours: what another
// client of the server gets. Returns the last line printed.
QString psqlLast(const QString &url, const QString &sql)
{
    QProcess p;
    p.start(QStringLiteral("psql"),
            {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
             QStringLiteral("-d"), url, QStringLiteral("-c"), sql});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << "psql failed: " << p.errorString().toStdString() << " " << p.readAllStandardError().toStdString();
        return QString();
    }
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last();
}

QString setting(const QString &name)
{
    TCADBPipe2 pipe;
    return pipe.GetData(kCtx, QStringLiteral("show ") + name).text(0, 0);
}

qint64 sessionPid()
{
    TCADBPipe2 pipe;
    return pipe.GetData(kCtx, QStringLiteral("select pg_backend_pid() as pid")).integer(0, 0);
}

// Sends sig to the server process of a session (the test's server runs on this machine).
bool signalSession(qint64 pid, int sig)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "postgres") {
        ADD_FAILURE() << "session " << pid << " has no server process on this machine";
        return false;
    }
    EXPECT_EQ(::kill(pid_t(pid), sig), 0) << std::strerror(errno);
    return true;
}

// Both engines' tables, a project with two limits; PostgreSQL only.
class PgSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!db.isPostgres())
            GTEST_SKIP() << "PostgreSQL only";
        spring = addProject(db, QStringLiteral("春季音乐节"));
        autumn = addProject(db, QStringLiteral("秋季戏剧节"));
        db.exec(QStringLiteral("insert into um_member_class values ('M1', '金卡会员')"));
        db.exec(QStringLiteral("insert into um_member_class values ('M2', '银卡会员')"));
        for (const char *m : {"M1", "M2"})
            db.exec(QStringLiteral("insert into qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) values (%1, '%2', 4, '1', '1')")
                        .arg(spring, QLatin1String(m)));
    }
    void TearDown() override
    {
        disposeWindow(win);
        delete CDProject.data();
        // The desk may be on a URL of the test's own; the database goes with db.
        Database::close();
    }

    int limits() { return db.count(QStringLiteral("select count(*) from qel_project_member_limit")); }
    // Another program holds qel_project: the window's refresh and delete fail
    // after the lock timeout, then work once it lets go.
    void lockedTableFailsTheWindowsCommandsThenTheyWork();
    QStringList names() { return db.texts(QStringLiteral("select CNAME from QEL_PROJECT order by ID")); }
    // The limit table as it was, and the name stored exactly as typed.
    void expectIntactAndStored(const QString &name, const char *what)
    {
        EXPECT_EQ(limits(), 2) << what << ": the limit table was changed";
        EXPECT_TRUE(names().contains(name)) << what << ": " << names().join(QLatin1Char('|')).toStdString();
    }
    // What the new-project dialog sends on OK: the name check, then the insert.
    void createProject(const QString &name)
    {
        TCDProject cd;
        cd.Context = kCtx;
        EXPECT_TRUE(cd.ChkProName(-1, name));
        EXPECT_TRUE(cd.InsertPro(name, 0, 0, 0));
    }
    // Ends the desk's server session; its next statement finds it gone.
    void cutSession()
    {
        const qint64 pid = sessionPid();
        ASSERT_EQ(db.scalar(QStringLiteral("select pg_terminate_backend(%1, 5000)").arg(pid)), QStringLiteral("1"));
    }

    TestDatabase db;
    QString spring, autumn;
    QPointer<TFrmProject> win;
};

// ---- addresses that keep the password off the command line -------------------------

// Environment variables set for a scope; what was there comes back.
class ScopedEnv {
public:
    ~ScopedEnv()
    {
        for (auto s = m_saved.crbegin(); s != m_saved.crend(); ++s)
            s->wasSet ? qputenv(s->name, s->value) : qunsetenv(s->name);
    }
    void set(const char *name, const QString &value)
    {
        m_saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        value.isNull() ? qunsetenv(name) : qputenv(name, value.toUtf8());
    }

private:
    struct Saved {
        const char *name;
        QByteArray value;
        bool wasSet;
    };
    QList<Saved> m_saved;
};

QString currentUser(const QString &address)
{
    return Database::connect(address)->query("select current_user").text(0, 0);
}

TEST_F(PgSessionTest, APasswordFromPgpassThroughAServiceTheEnvironmentOrTheSettingsAndNeverInAMessage)
{
    const QUrl server(db.url());
    const QString host = server.host(), port = QString::number(server.port(5432)), name = db.databaseName();
    const QString role = QStringLiteral("qel_pw_%1").arg(QCoreApplication::applicationPid());
    const QString password = QStringLiteral("Pw-%1-x").arg(QDateTime::currentMSecsSinceEpoch());
    db.exec(QStringLiteral("create role %1 login password '%2'").arg(role, password));
    // The test's server trusts loopback: this role's logins must give the password.
    QFile hba(db.scalar(QStringLiteral("show hba_file")));
    ASSERT_TRUE(hba.open(QIODevice::ReadOnly)) << hba.fileName().toStdString();
    const QByteArray trusting = hba.readAll();
    hba.close();
    const auto writeHba = [&](const QByteArray &text) {
        EXPECT_TRUE(hba.open(QIODevice::WriteOnly | QIODevice::Truncate) && hba.write(text) == text.size());
        hba.close();
        db.scalar(QStringLiteral("select pg_reload_conf()"));
    };
    const auto restore = qScopeGuard([&] {
        writeHba(trusting);
        db.exec(QStringLiteral("drop role if exists %1").arg(role));
    });
    writeHba(QStringLiteral("host all %1 %2/32 scram-sha-256\n").arg(role, host).toUtf8() + trusting);

    QTemporaryDir dir;
    ScopedEnv env;
    env.set("PGPASSFILE", dir.filePath(QStringLiteral("pgpass")));
    const QString plain = QStringLiteral("postgresql://%1@%2:%3/%4").arg(role, host, port, name);
    QString refused; // once the server has read the new rule
    for (int i = 0; i < 100 && refused.isEmpty(); ++i) {
        try {
            Database::connect(plain);
            QThread::msleep(100);
        } catch (const EHostError &e) {
            refused = e.message();
        }
    }
    ASSERT_FALSE(refused.isEmpty()) << "the role still logs in without a password";

    QFile pgpass(dir.filePath(QStringLiteral("pgpass"))), services(dir.filePath(QStringLiteral("services")));
    ASSERT_TRUE(pgpass.open(QIODevice::WriteOnly) && pgpass.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    pgpass.write(QStringLiteral("%1:%2:%3:%4:%5\n").arg(host, port, name, role, password).toUtf8());
    pgpass.close();
    ASSERT_TRUE(services.open(QIODevice::WriteOnly));
    services.write(QStringLiteral("[qeltest]\nhost=%1\nport=%2\ndbname=%3\nuser=%4\n").arg(host, port, name, role).toUtf8());
    services.close();
    env.set("PGSERVICEFILE", services.fileName());
    env.set("PGHOST", host);
    env.set("PGPORT", port);
    env.set("PGDATABASE", name);
    env.set("PGUSER", role);
    for (const QString &address : {plain, QStringLiteral("service=qeltest response_timeout=20"), QStringLiteral("postgresql:")})
        EXPECT_EQ(currentUser(address), role) << address.toStdString();

    // The desk's settings name the database when nothing else does; never with a password.
    env.set("QEL_DATABASE", QString());
    QSettings().setValue(QStringLiteral("Database/Address"), QStringLiteral("service=qeltest"));
    Database::open(Database::resolveUrl(QString()));
    EXPECT_EQ(TCADBPipe2().GetData(kCtx, QStringLiteral("select current_user as u")).text(0, 0), role);
    QSettings().setValue(QStringLiteral("Database/Address"), QStringLiteral("postgresql://%1:%2@%3:%4/%5").arg(role, password, host, port, name));
    const QString settingsRefusal = thrownMessage([] { Database::resolveUrl(QString()); });
    EXPECT_TRUE(settingsRefusal.contains(QLatin1String(".pgpass")) && !settingsRefusal.contains(password)) << settingsRefusal.toStdString();

    const std::pair<QString, QString> bad[] = {
        {QStringLiteral("postgresql://%1:Wrong7pw@%2:%3/%4").arg(role, host, port, name), QStringLiteral("Wrong7pw")},
        {QStringLiteral("host=%1 port=%2 dbname=%3 user=%4 password='Wrong 7pw'").arg(host, port, name, role), QStringLiteral("Wrong 7pw")},
        {QStringLiteral("postgresql://%1:Pw%zz7@%2:%3/%4").arg(role, host, port, name), QStringLiteral("Pw%zz7")}, // libpq cannot read it
        {QStringLiteral("mysql://%1:Secret7pw@%2/%3").arg(role, host, name), QStringLiteral("Secret7pw")},
    };
    for (const auto &[address, secret] : bad) {
        const QString message = thrownMessage([&address] { Database::connect(address); });
        EXPECT_FALSE(message.isEmpty() || message.contains(secret)) << message.toStdString();
        EXPECT_TRUE(message.contains(QLatin1String("***")) || message.contains(QLatin1String("password authentication failed"))) << message.toStdString();
    }
}

// ---- the quoting the statements rely on ----------------------------------------------

TEST_F(PgSessionTest, AHostileNameChangesNothingWhenTheDatabaseTurnsStandardStringsOff)
{
    db.exec(QStringLiteral("ALTER DATABASE %1 SET standard_conforming_strings = off").arg(db.databaseName()));
    db.exec(QStringLiteral("ALTER DATABASE %1 SET datestyle = 'SQL, DMY'").arg(db.databaseName()));
    // Other clients now get both, and there the name check's statement empties the table.
    ASSERT_EQ(psqlLast(db.url(), QStringLiteral("show standard_conforming_strings")), QStringLiteral("off"));
    QString check;
    {
        StatementRecorder rec;
        TCDProject cd;
        cd.Context = kCtx;
        cd.ChkProName(-1, kHostile);
        ASSERT_EQ(rec.count(), 1);
        check = rec.statements().first();
    }
    EXPECT_EQ(psqlLast(db.url(), QStringLiteral("BEGIN;\n%1\nSELECT count(*) FROM qel_project_member_limit;\nROLLBACK;").arg(check)), QStringLiteral("0"))
        << "the statement should be harmful in a plain session";
    ASSERT_EQ(limits(), 2);

    // A desk that starts now: the dialog stores the name as typed.
    Database::open(db.url());
    EXPECT_EQ(setting(QStringLiteral("standard_conforming_strings")), QStringLiteral("on"));
    TFrmProject *w = openProjectWindow(kCtx);
    win = w;
    {
        ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
            d->edtProjectName->setText(kHostile);
            d->btnOK->click();
        });
        w->ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    expectNoError("new project");
    expectIntactAndStored(kHostile, "new project dialog");
    // The search for it finds exactly it (a backslash in a filter relies on the same setting).
    w->EdtProName->setText(kHostile);
    w->BtnSearch->click();
    expectNoError("search");
    // Dates still read as ISO.
    TCADBPipe2 pipe;
    EXPECT_EQ(pipe.GetData(kCtx, QStringLiteral("select timestamp '2024-05-06 07:08:09' as t")).dateTime(0, 0),
              QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));

    // After a reconnect the same holds.
    cutSession();
    w->ToolButton5->click();
    expectOneError(kLost, "refresh after the session was cut");
    createProject(kHostile2);
    expectIntactAndStored(kHostile2, "after the reconnect");
    EXPECT_EQ(setting(QStringLiteral("standard_conforming_strings")), QStringLiteral("on"));
    EXPECT_EQ(pipe.GetData(kCtx, QStringLiteral("select timestamp '2024-05-06 07:08:09' as t")).dateTime(0, 0),
              QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));
}

TEST_F(PgSessionTest, AHostileNameChangesNothingWhenTheRoleTurnsStandardStringsOff)
{
    const QString role = QStringLiteral("qel_desk_%1").arg(db.databaseName().mid(QStringLiteral("qeltest_").size()));
    db.exec(QStringLiteral("CREATE ROLE %1 LOGIN").arg(role));
    struct DropRole {
        TestDatabase &db;
        QString role;
        ~DropRole()
        {
            Database::close();
            try {
                db.exec(QStringLiteral("DROP OWNED BY %1").arg(role));
                db.exec(QStringLiteral("DROP ROLE %1").arg(role));
            } catch (const EHostError &e) {
                ADD_FAILURE() << "role " << role.toStdString() << " not dropped: " << e.message().toStdString();
            }
        }
    } dropRole{db, role};
    db.exec(QStringLiteral("GRANT ALL ON ALL TABLES IN SCHEMA public TO %1").arg(role));
    db.exec(QStringLiteral("GRANT ALL ON ALL SEQUENCES IN SCHEMA public TO %1").arg(role));
    db.exec(QStringLiteral("ALTER ROLE %1 SET standard_conforming_strings = off").arg(role));
    const QString url = withParam(db.url(), QStringLiteral("user=") + role);
    ASSERT_EQ(psqlLast(url, QStringLiteral("show standard_conforming_strings")), QStringLiteral("off"));

    Database::open(url);
    TCADBPipe2 pipe;
    ASSERT_EQ(pipe.GetData(kCtx, QStringLiteral("select current_user as u")).text(0, 0), role);
    EXPECT_EQ(setting(QStringLiteral("standard_conforming_strings")), QStringLiteral("on"));
    createProject(kHostile);
    expectIntactAndStored(kHostile, "as the role");

    cutSession();
    const QString msg = thrownMessage<EConnectionLost>([] { setting(QStringLiteral("standard_conforming_strings")); });
    EXPECT_TRUE(msg.startsWith(kLost)) << msg.toStdString();
    createProject(kHostile2);
    expectIntactAndStored(kHostile2, "as the role, after the reconnect");
    EXPECT_EQ(setting(QStringLiteral("standard_conforming_strings")), QStringLiteral("on"));
}

TEST_F(PgSessionTest, OptionsInTheUrlCannotTurnStandardStringsOffButKeepTheirOtherSettings)
{
    const QString url = withParam(db.url(), QStringLiteral("options=-c%20standard_conforming_strings%3Doff%20-c%20application_name%3Dqel_url_options"));
    ASSERT_EQ(psqlLast(url, QStringLiteral("show standard_conforming_strings")), QStringLiteral("off"));

    Database::open(url);
    EXPECT_EQ(setting(QStringLiteral("standard_conforming_strings")), QStringLiteral("on"));
    EXPECT_EQ(setting(QStringLiteral("application_name")), QStringLiteral("qel_url_options"));
    createProject(kHostile);
    expectIntactAndStored(kHostile, "URL options");
}

TEST_F(PgSessionTest, ASessionWhoseQuotingWasSwitchedOffRunsNothingMoreAndTheNextCallStartsAfresh)
{
    TCADBPipe2 pipe;
    const qint64 before = sessionPid();
    pipe.ExecSQL(kCtx, QStringLiteral("set standard_conforming_strings = off"));

    TCDProject cd;
    cd.Context = kCtx;
    const QString msg = thrownMessage([&] { cd.ChkProName(-1, kHostile); });
    EXPECT_TRUE(msg.startsWith(kRefused + QStringLiteral("standard_conforming_strings 不是 on"))) << msg.toStdString();
    EXPECT_TRUE(chineseFirst(msg));
    EXPECT_EQ(limits(), 2);

    // The next command runs on a new session with the pinned settings.
    createProject(kHostile);
    expectIntactAndStored(kHostile, "after the refusal");
    EXPECT_NE(sessionPid(), before);
    EXPECT_EQ(setting(QStringLiteral("standard_conforming_strings")), QStringLiteral("on"));
}

// ---- a server that does not answer ---------------------------------------------------

void PgSessionTest::lockedTableFailsTheWindowsCommandsThenTheyWork()
{
    TFrmProject *w = openProjectWindow(kCtx);
    win = w;
    testPresenter().clear();

    // Another program holds the table for a minute.
    QProcess holder;
    holder.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"), withParam(db.url(), QStringLiteral("application_name=qel_lock_holder")),
                                          QStringLiteral("-c"), QStringLiteral("BEGIN; LOCK TABLE qel_project IN ACCESS EXCLUSIVE MODE; SELECT pg_sleep(60); COMMIT;")});
    const QString holderPid = QStringLiteral("select pid from pg_stat_activity where application_name = 'qel_lock_holder' and datname = current_database()");
    const auto release = [&] {
        db.exec(QStringLiteral("select pg_terminate_backend(pid, 5000) from (%1) h").arg(holderPid));
        holder.waitForFinished(30000);
    };
    const auto releaseAtExit = qScopeGuard(release);
    QElapsedTimer t;
    t.start();
    while (db.count(QStringLiteral("select count(*) from pg_locks where pid in (%1) and relation = 'qel_project'::regclass and mode = 'AccessExclusiveLock' and granted")
                        .arg(holderPid)) != 1) {
        ASSERT_LT(t.elapsed(), 30000) << "the other program never took the lock: " << holder.readAllStandardError().toStdString();
        QThread::msleep(50);
    }

    t.restart();
    w->ToolButton5->click();
    const qint64 refresh = t.elapsed();
    expectOneError(kBusy, "refresh while locked");
    EXPECT_GE(refresh, 4000) << "should wait for the lock a while";
    EXPECT_LT(refresh, 30000);

    // A delete (a transaction) fails the same way and leaves nothing half-done.
    ASSERT_TRUE(CDProject->cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("秋季戏剧节")));
    t.restart();
    w->ToolButton4->click();
    EXPECT_LT(t.elapsed(), 30000);
    expectOneError(kBusy, "delete while locked");
    EXPECT_FALSE(Database::connection()->inTransaction());

    release();
    w->ToolButton5->click();
    expectNoError("refresh once free");
    ASSERT_TRUE(CDProject->cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("秋季戏剧节")));
    w->ToolButton4->click();
    expectNoError("delete once free");
    EXPECT_EQ(names(), QStringList{QStringLiteral("春季音乐节")});
    EXPECT_EQ(gridColumn(w->QELDBGrid1, 1), QStringList{QStringLiteral("春季音乐节")});
}

TEST_F(PgSessionTest, ATableLockedElsewhereFailsTheCommandAfterTheLockTimeoutThenTheWindowWorks)
{
    lockedTableFailsTheWindowsCommandsThenTheyWork();
}

// A 0 turns a limit off; set by the database or the role, it does not take the desk's away.
TEST_F(PgSessionTest, ZeroTimeoutsFromTheDatabaseAndTheRoleLeaveTheDesksLimits)
{
    db.exec(QStringLiteral("ALTER DATABASE %1 SET statement_timeout = 0").arg(db.databaseName()));
    db.exec(QStringLiteral("ALTER ROLE CURRENT_USER IN DATABASE %1 SET lock_timeout = 0").arg(db.databaseName()));
    ASSERT_EQ(psqlLast(db.url(), QStringLiteral("show lock_timeout")), QStringLiteral("0"));
    Database::open(db.url());
    EXPECT_EQ(setting(QStringLiteral("statement_timeout")), QStringLiteral("2min"));
    lockedTableFailsTheWindowsCommandsThenTheyWork();
}

TEST_F(PgSessionTest, AStoppedServerProcessFailsTheCommandAtTheResponseTimeoutThenTheWindowWorks)
{
    Database::open(withParam(db.url(), QStringLiteral("response_timeout=3")));
    TFrmProject *w = openProjectWindow(kCtx);
    win = w;
    testPresenter().clear();
    const qint64 pid = sessionPid();
    ASSERT_TRUE(signalSession(pid, SIGSTOP));
    // Resumed once checked, or by a watchdog after 10 s, so that a desk that waits cannot hang the test.
    std::promise<void> checked;
    auto watchdog = std::async(std::launch::async, [pid, f = checked.get_future()] {
        f.wait_for(std::chrono::seconds(10));
        ::kill(pid_t(pid), SIGCONT);
    });
    bool resumed = false;
    const auto resume = [&] {
        if (!std::exchange(resumed, true)) {
            checked.set_value();
            watchdog.wait();
        }
    };
    const auto resumeAtExit = qScopeGuard(resume);

    QElapsedTimer t;
    t.start();
    w->ToolButton5->click();
    const qint64 waited = t.elapsed();
    expectOneError(QStringLiteral("服务器在 3 秒内没有回应，连接已断开："), "refresh while the server process is stopped");
    EXPECT_GE(waited, 2900);
    EXPECT_LT(waited, 4000);
    // The session is dropped on the spot: the next call reconnects, and may meet the deadline again.
    TCADBPipe2 pipe;
    EXPECT_GT(pipe.GetData(kCtx, QStringLiteral("select pg_backend_pid() as pid")).integer(0, 0), 0) << "a new session answers";

    resume();
    w->ToolButton5->click();
    expectNoError("refresh once the process runs again");
    EXPECT_EQ(gridColumn(w->QELDBGrid1, 1), (QStringList{QStringLiteral("春季音乐节"), QStringLiteral("秋季戏剧节")}));
    EXPECT_NE(sessionPid(), pid);
}

TEST_F(PgSessionTest, AStatementOverTheUrlsTimeoutIsCancelledAndTheNextOneWorks)
{
    Database::open(withParam(db.url(), QStringLiteral("options=-c%20statement_timeout%3D200")));
    TCADBPipe2 pipe;
    EXPECT_EQ(setting(QStringLiteral("statement_timeout")), QStringLiteral("200ms"));
    EXPECT_EQ(setting(QStringLiteral("lock_timeout")), QStringLiteral("5s")) << "the other default stays";

    QElapsedTimer t;
    t.start();
    QString msg = thrownMessage([&] { pipe.GetData(kCtx, QStringLiteral("select pg_sleep(3) as s")); });
    EXPECT_TRUE(msg.startsWith(kTimedOut)) << msg.toStdString();
    EXPECT_LT(t.elapsed(), 2500) << "cancelled, not waited out";
    EXPECT_EQ(pipe.GetData(kCtx, QStringLiteral("select 1 as one")).integer(0, 0), 1);

    // Inside a transaction: all of it goes, and the session is usable after the rollback.
    {
        PipeTransaction tx(pipe);
        EXPECT_EQ(pipe.ExecSQL(kCtx, QStringLiteral("insert into QEL_PROJECT (CNAME) values ('夏季舞蹈节')")), 1);
        msg = thrownMessage([&] { pipe.GetData(kCtx, QStringLiteral("select pg_sleep(3) as s")); });
        EXPECT_TRUE(msg.startsWith(kTimedOut)) << msg.toStdString();
    }
    EXPECT_FALSE(Database::connection()->inTransaction());
    EXPECT_FALSE(names().contains(QStringLiteral("夏季舞蹈节")));
    createProject(QStringLiteral("夏季舞蹈节"));
    EXPECT_TRUE(names().contains(QStringLiteral("夏季舞蹈节")));
}

TEST_F(PgSessionTest, TimeoutsDefaultUnlessTheDatabaseSetsThemAndHoldAfterAReconnect)
{
    EXPECT_EQ(setting(QStringLiteral("lock_timeout")), QStringLiteral("5s"));
    EXPECT_EQ(setting(QStringLiteral("statement_timeout")), QStringLiteral("2min"));
    cutSession();
    EXPECT_THROW(setting(QStringLiteral("lock_timeout")), EConnectionLost);
    EXPECT_EQ(setting(QStringLiteral("lock_timeout")), QStringLiteral("5s"));
    EXPECT_EQ(setting(QStringLiteral("statement_timeout")), QStringLiteral("2min"));

    // Nor does a 0 in the URL's options turn them off.
    Database::open(withParam(db.url(), QStringLiteral("options=-c%20lock_timeout%3D0%20-c%20statement_timeout%3D0")));
    EXPECT_EQ(setting(QStringLiteral("lock_timeout")), QStringLiteral("5s"));
    EXPECT_EQ(setting(QStringLiteral("statement_timeout")), QStringLiteral("2min"));

    // What the database's owner chose is kept.
    db.exec(QStringLiteral("ALTER DATABASE %1 SET statement_timeout = '45s'").arg(db.databaseName()));
    Database::open(db.url());
    EXPECT_EQ(setting(QStringLiteral("statement_timeout")), QStringLiteral("45s"));
    EXPECT_EQ(setting(QStringLiteral("lock_timeout")), QStringLiteral("5s"));
}

// The descriptor of this process's TCP socket whose local port is port; -1 if none.
int socketOnLocalPort(int port)
{
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : fds) {
        const int fd = name.toInt();
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            continue;
        int local = -1;
        if (a.ss_family == AF_INET)
            local = ntohs(reinterpret_cast<sockaddr_in *>(&a)->sin_port);
        else if (a.ss_family == AF_INET6)
            local = ntohs(reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port);
        if (local == port)
            return fd;
    }
    return -1;
}

int intOption(int fd, int level, int name)
{
    int v = -1;
    socklen_t len = sizeof v;
    if (getsockopt(fd, level, name, &v, &len) != 0)
        return -2;
    return v;
}

struct SocketLimits {
    int keepalive, idle, interval, count, userTimeout;
    bool operator==(const SocketLimits &) const = default;
};
void PrintTo(const SocketLimits &s, std::ostream *os)
{
    *os << "keepalive " << s.keepalive << ", idle " << s.idle << " s, interval " << s.interval << " s, count " << s.count << ", user timeout "
        << s.userTimeout << " ms";
}

// The limits on the socket of the desk's own session, as the kernel has them.
SocketLimits deskSocket()
{
    TCADBPipe2 pipe;
    const DataPacket p = pipe.GetData(kCtx, QStringLiteral("select inet_client_port() as port"));
    if (p.isNull(0, 0))
        return {-1, -1, -1, -1, -1};
    const int fd = socketOnLocalPort(int(p.integer(0, 0)));
    if (fd < 0)
        return {-3, -3, -3, -3, -3};
    return {intOption(fd, SOL_SOCKET, SO_KEEPALIVE), intOption(fd, IPPROTO_TCP, TCP_KEEPIDLE), intOption(fd, IPPROTO_TCP, TCP_KEEPINTVL),
            intOption(fd, IPPROTO_TCP, TCP_KEEPCNT), intOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT)};
}

TEST_F(PgSessionTest, TheSessionSocketCarriesKeepalivesAndAUserTimeoutAlsoAfterAReconnect)
{
    {
        TCADBPipe2 pipe;
        if (pipe.GetData(kCtx, QStringLiteral("select inet_client_port() as port")).isNull(0, 0))
            GTEST_SKIP() << "connected through a Unix socket: no TCP settings to check";
    }
    const SocketLimits ours{1, 30, 10, 3, 60000};
    EXPECT_EQ(deskSocket(), ours);
    cutSession();
    EXPECT_THROW(sessionPid(), EConnectionLost);
    EXPECT_EQ(deskSocket(), ours) << "after the reconnect";

    Database::open(withParam(db.url(), QStringLiteral("keepalives_idle=77&tcp_user_timeout=90000")));
    EXPECT_EQ(deskSocket(), (SocketLimits{1, 77, 10, 3, 90000})) << "the URL's values win";
}

// ---- a server that accepts the connection and never answers ---------------------------

// Listens on loopback; the kernel completes every connection, nobody ever answers.
class SilentServer {
public:
    SilentServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(m_fd, 8) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
    }
    ~SilentServer() { close(); }
    int port() const { return m_port; }
    // A client that connected meanwhile, taken off the queue; false if none did.
    bool acceptOne()
    {
        if (m_fd < 0)
            return false;
        const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (c < 0)
            return false;
        ::close(c);
        return true;
    }
    // Resets the connections still queued, which wakes a client waiting on one.
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

struct ConnectResult {
    bool returned = false;
    QString message;
    qint64 ms = 0;
};

// Database::connect(url) on a thread of its own, so a hang fails the test
// instead of stalling it: after limitMs the server is closed under it.
ConnectResult connectWithin(SilentServer &server, const QString &url, int limitMs)
{
    QElapsedTimer t;
    t.start();
    auto attempt = std::async(std::launch::async, [url]() -> QString {
        try {
            Database::connect(url);
            return QStringLiteral("(connected)");
        } catch (const EHostError &e) {
            return e.message();
        }
    });
    ConnectResult r;
    r.returned = attempt.wait_for(std::chrono::milliseconds(limitMs)) == std::future_status::ready;
    if (!r.returned)
        server.close();
    r.message = attempt.get();
    r.ms = t.elapsed();
    return r;
}

TEST(SilentServer, ConnectingGivesUpAfterTheDefaultTimeoutWithAClearMessage)
{
    SilentServer server;
    ASSERT_GT(server.port(), 0);
    const ConnectResult r = connectWithin(server, QStringLiteral("postgresql://qel@127.0.0.1:%1/qel").arg(server.port()), 40000);
    ASSERT_TRUE(r.returned) << "still connecting after 40 s";
    EXPECT_TRUE(r.message.startsWith(QStringLiteral("无法连接数据库服务器：服务器在 10 秒内没有应答"))) << r.message.toStdString();
    EXPECT_GE(r.ms, 8000);
    EXPECT_LT(r.ms, 30000);
    EXPECT_TRUE(server.acceptOne()) << "the client never reached the server";
}

TEST(SilentServer, TheUrlsConnectTimeoutWins)
{
    // Also when it comes from the service a keyword=value address names.
    QTemporaryDir dir;
    QFile services(dir.filePath(QStringLiteral("services")));
    ASSERT_TRUE(services.open(QIODevice::WriteOnly));
    services.write("[silent]\nhost=127.0.0.1\ndbname=qel\nuser=qel\nconnect_timeout=2\n");
    services.close();
    ScopedEnv env;
    env.set("PGSERVICEFILE", services.fileName());
    for (const char *address : {"postgresql://qel@127.0.0.1:%1/qel?connect_timeout=2", "service=silent port=%1"}) {
        SilentServer server;
        ASSERT_GT(server.port(), 0);
        const ConnectResult r = connectWithin(server, QString::fromLatin1(address).arg(server.port()), 40000);
        ASSERT_TRUE(r.returned) << "still connecting after 40 s";
        EXPECT_TRUE(r.message.startsWith(QStringLiteral("无法连接数据库服务器：服务器在 2 秒内没有应答"))) << r.message.toStdString();
        EXPECT_GE(r.ms, 900);
        EXPECT_LT(r.ms, 8000);
        EXPECT_TRUE(server.acceptOne()) << "the client never reached the server";
    }
}

} // namespace
