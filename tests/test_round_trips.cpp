// Round trips of the operator's commands to a PostgreSQL server, counted by a
// relay in front of it: real windows, real clicks.
#include "DelayRelay.h"
#include "GuiTest.h"
#include "ProjectWindow.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "Unitprojectinfo.h"
#include "uCDSearchproduct_pro.h"
#include "uUIHistory.h"
#include "uUIProjectEdit.h"
#include "uUISearchProduct_pro.h"
#include <Database.h>
#include <QToolButton>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

TEST(RoundTrips, EachCommandTakesAFewRoundTrips)
{
    if (!TestDatabase::postgresSelected())
        GTEST_SKIP() << "round trips are counted in front of a PostgreSQL server";
    const QString ctx = QStringLiteral("01\rG01\r张三\rA\r\r\r\r");
    TestDatabase db;
    db.exec(QStringLiteral("insert into um_member_class values ('M1', '金卡'), ('M2', '银卡')"));
    db.exec(QStringLiteral("insert into QEL_PRODUCT values ('P1', '演出', '2030-01-01 19:30:00', 'C1', 'V1', '01', null, null, null, '5', null, null)"));
    // A deleted project with a limit and a performance, and one in the lists.
    db.exec(QStringLiteral("insert into QEL_PROJECT (ID, CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) values (7, '芭蕾专场', 10, 2, 3), (8, '话剧展演', 0, 0, 0)"));
    db.exec(QStringLiteral("insert into qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) values (7, 'M1', 4, '1', '1')"));
    db.exec(QStringLiteral("insert into QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) values (7, 'P1')"));
    TCDProject cd;
    cd.Context = ctx;
    ASSERT_TRUE(cd.DelPro(7));

    // The desk's session, already set up, goes through the relay.
    const QUrl server(db.url());
    DelayRelay relay(server.host(), server.port(5432));
    QUrl desk(relay.url(db.url()));
    QUrlQuery connect(desk);
    connect.addQueryItem(QStringLiteral("connect_timeout"), QStringLiteral("2")); // a silent server is given up on soon
    desk.setQuery(connect);
    Database::open(desk.toString());
    TCADBPipe2().GetData(ctx, QStringLiteral("select 1"));
    QPointer<TFrmProject> win;
    std::unique_ptr<TUISearchProduct_pro> search;
    TFrmHistory history;
    const auto count = [&](const char *rows) { return db.count(QStringLiteral("select count(*) from ") + QLatin1String(rows)); };
    // Each command with the round trips it may take.
    const struct { const char *command; int most; std::function<void()> run; } steps[] = {
        {"open the main window", 2, [&] { win = openProjectWindow(ctx); }},
        {"F5", 1, [&] { win->ToolButton5->click(); }},
        {"create a project", 4, [&] { // the name check, the insert and its commit, the list
             ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) { typeInto(d->edtProjectName, QStringLiteral("元宵灯会")); d->btnOK->click(); });
             win->ToolButton1->click();
             EXPECT_EQ(count("QEL_PROJECT"), 2);
         }},
        {"edit a project", 5, [&] { // the name check, begin with the locked row, the update, commit, the list
             ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) { typeInto(d->spdCrossPNum, QStringLiteral("9")); d->btnOK->click(); });
             win->ToolButton2->click();
             EXPECT_EQ(count("QEL_PROJECT where CROSSPNUM = 9"), 1);
         }},
        {"switch to the limit tab", 1, [&] { clickTab(win->Pgproject, 1); }},
        {"add a member-class limit", 6, [&] { // the pick lists, two rule checks, the insert and its commit, the list
             ModalAnswer<TFormprojectinfo> answer([](TFormprojectinfo *d) {
                 pick(d->cbbproject, QStringLiteral("话剧展演")); pick(d->cbbmemberclassname, QStringLiteral("银卡"));
                 typeInto(d->edtlimitcount, QStringLiteral("8"));
                 d->btnok->click();
             });
             win->ToolButton1->click();
             EXPECT_EQ(count("qel_project_member_limit"), 1);
         }},
        {"open the catalogue search", 3, [&] { // the service's classes, its venues, the cities with the search
             (search = std::make_unique<TUISearchProduct_pro>())->SnapIn->SetContext(ctx);
             search->show();
             EXPECT_TRUE(search->DataModule()->cdsProduct->Active());
         }},
        {"search the catalogue", 1, [&] { search->BitBtn1->click(); }},
        // Begin with the delete's entry and its rows, the look-ups with the ID
        // check and the mark, the rows with their commit, the list.
        {"restore a deleted project", 4, [&] {
             history.SetContext(ctx);
             history.CbbScope->setCurrentIndex(history.CbbScope->findData(TFrmHistory::kDeletedScope));
             history.show();
             history.BtnSearch->click();
             clickRow(history.GrdHistory, 0);
             relay.resetCounts();
             testPresenter().pushAnswer(mrYes);
             history.BtnRestore->click();
             EXPECT_EQ(count("QEL_PROJECT where ID = 7"), 1);
             EXPECT_EQ(history.CDHistory->cdsHistory->RecordCount(), 0);
         }},
    };
    for (const auto &step : steps) {
        testPresenter().clear();
        relay.resetCounts();
        step.run();
        EXPECT_LE(relay.roundTrips(), step.most) << step.command;
        for (const TestPresenter::Call &c : testPresenter().calls())
            EXPECT_TRUE(c.kind != MessageKind::Error && c.flags != MB_ICONERROR) << step.command << ": " << c.text.toStdString();
    }

    // A create whose answer to COMMIT is lost as the server goes silent: the
    // desk cannot tell, and says so; the retry meets the saved row and says
    // it is most likely that save.
    clickTab(win->Pgproject, 0);
    relay.swallowNextCommandComplete("COMMIT", true);
    testPresenter().clear();
    {
        ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) { typeInto(d->edtProjectName, QStringLiteral("灯会")); d->btnOK->click(); });
        win->ToolButton1->click();
    }
    EXPECT_TRUE(relay.swallowed());
    EXPECT_TRUE(testPresenter().last().text.startsWith(QStringLiteral("结果未知：连接在服务器确认之前断开，请刷新后核对"))) << testPresenter().last().text.toStdString();
    relay.setSilent(false);
    {
        ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) { typeInto(d->edtProjectName, QStringLiteral("灯会")); d->btnOK->click(); });
        win->ToolButton1->click();
    }
    EXPECT_TRUE(testPresenter().last().text.contains(QStringLiteral("这很可能就是那次已经保存的项目"))) << testPresenter().last().text.toStdString();
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT where CNAME = '灯会'")), 1);
    disposeWindow(win);
    delete CDProject.data();
}
