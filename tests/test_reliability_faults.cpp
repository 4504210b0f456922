// Faults in the middle of a session: the server session cut, the SQLite file
// locked by another desk or made read-only. Every command of both windows then
// shows a clear error, the window stays usable, and the next command works
// without a restart.
#include "Context.h"
#include "DBGrid.h"
#include "Database.h"
#include "GuiTest.h"
#include "Pipe.h"
#include "ProjectRows.h"
#include "ProjectWindow.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "Unitprojectinfo.h"
#include "uCDProductProject.h"
#include "uCDProject.h"
#include "uCDSearchproduct_pro.h"
#include "uUIProductProject.h"
#include "uUIProject.h"
#include "uUIProjectEdit.h"
#include "uUISearchProduct_pro.h"
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QString kCtx = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")});
const QString kLost = QStringLiteral("与数据库服务器的连接已断开");

// A grid column, sorted: the tests compare sets of rows.
QStringList column(const TQELDBGrid *g, int col)
{
    QStringList out = gridColumn(g, col);
    out.sort();
    return out;
}

// Picks the given performance in the open search dialog and confirms.
void pickAndConfirm(TUISearchProduct_pro *d, const QString &code)
{
    const TQELClientDataSet *ds = d->DataModule()->cdsProduct;
    clickRow(d->dgrd_Product, posOf(ds, QStringLiteral("PRODUCTCODE"), code), Qt::ControlModifier);
    QTest::mouseClick(d->btn_ProductActOk, Qt::LeftButton);
}

// Two projects, limits, a venue and performances: enough for every command.
class FaultTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        spring = addProject(db, QStringLiteral("春季音乐节"));
        autumn = addProject(db, QStringLiteral("秋季戏剧节"));
        db.exec(QStringLiteral("insert into um_member_class values ('M1', '金卡会员')"));
        db.exec(QStringLiteral("insert into um_member_class values ('M2', '银卡会员')"));
        db.exec(QStringLiteral("insert into qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) values (%1, 'M1', 4, '1', '1')")
                    .arg(spring));
        addVenueAndClass(db);
        const QStringList names = {QStringLiteral("梁祝"), QStringLiteral("茶花女"), QStringLiteral("天鹅湖"), QStringLiteral("雷雨")};
        for (int i = 0; i < names.size(); ++i)
            db.exec(QStringLiteral("insert into QEL_PRODUCT values ('K%1', '%2', '%3', 'C01', 'P01', '01', 'M', 'G01', 'PG', '5', 'admin', 'OG')")
                        .arg(i + 1)
                        .arg(names[i], QDate::currentDate().addDays(i + 2).toString(QStringLiteral("yyyy-MM-dd 19:30:00"))));
        db.exec(QStringLiteral("insert into QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) values (%1, 'K1')").arg(spring));
    }
    void TearDown() override
    {
        disposeWindow(win);
        delete CDProject.data();
    }

    TFrmProject *openMain()
    {
        auto *w = openProjectWindow(kCtx);
        win = w;
        return w;
    }
    int count(const QString &sql) { return db.count(sql); }

    TestDatabase db;
    QString spring, autumn;
    QPointer<TFrmProject> win;
};

// ---- the PostgreSQL server session goes away ---------------------------------------

class ServerLossTest : public FaultTest {
protected:
    void SetUp() override
    {
        if (!db.isPostgres())
            GTEST_SKIP() << "PostgreSQL only";
        FaultTest::SetUp();
    }
    // Ends the server session behind this process's shared connection, as a
    // restarted server or a dropped network would; the client learns of it on
    // its next statement.
    void cutSession()
    {
        TCADBPipe2 pipe;
        const qint64 pid = pipe.GetData(kCtx, QStringLiteral("select pg_backend_pid() as pid")).integer(0, 0);
        ASSERT_EQ(db.scalar(QStringLiteral("select pg_terminate_backend(%1, 5000)").arg(pid)), QStringLiteral("1"));
        ++cuts;
    }
    // Cuts the session, runs the command, expects the one lost-connection error.
    void lostOnce(const char *what, const std::function<void()> &command)
    {
        testPresenter().clear();
        cutSession();
        command();
        expectOneError(kLost, what);
    }
    int cuts = 0;
};

TEST_F(ServerLossTest, EveryCommandOfTheProjectWindowFailsClearlyAndTheNextWorks)
{
    TFrmProject *w = openMain();
    ASSERT_EQ(column(w->QELDBGrid1, 1).size(), 2);

    // Search and refresh: the list keeps its rows, the repeat loads.
    w->EdtProName->setText(QStringLiteral("春季"));
    lostOnce("search", [&] { w->BtnSearch->click(); });
    EXPECT_EQ(column(w->QELDBGrid1, 1).size(), 2);
    w->BtnSearch->click();
    expectNoError("search again");
    EXPECT_EQ(column(w->QELDBGrid1, 1), QStringList{QStringLiteral("春季音乐节")});
    w->EdtProName->clear();
    lostOnce("refresh", [&] { w->ToolButton5->click(); });
    w->ToolButton5->click();
    expectNoError("refresh again");
    EXPECT_EQ(column(w->QELDBGrid1, 1).size(), 2);

    // New: the server goes while the dialog is open; OK fails, the dialog
    // stays, and the second OK stores the project.
    bool stayedOpen = false;
    {
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            d->edtProjectName->setText(QStringLiteral("夏季舞蹈节"));
            cutSession();
            d->btnOK->click();
            stayedOpen = d->isVisible();
            expectOneError(kLost, "new project: name check", true);
            d->btnOK->click();
        });
        w->ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    EXPECT_TRUE(stayedOpen);
    expectNoError("new project stored");
    EXPECT_EQ(count(QStringLiteral("select count(*) from QEL_PROJECT where CNAME = '夏季舞蹈节'")), 1);
    EXPECT_EQ(column(w->QELDBGrid1, 1).size(), 3);

    // Edit, the same way.
    w->ToolButton5->click();
    ASSERT_TRUE(CDProject->cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("夏季舞蹈节")));
    {
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            d->edtProjectName->setText(QStringLiteral("夏季舞蹈节（加场）"));
            cutSession();
            d->btnOK->click();
            expectOneError(kLost, "edit project: name check", true);
            d->btnOK->click();
        });
        w->ToolButton2->click();
        ASSERT_TRUE(answer.seen());
    }
    expectNoError("edit stored");
    EXPECT_EQ(count(QStringLiteral("select count(*) from QEL_PROJECT where CNAME = '夏季舞蹈节（加场）'")), 1);

    // Delete: the transaction cannot begin; nothing goes; the repeat deletes.
    ASSERT_TRUE(CDProject->cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("夏季舞蹈节（加场）")));
    lostOnce("delete project", [&] { w->ToolButton4->click(); });
    EXPECT_EQ(count(QStringLiteral("select count(*) from QEL_PROJECT where CNAME = '夏季舞蹈节（加场）'")), 1);
    ASSERT_TRUE(CDProject->cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("夏季舞蹈节（加场）")));
    w->ToolButton4->click();
    expectNoError("delete again");
    EXPECT_EQ(count(QStringLiteral("select count(*) from QEL_PROJECT")), 2);

    // The limit tab: switching to it, searching, new, edit, delete.
    lostOnce("tab switch", [&] { clickTab(w->Pgproject, 1); });
    ASSERT_EQ(w->Pgproject->currentIndex(), 1);
    lostOnce("limit search", [&] { w->Button1->click(); });
    w->Button1->click();
    expectNoError("limit search again");
    EXPECT_EQ(column(w->QELDBGrid2, 0), QStringList{QStringLiteral("春季音乐节")});

    {
        ModalAnswer<TFormprojectinfo> none([](TFormprojectinfo *) {});
        lostOnce("new limit: pick lists", [&] { w->ToolButton1->click(); });
        EXPECT_FALSE(none.seen()) << "no dialog without its pick lists";
    }
    const auto fillNew = [&](TFormprojectinfo *d) {
        d->cbbproject->setCurrentIndex(d->cbbproject->findText(QStringLiteral("秋季戏剧节")));
        d->cbblimit_type->setCurrentIndex(0);
        d->cbbmemberclassname->setCurrentIndex(d->cbbmemberclassname->findText(QStringLiteral("银卡会员")));
        d->edtlimitcount->setText(QStringLiteral("5"));
    };
    {
        // Cut while the dialog is open: the checks after OK fail; nothing is written.
        ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
            fillNew(d);
            cutSession();
            d->btnok->click();
        });
        w->ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    expectOneError(kLost, "new limit: checks");
    EXPECT_EQ(count(QStringLiteral("select count(*) from qel_project_member_limit where PID = %1").arg(autumn)), 0);
    {
        ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
            fillNew(d);
            d->btnok->click();
        });
        w->ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    expectNoError("new limit stored");
    EXPECT_EQ(count(QStringLiteral("select MAX_NUM from qel_project_member_limit where PID = %1 and MEMBER_CLASS_ID = 'M2'").arg(autumn)), 5);

    ASSERT_TRUE(CDProject->cdsprojectmember->Locate(QStringLiteral("cname"), QStringLiteral("秋季戏剧节")));
    {
        ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
            d->edtlimitcount->setText(QStringLiteral("9"));
            cutSession();
            d->btnok->click();
        });
        w->ToolButton2->click();
        ASSERT_TRUE(answer.seen());
    }
    expectOneError(kLost, "edit limit: checks");
    EXPECT_EQ(count(QStringLiteral("select MAX_NUM from qel_project_member_limit where PID = %1").arg(autumn)), 5);
    ASSERT_TRUE(CDProject->cdsprojectmember->Locate(QStringLiteral("cname"), QStringLiteral("秋季戏剧节")));
    {
        ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
            d->edtlimitcount->setText(QStringLiteral("9"));
            d->btnok->click();
        });
        w->ToolButton2->click();
        ASSERT_TRUE(answer.seen());
    }
    expectNoError("edit limit stored");
    EXPECT_EQ(count(QStringLiteral("select MAX_NUM from qel_project_member_limit where PID = %1").arg(autumn)), 9);

    ASSERT_TRUE(CDProject->cdsprojectmember->Locate(QStringLiteral("cname"), QStringLiteral("秋季戏剧节")));
    lostOnce("delete limit", [&] { w->ToolButton4->click(); });
    EXPECT_EQ(count(QStringLiteral("select count(*) from qel_project_member_limit where PID = %1").arg(autumn)), 1);
    ASSERT_TRUE(CDProject->cdsprojectmember->Locate(QStringLiteral("cname"), QStringLiteral("秋季戏剧节")));
    w->ToolButton4->click();
    expectNoError("delete limit again");
    EXPECT_EQ(count(QStringLiteral("select count(*) from qel_project_member_limit where PID = %1").arg(autumn)), 0);

    // Performance management: the window opens with an error and an empty
    // list; its own search then loads the list.
    ASSERT_TRUE(CDProject->cdsprojectmember->Locate(QStringLiteral("cname"), QStringLiteral("春季音乐节")));
    QStringList firstList, secondList;
    {
        ModalAnswer<TFrmProductProject> answer([&](TFrmProductProject *p) {
            firstList = column(p->dgrproduct, 1);
            expectOneError(kLost, "performance window: first load", true);
            p->BtnSearch->click();
            secondList = column(p->dgrproduct, 1);
            p->ToolButton3->click();
        });
        cutSession();
        w->ToolButton7->click();
        ASSERT_TRUE(answer.seen());
    }
    EXPECT_TRUE(firstList.isEmpty());
    EXPECT_EQ(secondList, QStringList{QStringLiteral("K1")});
    expectNoError("performance window closed");
    EXPECT_TRUE(w->isVisible());
    EXPECT_GE(cuts, 12);
}

TEST_F(ServerLossTest, EveryCommandOfThePerformanceWindowFailsClearlyAndTheNextWorks)
{
    TFrmProductProject w;
    w.Context = kCtx;
    w.ProjectID = spring;
    w.show();
    ASSERT_EQ(column(w.dgrproduct, 1), QStringList{QStringLiteral("K1")});

    w.EdtProductName->setText(QStringLiteral("梁"));
    lostOnce("search", [&] { w.BtnSearch->click(); });
    EXPECT_EQ(column(w.dgrproduct, 1), QStringList{QStringLiteral("K1")}) << "the list keeps its rows";
    w.BtnSearch->click();
    expectNoError("search again");
    lostOnce("refresh", [&] { w.ToolButton4->click(); });
    w.ToolButton4->click();
    expectNoError("refresh again");

    // Add: refused before the search dialog opens.
    {
        ModalAnswer<TUISearchProduct_pro> none([](TUISearchProduct_pro *) {});
        lostOnce("add: project check", [&] { w.ToolButton1->click(); });
        EXPECT_FALSE(none.seen());
    }
    // Add: the server goes while the operator picks; nothing is added, the list reloads.
    {
        ModalAnswer<TUISearchProduct_pro> answer([&](TUISearchProduct_pro *d) {
            cutSession();
            pickAndConfirm(d, QStringLiteral("K2"));
        });
        w.ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    expectOneError(kLost, "add: duplicate test");
    EXPECT_EQ(assignedPerformances(db, spring), QStringList{QStringLiteral("K1")});
    EXPECT_TRUE(UISearchProduct_pro.isNull()) << "the search dialog is freed";
    {
        ModalAnswer<TUISearchProduct_pro> answer([&](TUISearchProduct_pro *d) { pickAndConfirm(d, QStringLiteral("K3")); });
        w.ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    expectNoError("add again");
    EXPECT_EQ(assignedPerformances(db, spring), QStringList({QStringLiteral("K1"), QStringLiteral("K3")}));

    // Delete.
    w.EdtProductName->clear();
    w.ToolButton4->click();
    clickRow(w.dgrproduct, posOf(cdProductProject->cdsProductProject, QStringLiteral("ProductCode"), QStringLiteral("K3")));
    lostOnce("delete", [&] { w.ToolButton2->click(); });
    EXPECT_EQ(assignedPerformances(db, spring).size(), 2);
    w.ToolButton2->click();
    expectNoError("delete again");
    EXPECT_EQ(assignedPerformances(db, spring), QStringList{QStringLiteral("K1")});
    EXPECT_TRUE(w.isVisible());
}

// ---- the PostgreSQL server stopped, then started again -----------------------------

// A server of the test's own (scripts/pg-cluster.sh), since the shared one
// serves the other tests. QEL_DATABASE points at it while it lives, so the
// TestDatabase declared after it is made there.
class OwnServer {
public:
    OwnServer()
    {
        if (!TestDatabase::postgresSelected() || !m_dir.isValid())
            return;
        // The server runs as postgres when the tests run as root.
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
        m_saved = qgetenv("QEL_DATABASE");
        m_started = true;
        if (run("start", &m_url) && !m_url.isEmpty())
            qputenv("QEL_DATABASE", m_url.toUtf8());
    }
    ~OwnServer()
    {
        if (!m_started)
            return;
        qputenv("QEL_DATABASE", m_saved);
        // Also after a failed start: a server still coming up must not outlive its folder.
        run("stop");
    }
    bool running() const { return !m_url.isEmpty(); }
    bool halt() { return m_halted = run("halt"); }
    bool resume()
    {
        if (m_halted && run("resume"))
            m_halted = false;
        return !m_halted;
    }

private:
    bool run(const char *command, QString *out = nullptr)
    {
        QProcess p;
        p.start(QStringLiteral("bash"), {QStringLiteral(QEL_SOURCE_DIR "/scripts/pg-cluster.sh"), QLatin1String(command), m_dir.filePath(QStringLiteral("pg"))});
        const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok)
            std::fprintf(stderr, "pg-cluster.sh %s: %s\n", command, p.readAllStandardError().constData());
        if (out)
            *out = ok ? QString::fromUtf8(p.readAllStandardOutput()).trimmed() : QString();
        return ok;
    }
    QTemporaryDir m_dir;
    QByteArray m_saved;
    QString m_url;
    bool m_started = false;
    bool m_halted = false;
};

class ServerStopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!TestDatabase::postgresSelected())
            GTEST_SKIP() << "PostgreSQL only";
        ASSERT_TRUE(server.running());
        ASSERT_TRUE(db.isPostgres());
        db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('春季音乐节')"));
        db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('秋季戏剧节')"));
    }
    void TearDown() override
    {
        disposeWindow(win);
        delete CDProject.data();
        // A failed step may have left the server halted; the database is dropped there.
        server.resume();
    }
    // One error box, Chinese first; the window still there and enabled.
    void expectOneClearError(const char *what, bool insideDialog = false)
    {
        EXPECT_EQ(testPresenter().count(MessageKind::Error), 1) << what << ": " << testPresenter().texts().join(QLatin1Char('|')).toStdString();
        for (const TestPresenter::Call &c : testPresenter().calls())
            if (c.kind == MessageKind::Error) {
                EXPECT_TRUE(c.text.startsWith(kLost) || c.text.startsWith(QStringLiteral("无法连接数据库服务器"))) << what << ": " << c.text.toStdString();
            }
        if (!insideDialog) {
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << what << ": a dialog was left open";
        }
        EXPECT_TRUE(win && win->isVisible() && win->isEnabled()) << what;
        testPresenter().clear();
    }
    int projects(const QString &name) { return db.count(QStringLiteral("select count(*) from QEL_PROJECT where CNAME = '%1'").arg(name)); }

    OwnServer server;
    TestDatabase db;
    QPointer<TFrmProject> win;
};

TEST_F(ServerStopTest, TheMainWindowOutlivesAStoppedServerAndWorksOnceItIsBack)
{
    auto *w = openProjectWindow(kCtx);
    win = w;
    ASSERT_EQ(column(w->QELDBGrid1, 1).size(), 2);
    testPresenter().clear();

    ASSERT_TRUE(server.halt());
    // The first command finds its session gone; the later ones cannot connect.
    w->BtnSearch->click();
    expectOneClearError("search");
    w->ToolButton5->click();
    expectOneClearError("refresh");
    EXPECT_EQ(column(w->QELDBGrid1, 1).size(), 2) << "the list keeps its rows";
    // New project: OK fails, the dialog stays open with the name typed.
    bool stayedOpen = false;
    {
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            d->edtProjectName->setText(QStringLiteral("夏季舞蹈节"));
            d->btnOK->click();
            stayedOpen = d->isVisible() && d->edtProjectName->text() == QStringLiteral("夏季舞蹈节");
            expectOneClearError("new project", true);
        });
        w->ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    EXPECT_TRUE(stayedOpen);
    ASSERT_TRUE(CDProject->cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("秋季戏剧节")));
    w->ToolButton4->click();
    expectOneClearError("delete project");
    clickTab(w->Pgproject, 1);
    expectOneClearError("tab switch");
    clickTab(w->Pgproject, 0);
    testPresenter().clear();

    // Back on the same address: the same window works, nothing was half-done.
    ASSERT_TRUE(server.resume());
    db.dropConnections();
    EXPECT_EQ(projects(QStringLiteral("夏季舞蹈节")), 0);
    EXPECT_EQ(projects(QStringLiteral("秋季戏剧节")), 1);
    w->ToolButton5->click();
    EXPECT_EQ(testPresenter().count(MessageKind::Error), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(column(w->QELDBGrid1, 1), QStringList({QStringLiteral("春季音乐节"), QStringLiteral("秋季戏剧节")}));
    {
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            d->edtProjectName->setText(QStringLiteral("夏季舞蹈节"));
            d->btnOK->click();
        });
        w->ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    ASSERT_TRUE(CDProject->cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("秋季戏剧节")));
    w->ToolButton4->click();
    EXPECT_EQ(testPresenter().count(MessageKind::Error), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(projects(QStringLiteral("夏季舞蹈节")), 1);
    EXPECT_EQ(projects(QStringLiteral("秋季戏剧节")), 0);
    EXPECT_EQ(column(w->QELDBGrid1, 1), QStringList({QStringLiteral("夏季舞蹈节"), QStringLiteral("春季音乐节")}));
}

// ---- SQLite: a file another desk holds, a file made read-only ----------------------

class SqliteFaultTest : public FaultTest {
protected:
    void SetUp() override
    {
        if (db.isPostgres())
            GTEST_SKIP() << "SQLite only";
        FaultTest::SetUp();
    }
};

TEST_F(SqliteFaultTest, AFileLockedByAnotherDeskFailsAfterTheBusyTimeoutThenWorks)
{
    TFrmProject *w = openMain();
    TFrmProductProject p;
    p.Context = kCtx;
    p.ProjectID = spring;
    p.show();
    // Another desk holds the write lock (BEGIN IMMEDIATE with a write in it).
    auto other = Database::connect(db.url());
    other->begin();
    other->exec("insert into um_member_class values ('M9', '临时')");

    // Reads go on meanwhile.
    w->BtnSearch->click();
    expectNoError("search while locked");

    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(CDProject->cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("秋季戏剧节")));
    w->ToolButton4->click();
    EXPECT_GE(t.elapsed(), 4500) << "waits for the busy timeout";
    expectOneError(QStringLiteral("数据库正被其他操作员占用"), "delete project while locked");
    EXPECT_EQ(count(QStringLiteral("select count(*) from QEL_PROJECT")), 2);

    t.restart();
    clickRow(p.dgrproduct, 0);
    p.ToolButton2->click();
    EXPECT_GE(t.elapsed(), 4500);
    expectOneError(QStringLiteral("数据库正被其他操作员占用"), "delete performance while locked");
    EXPECT_EQ(assignedPerformances(db, spring), QStringList{QStringLiteral("K1")});

    other->rollback();
    ASSERT_TRUE(CDProject->cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("秋季戏剧节")));
    w->ToolButton4->click();
    expectNoError("delete project once free");
    EXPECT_EQ(count(QStringLiteral("select count(*) from QEL_PROJECT")), 1);
    clickRow(p.dgrproduct, 0);
    p.ToolButton2->click();
    expectNoError("delete performance once free");
    EXPECT_EQ(assignedPerformances(db, spring), QStringList());
}

TEST_F(SqliteFaultTest, AReadOnlyFileRefusesEveryWriteClearlyWhileReadsGoOn)
{
    // The desk opens the file after it was made read-only.
    Database::close();
    const QString path = db.sqlitePath();
    for (const QString &f : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")})
        if (QFile::exists(f)) {
            ASSERT_TRUE(QFile::setPermissions(f, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        }
    const auto restore = qScopeGuard([&] {
        for (const QString &f : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")})
            if (QFile::exists(f))
                QFile::setPermissions(f, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    });
    FilePermissionsEnforced enforced;
    if (!enforced.active())
        GTEST_SKIP() << "running as root without a way to give up root's write access";
    Database::open(db.url());

    TFrmProject *w = openMain();
    ASSERT_EQ(column(w->QELDBGrid1, 1).size(), 2) << "reads work";
    const QString readOnly = QStringLiteral("数据库是只读的");

    {
        ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
            d->edtProjectName->setText(QStringLiteral("夏季舞蹈节"));
            d->btnOK->click();
        });
        w->ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    expectOneError(readOnly, "new project");
    ASSERT_TRUE(CDProject->cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("秋季戏剧节")));
    w->ToolButton4->click();
    expectOneError(readOnly, "delete project");
    w->EdtProName->setText(QStringLiteral("秋"));
    w->BtnSearch->click();
    expectNoError("search");
    EXPECT_EQ(column(w->QELDBGrid1, 1), QStringList{QStringLiteral("秋季戏剧节")});

    clickTab(w->Pgproject, 1);
    {
        ModalAnswer<TFormprojectinfo> answer([](TFormprojectinfo *d) {
            d->cbbproject->setCurrentIndex(d->cbbproject->findText(QStringLiteral("秋季戏剧节")));
            d->cbbmemberclassname->setCurrentIndex(d->cbbmemberclassname->findText(QStringLiteral("银卡会员")));
            d->edtlimitcount->setText(QStringLiteral("5"));
            d->btnok->click();
        });
        w->ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    expectOneError(readOnly, "new limit");
    ASSERT_TRUE(CDProject->cdsprojectmember->Locate(QStringLiteral("cname"), QStringLiteral("春季音乐节")));
    w->ToolButton4->click();
    expectOneError(readOnly, "delete limit");

    TFrmProductProject p;
    p.Context = kCtx;
    p.ProjectID = spring;
    p.show();
    expectNoError("performance list");
    {
        ModalAnswer<TUISearchProduct_pro> answer([](TUISearchProduct_pro *d) { pickAndConfirm(d, QStringLiteral("K2")); });
        p.ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    // A cause that hits every performance: one box, not one per performance.
    expectOneError(readOnly, "add performance");
    clickRow(p.dgrproduct, 0);
    p.ToolButton2->click();
    expectOneError(readOnly, "delete performance");

    // Nothing changed, and the file is sound.
    EXPECT_EQ(count(QStringLiteral("select count(*) from QEL_PROJECT")), 2);
    EXPECT_EQ(count(QStringLiteral("select count(*) from qel_project_member_limit")), 1);
    EXPECT_EQ(assignedPerformances(db, spring), QStringList{QStringLiteral("K1")});
    EXPECT_EQ(db.scalar(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    EXPECT_TRUE(w->isVisible());
}

} // namespace
