// The edges of a real desk: an embedded file left half made by a failed first
// start, a database path that is empty, names no file or a missing one, a
// backup taken while a desk writes, a file on read-only media, an operator whose
// name the database cannot take, a name filter that must find the same rows on
// both engines, numbers the file holds in the wrong storage class, and the host
// program itself without a display or with a window that takes no context.
#include "Context.h"
#include "DBGrid.h"
#include "Database.h"
#include "Errors.h"
#include "GuiTest.h"
#include "HostError.h"
#include "Pipe.h"
#include "ProjectWindow.h"
#include "Schema.h"
#include "SqliteBackend.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "uCDHistory.h"
#include "uCDProductProject.h"
#include "uCDProject.h"
#include "uUIProject.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

const QString kCtx = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")});

QString binDir()
{
    return QCoreApplication::applicationDirPath();
}

struct ClientRun {
    int exitCode = -1;
    bool finished = false;
    QString err;
};

// qelclient as an operator starts it; env entries set ("K=V") or drop ("K").
ClientRun runClient(const QStringList &args, const QStringList &env = {})
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString &kv : env) {
        const qsizetype eq = kv.indexOf(QLatin1Char('='));
        if (eq < 0)
            e.remove(kv);
        else
            e.insert(kv.left(eq), kv.mid(eq + 1));
    }
    p.setProcessEnvironment(e);
    p.start(binDir() + QStringLiteral("/qelclient"), args);
    ClientRun r;
    r.finished = p.waitForFinished(120000);
    if (!r.finished)
        p.kill();
    r.exitCode = p.exitCode();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QStringList tables(Backend &db)
{
    QStringList out;
    const DataPacket p = db.query("SELECT lower(name) FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!' ORDER BY 1");
    for (int r = 0; r < p.rowCount(); ++r)
        out << p.text(r, 0);
    return out;
}

qint64 scalarInt(Backend &db, const char *sql)
{
    const DataPacket p = db.query(sql);
    return p.rowCount() ? p.integer(0, 0) : -1;
}

// ---- the embedded file: decided by what it holds ------------------------------------

class EmbeddedFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }

    // The module's tables, and the demo data in them.
    void expectComplete(const QString &file)
    {
        SqliteBackend db(file);
        QStringList want = SchemaTables(QStringLiteral("sqlite"));
        want.sort();
        EXPECT_EQ(tables(db), want);
        EXPECT_GT(scalarInt(db, "select count(*) from QEL_PROJECT"), 5);
        EXPECT_GT(scalarInt(db, "select count(*) from QEL_PRODUCT"), 50);
        EXPECT_EQ(db.query("PRAGMA integrity_check").text(0, 0), QStringLiteral("ok"));
    }
};

TEST_F(EmbeddedFileTest, EmptyFilesLeftByAFailedFirstStartAreCompleted)
{
    // A zero-byte file, and the one page a first start writes before its
    // schema transaction (journal mode set, nothing else).
    const QString zero = path(QStringLiteral("zero.db"));
    const QString page = path(QStringLiteral("page.db"));
    {
        QFile f(zero);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    {
        SqliteBackend db(page);
        db.exec("PRAGMA user_version = 0");
    }
    ASSERT_EQ(QFileInfo(zero).size(), 0);
    ASSERT_GT(QFileInfo(page).size(), 0);
    for (const QString &file : {zero, page}) {
        SCOPED_TRACE(file.toStdString());
        {
            SqliteBackend db(file);
            PrepareSqliteDatabase(db);
        }
        expectComplete(file);
        // A second start leaves what is there alone.
        SqliteBackend db(file);
        db.exec("delete from QEL_PROJECT_PRODUCT");
        PrepareSqliteDatabase(db);
        EXPECT_EQ(scalarInt(db, "select count(*) from QEL_PROJECT_PRODUCT"), 0);
    }
}

TEST_F(EmbeddedFileTest, AFailedFirstStartLeavesNoTablesAndTheNextStartCompletesIt)
{
    // The disk fills up half-way through the demo data (the connection may
    // grow the file to a few pages only): schema and data go in one
    // transaction, so nothing of either may stay behind.
    const QString file = path(QStringLiteral("half.db"));
    {
        SqliteBackend db(file);
        db.exec("PRAGMA max_page_count = 40");
        const QString msg = thrownMessage([&] { PrepareSqliteDatabase(db); });
        EXPECT_TRUE(msg.startsWith(QStringLiteral("磁盘已满"))) << msg.toStdString();
        EXPECT_EQ(tables(db), QStringList()) << "nothing of the failed start is left";
    }
    {
        SqliteBackend db(file);
        EXPECT_EQ(tables(db), QStringList());
        PrepareSqliteDatabase(db);
    }
    expectComplete(file);
}

TEST_F(EmbeddedFileTest, AFileWithOtherTablesIsRefusedAndLeftAlone)
{
    const QString file = path(QStringLiteral("other.db"));
    {
        SqliteBackend db(file);
        db.execScript("CREATE TABLE accounts (id integer, owner text); INSERT INTO accounts VALUES (1, '张三');");
    }
    {
        SqliteBackend db(file);
        const QString msg = thrownMessage([&] { PrepareSqliteDatabase(db); });
        EXPECT_TRUE(chineseFirst(msg)) << msg.toStdString();
        EXPECT_TRUE(msg.contains(QStringLiteral("其他数据表"))) << msg.toStdString();
        EXPECT_TRUE(msg.contains(QStringLiteral("qel_project"))) << msg.toStdString();
        EXPECT_EQ(tables(db), QStringList{QStringLiteral("accounts")});
        EXPECT_EQ(scalarInt(db, "select count(*) from accounts"), 1);
    }
    // The host program says so too, and starts no window.
    const ClientRun r = runClient({QStringLiteral("--database"), QStringLiteral("sqlite:") + file, QStringLiteral("--screenshot"), path(QStringLiteral("shots"))},
                            {QStringLiteral("QT_QPA_PLATFORM=offscreen")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("其他数据表"))) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("shots/main-projects.png"))));
}

TEST_F(EmbeddedFileTest, AFileThatIsNoDatabaseIsNamedAsSuch)
{
    const QString file = path(QStringLiteral("notes.db"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
    }
    SqliteBackend db(file);
    const QString msg = thrownMessage([&] { PrepareSqliteDatabase(db); });
    EXPECT_TRUE(msg.startsWith(QStringLiteral("文件“"))) << msg.toStdString();
    EXPECT_TRUE(msg.contains(QStringLiteral("不是本系统的数据库文件"))) << msg.toStdString();
    EXPECT_EQ(QFileInfo(file).size(), 8192) << "the file is not touched";
}

// ---- the host program ------------------------------------------------------------

TEST_F(EmbeddedFileTest, TheClientCompletesAnEmptyFileAndShootsWithoutADisplay)
{
    // No display and no platform asked for: the screenshot run must still work.
    const QString file = path(QStringLiteral("client.db"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString shots = path(QStringLiteral("shots"));
    const QStringList noDisplay = {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY")};
    // Completed only when asked: an empty file may be a share that is not mounted.
    const ClientRun unasked = runClient({QStringLiteral("--database"), QStringLiteral("sqlite:") + file, QStringLiteral("--screenshot"), shots}, noDisplay);
    ASSERT_TRUE(unasked.finished);
    EXPECT_EQ(unasked.exitCode, 1);
    EXPECT_TRUE(unasked.err.contains(file) && unasked.err.contains(QStringLiteral("--demo"))) << unasked.err.toStdString();
    EXPECT_EQ(tables(*std::make_unique<SqliteBackend>(file)), QStringList());
    const ClientRun r = runClient({QStringLiteral("--database"), QStringLiteral("sqlite:") + file, QStringLiteral("--demo"), QStringLiteral("--screenshot"), shots},
                            noDisplay);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    for (const char *png : {"main-projects.png", "main-limits.png", "project-dialog.png", "limit-dialog.png", "performances.png", "search-dialog.png"})
        EXPECT_GT(QFileInfo(QDir(shots).filePath(QString::fromLatin1(png))).size(), 1000) << png;
    expectComplete(file);
}

TEST_F(EmbeddedFileTest, TheClientMakesANewFileOnlyWhenAskedAndNeverAddsDemoDataToProjects)
{
    const auto start = [&](const QString &file, const QString &flag) {
        return runClient({QStringLiteral("--database"), QStringLiteral("sqlite:") + file, flag, QStringLiteral("--screenshot"), path(QStringLiteral("shots"))},
                         {QStringLiteral("QT_QPA_PLATFORM=offscreen")});
    };
    const QString bare = path(QStringLiteral("bare.db")), demo = path(QStringLiteral("demo.db"));
    ClientRun r = start(bare, QStringLiteral("--create"));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    {
        SqliteBackend db(bare);
        QStringList want = SchemaTables(QStringLiteral("sqlite"));
        want.sort();
        EXPECT_EQ(tables(db), want);
        EXPECT_EQ(scalarInt(db, "select count(*) from QEL_PROJECT"), 0);
    }
    r = start(demo, QStringLiteral("--demo"));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    expectComplete(demo);
    const qint64 projects = scalarInt(*std::make_unique<SqliteBackend>(demo), "select count(*) from QEL_PROJECT");
    r = start(demo, QStringLiteral("--demo"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(scalarInt(*std::make_unique<SqliteBackend>(demo), "select count(*) from QEL_PROJECT"), projects);
    // A file with the schema and no project yet takes them.
    r = start(bare, QStringLiteral("--demo"));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    expectComplete(bare);
}

TEST_F(EmbeddedFileTest, ABackupHoldsTheSavesStillInTheWalAndAFailedOneLeavesTheOlderCopy)
{
    const QString file = path(QStringLiteral("box.db")), folder = path(QStringLiteral("backups"));
    const QString copy = folder + QStringLiteral("/box-copy.db");
    ASSERT_TRUE(QDir().mkpath(folder));
    PrepareSqliteDatabase(*std::make_unique<SqliteBackend>(file));
    // A desk keeps the file open; its save stays in the WAL.
    SqliteBackend desk(file);
    desk.exec("PRAGMA wal_autocheckpoint = 0");
    desk.exec("insert into QEL_PROJECT (CNAME) values ('备份前刚保存的项目')");
    ASSERT_GT(QFileInfo(file + QStringLiteral("-wal")).size(), 0);
    const QStringList noDisplay = {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY")};
    ClientRun r = runClient({QStringLiteral("--database"), QStringLiteral("sqlite:") + file, QStringLiteral("--backup"), copy}, noDisplay);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto folderHolds = [&] { return QDir(folder).entryList(QDir::Files | QDir::Hidden); };
    {
        SqliteBackend c(copy);
        EXPECT_EQ(c.query("PRAGMA integrity_check").text(0, 0), QStringLiteral("ok"));
        EXPECT_EQ(scalarInt(c, "select count(*) from QEL_PROJECT where CNAME = '备份前刚保存的项目'"), 1);
    }
    const auto bytes = [](const QString &name) {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray older = bytes(copy);
    const QString notes = path(QStringLiteral("notes.db")), gone = path(QStringLiteral("gone.db"));
    {
        QFile f(notes);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
    }
    const struct {
        QString source, copy, says;
    } bad[] = {{notes, copy, QStringLiteral("不是 SQLite 数据库文件")}, {gone, copy, QStringLiteral("不存在")}, {file, file + QStringLiteral("-wal"), QStringLiteral("-wal")}};
    for (const auto &b : bad) {
        SCOPED_TRACE(b.source.toStdString());
        r = runClient({QStringLiteral("--database"), QStringLiteral("sqlite:") + b.source, QStringLiteral("--backup"), b.copy}, noDisplay);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(b.says)) << r.err.toStdString();
    }
    // A folder that fills up half-way through the copy (a tmpfs of 128 KiB, where this process may mount).
    const QString small = path(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(small));
    if (mount("tmpfs", small.toUtf8().constData(), "tmpfs", 0, "size=128k") == 0) {
        const auto unmount = qScopeGuard([&] { umount(small.toUtf8().constData()); });
        QFile f(small + QStringLiteral("/box-copy.db"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(older.left(4096)) == 4096);
        f.close();
        r = runClient({QStringLiteral("--database"), QStringLiteral("sqlite:") + file, QStringLiteral("--backup"), f.fileName()}, noDisplay);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(QStringLiteral("磁盘已满"))) << r.err.toStdString();
        EXPECT_EQ(QDir(small).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("box-copy.db")});
        EXPECT_EQ(bytes(f.fileName()), older.left(4096));
    }
    EXPECT_EQ(bytes(copy), older);
    EXPECT_EQ(folderHolds(), QStringList{QStringLiteral("box-copy.db")}) << "no temporary file left";
    EXPECT_FALSE(QFileInfo::exists(gone));
    EXPECT_EQ(scalarInt(desk, "select count(*) from QEL_PROJECT where CNAME = '备份前刚保存的项目'"), 1);
    if (TestDatabase::postgresSelected()) {
        r = runClient({QStringLiteral("--backup"), path(QStringLiteral("pg.dump"))}, noDisplay);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(QStringLiteral("pg_dump"))) << r.err.toStdString();
    }
}

TEST(ClientStartTest, AnEmptySqlitePathIsRefusedOnEveryRoad)
{
    for (const QString &url : {QStringLiteral("sqlite:"), QStringLiteral("sqlite:  ")}) {
        const QString msg = thrownMessage([&] { Database::connect(url); });
        EXPECT_TRUE(chineseFirst(msg)) << msg.toStdString();
        EXPECT_TRUE(msg.contains(QStringLiteral("没有文件路径"))) << msg.toStdString();
    }
    QTemporaryDir dir;
    const QString shots = dir.filePath(QStringLiteral("shots"));
    const QString typo = dir.filePath(QStringLiteral("typo.db"));
    // Names SQLite answers with a database lost at exit, a folder, and a file
    // that is not there: each is refused, naming it, and nothing is made.
    const struct {
        QString path, says;
    } cases[] = {{QString(), QStringLiteral("没有文件路径")},
                 {QStringLiteral(":memory:"), QStringLiteral("“:memory:”")},
                 {QStringLiteral("file:") + typo + QStringLiteral("?mode=memory"), typo},
                 {dir.path(), QStringLiteral("文件夹")},
                 {typo, QStringLiteral("“") + typo + QStringLiteral("”不存在")}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const QString url = QStringLiteral("sqlite:") + c.path;
        const ClientRun byOption = runClient({QStringLiteral("--database"), url, QStringLiteral("--screenshot"), shots}, {QStringLiteral("QT_QPA_PLATFORM=offscreen")});
        const ClientRun byEnv = runClient({QStringLiteral("--screenshot"), shots}, {QStringLiteral("QT_QPA_PLATFORM=offscreen"), QStringLiteral("QEL_DATABASE=") + url});
        for (const ClientRun &r : {byOption, byEnv}) {
            ASSERT_TRUE(r.finished);
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList()) << "nothing was made";
}

TEST(ClientStartTest, AWindowWithoutSetContextIsRefusedLoudly)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("c.db"));
    const ClientRun r = runClient({QStringLiteral("--database"), QStringLiteral("sqlite:") + file, QStringLiteral("--create"), QStringLiteral("--package"),
                             binDir() + QStringLiteral("/libqelnocontextpackage.so"), QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("s"))},
                            {QStringLiteral("QT_QPA_PLATFORM=offscreen")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("SetContext"))) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("s/main-projects.png"))));
}

TEST(ClientStartTest, AnOperatorTheDatabaseCannotTakeIsRefusedBeforeAnyWindow)
{
    QTemporaryDir dir;
    const ClientRun r = runClient({QStringLiteral("--database"), QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("c.db")), QStringLiteral("--operator"),
                             QStringLiteral("01,G01,张😀,A"), QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("s"))},
                            {QStringLiteral("QT_QPA_PLATFORM=offscreen")});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("“用户名”"))) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("c.db")))) << "nothing opened";
}

// ---- read-only media -------------------------------------------------------------

// A database (WAL, no -shm beside it) in a folder this desk may only read.
class ReadOnlyMediaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TestDatabase::postgresSelected())
            GTEST_SKIP() << "SQLite only";
        folder = dir.filePath(QStringLiteral("media"));
        ASSERT_TRUE(QDir().mkpath(folder));
        file = folder + QStringLiteral("/box.db");
        SqliteBackend db(file);
        PrepareSqliteDatabase(db);
        db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }

    // Runs check with the folder as read-only media: a read-only tmpfs mount
    // when this process may mount, else a folder and file without write
    // permission that root obeys too.
    template <class F>
    void onReadOnlyMedia(F check)
    {
        // The connection that made the file is closed: no -wal or -shm is left.
        ASSERT_FALSE(QFileInfo::exists(file + QStringLiteral("-shm")));
        if (geteuid() == 0 && mountReadOnlyCopy()) {
            const auto unmount = qScopeGuard([&] { umount(mountPoint.toUtf8().constData()); });
            SCOPED_TRACE("read-only mount");
            check(mountPoint + QStringLiteral("/box.db"));
        }
        QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        });
        FilePermissionsEnforced enforced;
        if (!enforced.active())
            return;
        SCOPED_TRACE("folder without write permission");
        check(file);
    }

    bool mountReadOnlyCopy()
    {
        mountPoint = dir.filePath(QStringLiteral("mnt"));
        QDir().mkpath(mountPoint);
        const QByteArray mp = mountPoint.toUtf8();
        if (mount("tmpfs", mp.constData(), "tmpfs", 0, "size=64m") != 0)
            return false;
        if (!QFile::copy(file, mountPoint + QStringLiteral("/box.db")) || mount(nullptr, mp.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            umount(mp.constData());
            return false;
        }
        return true;
    }

    QTemporaryDir dir;
    QString folder, file, mountPoint;
};

TEST_F(ReadOnlyMediaTest, ListsAndSearchesWorkAndEveryWriteIsRefusedAsReadOnly)
{
    int checked = 0;
    onReadOnlyMedia([&](const QString &path) {
        ++checked;
        Database::open(QStringLiteral("sqlite:") + path);
        const auto close = qScopeGuard([] { Database::close(); });
        TCDProject m;
        m.Context = kCtx;
        m.GetProject(QString());
        EXPECT_GT(m.cdsProject->RecordCount(), 5);
        m.GetProjectmember(QString());
        EXPECT_GT(m.cdsprojectmember->RecordCount(), 0);
        const qint64 projects = m.cdsProject->RecordCount();
        const QString msg = thrownMessage([&] { m.InsertPro(QStringLiteral("只读介质上的项目"), 0, 0, 0); });
        EXPECT_TRUE(msg.startsWith(QStringLiteral("数据库是只读的"))) << msg.toStdString();
        m.GetProject(QString());
        EXPECT_EQ(m.cdsProject->RecordCount(), projects);
        // The second desk reading the same media meanwhile.
        SqliteBackend other(path);
        EXPECT_EQ(scalarInt(other, "select count(*) from QEL_PROJECT"), projects);
    });
    EXPECT_GT(checked, 0) << "no way to make read-only media here";
    // Nothing was written to the file itself.
    SqliteBackend db(file);
    EXPECT_EQ(db.query("PRAGMA integrity_check").text(0, 0), QStringLiteral("ok"));
    EXPECT_EQ(scalarInt(db, "select count(*) from QEL_PROJECT where CNAME = '只读介质上的项目'"), 0);
}

TEST_F(ReadOnlyMediaTest, AFileMadeBeforeTheHistoryOpensAsItStandsAndSaysItHasNoHistory)
{
    {
        // The file as an earlier version left it: no history table, no triggers.
        SqliteBackend db(file);
        const DataPacket triggers = db.query("select name from sqlite_master where type = 'trigger' and name like '%HISTORY%'");
        ASSERT_GT(triggers.rowCount(), 0);
        for (int r = 0; r < triggers.rowCount(); ++r)
            db.exec("DROP TRIGGER " + triggers.text(r, 0).toUtf8());
        db.exec("DROP TABLE QEL_PROJECT_HISTORY");
        db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    int checked = 0;
    onReadOnlyMedia([&](const QString &path) {
        ++checked;
        Database::open(QStringLiteral("sqlite:") + path);
        const auto close = qScopeGuard([] { Database::close(); });
        EXPECT_TRUE(Database::connection()->readOnly());
        // What the client does on start: nothing to write, nothing refused.
        PrepareSqliteDatabase(*Database::connection());
        TCDProject m;
        m.Context = kCtx;
        m.GetProject(QString());
        EXPECT_GT(m.cdsProject->RecordCount(), 5);
        TCDHistory h;
        h.Context = kCtx;
        const QString msg = thrownMessage([&] { h.GetHistory(THistoryFilter()); });
        EXPECT_TRUE(msg.startsWith(QStringLiteral("这个数据库还没有修改历史"))) << msg.toStdString();
    });
    EXPECT_GT(checked, 0) << "no way to make read-only media here";
    SqliteBackend db(file);
    EXPECT_EQ(scalarInt(db, "select count(*) from sqlite_master where name = 'QEL_PROJECT_HISTORY'"), 0) << "the file was not changed";
}

// ---- numbers read exactly -----------------------------------------------------------

TEST(ExactNumbersTest, AnIntegerColumnNeverReadsAPrefixOrAFraction)
{
    TestDatabase db;
    if (db.isPostgres())
        GTEST_SKIP() << "only SQLite keeps a value of another type in an integer column";
    TCDProject m;
    m.Context = kCtx;
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) values ('整数', 3.0, ' 7 ', '8')"));
    m.GetProject(QString());
    ASSERT_EQ(m.cdsProject->RecordCount(), 1);
    EXPECT_EQ(m.cdsProject->FieldByName(QStringLiteral("CROSSDISCOUNT")).AsInteger(), 3);
    EXPECT_EQ(m.cdsProject->FieldByName(QStringLiteral("CROSTNUM")).AsInteger(), 7);
    EXPECT_EQ(m.cdsProject->FieldByName(QStringLiteral("CROSSPNUM")).AsInteger(), 8);

    const struct {
        const char *value;
        const char *shown;
    } bad[] = {{"1e19", "1e+19"}, {"2.5", "2.5"}, {"'12abc'", "12abc"}, {"'abc'", "abc"}, {"-9.3e18", "-9.3e+18"}};
    for (const auto &b : bad) {
        SCOPED_TRACE(b.value);
        db.exec(QStringLiteral("update QEL_PROJECT set CROSSDISCOUNT = %1").arg(QString::fromLatin1(b.value)));
        const QString msg = thrownMessage([&] { m.GetProject(QString()); });
        EXPECT_TRUE(chineseFirst(msg)) << msg.toStdString();
        EXPECT_TRUE(msg.contains(QStringLiteral("CROSSDISCOUNT"))) << msg.toStdString();
    }
}

// ---- the operator's context ------------------------------------------------------------

TEST(OperatorContextTest, AFieldTheDatabaseCannotTakeIsNamedOnceAndNothingIsSent)
{
    TestDatabase db;
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('春季音乐节')"));
    const struct {
        int field;
        const char *name;
    } cases[] = {{0, "“节点编号”"}, {1, "“操作员组”"}, {2, "“用户名”"}, {3, "“操作员类别”"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QStringList fields = {QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")};
        fields[c.field] += QStringLiteral("😀");
        const QString ctx = TQELContext::Compose(fields);
        EXPECT_TRUE(thrownMessage([&] { TQELContext::Check(ctx); }).contains(QString::fromUtf8(c.name)));

        testPresenter().clear();
        StatementRecorder rec;
        TFrmProject *w = openProjectWindow(ctx);
        const auto dispose = qScopeGuard([&] { delete w; });
        ASSERT_EQ(testPresenter().count(), 1) << testPresenter().texts().join(QStringLiteral(" | ")).toStdString();
        const QString msg = testPresenter().last().text;
        EXPECT_TRUE(chineseFirst(msg)) << msg.toStdString();
        EXPECT_TRUE(msg.contains(QString::fromUtf8(c.name))) << msg.toStdString();
        EXPECT_TRUE(msg.contains(QStringLiteral("U+1F600"))) << msg.toStdString();
        EXPECT_FALSE(msg.contains(QStringLiteral("保存"))) << "nothing was being saved: " << msg.toStdString();
        // Commands stay off; the filter boxes' searches do nothing.
        for (const char *b : {"ToolButton1", "ToolButton2", "ToolButton4", "ToolButton5", "ToolButton7"})
            EXPECT_FALSE(w->findChild<QToolButton *>(QString::fromLatin1(b))->isEnabled()) << b;
        w->BtnSearch->click();
        EXPECT_EQ(rec.count(), 0) << rec.statements().join(QStringLiteral("\n")).toStdString();
        EXPECT_EQ(testPresenter().count(), 1);
    }
    // A good context works as before.
    testPresenter().clear();
    TFrmProject *w = openProjectWindow(kCtx);
    const auto dispose = qScopeGuard([&] { delete w; });
    EXPECT_EQ(testPresenter().count(), 0);
    EXPECT_EQ(gridColumn(w->QELDBGrid1, 1), QStringList{QStringLiteral("春季音乐节")});
}

// ---- name filters answer alike on both engines -----------------------------------------------

TEST(NameFilterTest, LettersMatchExactlyAsTypedOnBothEngines)
{
    TestDatabase db;
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('ABC音乐季')"));
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('abc戏剧季')"));
    const QString abcUpper = db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = 'ABC音乐季'"));
    db.exec(QStringLiteral("insert into um_member_class values ('M1', 'Gold卡')"));
    db.exec(QStringLiteral("insert into qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) values (%1, 'M1', 4, '1', '1')")
                .arg(abcUpper));
    db.exec(QStringLiteral("insert into qel_place (PLACECODE, NODECODE, CNAME, CITYCODE) values ('P01', '01', '北京音乐厅', '010')"));
    db.exec(QStringLiteral("insert into QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, STATUS) "
                           "values ('K1', 'Opera之夜', '2026-12-24 19:30:00', 'C01', 'P01', '01', '1')"));
    db.exec(QStringLiteral("insert into QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) values (%1, 'K1')").arg(abcUpper));

    TCDProject m;
    m.Context = kCtx;
    const auto names = [&](const QString &filter) {
        m.GetProject(filter);
        QStringList out;
        for (m.cdsProject->First(); !m.cdsProject->Eof(); m.cdsProject->Next())
            out << m.cdsProject->FieldByName(QStringLiteral("CNAME")).AsString();
        out.sort();
        return out;
    };
    EXPECT_EQ(names(QStringLiteral("abc")), QStringList{QStringLiteral("abc戏剧季")});
    EXPECT_EQ(names(QStringLiteral("ABC")), QStringList{QStringLiteral("ABC音乐季")});
    EXPECT_EQ(names(QStringLiteral("Abc")), QStringList());
    EXPECT_EQ(names(QStringLiteral("季")), (QStringList{QStringLiteral("ABC音乐季"), QStringLiteral("abc戏剧季")}));

    m.GetProjectmember(QStringLiteral("abc"));
    EXPECT_EQ(m.cdsprojectmember->RecordCount(), 0);
    m.GetProjectmember(QStringLiteral("ABC"));
    EXPECT_EQ(m.cdsprojectmember->RecordCount(), 1);

    TcdProductProject p;
    p.Context = kCtx;
    p.ProjectID = abcUpper;
    p.GetProductProject(QStringLiteral("opera"));
    EXPECT_EQ(p.cdsProductProject->RecordCount(), 0);
    p.GetProductProject(QStringLiteral("Opera"));
    EXPECT_EQ(p.cdsProductProject->RecordCount(), 1);
}

} // namespace
