// The history window through the real windows: Ctrl+H and the lists' context
// menus open it on the current project, its filters narrow the list, each
// entry reads as "标题：旧值 → 新值", and "恢复" brings a deleted project back
// or lists what blocks it. On the engine QEL_DATABASE selects.
#include "SqlText.h"
#include "Context.h"
#include "DBGrid.h"
#include "GuiTest.h"
#include "ProjectWindow.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "uCDHistory.h"
#include "uCDProductProject.h"
#include "uCDProject.h"
#include "uUIHistory.h"
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <gtest/gtest.h>
#include <ctime>

namespace {

const QString kZhang = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("票务组"), QStringLiteral("张三"), QStringLiteral("A")});
const QString kLi = TQELContext::Compose({QStringLiteral("02"), QStringLiteral("G02"), QStringLiteral("李四"), QStringLiteral("G")});

// The texts of one column of the history grid, found by its title.
QStringList historyColumn(TFrmHistory *w, const QString &title)
{
    const QAbstractItemModel *m = w->GrdHistory->model();
    for (int c = 0; c < m->columnCount(); ++c)
        if (m->headerData(c, Qt::Horizontal).toString() == title)
            return gridColumn(w->GrdHistory, c);
    ADD_FAILURE() << "no column " << title.toStdString();
    return {};
}

class HistoryWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db.exec(QStringLiteral("insert into um_member_class values ('M1', '金卡')"));
        for (const char *code : {"P1", "P2"})
            db.exec(QStringLiteral("insert into QEL_PRODUCT values ('%1', '演出%1', '2030-01-01 19:30:00', 'C1', 'V1', '01', null, null, null, '5', "
                                   "null, null)")
                        .arg(QLatin1String(code)));
        cd.Context = kZhang;
        pp.Context = kZhang;
    }
    qint64 projectId(const QString &name) { return db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = ") + QuotedStr(name)).toLongLong(); }
    // A project with a limit and a performance, then one edit by another desk.
    qint64 project(const QString &name, const QString &performance = QStringLiteral("P1"))
    {
        EXPECT_TRUE(cd.InsertPro(name, 10, 2, 3));
        const qint64 id = projectId(name);
        EXPECT_TRUE(cd.Insertmemberlimit(QString::number(id), QStringLiteral("M1"), QStringLiteral("4"), QStringLiteral("1"), QStringLiteral("1")));
        EXPECT_TRUE(pp.InsertProduct(QString::number(id), performance));
        cd.Context = kLi;
        EXPECT_TRUE(cd.EdtPro(id, name, 20, 2, 3));
        cd.Context = kZhang;
        return id;
    }
    QStringList tables()
    {
        QStringList out;
        out << db.texts(QStringLiteral("select ID || '|' || CNAME || '|' || CROSSDISCOUNT from QEL_PROJECT order by ID"));
        out << db.texts(QStringLiteral("select PID || '|' || MEMBER_CLASS_ID || '|' || MAX_NUM from qel_project_member_limit order by PID"));
        out << db.texts(QStringLiteral("select PROJECTID || '|' || PRODUCTCODE from QEL_PROJECT_PRODUCT order by PRODUCTCODE"));
        return out;
    }

    TestDatabase db;
    TCDProject cd;
    TcdProductProject pp;
};

TEST_F(HistoryWindowTest, CtrlHOnEitherListOpensTheCurrentProjectsHistoryNewestFirst)
{
    const qint64 id = project(QStringLiteral("春节联欢"));
    project(QStringLiteral("元宵晚会"), QStringLiteral("P2"));
    QPointer<TFrmProject> w = openProjectWindow(kZhang);
    // Keys reach the window the operator works in.
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    ASSERT_GE(posOf(w->QELDBGrid1->DataSource()->DataSet(), QStringLiteral("CNAME"), QStringLiteral("春节联欢")), 0);
    clickRow(w->QELDBGrid1, posOf(w->QELDBGrid1->DataSource()->DataSet(), QStringLiteral("CNAME"), QStringLiteral("春节联欢")));

    bool seen = false;
    whenModal([&](QWidget *modal) {
        auto *h = qobject_cast<TFrmHistory *>(modal);
        ASSERT_TRUE(h);
        seen = true;
        EXPECT_EQ(h->windowTitle(), QStringLiteral("变更记录"));
        EXPECT_EQ(h->CbbScope->currentText(), QStringLiteral("当前项目：春节联欢"));
        // Newest first: the other desk's edit, then the performance, the limit, the project.
        EXPECT_EQ(historyColumn(h, QStringLiteral("操作")), QStringList({"修改", "新增", "新增", "新增"}));
        EXPECT_EQ(historyColumn(h, QStringLiteral("对象")), QStringList({"项目", "演出", "限购", "项目"}));
        EXPECT_EQ(historyColumn(h, QStringLiteral("操作员")), QStringList({"02/G02/李四", "01/票务组/张三", "01/票务组/张三", "01/票务组/张三"}));
        const QStringList changes = historyColumn(h, QStringLiteral("变更内容"));
        ASSERT_EQ(changes.size(), 4);
        EXPECT_EQ(changes[0], QStringLiteral("跨场折扣率(%)：10 → 20"));
        EXPECT_EQ(changes[1], QStringLiteral("演出编码：（无） → P1"));
        EXPECT_EQ(changes[2], QStringLiteral("会员类别：（无） → M1；限购数量：（无） → 4；限购类型：（无） → 会员类别；是否可用：（无） → 是"));
        EXPECT_EQ(changes[3], QStringLiteral("演出项目：（无） → 春节联欢；跨场折扣率(%)：（无） → 10；跨场打折满足张数：（无） → 2；跨场打折满足场次数：（无） → 3"));
        EXPECT_EQ(historyColumn(h, QStringLiteral("项目编号")), QStringList(4, QString::number(id)));
        EXPECT_EQ(historyColumn(h, QStringLiteral("名称")), QStringList({"", "演出P1", "金卡", ""}));
        EXPECT_EQ(historyColumn(h, QStringLiteral("演出时间")), QStringList({"", "2030-01-01 19:30", "", ""}));
        EXPECT_FALSE(h->BtnRestore->isEnabled()) << "no delete among them";
        h->BtnClose->click();
    });
    QTest::keyClick(w->QELDBGrid1, Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(seen);

    // The limit list: the current limit's project. (No window manager here
    // gives the window back its focus when the dialog closes.)
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    clickTab(w->Pgproject, 1);
    TQELClientDataSet *limits = w->QELDBGrid2->DataSource()->DataSet();
    const int pos = posOf(limits, QStringLiteral("CNAME"), QStringLiteral("元宵晚会"));
    ASSERT_GE(pos, 0);
    clickRow(w->QELDBGrid2, pos);
    seen = false;
    whenModal([&](QWidget *modal) {
        auto *h = qobject_cast<TFrmHistory *>(modal);
        ASSERT_TRUE(h);
        seen = true;
        EXPECT_EQ(h->CbbScope->currentText(), QStringLiteral("当前项目：元宵晚会"));
        EXPECT_EQ(historyColumn(h, QStringLiteral("演出项目")), QStringList(4, QStringLiteral("元宵晚会")));
        // All projects: both projects' eight entries.
        ASSERT_TRUE(pick(h->CbbScope, QStringLiteral("全部项目")));
        h->BtnSearch->click();
        EXPECT_EQ(h->GrdHistory->model()->rowCount(), 8);
        h->BtnClose->click();
    });
    QTest::keyClick(w->QELDBGrid2, Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(seen);

    // The context menu of the limit list offers it too, for the row clicked.
    seen = false;
    const QStringList offered = withContextMenu(*w->QELDBGrid2, pos, [&](QMenu *m) {
        whenModal([&](QWidget *modal) {
            auto *h = qobject_cast<TFrmHistory *>(modal);
            ASSERT_TRUE(h);
            seen = true;
            EXPECT_EQ(h->CbbScope->currentText(), QStringLiteral("当前项目：元宵晚会"));
            h->BtnClose->click();
        });
        trigger(m, QStringLiteral("变更记录"));
    });
    EXPECT_TRUE(offered.contains(QStringLiteral("变更记录"))) << offered.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(seen);
    expectNoError("opening the history");
    disposeWindow(w);
}

TEST_F(HistoryWindowTest, OperatorActionAndDatesNarrowTheList)
{
    project(QStringLiteral("话剧季"));
    TFrmHistory h;
    h.SetContext(kZhang);
    h.SetProject(0, QString());
    h.show();
    h.BtnSearch->click();
    EXPECT_EQ(h.GrdHistory->model()->rowCount(), 4);
    // The operator's sort holds across searches.
    h.GrdHistory->SortByColumn(2, Qt::DescendingOrder);

    typeInto(h.EdtUser, QStringLiteral("李四"));
    QTest::keyClick(h.EdtUser, Qt::Key_Return);
    EXPECT_EQ(historyColumn(&h, QStringLiteral("操作")), QStringList({"修改"}));
    typeInto(h.EdtUser, QStringLiteral("王五"));
    h.BtnSearch->click();
    EXPECT_EQ(h.GrdHistory->model()->rowCount(), 0);
    EXPECT_EQ(h.GrdHistory->SortColumn(), 2);
    typeInto(h.EdtUser, QString());

    ASSERT_TRUE(pick(h.CbbAction, QStringLiteral("新增")));
    h.BtnSearch->click();
    EXPECT_EQ(historyColumn(&h, QStringLiteral("操作")), QStringList({"新增", "新增", "新增"}));
    ASSERT_TRUE(pick(h.CbbAction, QStringLiteral("全部")));

    // Today, as a one-day range, holds them all; tomorrow on, none; up to yesterday, none.
    const QDate today = QDate::currentDate();
    h.DtpFrom->setDate(today);
    h.DtpTo->setDate(today);
    h.BtnSearch->click();
    EXPECT_EQ(h.GrdHistory->model()->rowCount(), 4);
    h.DtpFrom->setDate(today.addDays(1));
    h.DtpTo->setDate(h.DtpTo->minimumDate());
    h.BtnSearch->click();
    EXPECT_EQ(h.GrdHistory->model()->rowCount(), 0);
    h.DtpFrom->setDate(h.DtpFrom->minimumDate());
    h.DtpTo->setDate(today.addDays(-1));
    h.BtnSearch->click();
    EXPECT_EQ(h.GrdHistory->model()->rowCount(), 0);
    EXPECT_EQ(h.DtpFrom->text(), QStringLiteral("不限"));

    // A range that ends before it starts is refused with a message, the list kept.
    h.DtpFrom->setDate(today);
    h.BtnSearch->click();
    ASSERT_EQ(testPresenter().count(), 1);
    EXPECT_TRUE(testPresenter().last().text.contains(QStringLiteral("晚于"))) << testPresenter().last().text.toStdString();
    testPresenter().clear();
    h.DtpTo->setDate(h.DtpTo->minimumDate());

    // By kind of row; the names of two projects' rows read in one look-up each.
    project(QStringLiteral("歌剧季"), QStringLiteral("P2"));
    ASSERT_TRUE(pick(h.CbbKind, QStringLiteral("限购")));
    StatementRecorder sent;
    h.BtnSearch->click();
    EXPECT_EQ(historyColumn(&h, QStringLiteral("对象")), QStringList({"限购", "限购"}));
    EXPECT_EQ(historyColumn(&h, QStringLiteral("名称")), QStringList({"金卡", "金卡"}));
    ASSERT_TRUE(pick(h.CbbKind, QStringLiteral("全部")));
    h.BtnSearch->click();
    EXPECT_EQ(sent.count(), 2 + 3) << sent.statements().join(QLatin1Char('\n')).toStdString();
    // A class or performance gone from the catalogue: its code alone.
    db.exec(QStringLiteral("delete from um_member_class"));
    db.exec(QStringLiteral("delete from QEL_PRODUCT where PRODUCTCODE = 'P2'"));
    ASSERT_TRUE(pick(h.CbbKind, QStringLiteral("演出")));
    h.BtnSearch->click();
    EXPECT_EQ(historyColumn(&h, QStringLiteral("会员类别/演出编码")), QStringList({"P2", "P1"}));
    EXPECT_EQ(historyColumn(&h, QStringLiteral("名称")), QStringList({"", "演出P1"}));
}

TEST_F(HistoryWindowTest, DaysWhoseMidnightTheClocksSkipStillBoundTheList)
{
    // A zone whose clocks go from 00:00 to 01:00 on the first Sunday of
    // September (a rule, so no zone files are needed).
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "CLT4CLST,M9.1.0/0,M4.1.0/0");
    tzset();
    const auto restore = qScopeGuard([&] {
        if (zone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", zone);
        tzset();
    });
    const QDate skipped(2023, 9, 3);
    ASSERT_FALSE(QDateTime(skipped, QTime(0, 0)).isValid()) << "the zone has no midnight on that day";

    TFrmHistory w;
    w.SetContext(kZhang);
    w.DtpFrom->setDate(skipped);
    w.DtpTo->setDate(skipped.addDays(-1));
    THistoryFilter f = w.CurrentFilter();
    ASSERT_TRUE(f.From.isValid());
    EXPECT_EQ(f.From, QDateTime(skipped, QTime(1, 0)));
    EXPECT_TRUE(TCDHistory::HistorySql(f).contains(QStringLiteral("CHANGED_AT >= ")));
    // From after To is refused, not run without bounds.
    EXPECT_EQ(f.To, f.From);
    QTest::mouseClick(w.BtnSearch, Qt::LeftButton);
    ASSERT_EQ(testPresenter().count(), 1);
    EXPECT_TRUE(testPresenter().calls()[0].text.contains(QStringLiteral("晚于"))) << testPresenter().calls()[0].text.toStdString();
    testPresenter().clear();

    w.DtpTo->setDate(skipped);
    f = w.CurrentFilter();
    EXPECT_EQ(f.To, QDateTime(skipped.addDays(1), QTime(0, 0)));
}

TEST_F(HistoryWindowTest, RestoreBringsADeletedProjectBackOrListsWhatBlocksIt)
{
    const qint64 id = project(QStringLiteral("芭蕾专场"));
    const QStringList before = tables();
    ASSERT_TRUE(cd.DelPro(id));
    ASSERT_NE(tables(), before);

    TFrmHistory h;
    h.SetContext(kLi);
    h.SetProject(0, QString());
    h.show();
    h.BtnSearch->click();
    // The delete's entries come first: the project's own is the one to restore.
    const QStringList actions = historyColumn(&h, QStringLiteral("操作"));
    const QStringList kinds = historyColumn(&h, QStringLiteral("对象"));
    int deleteRow = -1;
    for (int i = 0; i < kinds.size(); ++i)
        if (kinds[i] == QStringLiteral("项目") && actions[i] == QStringLiteral("删除"))
            deleteRow = i;
    ASSERT_GE(deleteRow, 0);
    clickRow(h.GrdHistory, deleteRow == 0 ? 1 : 0);
    EXPECT_FALSE(h.BtnRestore->isEnabled());
    clickRow(h.GrdHistory, deleteRow);
    ASSERT_TRUE(h.BtnRestore->isEnabled());

    // A project of the same name now: nothing restored, the blocker named.
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("芭蕾专场"), 1, 1, 1));
    const QStringList blocked = tables();
    testPresenter().pushAnswer(mrYes);
    QTest::mouseClick(h.BtnRestore, Qt::LeftButton);
    ASSERT_EQ(testPresenter().count(), 2);
    EXPECT_EQ(testPresenter().calls()[1].flags, MB_ICONERROR);
    EXPECT_TRUE(testPresenter().calls()[1].text.contains(QStringLiteral("芭蕾专场"))) << testPresenter().calls()[1].text.toStdString();
    EXPECT_EQ(tables(), blocked);
    testPresenter().clear();

    // The name free again: restored whole, the list reloaded with the restore on top.
    ASSERT_TRUE(cd.DelPro(projectId(QStringLiteral("芭蕾专场"))));
    h.BtnSearch->click();
    for (int i = 0; i < h.GrdHistory->model()->rowCount(); ++i) {
        if (historyColumn(&h, QStringLiteral("对象"))[i] == QStringLiteral("项目") && historyColumn(&h, QStringLiteral("操作"))[i] == QStringLiteral("删除") &&
            historyColumn(&h, QStringLiteral("项目编号"))[i] == QString::number(id)) {
            clickRow(h.GrdHistory, i);
            break;
        }
    }
    ASSERT_TRUE(h.BtnRestore->isEnabled());
    // Declined: nothing happens.
    testPresenter().pushAnswer(7);
    QTest::mouseClick(h.BtnRestore, Qt::LeftButton);
    ASSERT_EQ(testPresenter().count(), 1);
    EXPECT_NE(tables(), before);
    testPresenter().clear();
    StatementRecorder sent;
    QTest::mouseClick(h.BtnRestore, Qt::LeftButton);
    ASSERT_EQ(testPresenter().count(), 2);
    EXPECT_EQ(testPresenter().calls()[1].flags, MB_ICONINFORMATION);
    testPresenter().clear();
    EXPECT_EQ(tables(), before);
    EXPECT_EQ(historyColumn(&h, QStringLiteral("操作")).first(), QStringLiteral("恢复"));
    // The reload names the restored rows as the list named them a moment ago: no look-up.
    EXPECT_EQ(historyColumn(&h, QStringLiteral("名称")).first(), QStringLiteral("演出P1"));
    EXPECT_FALSE(sent.statements().join(QLatin1Char('\n')).contains(QStringLiteral("FROM QEL_PRODUCT WHERE")));
    EXPECT_EQ(historyColumn(&h, QStringLiteral("操作员")).first(), QStringLiteral("02/G02/李四"));
    // For the documentation: QEL_SCREENSHOT_DIR=docs/screenshots keeps a picture of it.
    const QString shots = qEnvironmentVariable("QEL_SCREENSHOT_DIR");
    if (!shots.isEmpty()) {
        EXPECT_TRUE(h.grab().save(QDir(shots).filePath(QStringLiteral("history-restore.png"))));
    }
}

} // namespace

namespace {

TEST_F(HistoryWindowTest, AProjectWhoseDeleteOutgrowsTheListIsAmongTheDeletedAndRestoredThere)
{
    // A delete restored since is not listed.
    const qint64 back = project(QStringLiteral("已恢复的项目"), QStringLiteral("P2"));
    ASSERT_TRUE(cd.DelPro(back));
    TCDHistory hist;
    hist.Context = kZhang;
    ASSERT_TRUE(hist.RestoreProject(db.scalar(QStringLiteral("select max(ID) from QEL_PROJECT_HISTORY where ACTION = 'delete'")).toLongLong() - 2).Restored);
    // More performances than the list shows entries: the delete's own entry falls below theirs.
    const qint64 id = project(QStringLiteral("大型巡演"));
    const QString rows = db.isPostgres() ? QStringLiteral("generate_series(1, %1) AS g(x)").arg(TFrmHistory::kMaxRows)
                                         : QStringLiteral("g");
    const QString with = db.isPostgres() ? QString()
                                          : QStringLiteral("WITH RECURSIVE g(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM g WHERE x < %1) ").arg(TFrmHistory::kMaxRows);
    db.exec(with + QStringLiteral("INSERT INTO QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, STATUS) "
                                  "SELECT 'Q' || x, '巡演', '2030-01-01 19:30:00', 'C1', 'V1', '01', '5' FROM %1").arg(rows));
    db.exec(QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) SELECT %1, PRODUCTCODE FROM QEL_PRODUCT WHERE PRODUCTCODE LIKE 'Q%'").arg(id));
    const QStringList before = tables();
    ASSERT_TRUE(cd.DelPro(id));
    // Opened from a main window whose search finds nothing: every project's history.
    QPointer<TFrmProject> w = openProjectWindow(kLi);
    typeInto(w->EdtProName, QStringLiteral("大型巡演"));
    w->BtnSearch->click();
    ASSERT_TRUE(gridColumn(w->QELDBGrid1, 1).isEmpty());

    whenModal([&](QWidget *modal) {
        auto *h = qobject_cast<TFrmHistory *>(modal);
        ASSERT_TRUE(h);
        EXPECT_FALSE(historyColumn(h, QStringLiteral("对象")).contains(QStringLiteral("项目")));
        const QStringList names = historyColumn(h, QStringLiteral("名称"));
        EXPECT_EQ(names.count(QStringLiteral("巡演")) + names.count(QStringLiteral("金卡")), TFrmHistory::kMaxRows);
        ASSERT_TRUE(pick(h->CbbScope, QStringLiteral("已删除的项目")));
        h->BtnSearch->click();
        EXPECT_EQ(historyColumn(h, QStringLiteral("演出项目")), QStringList({QStringLiteral("大型巡演")}));
        EXPECT_EQ(historyColumn(h, QStringLiteral("操作员")), QStringList({QStringLiteral("01/票务组/张三")}));
        EXPECT_EQ(historyColumn(h, QStringLiteral("限购(条)")), QStringList({QStringLiteral("1")}));
        EXPECT_EQ(historyColumn(h, QStringLiteral("演出(场)")), QStringList({QString::number(TFrmHistory::kMaxRows + 1)}));
        clickRow(h->GrdHistory, 0);
        testPresenter().pushAnswer(mrYes);
        QTest::mouseClick(h->BtnRestore, Qt::LeftButton);
        EXPECT_EQ(h->GrdHistory->model()->rowCount(), 0) << "restored, so no longer listed";
        h->BtnClose->click();
    });
    w->ActHistory->trigger();
    EXPECT_EQ(gridColumn(w->QELDBGrid1, 1), QStringList({QStringLiteral("大型巡演")})) << "the main window's lists reload after a restore";
    disposeWindow(w);
    ASSERT_EQ(testPresenter().count(), 2);
    EXPECT_EQ(testPresenter().calls()[1].flags, MB_ICONINFORMATION) << testPresenter().calls()[1].text.toStdString();
    testPresenter().clear();
    EXPECT_TRUE(tables() == before);
}

} // namespace
