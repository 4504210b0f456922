// Project IDs beyond 32 bits, and writes that another desk made moot.
//
// SQLite hands out 64-bit row IDs: project 4294967297 (2^32 + 1) lives beside
// project 1, and an ID cut to 32 bits would land on project 1. Every road that
// carries an ID is driven here with both projects in the database, and the
// other project is checked to be exactly as it was. PostgreSQL keeps its IDs
// in a 32-bit column, so there the big project is 2147483647, the largest it holds.
#include "Context.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "Errors.h"
#include "GuiTest.h"
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
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QString kCtx = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")});
const QString kProjectList = QStringLiteral("Select * from QEL_Project  A ");
const QString kSmallName = QStringLiteral("一号项目");
const QString kBigName = QStringLiteral("大号项目");

QStringList sorted(QStringList l)
{
    l.sort();
    return l;
}

class BigIdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        big = db.isPostgres() ? QStringLiteral("2147483647") : QStringLiteral("4294967297");
        db.exec(QStringLiteral("insert into QEL_PROJECT (ID, CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) values (1, '%1', 10, 1, 1)").arg(kSmallName));
        db.exec(QStringLiteral("insert into QEL_PROJECT (ID, CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) values (%1, '%2', 20, 2, 2)").arg(big, kBigName));
        db.exec(QStringLiteral("insert into um_member_class values ('M01', '钻石会员')"));
        db.exec(QStringLiteral("insert into um_member_class values ('M02', '白金会员')"));
        // The same member class and type in both projects: a limit delete that
        // lands on the wrong project finds a row to remove there.
        addLimit(QStringLiteral("1"), QStringLiteral("M01"), 4);
        addLimit(big, QStringLiteral("M01"), 6);
        addVenueAndClass(db);
        addPerformance(db, QStringLiteral("K1"), QStringLiteral("安魂曲"), 2);
        addPerformance(db, QStringLiteral("K2"), QStringLiteral("北京人艺话剧"), 3);
        addPerformance(db, QStringLiteral("K3"), QStringLiteral("茶花女"), 4);
        assignPerformance(db, QStringLiteral("1"), QStringLiteral("K1"));
        assignPerformance(db, big, QStringLiteral("K2"));
        smallBefore = snapshot(QStringLiteral("1"));
        ASSERT_EQ(smallBefore, QStringLiteral("一号项目/10/1/1|M01/4/1|K1"));
        ASSERT_EQ(snapshot(big), QStringLiteral("大号项目/20/2/2|M01/6/1|K2"));
    }
    void TearDown() override
    {
        disposeWindow(win);
        delete CDProject.data();
    }

    void addLimit(const QString &pid, const QString &member, int max, const QString &type = QStringLiteral("1"))
    {
        db.exec(QStringLiteral("insert into qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) values (%1, '%2', %3, '%4', '1')")
                    .arg(pid, member)
                    .arg(max)
                    .arg(type));
    }
    int rows(const QString &table) { return db.count(QStringLiteral("select count(*) from %1").arg(table)); }
    // A project as the database holds it: "name/discount/tickets/performances|limits|performances";
    // "-" for a project row that is not there.
    QString snapshot(const QString &pid)
    {
        const DataPacket p = db.query(QStringLiteral("select CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM from QEL_PROJECT where ID = %1").arg(pid));
        const QString row = p.rowCount() == 1 ? QStringLiteral("%1/%2/%3/%4").arg(p.text(0, 0), p.text(0, 1), p.text(0, 2), p.text(0, 3))
                                              : QStringLiteral("-");
        const QStringList limits = db.texts(QStringLiteral("select MEMBER_CLASS_ID || '/' || MAX_NUM || '/' || limit_type from qel_project_member_limit "
                                                           "where PID = %1 order by MEMBER_CLASS_ID")
                                                .arg(pid));
        return row + QLatin1Char('|') + limits.join(QLatin1Char(',')) + QLatin1Char('|') + assignedPerformances(db, pid).join(QLatin1Char(','));
    }
    // SQL that makes the database drop every new row of table without an error,
    // as a rule of another program might.
    void dropNewRowsOf(const QString &table)
    {
        if (db.isPostgres()) {
            db.exec(QStringLiteral("CREATE FUNCTION qeltest_drop_row() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RETURN NULL; END $$"));
            db.exec(QStringLiteral("CREATE TRIGGER qeltest_drop BEFORE INSERT ON %1 FOR EACH ROW EXECUTE FUNCTION qeltest_drop_row()").arg(table));
        } else {
            db.exec(QStringLiteral("CREATE TRIGGER qeltest_drop BEFORE INSERT ON %1 BEGIN SELECT RAISE(IGNORE); END").arg(table));
        }
    }

    TFrmProject *open()
    {
        win = openProjectWindow(kCtx);
        return win;
    }
    // Clicks the project row with this name on the project tab.
    void selectProject(const QString &name)
    {
        clickRow(win->QELDBGrid1, posOf(CDProject->cdsProject, QStringLiteral("CNAME"), name));
        ASSERT_EQ(CDProject->cdsProject->FieldByName(QStringLiteral("CNAME")).AsString(), name);
    }
    // Clicks the limit row of this project and member class on the limit tab.
    void selectLimit(const QString &pid, const QString &memberClass)
    {
        const TQELClientDataSet *ds = CDProject->cdsprojectmember;
        const int p = ds->FieldIndex(QStringLiteral("projectid")), m = ds->FieldIndex(QStringLiteral("MEMBER_CLASS_ID"));
        int pos = -1;
        for (int i = 0; i < ds->RecordCount() && pos < 0; ++i)
            if (ds->text(ds->rowAt(i), p) == pid && ds->text(ds->rowAt(i), m) == memberClass)
                pos = i;
        clickRow(win->QELDBGrid2, pos);
        ASSERT_EQ(CDProject->cdsprojectmember->FieldByName(QStringLiteral("projectid")).AsString(), pid);
    }
    QStringList projectNames() const { return gridColumn(win->QELDBGrid1, 1); }

    TestDatabase db;
    QPointer<TFrmProject> win;
    QString big;
    QString smallBefore;
};

// The performance codes a performance window lists.
QStringList gridCodes(const TFrmProductProject *w)
{
    return sorted(gridColumn(w->dgrproduct, 1));
}

// Picks the codes in the active search dialog and confirms.
void pickAndConfirm(QWidget *modal, const QStringList &codes)
{
    auto *d = qobject_cast<TUISearchProduct_pro *>(modal);
    ASSERT_NE(d, nullptr) << "expected the search dialog";
    const TQELClientDataSet *ds = d->DataModule()->cdsProduct;
    for (const QString &code : codes)
        clickRow(d->dgrd_Product, posOf(ds, QStringLiteral("PRODUCTCODE"), code), Qt::ControlModifier);
    QTest::mouseClick(d->btn_ProductActOk, Qt::LeftButton);
}

// ---- 64-bit IDs -------------------------------------------------------------------

TEST_F(BigIdTest, DataModuleChecksEditsAndDeletesOnlyTheProjectWithTheBigId)
{
    TCDProject cd;
    cd.Context = kCtx;
    const qint64 id = big.toLongLong();

    // The name check leaves out the big project itself, not project 1.
    EXPECT_TRUE(cd.ChkProName(id, kBigName));
    EXPECT_FALSE(cd.ChkProName(id, kSmallName));

    StatementRecorder rec;
    cd.EdtPro(id, QStringLiteral("大号项目（改）"), 30, 3, 3);
    ASSERT_EQ(rec.count(), 1);
    EXPECT_TRUE(rec.statements().at(0).endsWith(QStringLiteral(" where ID=") + big)) << rec.statements().at(0).toStdString();
    EXPECT_EQ(snapshot(big), QStringLiteral("大号项目（改）/30/3/3|M01/6/1|K2"));
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);

    cd.Dellimit(id, QStringLiteral("M01"), QStringLiteral("1"));
    EXPECT_EQ(snapshot(big), QStringLiteral("大号项目（改）/30/3/3||K2"));
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);

    cd.DelPro(id);
    EXPECT_EQ(snapshot(big), QStringLiteral("-||"));
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);
    EXPECT_EQ(rows(QStringLiteral("QEL_PROJECT")), 1);
}

TEST_F(BigIdTest, EditInTheMainWindowRewritesTheSelectedBigIdProjectOnly)
{
    TFrmProject *w = open();
    selectProject(kBigName);
    qint64 dialogId = 0;
    QString presetName;
    ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
        dialogId = d->ProjectID();
        presetName = d->edtProjectName->text();
        typeInto(d->edtProjectName, QStringLiteral("大号项目（改）"));
        typeInto(d->spdCrossDiscount, QStringLiteral("55"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    QTest::mouseClick(w->ToolButton2, Qt::LeftButton);
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(dialogId, big.toLongLong());
    EXPECT_EQ(presetName, kBigName);
    EXPECT_EQ(testPresenter().count(), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(snapshot(big), QStringLiteral("大号项目（改）/55/2/2|M01/6/1|K2"));
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);
    EXPECT_EQ(sorted(projectNames()), sorted({kSmallName, QStringLiteral("大号项目（改）")}));
}

TEST_F(BigIdTest, DeleteInTheMainWindowRemovesTheSelectedBigIdProjectOnly)
{
    TFrmProject *w = open();
    selectProject(kBigName);
    testPresenter().pushAnswer(mrYes);
    QTest::mouseClick(w->ToolButton4, Qt::LeftButton);
    ASSERT_EQ(testPresenter().count(), 1) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("确认要删除此项目吗?"));
    EXPECT_EQ(snapshot(big), QStringLiteral("-||"));
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);
    EXPECT_EQ(projectNames(), QStringList{kSmallName});
}

TEST_F(BigIdTest, LimitDialogAddsEditsAndDeletesTheLimitsOfTheBigIdProjectOnly)
{
    TFrmProject *w = open();
    clickTab(w->Pgproject, 1);
    ASSERT_EQ(w->Pgproject->currentIndex(), 1);

    // New: the big project picked by name in the dialog.
    ModalAnswer<TFormprojectinfo> added([&](TFormprojectinfo *d) {
        EXPECT_TRUE(pick(d->cbbproject, kBigName));
        EXPECT_TRUE(pick(d->cbbmemberclassname, QStringLiteral("白金会员")));
        typeInto(d->edtlimitcount, QStringLiteral("3"));
        QTest::mouseClick(d->btnok, Qt::LeftButton);
    });
    QTest::mouseClick(w->ToolButton1, Qt::LeftButton);
    ASSERT_TRUE(added.seen());
    EXPECT_FALSE(added.leftOpen());
    EXPECT_EQ(testPresenter().texts(), QStringList{QStringLiteral("添加成功！")});
    EXPECT_EQ(snapshot(big), QStringLiteral("大号项目/20/2/2|M01/6/1,M02/3/1|K2"));
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);

    // Edit: the dialog shows the big project and the write stays with it.
    testPresenter().clear();
    selectLimit(big, QStringLiteral("M02"));
    QString shownProject;
    ModalAnswer<TFormprojectinfo> edited([&](TFormprojectinfo *d) {
        shownProject = d->cbbproject->currentText();
        typeInto(d->edtlimitcount, QStringLiteral("8"));
        QTest::mouseClick(d->btnok, Qt::LeftButton);
    });
    QTest::mouseClick(w->ToolButton2, Qt::LeftButton);
    ASSERT_TRUE(edited.seen());
    EXPECT_FALSE(edited.leftOpen());
    EXPECT_EQ(shownProject, kBigName);
    EXPECT_EQ(testPresenter().texts(), QStringList{QStringLiteral("修改成功！")});
    EXPECT_EQ(snapshot(big), QStringLiteral("大号项目/20/2/2|M01/6/1,M02/8/1|K2"));
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);

    // Delete: project 1 has a limit of the same class and type, and keeps it.
    testPresenter().clear();
    selectLimit(big, QStringLiteral("M01"));
    testPresenter().pushAnswer(mrYes);
    QTest::mouseClick(w->ToolButton4, Qt::LeftButton);
    EXPECT_EQ(testPresenter().texts(), QStringList{QStringLiteral("确认要删除吗?")});
    EXPECT_EQ(snapshot(big), QStringLiteral("大号项目/20/2/2|M02/8/1|K2"));
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);
    EXPECT_EQ(gridColumn(w->QELDBGrid2, 0).count(kBigName), 1);
    EXPECT_EQ(gridColumn(w->QELDBGrid2, 0).count(kSmallName), 1);
}

TEST_F(BigIdTest, PerformanceWindowOfTheBigIdProjectListsAddsAndDeletesItsOwnRows)
{
    TFrmProject *w = open();
    selectProject(kBigName);
    QString projectId;
    QStringList listed, afterAdd, afterDelete;
    whenModal([&](QWidget *modal) {
        auto *p = qobject_cast<TFrmProductProject *>(modal);
        ASSERT_NE(p, nullptr) << "expected the performance window";
        projectId = p->ProjectID;
        listed = gridCodes(p);
        whenModal([&](QWidget *dialog) { pickAndConfirm(dialog, {"K3"}); });
        QTest::mouseClick(p->ToolButton1, Qt::LeftButton);
        afterAdd = gridCodes(p);
        clickRow(p->dgrproduct, posOf(cdProductProject->cdsProductProject, QStringLiteral("ProductCode"), QStringLiteral("K2")));
        testPresenter().pushAnswer(mrYes);
        QTest::mouseClick(p->ToolButton2, Qt::LeftButton);
        afterDelete = gridCodes(p);
        QTest::mouseClick(p->ToolButton3, Qt::LeftButton);
    });
    QTest::mouseClick(w->ToolButton7, Qt::LeftButton);

    EXPECT_EQ(projectId, big);
    EXPECT_EQ(listed, QStringList{"K2"});
    EXPECT_EQ(afterAdd, QStringList({"K2", "K3"}));
    EXPECT_EQ(afterDelete, QStringList{"K3"});
    EXPECT_EQ(assignedPerformances(db, big), QStringList{"K3"});
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);
    EXPECT_EQ(testPresenter().texts(), QStringList{QStringLiteral("确认要删除此记录吗?")});
}

TEST_F(BigIdTest, AnIdTextThatIsNoProjectIdIsRefusedWithAMessageAndChangesNothing)
{
    // Too large for 64 bits (it would wrap), one past the largest, not a number,
    // and forms that are not the plain decimal the windows carry.
    const QStringList bad = {QStringLiteral("99999999999999999999"), QStringLiteral("9223372036854775808"), QStringLiteral("4294967297x"),
                             QStringLiteral("abc"), QString(), QStringLiteral(" 1"), QStringLiteral("01")};
    const int projectsBefore = rows(QStringLiteral("QEL_PROJECT")), assignmentsBefore = rows(QStringLiteral("QEL_PROJECT_PRODUCT"));
    for (const QString &text : bad) {
        SCOPED_TRACE("ID text \"" + text.toStdString() + "\"");
        TcdProductProject pp;
        pp.Context = kCtx;
        pp.ProjectID = text;
        StatementRecorder rec;
        const QString listMsg = thrownMessage([&] { pp.GetProductProject(QString()); });
        EXPECT_TRUE(chineseFirst(listMsg)) << listMsg.toStdString();
        EXPECT_TRUE(listMsg.contains(QStringLiteral("项目编号“") + text + QStringLiteral("”"))) << listMsg.toStdString();
        EXPECT_TRUE(chineseFirst(thrownMessage([&] { pp.sgetproduct(text); })));
        EXPECT_TRUE(chineseFirst(thrownMessage([&] { pp.DelProductProject(text, QStringLiteral("K1")); })));
        testPresenter().clear();
        pp.InsertProduct(text, QStringLiteral("K3"));
        ASSERT_EQ(testPresenter().count(), 1);
        EXPECT_TRUE(testPresenter().last().text.startsWith(QStringLiteral("新建失败，请检查该演出是否已经配置过项目项目编号“")))
            << testPresenter().last().text.toStdString();
        EXPECT_EQ(rec.count(), 0) << "refused before anything is sent: " << rec.statements().join(QLatin1Char('\n')).toStdString();
    }

    // The performance window opened with such an ID says so and deletes nothing.
    testPresenter().clear();
    TFrmProductProject p;
    p.Context = kCtx;
    p.ProjectID = QStringLiteral("99999999999999999999");
    p.show();
    ASSERT_EQ(testPresenter().count(MessageKind::Error), 1) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(testPresenter().last().text.contains(QStringLiteral("99999999999999999999")));
    // Nothing is listed to delete, and the reload after the delete refuses the ID again.
    testPresenter().clear();
    testPresenter().pushAnswer(mrYes);
    QTest::mouseClick(p.ToolButton2, Qt::LeftButton);
    EXPECT_EQ(testPresenter().count(MessageKind::Error), 1) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    p.close();

    EXPECT_EQ(rows(QStringLiteral("QEL_PROJECT")), projectsBefore);
    EXPECT_EQ(rows(QStringLiteral("QEL_PROJECT_PRODUCT")), assignmentsBefore);
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);
    EXPECT_EQ(snapshot(big), QStringLiteral("大号项目/20/2/2|M01/6/1|K2"));
}

// ---- writes that changed nothing ----------------------------------------------------

TEST_F(BigIdTest, EditOfAProjectAnotherDeskDeletedSaysItFailedAndReloads)
{
    TFrmProject *w = open();
    selectProject(kBigName);
    StatementRecorder rec;
    ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
        // Meanwhile, at another desk.
        db.exec(QStringLiteral("delete from QEL_PROJECT where ID = %1").arg(big));
        db.exec(QStringLiteral("delete from QEL_PROJECT_PRODUCT where PROJECTID = %1").arg(big));
        db.exec(QStringLiteral("delete from qel_project_member_limit where PID = %1").arg(big));
        typeInto(d->edtProjectName, QStringLiteral("迟到的修改"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    QTest::mouseClick(w->ToolButton2, Qt::LeftButton);
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen()) << "the dialog closes: the name was fine";

    ASSERT_EQ(testPresenter().count(), 1) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Box);
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("修改失败：该项目已不存在（可能已被其他操作员删除），未保存任何修改。"));
    EXPECT_EQ(testPresenter().last().caption, QStringLiteral("错误提示"));
    EXPECT_EQ(testPresenter().last().flags, MB_ICONERROR);
    ASSERT_FALSE(rec.statements().isEmpty());
    EXPECT_EQ(rec.statements().last(), kProjectList) << "reloaded as after any edit";
    EXPECT_EQ(projectNames(), QStringList{kSmallName});
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT where CNAME = '迟到的修改'")), 0) << "nothing inserted";
    EXPECT_EQ(rows(QStringLiteral("QEL_PROJECT")), 1);
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);
}

TEST_F(BigIdTest, DeleteOfAProjectAnotherDeskDeletedSaysSoAndReloads)
{
    TFrmProject *w = open();
    selectProject(kBigName);
    db.exec(QStringLiteral("delete from QEL_PROJECT where ID = %1").arg(big));
    StatementRecorder rec;
    testPresenter().pushAnswer(mrYes);
    QTest::mouseClick(w->ToolButton4, Qt::LeftButton);
    ASSERT_EQ(testPresenter().count(), 2) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Box);
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("该项目已不存在（可能已被其他操作员删除），无需删除。"));
    EXPECT_EQ(testPresenter().last().caption, QStringLiteral("信息提示"));
    EXPECT_EQ(testPresenter().last().flags, MB_ICONINFORMATION);
    EXPECT_EQ(snapshot(big), QStringLiteral("-||")) << "what the project left behind goes all the same";
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);
    ASSERT_FALSE(rec.statements().isEmpty());
    EXPECT_EQ(rec.statements().last(), kProjectList);
    EXPECT_EQ(projectNames(), QStringList{kSmallName});
}

TEST_F(BigIdTest, DeleteOfALimitAnotherDeskRemovedOrChangedSaysItFailed)
{
    // The big project keeps one limit, so another desk may turn it into an identity-card limit.
    db.exec(QStringLiteral("delete from qel_project_member_limit where PID = %1").arg(big));
    TFrmProject *w = open();
    clickTab(w->Pgproject, 1);
    for (const bool changed : {true, false}) {
        SCOPED_TRACE(changed ? "changed to an identity-card limit" : "deleted");
        testPresenter().clear();
        addLimit(big, QStringLiteral("M02"), 5);
        QTest::mouseClick(w->ToolButton5, Qt::LeftButton); // refresh
        selectLimit(big, QStringLiteral("M02"));
        // Meanwhile, at another desk.
        if (changed)
            db.exec(QStringLiteral("update qel_project_member_limit set MEMBER_CLASS_ID = '', limit_type = '2' where PID = %1").arg(big));
        else
            db.exec(QStringLiteral("delete from qel_project_member_limit where PID = %1").arg(big));
        StatementRecorder rec;
        testPresenter().pushAnswer(mrYes);
        QTest::mouseClick(w->ToolButton4, Qt::LeftButton);
        ASSERT_EQ(testPresenter().count(), 2) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(testPresenter().last().kind, MessageKind::Box);
        EXPECT_EQ(testPresenter().last().text, QStringLiteral("删除失败：该限购记录已不存在，可能已被其他操作员修改或删除。"));
        EXPECT_EQ(testPresenter().last().caption, QStringLiteral("错误提示"));
        EXPECT_EQ(testPresenter().last().flags, MB_ICONERROR);
        ASSERT_FALSE(rec.statements().isEmpty());
        EXPECT_TRUE(rec.statements().last().startsWith(QStringLiteral("Select a.id as projectid"))) << "the list is reloaded";
        EXPECT_EQ(snapshot(big), changed ? QStringLiteral("大号项目/20/2/2|/5/2|K2") : QStringLiteral("大号项目/20/2/2||K2"));
        EXPECT_EQ(gridColumn(w->QELDBGrid2, 0).count(kBigName), changed ? 1 : 0);
        db.exec(QStringLiteral("delete from qel_project_member_limit where PID = %1").arg(big));
    }
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);
}

TEST_F(BigIdTest, NewProjectTheDatabaseDroppedSaysItFailed)
{
    dropNewRowsOf(QStringLiteral("QEL_PROJECT"));
    TFrmProject *w = open();
    StatementRecorder rec;
    ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
        typeInto(d->edtProjectName, QStringLiteral("被丢下的项目"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    QTest::mouseClick(w->ToolButton1, Qt::LeftButton);
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    ASSERT_EQ(testPresenter().count(), 1) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("新建失败：数据库没有保存这个项目，请刷新后重试。"));
    EXPECT_EQ(testPresenter().last().caption, QStringLiteral("错误提示"));
    EXPECT_EQ(testPresenter().last().flags, MB_ICONERROR);
    ASSERT_FALSE(rec.statements().isEmpty());
    EXPECT_EQ(rec.statements().last(), kProjectList);
    EXPECT_EQ(rows(QStringLiteral("QEL_PROJECT")), 2);
}

TEST_F(BigIdTest, PerformancesTheDatabaseDroppedOrAnotherDeskRemovedAreReported)
{
    TFrmProductProject p;
    p.Context = kCtx;
    p.ProjectID = big;
    p.show();
    ASSERT_EQ(gridCodes(&p), QStringList{"K2"});

    // Added, but dropped by a rule of the database: the insert's own failure message.
    dropNewRowsOf(QStringLiteral("QEL_PROJECT_PRODUCT"));
    whenModal([&](QWidget *dialog) { pickAndConfirm(dialog, {"K3"}); });
    QTest::mouseClick(p.ToolButton1, Qt::LeftButton);
    ASSERT_EQ(testPresenter().count(), 1) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Plain);
    EXPECT_TRUE(testPresenter().last().text.startsWith(QStringLiteral("新建失败，请检查该演出是否已经配置过项目")));
    EXPECT_TRUE(testPresenter().last().text.contains(QStringLiteral("K3"))) << testPresenter().last().text.toStdString();
    EXPECT_EQ(assignedPerformances(db, big), QStringList{"K2"});
    EXPECT_EQ(gridCodes(&p), QStringList{"K2"});

    // Removed, but another desk had removed it already.
    testPresenter().clear();
    clickRow(p.dgrproduct, 0);
    db.exec(QStringLiteral("delete from QEL_PROJECT_PRODUCT where PRODUCTCODE = 'K2'"));
    testPresenter().pushAnswer(mrYes);
    QTest::mouseClick(p.ToolButton2, Qt::LeftButton);
    ASSERT_EQ(testPresenter().count(), 2) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Box);
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("以下演出已不在本项目中（可能已被其他操作员删除）：K2"));
    EXPECT_EQ(testPresenter().last().flags, MB_ICONINFORMATION);
    EXPECT_EQ(gridCodes(&p), QStringList()) << "reloaded";
    EXPECT_EQ(snapshot(QStringLiteral("1")), smallBefore);
    p.close();
}

} // namespace
