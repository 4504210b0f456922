// The project edit dialog (TfrmProjectEdit), opened offscreen over a real database.
#include "Dialogs.h"
#include "ProjectWindow.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "uCDProject.h"
#include "uUIProject.h"
#include "uUIProjectEdit.h"
#include <QAbstractSpinBox>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>
#include "GuiTest.h"

namespace {

const QString kCtx = QStringLiteral("01\rG01\r张三\rA\r\r\r\r");

bool focusIn(QWidget *dialog, QWidget *w)
{
    QWidget *f = dialog->focusWidget();
    return f && (f == w || w->isAncestorOf(f));
}

class ProjectDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db.exec(QStringLiteral("INSERT INTO QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) VALUES ('春节联欢晚会', 10, 2, 3)"));
        db.exec(QStringLiteral("INSERT INTO QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) VALUES ('话剧展演', 20, 4, 5)"));
        db.exec(QStringLiteral("INSERT INTO QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) VALUES ('  灯会  ', 0, 0, 0)"));
        springId = idOf(QStringLiteral("春节联欢晚会"));
        CDProject = new TCDProject();
        CDProject->Context = kCtx;
    }
    void TearDown() override
    {
        if (FrmProject)
            FrmProject->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete CDProject.data();
    }

    int idOf(const QString &name)
    {
        return db.count(QStringLiteral("SELECT ID FROM QEL_PROJECT WHERE CNAME = '%1'").arg(name));
    }
    int projects() { return db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT")); }

    // A dialog filled through the setters, as the main window does.
    static void fill(TfrmProjectEdit &d, int id, const QString &name, int disc, int tnum, int pnum)
    {
        d.SetProjectID(id);
        d.SetProjectName(name);
        d.SetCrossDiscount(disc);
        d.SetCrossTNum(tnum);
        d.SetCrossPNum(pnum);
    }

    TestDatabase db;
    int springId = 0;
};

TEST_F(ProjectDialogTest, SettersOnlyStoreAndShowFillsTheControls)
{
    TfrmProjectEdit dlg;
    fill(dlg, springId, QStringLiteral("春节联欢晚会"), 10, 20, 30);
    // Nothing reaches the controls before the dialog is shown.
    EXPECT_EQ(dlg.edtProjectName->text(), QString());
    EXPECT_EQ(dlg.spdCrossDiscount->value(), 0);
    EXPECT_EQ(dlg.ProjectID(), springId);
    EXPECT_EQ(dlg.ProjectName(), QStringLiteral("春节联欢晚会"));

    QString name, caption;
    int disc = -1, tnum = -1, pnum = -1;
    bool okEnabled = false;
    ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
        caption = d->windowTitle();
        name = d->findChild<QLineEdit *>(QStringLiteral("edtProjectName"))->text();
        disc = d->findChild<QSpinBox *>(QStringLiteral("spdCrossDiscount"))->value();
        tnum = d->findChild<QSpinBox *>(QStringLiteral("spdCrossTNum"))->value();
        pnum = d->findChild<QSpinBox *>(QStringLiteral("spdCrossPNum"))->value();
        okEnabled = d->findChild<QPushButton *>(QStringLiteral("btnOK"))->isEnabled();
        d->findChild<QPushButton *>(QStringLiteral("btnCancel"))->click();
    });
    EXPECT_EQ(dlg.exec(), 2);
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(caption, QStringLiteral("项目信息修改"));
    EXPECT_EQ(name, QStringLiteral("春节联欢晚会"));
    EXPECT_EQ(disc, 10);
    EXPECT_EQ(tnum, 20);
    EXPECT_EQ(pnum, 30);
    EXPECT_TRUE(okEnabled);
    EXPECT_EQ(testPresenter().count(), 0);
}

TEST_F(ProjectDialogTest, EmptyOrBlankNameIsRefusedWithoutAServerCall)
{
    for (const QString &typed : {QString(), QStringLiteral("   ")}) {
        SCOPED_TRACE(typed.toStdString());
        testPresenter().clear();
        StatementRecorder rec;
        TfrmProjectEdit dlg;
        fill(dlg, -1, QStringLiteral("旧名"), 1, 2, 3);
        bool openAfterOk = false, focusMovedToName = true;
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            typeInto(d->edtProjectName, typed);
            d->spdCrossPNum->setFocus();
            d->btnOK->click();
            openAfterOk = d->isVisible();
            focusMovedToName = focusIn(d, d->edtProjectName);
            d->btnCancel->click();
        });
        EXPECT_EQ(dlg.exec(), 2);
        ASSERT_TRUE(answer.seen());
        EXPECT_TRUE(openAfterOk);
        EXPECT_FALSE(focusMovedToName) << "an empty name leaves the focus where it was";
        ASSERT_EQ(testPresenter().count(), 1);
        EXPECT_EQ(testPresenter().last().kind, MessageKind::Warning);
        EXPECT_EQ(testPresenter().last().text, QStringLiteral("项目名称不能为空!"));
        EXPECT_EQ(testPresenter().last().caption, QStringLiteral("警告"));
        EXPECT_EQ(rec.count(), 0) << rec.statements().join(QLatin1Char('\n')).toStdString();
        // The refused OK stored nothing in the properties.
        EXPECT_EQ(dlg.ProjectName(), QStringLiteral("旧名"));
    }
    EXPECT_EQ(projects(), 3);
}

TEST_F(ProjectDialogTest, DuplicateNameIsRefusedAndTheFocusGoesBackToTheName)
{
    StatementRecorder rec;
    TfrmProjectEdit dlg;
    fill(dlg, -1, QString(), 0, 0, 0);
    bool openAfterOk = false, focusOnName = false;
    QString nameAfter;
    int discAfter = -1;
    QStringList firstCheck;
    ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
        typeInto(d->edtProjectName, QStringLiteral("春节联欢晚会"));
        typeInto(d->spdCrossDiscount, QStringLiteral("15"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
        openAfterOk = d->isVisible();
        focusOnName = focusIn(d, d->edtProjectName);
        nameAfter = d->edtProjectName->text();
        discAfter = d->spdCrossDiscount->value();
        firstCheck = rec.statements();
        // A new name is accepted.
        typeInto(d->edtProjectName, QStringLiteral("元宵灯会"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    EXPECT_EQ(dlg.exec(), 1);
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_TRUE(openAfterOk);
    EXPECT_TRUE(focusOnName);
    EXPECT_EQ(nameAfter, QStringLiteral("春节联欢晚会")) << "what was typed stays";
    EXPECT_EQ(discAfter, 15);
    ASSERT_EQ(testPresenter().count(), 1);
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Warning);
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("该项目名已经存在，请重新输入!"));
    EXPECT_EQ(testPresenter().last().caption, QStringLiteral("警告"));
    ASSERT_EQ(firstCheck.size(), 1);
    EXPECT_EQ(firstCheck[0], QStringLiteral("Select 1 as vStatus FROM QEL_PROJECT WHERE ID <> -1 and CName='春节联欢晚会'"));
    EXPECT_EQ(rec.contexts().value(0), kCtx);

    EXPECT_EQ(dlg.ProjectName(), QStringLiteral("元宵灯会"));
    EXPECT_EQ(dlg.CrossDiscount(), 15);
    EXPECT_EQ(dlg.CrossTNum(), 0);
    // The dialog itself writes nothing.
    EXPECT_EQ(projects(), 3);
    for (const QString &s : rec.statements())
        EXPECT_TRUE(s.startsWith(QLatin1String("Select"))) << s.toStdString();
}

TEST_F(ProjectDialogTest, EditingKeepsItsOwnNameButNotAnotherProjectsName)
{
    {
        StatementRecorder rec;
        TfrmProjectEdit dlg;
        fill(dlg, springId, QStringLiteral("春节联欢晚会"), 10, 2, 3);
        ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) { d->btnOK->click(); });
        EXPECT_EQ(dlg.exec(), 1);
        EXPECT_EQ(testPresenter().count(), 0);
        EXPECT_EQ(dlg.ProjectName(), QStringLiteral("春节联欢晚会"));
        EXPECT_EQ(dlg.CrossDiscount(), 10);
        EXPECT_EQ(dlg.CrossTNum(), 2);
        EXPECT_EQ(dlg.CrossPNum(), 3);
        ASSERT_EQ(rec.count(), 1);
        EXPECT_TRUE(rec.statements()[0].contains(QStringLiteral("ID <> %1 and").arg(springId))) << rec.statements()[0].toStdString();
    }
    {
        TfrmProjectEdit dlg;
        fill(dlg, springId, QStringLiteral("春节联欢晚会"), 10, 2, 3);
        bool open = false;
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            typeInto(d->edtProjectName, QStringLiteral("话剧展演"));
            d->btnOK->click();
            open = d->isVisible();
        });
        EXPECT_EQ(dlg.exec(), 2);
        EXPECT_TRUE(open);
        EXPECT_TRUE(answer.leftOpen());
        EXPECT_EQ(testPresenter().texts(), QStringList{QStringLiteral("该项目名已经存在，请重新输入!")});
        EXPECT_EQ(dlg.ProjectName(), QStringLiteral("春节联欢晚会"));
    }
}

TEST_F(ProjectDialogTest, BlanksAroundANameAreCheckedAndKept)
{
    // Differs from a stored name only by its blanks: not a duplicate, kept as typed.
    {
        StatementRecorder rec;
        TfrmProjectEdit dlg;
        fill(dlg, -1, QString(), 0, 0, 0);
        ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
            typeInto(d->edtProjectName, QStringLiteral("  春节联欢晚会  "));
            d->btnOK->click();
        });
        EXPECT_EQ(dlg.exec(), 1);
        EXPECT_EQ(testPresenter().count(), 0);
        EXPECT_EQ(dlg.ProjectName(), QStringLiteral("  春节联欢晚会  "));
        ASSERT_EQ(rec.count(), 1);
        EXPECT_TRUE(rec.statements()[0].endsWith(QStringLiteral("CName='  春节联欢晚会  '"))) << rec.statements()[0].toStdString();
    }
    // The same blanks as a stored name: a duplicate.
    {
        TfrmProjectEdit dlg;
        fill(dlg, -1, QString(), 0, 0, 0);
        ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
            typeInto(d->edtProjectName, QStringLiteral("  灯会  "));
            d->btnOK->click();
        });
        EXPECT_EQ(dlg.exec(), 2);
        EXPECT_TRUE(answer.leftOpen());
        EXPECT_EQ(testPresenter().texts(), QStringList{QStringLiteral("该项目名已经存在，请重新输入!")});
    }
}

TEST_F(ProjectDialogTest, NameWithBlanksIsStoredWithItsBlanksByTheNewCommand)
{
    delete CDProject.data();
    auto *w = openProjectWindow(kCtx);
    ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
        typeInto(d->edtProjectName, QStringLiteral(" 元宵灯会 "));
        typeInto(d->spdCrossTNum, QStringLiteral("7"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    w->ToolButton1->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(testPresenter().count(), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT WHERE CNAME = ' 元宵灯会 '")), 1);
    EXPECT_EQ(db.count(QStringLiteral("SELECT CROSTNUM FROM QEL_PROJECT WHERE CNAME = ' 元宵灯会 '")), 7);
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT WHERE CNAME = '元宵灯会'")), 0);
}

TEST_F(ProjectDialogTest, SpinBoxesKeepTheirValuesWithin0To100)
{
    // Typed out of range: brought to the bound when OK is clicked.
    {
        TfrmProjectEdit dlg;
        fill(dlg, -1, QString(), 5, 5, 5);
        QString shownAfterOk;
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            typeInto(d->edtProjectName, QStringLiteral("新春音乐会"));
            typeInto(d->spdCrossDiscount, QStringLiteral("150"));
            QTest::mouseClick(d->btnOK, Qt::LeftButton);
            shownAfterOk = d->spdCrossDiscount->text();
        });
        EXPECT_EQ(dlg.exec(), 1);
        EXPECT_EQ(dlg.CrossDiscount(), 100);
        EXPECT_EQ(shownAfterOk, QStringLiteral("100"));
        EXPECT_EQ(dlg.CrossTNum(), 5);
    }
    // Out of range from the setters: shown at the bound and returned so.
    {
        TfrmProjectEdit dlg;
        fill(dlg, springId, QStringLiteral("春节联欢晚会"), 150, -5, 100);
        int disc = -1, tnum = -1, pnum = -1;
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            disc = d->spdCrossDiscount->value();
            tnum = d->spdCrossTNum->value();
            pnum = d->spdCrossPNum->value();
            d->btnOK->click();
        });
        EXPECT_EQ(dlg.exec(), 1);
        EXPECT_EQ(disc, 100);
        EXPECT_EQ(tnum, 0);
        EXPECT_EQ(pnum, 100);
        EXPECT_EQ(dlg.CrossDiscount(), 100);
        EXPECT_EQ(dlg.CrossTNum(), 0);
        EXPECT_EQ(dlg.CrossPNum(), 100);
    }
}

TEST_F(ProjectDialogTest, CancelAfterARefusedOkGivesTwoAndKeepsTheSetterValues)
{
    for (const QString &refused : {QStringLiteral(" "), QStringLiteral("话剧展演")}) {
        SCOPED_TRACE(refused.toStdString());
        testPresenter().clear();
        TfrmProjectEdit dlg;
        fill(dlg, -1, QStringLiteral("草稿"), 1, 2, 3);
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            typeInto(d->edtProjectName, refused);
            typeInto(d->spdCrossDiscount, QStringLiteral("50"));
            typeInto(d->spdCrossPNum, QStringLiteral("60"));
            QTest::mouseClick(d->btnOK, Qt::LeftButton);
            QTest::mouseClick(d->btnCancel, Qt::LeftButton);
        });
        EXPECT_EQ(dlg.exec(), 2);
        EXPECT_FALSE(answer.leftOpen());
        EXPECT_EQ(testPresenter().count(), 1);
        EXPECT_EQ(dlg.ProjectName(), QStringLiteral("草稿"));
        EXPECT_EQ(dlg.CrossDiscount(), 1);
        EXPECT_EQ(dlg.CrossTNum(), 2);
        EXPECT_EQ(dlg.CrossPNum(), 3);
        EXPECT_EQ(dlg.ProjectID(), -1);
    }
    // The close box gives 2 as well.
    TfrmProjectEdit dlg;
    fill(dlg, -1, QStringLiteral("草稿"), 1, 2, 3);
    ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
        typeInto(d->edtProjectName, QStringLiteral("元宵灯会"));
        d->close();
    });
    EXPECT_EQ(dlg.exec(), 2);
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(dlg.ProjectName(), QStringLiteral("草稿"));
}

TEST_F(ProjectDialogTest, EnterAndEscapeDoNothing)
{
    StatementRecorder rec;
    TfrmProjectEdit dlg;
    fill(dlg, -1, QString(), 0, 0, 0);
    QStringList stillOpen;
    ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
        typeInto(d->edtProjectName, QStringLiteral("元宵灯会"));
        const QList<QPair<QWidget *, Qt::Key>> presses = {
            {d->edtProjectName, Qt::Key_Return}, {d->edtProjectName, Qt::Key_Enter}, {d->edtProjectName, Qt::Key_Escape},
            {d->spdCrossTNum, Qt::Key_Return},   {d->spdCrossTNum, Qt::Key_Escape},  {d->btnOK, Qt::Key_Return},
            {d->btnCancel, Qt::Key_Return},      {d->btnCancel, Qt::Key_Escape},     {d, Qt::Key_Escape},
        };
        for (const auto &p : presses) {
            p.first->setFocus();
            QTest::keyClick(p.first, p.second);
            if (d->isVisible())
                stillOpen << p.first->objectName();
        }
        QTest::mouseClick(d->btnCancel, Qt::LeftButton);
    });
    EXPECT_EQ(dlg.exec(), 2);
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(stillOpen.size(), 9) << stillOpen.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(rec.count(), 0) << "OK must not have run";
    EXPECT_EQ(testPresenter().count(), 0);
    EXPECT_EQ(dlg.ProjectName(), QString());
}

TEST_F(ProjectDialogTest, TabMovesThroughNameDiscountTicketsPerformancesOkCancel)
{
    TfrmProjectEdit dlg;
    fill(dlg, -1, QString(), 0, 0, 0);
    QStringList order;
    ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
        d->activateWindow();
        d->edtProjectName->setFocus(Qt::TabFocusReason);
        const QList<QWidget *> controls = {d->edtProjectName, d->spdCrossDiscount, d->spdCrossTNum,
                                           d->spdCrossPNum,   d->btnOK,            d->btnCancel};
        for (int i = 0; i < 6; ++i) {
            QWidget *f = d->focusWidget();
            QString name = QStringLiteral("?");
            for (QWidget *c : controls)
                if (f && (f == c || c->isAncestorOf(f)))
                    name = c->objectName();
            order << name;
            QTest::keyClick(f ? f : d, Qt::Key_Tab);
        }
        d->btnCancel->click();
    });
    EXPECT_EQ(dlg.exec(), 2);
    EXPECT_EQ(order, (QStringList{QStringLiteral("edtProjectName"), QStringLiteral("spdCrossDiscount"), QStringLiteral("spdCrossTNum"),
                                  QStringLiteral("spdCrossPNum"), QStringLiteral("btnOK"), QStringLiteral("btnCancel")}));
}

TEST_F(ProjectDialogTest, AFailingDuplicateCheckGoesToTheErrorBoxAndTheDialogStaysOpen)
{
    TfrmProjectEdit dlg;
    fill(dlg, -1, QString(), 0, 0, 0);
    bool openAfterError = false;
    QList<TestPresenter::Call> afterError;
    ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
        // A character GBK cannot hold never reaches the server.
        typeInto(d->edtProjectName, QStringLiteral("春晚🎉"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
        openAfterError = d->isVisible();
        afterError = testPresenter().calls();
        typeInto(d->edtProjectName, QStringLiteral("春晚"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    EXPECT_EQ(dlg.exec(), 1);
    EXPECT_TRUE(openAfterError);
    ASSERT_EQ(afterError.size(), 1);
    EXPECT_EQ(afterError[0].kind, MessageKind::Error);
    EXPECT_TRUE(afterError[0].text.contains(QStringLiteral("GBK"))) << afterError[0].text.toStdString();
    EXPECT_TRUE(afterError[0].text.contains(QStringLiteral("🎉"))) << afterError[0].text.toStdString();
    EXPECT_EQ(dlg.ProjectName(), QStringLiteral("春晚"));
    EXPECT_EQ(projects(), 3);
}

} // namespace
