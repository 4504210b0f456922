// Adding performances to a project, from the main window through the
// performance window and the search dialog, offscreen with real clicks.
#include "ChangeWatcher.h"
#include "Context.h"
#include "DBGrid.h"
#include "GuiTest.h"
#include "ProjectRows.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "uCDProductProject.h"
#include "uCDProject.h"
#include "uCDSearchproduct_pro.h"
#include "uUIProductProject.h"
#include "uUIProject.h"
#include "uUISearchProduct_pro.h"
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QString kCtx = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")});

// The performance codes the project window's grid shows (second column).
QStringList gridCodes(const TFrmProductProject *w)
{
    QStringList out;
    const QAbstractItemModel *m = w->dgrproduct->model();
    for (int r = 0; m && r < m->rowCount(); ++r)
        out << m->index(r, 1).data().toString();
    out.sort();
    return out;
}

class AddPerformancesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        spring = addProject(db, QStringLiteral("春季项目"));
        autumn = addProject(db, QStringLiteral("秋季项目"));
        addVenueAndClass(db);
        addPerformance(db, QStringLiteral("K1"), QStringLiteral("安魂曲"), 2);
        addPerformance(db, QStringLiteral("K2"), QStringLiteral("北京人艺话剧"), 3);
        addPerformance(db, QStringLiteral("K3"), QStringLiteral("茶花女"), 4);
        addPerformance(db, QStringLiteral("K4"), QStringLiteral("大剧院开放日"), 5);
        assignPerformance(db, autumn, QStringLiteral("K1"));
        assignPerformance(db, spring, QStringLiteral("K4"));
    }


    // Picks the codes in the active search dialog (Ctrl+click, in this order) and confirms.
    static void pickAndConfirm(QWidget *modal, const QStringList &codes, QStringList *offered = nullptr)
    {
        auto *d = qobject_cast<TUISearchProduct_pro *>(modal);
        ASSERT_NE(d, nullptr) << "expected the search dialog, got " << modal->objectName().toStdString();
        EXPECT_EQ(UISearchProduct_pro.data(), d);
        const TQELClientDataSet *ds = d->DataModule()->cdsProduct;
        if (offered) {
            for (int pos = 0; pos < ds->RecordCount(); ++pos)
                *offered << ds->text(ds->rowAt(pos), ds->FieldIndex(QStringLiteral("PRODUCTCODE")));
        }
        for (const QString &code : codes)
            clickRow(d->dgrd_Product, posOf(ds, QStringLiteral("PRODUCTCODE"), code), Qt::ControlModifier);
        QTest::mouseClick(d->btn_ProductActOk, Qt::LeftButton);
    }

    TestDatabase db;
    QString spring, autumn;
};

TEST_F(AddPerformancesTest, FromTheMainWindowThroughTheSearchDialog)
{
    auto *main = new TFrmProject();
    QPointer<TFrmProject> mainAlive(main);
    const auto closeMain = qScopeGuard([&] {
        if (mainAlive)
            mainAlive->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    });
    main->SetContext(kCtx);
    main->show();
    ASSERT_TRUE(CDProject);
    clickRow(main->QELDBGrid1, posOf(CDProject->cdsProject, QStringLiteral("CNAME"), QStringLiteral("春季项目")));
    ASSERT_TRUE(main->ToolButton7->isEnabled());

    QString projectId;
    QStringList before, after, offered;
    bool searchDialogFreed = false;
    whenModal([&](QWidget *modal) {
        auto *w = qobject_cast<TFrmProductProject *>(modal);
        ASSERT_NE(w, nullptr) << "expected the performance window";
        projectId = w->ProjectID;
        before = gridCodes(w);
        whenModal([&](QWidget *dialog) { pickAndConfirm(dialog, {"K2", "K1", "K3"}, &offered); });
        QTest::mouseClick(w->ToolButton1, Qt::LeftButton);
        searchDialogFreed = UISearchProduct_pro.isNull();
        after = gridCodes(w);
        QTest::mouseClick(w->ToolButton3, Qt::LeftButton);
    });
    QTest::mouseClick(main->ToolButton7, Qt::LeftButton);

    EXPECT_EQ(projectId, spring);
    EXPECT_EQ(before, QStringList{"K4"});
    offered.sort();
    EXPECT_EQ(offered, QStringList({"K1", "K2", "K3"})) << "K4 is in this project already, so it is not offered";
    // Exactly one warning, naming the performance another project holds.
    ASSERT_EQ(testPresenter().count(), 1) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Warning);
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("演出: 安魂曲已被其他项目使用！"));
    EXPECT_EQ(testPresenter().last().caption, QStringLiteral("警告"));
    EXPECT_EQ(assignedPerformances(db, spring), QStringList({"K2", "K3", "K4"}));
    EXPECT_EQ(assignedPerformances(db, autumn), QStringList{"K1"});
    EXPECT_EQ(after, QStringList({"K2", "K3", "K4"})) << "the two added rows are shown";
    EXPECT_TRUE(searchDialogFreed);
    EXPECT_TRUE(FrmProductProject.isNull()) << "the performance window is freed once closed";
}

TEST_F(AddPerformancesTest, ClosingTheDialogAddsNothingAndReloadsWithTheFilterText)
{
    TFrmProductProject w;
    w.Context = kCtx;
    w.ProjectID = spring;
    w.show();
    ASSERT_EQ(gridCodes(&w), QStringList{"K4"});
    // Typed as the input method delivers Chinese: key events that carry text.
    for (QChar c : QStringLiteral("人艺"))
        QTest::sendKeyEvent(QTest::Click, w.EdtProductName, Qt::Key_unknown, QString(c), Qt::NoModifier);
    ASSERT_EQ(w.EdtProductName->text(), QStringLiteral("人艺"));

    StatementRecorder rec;
    QPointer<QWidget> dialog;
    whenModal([&](QWidget *modal) {
        dialog = modal;
        auto *d = qobject_cast<TUISearchProduct_pro *>(modal);
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(d->AllStatus);
        EXPECT_EQ(d->ExcludeProducts, QStringLiteral("K4"));
        clickRow(d->dgrd_Product, 0, Qt::ControlModifier);
        // As a failed OK leaves it: a pick gathered, the dialog still open.
        d->SelectedProducts = QStringLiteral("K2");
        QTest::mouseClick(d->btn_ProductActCancel, Qt::LeftButton);
    });
    QTest::mouseClick(w.ToolButton1, Qt::LeftButton);

    EXPECT_TRUE(dialog.isNull()) << "the dialog is freed";
    EXPECT_TRUE(UISearchProduct_pro.isNull());
    EXPECT_EQ(assignedPerformances(db, spring), QStringList{"K4"});
    EXPECT_EQ(testPresenter().count(), 0);
    ASSERT_GE(rec.count(), 1);
    EXPECT_TRUE(rec.statements().last().endsWith(QStringLiteral(" AND A.CName like '%人艺%'"))) << rec.statements().last().toStdString();
    EXPECT_EQ(gridCodes(&w), QStringList()) << "K4's name does not contain the filter";
}

// Another desk adds a performance to this project: the count line says so
// and the list stays as it is until the operator refreshes.
TEST_F(AddPerformancesTest, AnotherDesksAddMarksTheListUntilRefreshed)
{
    TFrmProductProject w;
    w.Context = kCtx;
    w.ProjectID = spring;
    w.show();
    w.Watcher->SetInterval(20);
    const auto stale = [&] { return w.dgrproduct->CountLabel()->text().endsWith(TQELDBGrid::StaleText()); };
    assignPerformance(db, spring, QStringLiteral("K3"));
    ASSERT_TRUE(QTest::qWaitFor(stale, 3000));
    EXPECT_EQ(gridCodes(&w), QStringList{"K4"});
    QTest::keyClick(w.dgrproduct, Qt::Key_F5);
    EXPECT_FALSE(stale());
    EXPECT_EQ(gridCodes(&w), (QStringList{"K3", "K4"}));
}

TEST_F(AddPerformancesTest, AFailureMidwayStopsTheLoopButStillFreesAndReloads)
{
    // A code the operator's GBK text cannot hold: written by another program, listed, but not sendable.
    db.exec(QStringLiteral("insert into QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, MAPCODE, "
                           "CREATEGROUP, PLACEGROUP, STATUS, CREATEUSER, PRODUCTOWNERGROUP) values "
                           "('K😀', '异码演出', '%1', 'C01', 'P01', '01', 'M', 'G01', 'PG', '5', 'admin', 'OG')")
                .arg(QDate::currentDate().addDays(6).toString(QStringLiteral("yyyy-MM-dd 19:30:00"))));
    TFrmProductProject w;
    w.Context = kCtx;
    w.ProjectID = spring;
    w.show();
    whenModal([&](QWidget *modal) { pickAndConfirm(modal, {"K2", QStringLiteral("K😀"), "K3"}); });
    QTest::mouseClick(w.ToolButton1, Qt::LeftButton);

    EXPECT_EQ(assignedPerformances(db, spring), QStringList({"K2", "K4"})) << "items after the failure are not processed";
    ASSERT_EQ(testPresenter().count(MessageKind::Error), 1);
    EXPECT_TRUE(testPresenter().last().text.contains(QStringLiteral("U+1F600"))) << testPresenter().last().text.toStdString();
    EXPECT_TRUE(UISearchProduct_pro.isNull());
    EXPECT_EQ(gridCodes(&w), QStringList({"K2", "K4"})) << "reloaded in spite of the failure";
}

TEST_F(AddPerformancesTest, RefusesAProjectThatDoesNotExist)
{
    db.exec(QStringLiteral("delete from QEL_PROJECT where ID = %1").arg(autumn));
    for (const QString &id : {QStringLiteral("0"), autumn, QStringLiteral("abc"), QStringLiteral(" ") + spring}) {
        testPresenter().clear();
        TFrmProductProject w;
        w.Context = kCtx;
        w.ProjectID = id;
        w.show();
        bool opened = false;
        QTimer::singleShot(0, [&] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                opened = true;
                modal->close();
            }
        });
        QTest::mouseClick(w.ToolButton1, Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_FALSE(opened) << "project \"" << id.toStdString() << "\": no search dialog";
        ASSERT_EQ(testPresenter().count(MessageKind::Warning), 1) << id.toStdString();
        EXPECT_TRUE(testPresenter().last().text.contains(QStringLiteral("不存在"))) << testPresenter().last().text.toStdString();
    }
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT")), 2);
}

} // namespace
