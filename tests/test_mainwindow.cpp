// The project management window (TFrmProject) and its project tab, opened
// offscreen over a real database.
#include "DBGrid.h"
#include "Dialogs.h"
#include "ProjectWindow.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "BatchLimitDialog.h"
#include "uCDProject.h"
#include "uUIProductProject.h"
#include "uUIProject.h"
#include "uUIProjectEdit.h"
#include <ChangeWatcher.h>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QComboBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <memory>
#include <gtest/gtest.h>
#include "GuiTest.h"

namespace {

const QString kCtx = QStringLiteral("01\rG01\r张三\rA\r\r\r\r");
const QString kProjectList = QStringLiteral("Select * from QEL_Project  A ");
const QString kLimitListStart = QStringLiteral("Select a.id as projectid,b.MEMBER_CLASS_ID, a.cname,c.member_class_name,b.enable ");

QStringList sorted(QStringList l)
{
    l.sort();
    return l;
}

int rowOf(const TQELDBGrid *g, int col, const QString &text)
{
    return int(gridColumn(g, col).indexOf(text));
}

QString lastStatement(const StatementRecorder &rec)
{
    return rec.statements().isEmpty() ? QString() : rec.statements().last();
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        addProject(QStringLiteral("春节联欢晚会"), 10, 2, 3);
        addProject(QStringLiteral("春_节特别场"), 0, 0, 0);
        addProject(QStringLiteral("100%纯音乐会"), 5, 1, 1);
        addProject(QStringLiteral("O'Neil专场"), 0, 0, 0);
        addProject(QStringLiteral("人民剧场演出季"), 20, 6, 2);
        addProject(QStringLiteral("星光 剧场 专场"), 0, 0, 0);
        addProject(QStringLiteral("话剧展演"), 30, 4, 5);
        db.exec(QStringLiteral("INSERT INTO um_member_class VALUES ('M01', '钻石会员')"));
        db.exec(QStringLiteral("INSERT INTO um_member_class VALUES ('M02', '白金会员')"));
        spring = idOf(QStringLiteral("春节联欢晚会"));
        drama = idOf(QStringLiteral("话剧展演"));
        addLimit(spring, QStringLiteral("M01"), 4, QStringLiteral("1"), QStringLiteral("1"));
        addLimit(spring, QStringLiteral("M02"), 2, QStringLiteral("1"), QStringLiteral("0"));
        addLimit(drama, QString(), 6, QStringLiteral("2"), QStringLiteral("1"));
        db.exec(QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) VALUES (%1, 'P0001')").arg(spring));
        db.exec(QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) VALUES (%1, 'P0002')").arg(drama));
    }
    void TearDown() override
    {
        disposeWindow(win);
        delete CDProject.data();
    }

    void addProject(const QString &name, int disc, int tnum, int pnum)
    {
        QString quoted = name;
        quoted.replace(QLatin1Char('\''), QLatin1String("''"));
        db.exec(QStringLiteral("INSERT INTO QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) VALUES ('%1', %2, %3, %4)")
                    .arg(quoted).arg(disc).arg(tnum).arg(pnum));
    }
    void addLimit(int pid, const QString &member, int max, const QString &type, const QString &enable)
    {
        db.exec(QStringLiteral("INSERT INTO qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) "
                               "VALUES (%1, '%2', %3, '%4', '%5')")
                    .arg(pid).arg(member).arg(max).arg(type, enable));
    }
    int idOf(const QString &name)
    {
        return db.count(QStringLiteral("SELECT ID FROM QEL_PROJECT WHERE CNAME = '%1'").arg(name));
    }
    int projects() { return db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT")); }

    TFrmProject *open()
    {
        auto *w = openProjectWindow(kCtx);
        win = w;
        return w;
    }
    QStringList projectNames() const { return gridColumn(win->QELDBGrid1, 1); }
    QStringList limitProjects() const { return gridColumn(win->QELDBGrid2, 0); }
    // The current row of the project list, as the grid and the dataset have it.
    int currentProjectRow() const
    {
        const int grid = win->QELDBGrid1->currentIndex().row();
        const int data = CDProject ? CDProject->cdsProject->RecNo() : -2;
        EXPECT_EQ(grid, data) << "grid and dataset disagree on the current row";
        return data;
    }
    // Runs a search on the project tab as the operator does.
    void searchProjects(const QString &text)
    {
        typeInto(win->EdtProName, text);
        QTest::mouseClick(win->BtnSearch, Qt::LeftButton);
    }

    TestDatabase db;
    QPointer<TFrmProject> win;
    int spring = 0, drama = 0;
};

const QStringList kAllProjects = {
    QStringLiteral("春节联欢晚会"), QStringLiteral("春_节特别场"),    QStringLiteral("100%纯音乐会"), QStringLiteral("O'Neil专场"),
    QStringLiteral("人民剧场演出季"), QStringLiteral("星光 剧场 专场"), QStringLiteral("话剧展演"),
};

TEST_F(MainWindowTest, CaptionsTabsToolbarAndGridColumns)
{
    TFrmProject *w = open();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("演出项目限购"));
    auto *tabs = w->findChild<QTabWidget *>(QStringLiteral("Pgproject"));
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("项目管理"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("项目限购管理"));

    const QList<QPair<QString, QString>> buttons = {
        {QStringLiteral("ToolButton1"), QStringLiteral("新建")}, {QStringLiteral("ToolButton2"), QStringLiteral("编辑")},
        {QStringLiteral("ToolButton4"), QStringLiteral("删除")}, {QStringLiteral("ToolButton5"), QStringLiteral("刷新")},
        {QStringLiteral("ToolButton7"), QStringLiteral("演出管理")}, {QStringLiteral("ToolButton3"), QStringLiteral("关闭")},
    };
    for (const auto &b : buttons) {
        auto *tb = w->findChild<QToolButton *>(b.first);
        ASSERT_NE(tb, nullptr) << b.first.toStdString();
        EXPECT_EQ(tb->text(), b.second) << b.first.toStdString();
    }
    EXPECT_EQ(w->findChild<QPushButton *>(QStringLiteral("BtnSearch"))->text(), QStringLiteral("查询"));
    EXPECT_EQ(w->findChild<QPushButton *>(QStringLiteral("Button1"))->text(), QStringLiteral("查询"));
    EXPECT_EQ(w->findChild<QLineEdit *>(QStringLiteral("EdtProName"))->text(), QString());
    EXPECT_EQ(w->findChild<QLineEdit *>(QStringLiteral("edtprolimit"))->text(), QString());

    struct Col {
        QString title;
        int width;
    };
    const QList<Col> projectCols = {{QStringLiteral("编   号"), 130},
                                    {QStringLiteral("演出项目"), 302},
                                    {QStringLiteral("跨场折扣率(%)"), 132},
                                    {QStringLiteral("跨场打折满足张数"), 181},
                                    {QStringLiteral("跨场打折满足场次数"), 170}};
    const QList<Col> limitCols = {{QStringLiteral("演出项目"), 347},
                                  {QStringLiteral("会员类别"), 156},
                                  {QStringLiteral("限购数量"), 156},
                                  {QStringLiteral("限购类型"), 156},
                                  {QStringLiteral("是否可用"), 156}};
    const QList<QPair<TQELDBGrid *, QList<Col>>> grids = {
        {w->findChild<TQELDBGrid *>(QStringLiteral("QELDBGrid1")), projectCols},
        {w->findChild<TQELDBGrid *>(QStringLiteral("QELDBGrid2")), limitCols},
    };
    for (const auto &g : grids) {
        ASSERT_NE(g.first, nullptr);
        const QAbstractItemModel *m = g.first->model();
        ASSERT_NE(m, nullptr) << "grid not bound after show";
        ASSERT_EQ(m->columnCount(), g.second.size());
        for (int c = 0; c < g.second.size(); ++c) {
            SCOPED_TRACE(g.first->objectName().toStdString() + " column " + std::to_string(c));
            // The discount title ends in a line break in the layout; the header shows its text.
            EXPECT_EQ(m->headerData(c, Qt::Horizontal).toString().trimmed(), g.second[c].title);
            EXPECT_EQ(Qt::Alignment(m->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask,
                      Qt::AlignHCenter);
            EXPECT_EQ(g.first->columnWidth(c), g.second[c].width);
        }
    }
    // The first title keeps its three blanks.
    EXPECT_EQ(w->QELDBGrid1->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("编   号"));
    // Limit type cells are centred.
    ASSERT_GT(w->QELDBGrid2->model()->rowCount(), 0);
    EXPECT_EQ(Qt::Alignment(w->QELDBGrid2->model()->index(0, 3).data(Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);
    // The grids are read-only.
    EXPECT_EQ(w->QELDBGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(w->QELDBGrid2->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(MainWindowTest, ShowLoadsBothListsAndActivatesTheProjectTab)
{
    StatementRecorder rec;
    TFrmProject *w = open();
    ASSERT_NE(CDProject, nullptr);
    EXPECT_EQ(CDProject->Context, kCtx);
    ASSERT_EQ(rec.count(), 2) << rec.statements().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(rec.statements()[0], kProjectList);
    EXPECT_TRUE(rec.statements()[1].startsWith(kLimitListStart));
    EXPECT_FALSE(rec.statements()[1].contains(QStringLiteral("WHERE")));
    EXPECT_EQ(rec.contexts(), (QStringList{kCtx, kCtx}));

    EXPECT_EQ(w->Pgproject->currentIndex(), 0);
    EXPECT_EQ(sorted(projectNames()), sorted(kAllProjects));
    EXPECT_EQ(currentProjectRow(), 0);

    // The project row shows its values under the right titles.
    const int r = rowOf(w->QELDBGrid1, 1, QStringLiteral("人民剧场演出季"));
    ASSERT_GE(r, 0);
    const QAbstractItemModel *m = w->QELDBGrid1->model();
    EXPECT_EQ(m->index(r, 0).data().toString(), QString::number(idOf(QStringLiteral("人民剧场演出季"))));
    EXPECT_EQ(m->index(r, 2).data().toString(), QStringLiteral("20"));
    EXPECT_EQ(m->index(r, 3).data().toString(), QStringLiteral("6"));
    EXPECT_EQ(m->index(r, 4).data().toString(), QStringLiteral("2"));

    // Every limit, with its names.
    EXPECT_EQ(sorted(limitProjects()),
              sorted({QStringLiteral("春节联欢晚会"), QStringLiteral("春节联欢晚会"), QStringLiteral("话剧展演")}));
    const QAbstractItemModel *lm = w->QELDBGrid2->model();
    const int idCard = rowOf(w->QELDBGrid2, 0, QStringLiteral("话剧展演"));
    ASSERT_GE(idCard, 0);
    EXPECT_EQ(lm->index(idCard, 1).data().toString(), QString());
    EXPECT_EQ(lm->index(idCard, 2).data().toString(), QStringLiteral("6"));
    EXPECT_EQ(lm->index(idCard, 3).data().toString(), QStringLiteral("身份证"));
    EXPECT_EQ(lm->index(idCard, 4).data().toString(), QStringLiteral("是"));
    const int platinum = rowOf(w->QELDBGrid2, 1, QStringLiteral("白金会员"));
    ASSERT_GE(platinum, 0);
    EXPECT_EQ(lm->index(platinum, 0).data().toString(), QStringLiteral("春节联欢晚会"));
    EXPECT_EQ(lm->index(platinum, 3).data().toString(), QStringLiteral("会员类别"));
    EXPECT_EQ(lm->index(platinum, 4).data().toString(), QStringLiteral("否"));
}

TEST_F(MainWindowTest, SearchTrimsTheBoxAndKeepsLikeWildcards)
{
    TFrmProject *w = open();
    StatementRecorder rec;

    searchProjects(QStringLiteral("  剧场  "));
    EXPECT_EQ(lastStatement(rec), kProjectList + QStringLiteral(" WHERE CNAME like '%剧场%'"));
    EXPECT_EQ(sorted(projectNames()), sorted({QStringLiteral("人民剧场演出季"), QStringLiteral("星光 剧场 专场")}));
    EXPECT_EQ(w->EdtProName->text(), QStringLiteral("  剧场  ")) << "the box keeps what was typed";

    // _ and % are wildcards of the pattern.
    searchProjects(QStringLiteral("春_"));
    EXPECT_EQ(sorted(projectNames()), sorted({QStringLiteral("春节联欢晚会"), QStringLiteral("春_节特别场")}));
    searchProjects(QStringLiteral("春%会"));
    EXPECT_EQ(projectNames(), QStringList{QStringLiteral("春节联欢晚会")});
    searchProjects(QStringLiteral("%"));
    EXPECT_EQ(projectNames().size(), kAllProjects.size());

    // A quote stays inside the pattern.
    searchProjects(QStringLiteral("O'Neil"));
    EXPECT_EQ(lastStatement(rec), kProjectList + QStringLiteral(" WHERE CNAME like '%O''Neil%'"));
    EXPECT_EQ(projectNames(), QStringList{QStringLiteral("O'Neil专场")});
    searchProjects(QStringLiteral("x' or '1'='1"));
    EXPECT_EQ(projectNames(), QStringList());
    EXPECT_EQ(testPresenter().count(), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();

    // Blanks only: all projects, without a condition.
    searchProjects(QStringLiteral("   "));
    EXPECT_EQ(lastStatement(rec), kProjectList);
    EXPECT_EQ(projectNames().size(), kAllProjects.size());

    // Enter in the box runs the same search.
    rec.clear();
    typeInto(w->EdtProName, QStringLiteral(" 话剧 "));
    QTest::keyClick(w->EdtProName, Qt::Key_Return);
    EXPECT_EQ(rec.statements(), QStringList{kProjectList + QStringLiteral(" WHERE CNAME like '%话剧%'")});
    EXPECT_EQ(projectNames(), QStringList{QStringLiteral("话剧展演")});
    EXPECT_EQ(rec.contexts(), QStringList{kCtx});
}

TEST_F(MainWindowTest, NewInsertsTheProjectAndReloadsWithTheUntrimmedBox)
{
    TFrmProject *w = open();
    searchProjects(QStringLiteral(" 剧场 "));
    ASSERT_EQ(projectNames().size(), 2);

    StatementRecorder rec;
    QString presetName = QStringLiteral("?");
    int presetDisc = -1, presetT = -1, presetP = -1;
    bool globalSet = false;
    ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
        globalSet = frmProjectEdit == d;
        presetName = d->edtProjectName->text();
        presetDisc = d->spdCrossDiscount->value();
        presetT = d->spdCrossTNum->value();
        presetP = d->spdCrossPNum->value();
        typeInto(d->edtProjectName, QStringLiteral("新剧场"));
        typeInto(d->spdCrossDiscount, QStringLiteral("30"));
        typeInto(d->spdCrossTNum, QStringLiteral("4"));
        typeInto(d->spdCrossPNum, QStringLiteral("5"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    QTest::mouseClick(w->ToolButton1, Qt::LeftButton);
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_TRUE(globalSet);
    EXPECT_EQ(frmProjectEdit, nullptr) << "the dialog is freed after the command";
    EXPECT_EQ(presetName, QString());
    EXPECT_EQ(presetDisc, 0);
    EXPECT_EQ(presetT, 0);
    EXPECT_EQ(presetP, 0);
    EXPECT_EQ(testPresenter().count(), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();

    EXPECT_EQ(projects(), kAllProjects.size() + 1);
    const DataPacket row = db.query(QStringLiteral("SELECT CROSSDISCOUNT, CROSTNUM, CROSSPNUM FROM QEL_PROJECT WHERE CNAME = '新剧场'"));
    ASSERT_EQ(row.rowCount(), 1);
    EXPECT_EQ(row.integer(0, 0), 30);
    EXPECT_EQ(row.integer(0, 1), 4);
    EXPECT_EQ(row.integer(0, 2), 5);

    // Reloaded with the box as it stands, blanks included.
    EXPECT_EQ(lastStatement(rec), kProjectList + QStringLiteral(" WHERE CNAME like '% 剧场 %'"));
    EXPECT_EQ(projectNames(), QStringList{QStringLiteral("星光 剧场 专场")});
    EXPECT_EQ(rec.contexts().count(kCtx), rec.count());
    EXPECT_TRUE(w->QELDBGrid1->CountLabel()->text().endsWith(QStringLiteral("已新建：新剧场（当前筛选条件下不显示）")))
        << "the window says what happened, and why the row is not there";
}

TEST_F(MainWindowTest, ConfirmedChangesReloadAndPutTheCurrentRowOnTheFirstRow)
{
    TFrmProject *w = open();
    const int last = int(kAllProjects.size()) - 1;

    // New.
    clickRow(w->QELDBGrid1, last);
    ASSERT_EQ(currentProjectRow(), last);
    {
        ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
            typeInto(d->edtProjectName, QStringLiteral("元宵灯会"));
            d->btnOK->click();
        });
        w->ToolButton1->click();
        ASSERT_TRUE(answer.seen());
    }
    EXPECT_EQ(projectNames().size(), kAllProjects.size() + 1);
    EXPECT_EQ(currentProjectRow(), 0);

    // Edit.
    clickRow(w->QELDBGrid1, last);
    ASSERT_EQ(currentProjectRow(), last);
    {
        ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
            typeInto(d->spdCrossPNum, QStringLiteral("9"));
            d->btnOK->click();
        });
        w->ToolButton2->click();
        ASSERT_TRUE(answer.seen());
    }
    EXPECT_EQ(currentProjectRow(), 0);

    // Delete.
    clickRow(w->QELDBGrid1, last);
    ASSERT_EQ(currentProjectRow(), last);
    testPresenter().pushAnswer(mrYes);
    w->ToolButton4->click();
    EXPECT_EQ(projectNames().size(), kAllProjects.size());
    EXPECT_EQ(currentProjectRow(), 0);
}

TEST_F(MainWindowTest, EditWritesTheCurrentProjectAndReloadsWithTheUntrimmedBox)
{
    TFrmProject *w = open();
    searchProjects(QStringLiteral("纯音乐 "));
    ASSERT_EQ(projectNames(), QStringList{QStringLiteral("100%纯音乐会")});
    const int id = idOf(QStringLiteral("100%纯音乐会"));

    StatementRecorder rec;
    QString presetName;
    int presetDisc = -1, presetT = -1, presetP = -1;
    ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
        presetName = d->edtProjectName->text();
        presetDisc = d->spdCrossDiscount->value();
        presetT = d->spdCrossTNum->value();
        presetP = d->spdCrossPNum->value();
        typeInto(d->edtProjectName, QStringLiteral("100%纯音乐会（加场）"));
        typeInto(d->spdCrossDiscount, QStringLiteral("50"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    QTest::mouseClick(w->ToolButton2, Qt::LeftButton);
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(presetName, QStringLiteral("100%纯音乐会"));
    EXPECT_EQ(presetDisc, 5);
    EXPECT_EQ(presetT, 1);
    EXPECT_EQ(presetP, 1);
    EXPECT_EQ(frmProjectEdit, nullptr);

    // The same row, rewritten; the others untouched.
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT CNAME FROM QEL_PROJECT WHERE ID = %1").arg(id)), QStringLiteral("100%纯音乐会（加场）"));
    EXPECT_EQ(db.count(QStringLiteral("SELECT CROSSDISCOUNT FROM QEL_PROJECT WHERE ID = %1").arg(id)), 50);
    EXPECT_EQ(db.count(QStringLiteral("SELECT CROSTNUM FROM QEL_PROJECT WHERE ID = %1").arg(id)), 1);
    EXPECT_EQ(projects(), kAllProjects.size());
    EXPECT_EQ(db.count(QStringLiteral("SELECT CROSSDISCOUNT FROM QEL_PROJECT WHERE CNAME = '春节联欢晚会'")), 10);

    // "纯音乐 " with its blank matches nothing any more.
    EXPECT_EQ(lastStatement(rec), kProjectList + QStringLiteral(" WHERE CNAME like '%纯音乐 %'"));
    EXPECT_EQ(projectNames(), QStringList());
    EXPECT_FALSE(w->ToolButton2->isEnabled());
}

// Another desk saved the same project while this desk's dialog was open (or
// its list was loaded): nothing goes over that save unasked.
TEST_F(MainWindowTest, ASaveOrDeleteOverAnotherDesksChangeShowsTheFieldsAndTheOperatorChooses)
{
    const QString row = QStringLiteral("SELECT CNAME || '/' || CROSSDISCOUNT FROM QEL_PROJECT WHERE ID = %1").arg(drama);
    for (const bool overwrite : {false, true}) {
        SCOPED_TRACE(overwrite ? "overwrite" : "keep theirs");
        db.exec(QStringLiteral("UPDATE QEL_PROJECT SET CNAME = '话剧展演', CROSSDISCOUNT = 30 WHERE ID = %1").arg(drama));
        testPresenter().clear();
        TFrmProject *w = open();
        clickRow(w->QELDBGrid1, rowOf(w->QELDBGrid1, 1, QStringLiteral("话剧展演")));
        QString reopenedName;
        int reopenedDiscount = -1;
        std::unique_ptr<ModalAnswer<TfrmProjectEdit>> again;
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            typeInto(d->edtProjectName, QStringLiteral("话剧展演（新）"));
            db.exec(QStringLiteral("UPDATE QEL_PROJECT SET CROSSDISCOUNT = 70 WHERE ID = %1").arg(drama)); // the other desk
            again = std::make_unique<ModalAnswer<TfrmProjectEdit>>([&](TfrmProjectEdit *d2) {
                reopenedName = d2->edtProjectName->text();
                reopenedDiscount = d2->spdCrossDiscount->value();
            });
            QTest::mouseClick(d->btnOK, Qt::LeftButton);
        });
        testPresenter().pushAnswer(overwrite ? mrYes : mrNo);
        QTest::mouseClick(w->ToolButton2, Qt::LeftButton);
        ASSERT_GE(testPresenter().count(), 1);
        EXPECT_TRUE(testPresenter().calls()[0].text.contains(QStringLiteral("\n跨场折扣率(%)\t70\t30\n")))
            << testPresenter().calls()[0].text.toStdString();
        EXPECT_FALSE(testPresenter().calls()[0].text.contains(QStringLiteral("演出项目\t"))) << "the name was not changed elsewhere";
        EXPECT_EQ(db.scalar(row), overwrite ? QStringLiteral("话剧展演（新）/30") : QStringLiteral("话剧展演/70"));
        // Keeping theirs opens the dialog again on their row.
        EXPECT_EQ(again->seen(), !overwrite);
        if (!overwrite) {
            EXPECT_EQ(reopenedName, QStringLiteral("话剧展演"));
            EXPECT_EQ(reopenedDiscount, 70);
        }
        EXPECT_TRUE(projectNames().contains(overwrite ? QStringLiteral("话剧展演（新）") : QStringLiteral("话剧展演")));
        disposeWindow(win);
    }

    // A delete of a row another desk changed since the list was loaded asks
    // first; either answer reloads the list.
    TFrmProject *w = open();
    for (const int answer : {mrNo, mrYes}) {
        const int was = answer == mrNo ? 30 : 75, now = was + 45;
        clickRow(w->QELDBGrid1, rowOf(w->QELDBGrid1, 1, QStringLiteral("话剧展演（新）")));
        db.exec(QStringLiteral("UPDATE QEL_PROJECT SET CROSSDISCOUNT = %1 WHERE ID = %2").arg(now).arg(drama));
        testPresenter().clear();
        testPresenter().pushAnswer(mrYes); // 确认要删除此项目吗?
        testPresenter().pushAnswer(answer);
        QTest::mouseClick(w->ToolButton4, Qt::LeftButton);
        ASSERT_EQ(testPresenter().count(), 2) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(testPresenter().last().text.contains(QStringLiteral("跨场折扣率(%)\t%1\t%2").arg(was).arg(now))) << testPresenter().last().text.toStdString();
        EXPECT_EQ(projects(), answer == mrYes ? kAllProjects.size() - 1 : kAllProjects.size());
        db.exec(QStringLiteral("UPDATE QEL_PROJECT SET CROSSDISCOUNT = 75 WHERE ID = %1").arg(drama));
    }
}

// Lists that know another desk changed them: the count line says so, the
// rows stay until the operator reloads, and the desk's own saves mark nothing.
TEST_F(MainWindowTest, AnotherDesksChangeMarksTheListsStaleUntilTheOperatorReloads)
{
    TFrmProject *w = open();
    w->Watcher->SetInterval(20);
    const auto settle = [] {
        for (int i = 0; i < 15; ++i)
            QTest::qWait(20);
    };
    const auto stale = [](TQELDBGrid *g) { return g->CountLabel()->text().endsWith(TQELDBGrid::StaleText()); };
    settle();
    ASSERT_FALSE(stale(w->QELDBGrid1));

    // The desk's own edit.
    ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
        typeInto(d->spdCrossDiscount, QStringLiteral("31"));
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    clickRow(w->QELDBGrid1, rowOf(w->QELDBGrid1, 1, QStringLiteral("话剧展演")));
    QTest::keyClick(w->QELDBGrid1, Qt::Key_F2);
    ASSERT_TRUE(answer.seen());
    settle();
    EXPECT_FALSE(stale(w->QELDBGrid1)) << "its own save";
    EXPECT_FALSE(stale(w->QELDBGrid2));

    // Another desk's limit, then another desk's project.
    StatementRecorder rec;
    addLimit(drama, QStringLiteral("M09"), 1, QStringLiteral("2"), QStringLiteral("1"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stale(w->QELDBGrid2); }, 3000));
    db.exec(QStringLiteral("UPDATE QEL_PROJECT SET CROSSDISCOUNT = 77 WHERE ID = %1").arg(drama));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stale(w->QELDBGrid1); }, 3000));
    EXPECT_EQ(rec.count(), 0) << "nothing reloads by itself";
    EXPECT_EQ(projectNames().size(), kAllProjects.size());

    // F2 on the changed row meets the other desk's save instead of undoing it.
    testPresenter().clear();
    testPresenter().pushAnswer(mrNo);
    std::unique_ptr<ModalAnswer<TfrmProjectEdit>> reopened;
    ModalAnswer<TfrmProjectEdit> f2([&](TfrmProjectEdit *d) {
        reopened = std::make_unique<ModalAnswer<TfrmProjectEdit>>([](TfrmProjectEdit *) {}); // then cancelled
        QTest::mouseClick(d->btnOK, Qt::LeftButton);
    });
    clickRow(w->QELDBGrid1, rowOf(w->QELDBGrid1, 1, QStringLiteral("话剧展演")));
    QApplication::setActiveWindow(w); // offscreen, closing the first dialog left no window active
    QTest::keyClick(w->QELDBGrid1, Qt::Key_F2);
    ASSERT_GE(testPresenter().count(), 1);
    EXPECT_TRUE(testPresenter().calls()[0].text.contains(QStringLiteral("跨场折扣率(%)\t77\t31")));
    EXPECT_EQ(db.count(QStringLiteral("SELECT CROSSDISCOUNT FROM QEL_PROJECT WHERE ID = %1").arg(drama)), 77);

    QTest::keyClick(w->QELDBGrid1, Qt::Key_F5);
    EXPECT_FALSE(stale(w->QELDBGrid1));
}

TEST_F(MainWindowTest, CancelOrCloseBoxInTheProjectDialogSendsNothing)
{
    TFrmProject *w = open();
    const int row = 3;
    clickRow(w->QELDBGrid1, row);
    ASSERT_EQ(currentProjectRow(), row);
    const QStringList before = projectNames();

    const QList<std::function<void(TfrmProjectEdit *)>> giveUps = {
        [](TfrmProjectEdit *d) {
            typeInto(d->edtProjectName, QStringLiteral("不要保存"));
            QTest::mouseClick(d->btnCancel, Qt::LeftButton);
        },
        [](TfrmProjectEdit *d) {
            typeInto(d->edtProjectName, QStringLiteral("不要保存"));
            d->close();
        },
    };
    for (QToolButton *command : {w->ToolButton1, w->ToolButton2}) {
        for (int i = 0; i < giveUps.size(); ++i) {
            SCOPED_TRACE(command->objectName().toStdString() + (i ? " close box" : " cancel"));
            StatementRecorder rec;
            ModalAnswer<TfrmProjectEdit> answer(giveUps[i]);
            QTest::mouseClick(command, Qt::LeftButton);
            ASSERT_TRUE(answer.seen());
            EXPECT_FALSE(answer.leftOpen());
            EXPECT_EQ(rec.count(), 0) << rec.statements().join(QLatin1Char('\n')).toStdString();
            EXPECT_EQ(projectNames(), before);
            EXPECT_EQ(currentProjectRow(), row);
            EXPECT_EQ(frmProjectEdit, nullptr);
        }
    }
    EXPECT_EQ(testPresenter().count(), 0);
    EXPECT_EQ(projects(), kAllProjects.size());
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT WHERE CNAME = '不要保存'")), 0);
}

TEST_F(MainWindowTest, DeleteRemovesTheProjectWithItsPerformancesAndLimitsAfterConfirming)
{
    TFrmProject *w = open();
    ASSERT_EQ(limitProjects().count(QStringLiteral("春节联欢晚会")), 2);
    clickRow(w->QELDBGrid1, rowOf(w->QELDBGrid1, 1, QStringLiteral("春节联欢晚会")));

    StatementRecorder rec;
    testPresenter().pushAnswer(mrYes);
    QTest::mouseClick(w->ToolButton4, Qt::LeftButton);
    ASSERT_EQ(testPresenter().count(), 1);
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Confirm);
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("确认要删除此项目吗?"));
    EXPECT_EQ(testPresenter().last().caption, QStringLiteral("请确认"));

    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT WHERE ID = %1").arg(spring)), 0);
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = %1").arg(spring)), 0);
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM qel_project_member_limit WHERE PID = %1").arg(spring)), 0);
    // Nobody else's rows.
    EXPECT_EQ(projects(), kAllProjects.size() - 1);
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT_PRODUCT")), 1);
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM qel_project_member_limit")), 1);

    EXPECT_EQ(projectNames().size(), kAllProjects.size() - 1);
    EXPECT_FALSE(projectNames().contains(QStringLiteral("春节联欢晚会")));
    EXPECT_EQ(lastStatement(rec), kProjectList);
    for (const QString &s : rec.statements())
        EXPECT_FALSE(s.startsWith(kLimitListStart)) << "the limit list is not reloaded by a project delete";

    // The limit list still shows the deleted project's limits until it reloads.
    EXPECT_EQ(limitProjects().count(QStringLiteral("春节联欢晚会")), 2);
    clickTab(w->Pgproject, 1);
    EXPECT_EQ(w->Pgproject->currentIndex(), 1);
    EXPECT_EQ(limitProjects(), QStringList{QStringLiteral("话剧展演")});
}

// Ctrl+D: a new project with the current one's rule and limits, not its
// performances; a source deleted at another desk meanwhile leaves nothing.
TEST_F(MainWindowTest, CopyMakesTheProjectWithItsRuleAndLimitsInOneGo)
{
    TFrmProject *w = open();
    const auto copyOf = [&](const QString &source, const std::function<void()> &meanwhile = {}) {
        clickRow(w->QELDBGrid1, rowOf(w->QELDBGrid1, 1, source));
        QString preset;
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            preset = d->edtProjectName->text();
            if (meanwhile)
                meanwhile();
            d->btnOK->click();
        });
        w->activateWindow(); // shortcuts need the active window
        EXPECT_TRUE(QTest::qWaitForWindowActive(w));
        QTest::keyClick(w->QELDBGrid1, Qt::Key_D, Qt::ControlModifier);
        EXPECT_TRUE(answer.seen());
        return preset;
    };
    const auto count = [&](const QString &sql) { return db.count(QStringLiteral("SELECT count(*) FROM ") + sql); };
    const QString copy = copyOf(QStringLiteral("春节联欢晚会"));
    const int made = idOf(copy);
    EXPECT_EQ(count(QStringLiteral("QEL_PROJECT WHERE CROSSDISCOUNT = 10 AND CROSTNUM = 2 AND CROSSPNUM = 3 AND ID = %1").arg(made)), 1);
    EXPECT_EQ(count(QStringLiteral("qel_project_member_limit a JOIN qel_project_member_limit b ON b.MEMBER_CLASS_ID = a.MEMBER_CLASS_ID AND "
                                   "b.MAX_NUM = a.MAX_NUM AND b.enable = a.enable AND b.limit_type = a.limit_type WHERE a.PID = %1 AND b.PID = %2")
                        .arg(spring)
                        .arg(made)),
              2);
    EXPECT_EQ(count(QStringLiteral("QEL_PROJECT_PRODUCT WHERE PROJECTID = %1").arg(made)), 0);
    EXPECT_EQ(CDProject->cdsProject->FieldByName(QStringLiteral("ID")).AsInteger(), made) << "the copy is current";
    EXPECT_TRUE(w->QELDBGrid1->CountLabel()->text().contains(QStringLiteral("已复制：") + copy));
    EXPECT_TRUE(testPresenter().calls().isEmpty());

    testPresenter().clear();
    const int before = projects();
    copyOf(QStringLiteral("人民剧场演出季"), [&] { db.exec(QStringLiteral("DELETE FROM QEL_PROJECT WHERE CNAME = '人民剧场演出季'")); });
    ASSERT_EQ(testPresenter().count(), 1);
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Error);
    EXPECT_EQ(projects(), before - 1);
}

// 批量设置限购: the classes that pass the limit checks are written together,
// and one summary names each class refused with its check's message.
TEST_F(MainWindowTest, SeveralMemberClassLimitsAtOnceWriteWhatPassesAndSayWhy)
{
    db.exec(QStringLiteral("INSERT INTO um_member_class VALUES ('M03', '金卡会员')"));
    TFrmProject *w = open();
    clickTab(w->Pgproject, 1);
    const auto batch = [&](const QString &project, const std::function<void(TFrmBatchLimits *)> &fill) {
        clickRow(w->QELDBGrid2, rowOf(w->QELDBGrid2, 0, project));
        testPresenter().clear();
        ModalAnswer<TFrmBatchLimits> answer([&](TFrmBatchLimits *d) {
            EXPECT_EQ(d->cbbproject->currentText(), project) << "preset from the current row";
            d->btnok->click(); // nothing ticked yet
            EXPECT_EQ(testPresenter().count(), 1);
            fill(d);
            d->btnok->click();
        });
        w->ActBatchLimits->trigger();
        EXPECT_TRUE(answer.seen());
        return testPresenter().last();
    };
    const auto tick = [](TFrmBatchLimits *d, int row, int column = 0) { d->tblClasses->item(row, column)->setCheckState(Qt::Checked); };
    // Rows: M01 (has a limit), M02 (has one), M03 (free); M03 not usable.
    const TestPresenter::Call said = batch(QStringLiteral("春节联欢晚会"), [&](TFrmBatchLimits *d) {
        typeInto(d->edtlimitcount, QStringLiteral("5"));
        tick(d, 0);
        tick(d, 2);
        d->tblClasses->item(2, 3)->setCheckState(Qt::Unchecked);
    });
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM qel_project_member_limit WHERE PID = %1 AND MEMBER_CLASS_ID = 'M03' AND MAX_NUM = 5 AND "
                                      "enable = '0' AND limit_type = '1'")
                           .arg(spring)),
              1);
    EXPECT_EQ(db.count(QStringLiteral("SELECT MAX_NUM FROM qel_project_member_limit WHERE PID = %1 AND MEMBER_CLASS_ID = 'M01'").arg(spring)), 4);
    EXPECT_TRUE(said.text.contains(QStringLiteral("钻石会员：已经存在该项目和会员类别了!"))) << said.text.toStdString();
    EXPECT_EQ(limitProjects().count(QStringLiteral("春节联欢晚会")), 3) << "the list reloaded";

    // An identity-card project refuses every class; a blank quantity is asked for first.
    const TestPresenter::Call refused = batch(QStringLiteral("话剧展演"), [&](TFrmBatchLimits *d) {
        tick(d, 2);
        d->tblClasses->item(2, 2)->setText(QString());
        d->btnok->click();
        EXPECT_EQ(testPresenter().count(), 2);
        d->tblClasses->item(2, 2)->setText(QStringLiteral("3"));
    });
    EXPECT_EQ(refused.flags, MB_ICONERROR);
    EXPECT_TRUE(refused.text.contains(QStringLiteral("该项目有其他的限购类型!"))) << refused.text.toStdString();
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM qel_project_member_limit WHERE PID = %1").arg(drama)), 1);
}

TEST_F(MainWindowTest, DeleteReloadsWithTheUntrimmedBox)
{
    TFrmProject *w = open();
    searchProjects(QStringLiteral(" 剧场 "));
    const int r = rowOf(w->QELDBGrid1, 1, QStringLiteral("星光 剧场 专场"));
    ASSERT_GE(r, 0);
    clickRow(w->QELDBGrid1, r);
    StatementRecorder rec;
    testPresenter().pushAnswer(mrYes);
    w->ToolButton4->click();
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT WHERE CNAME = '星光 剧场 专场'")), 0);
    EXPECT_EQ(lastStatement(rec), kProjectList + QStringLiteral(" WHERE CNAME like '% 剧场 %'"));
    EXPECT_EQ(projectNames(), QStringList()) << "a trimmed reload would list 人民剧场演出季";
    EXPECT_TRUE(w->QELDBGrid1->CountLabel()->text().endsWith(QStringLiteral("已删除：星光 剧场 专场")));
}

TEST_F(MainWindowTest, DeclinedDeleteDeletesNothingAndReloadsNothing)
{
    TFrmProject *w = open();
    const int r = rowOf(w->QELDBGrid1, 1, QStringLiteral("话剧展演"));
    clickRow(w->QELDBGrid1, r);
    StatementRecorder rec;
    testPresenter().pushAnswer(mrNo);
    QTest::mouseClick(w->ToolButton4, Qt::LeftButton);
    EXPECT_EQ(testPresenter().texts(), QStringList{QStringLiteral("确认要删除此项目吗?")});
    EXPECT_EQ(rec.count(), 0) << rec.statements().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(projects(), kAllProjects.size());
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM qel_project_member_limit WHERE PID = %1").arg(drama)), 1);
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = %1").arg(drama)), 1);
    EXPECT_EQ(currentProjectRow(), r);
}

TEST_F(MainWindowTest, RefreshListsEverythingAndKeepsTheFilterText)
{
    TFrmProject *w = open();
    searchProjects(QStringLiteral("剧场"));
    ASSERT_EQ(projectNames().size(), 2);
    db.exec(QStringLiteral("INSERT INTO QEL_PROJECT (CNAME) VALUES ('另一台的新项目')"));
    StatementRecorder rec;
    QTest::mouseClick(w->ToolButton5, Qt::LeftButton);
    EXPECT_EQ(rec.statements(), QStringList{kProjectList});
    EXPECT_EQ(projectNames().size(), kAllProjects.size() + 1);
    EXPECT_TRUE(projectNames().contains(QStringLiteral("另一台的新项目")));
    EXPECT_EQ(w->EdtProName->text(), QStringLiteral("剧场"));
    EXPECT_EQ(currentProjectRow(), 0);

    // The limit tab refreshes its own list only.
    clickTab(w->Pgproject, 1);
    typeInto(w->edtprolimit, QStringLiteral("话剧"));
    QTest::mouseClick(w->Button1, Qt::LeftButton);
    ASSERT_EQ(limitProjects(), QStringList{QStringLiteral("话剧展演")});
    rec.clear();
    QTest::mouseClick(w->ToolButton5, Qt::LeftButton);
    ASSERT_EQ(rec.count(), 1);
    EXPECT_TRUE(rec.statements()[0].startsWith(kLimitListStart));
    EXPECT_FALSE(rec.statements()[0].contains(QStringLiteral("WHERE")));
    EXPECT_EQ(limitProjects().size(), 3);
    EXPECT_EQ(w->edtprolimit->text(), QStringLiteral("话剧"));
}

TEST_F(MainWindowTest, TabClickReloadsThatTabWithItsTrimmedFilter)
{
    TFrmProject *w = open();
    typeInto(w->edtprolimit, QStringLiteral("  话剧 "));
    typeInto(w->EdtProName, QStringLiteral(" 春 "));
    addLimit(idOf(QStringLiteral("话剧展演")) , QStringLiteral("M01"), 1, QStringLiteral("2"), QStringLiteral("1"));

    StatementRecorder rec;
    clickTab(w->Pgproject, 1);
    ASSERT_EQ(w->Pgproject->currentIndex(), 1);
    ASSERT_EQ(rec.count(), 1);
    EXPECT_EQ(rec.statements()[0].section(QStringLiteral(" WHERE "), 1), QStringLiteral("CNAME like '%话剧%'"));
    EXPECT_EQ(limitProjects(), (QStringList{QStringLiteral("话剧展演"), QStringLiteral("话剧展演")}));

    rec.clear();
    clickTab(w->Pgproject, 0);
    ASSERT_EQ(w->Pgproject->currentIndex(), 0);
    EXPECT_EQ(rec.statements(), QStringList{kProjectList + QStringLiteral(" WHERE CNAME like '%春%'")});
    EXPECT_EQ(sorted(projectNames()), sorted({QStringLiteral("春节联欢晚会"), QStringLiteral("春_节特别场")}));
    EXPECT_EQ(rec.contexts(), QStringList{kCtx});
}

TEST_F(MainWindowTest, SettingThePageFromCodeLoadsNothing)
{
    TFrmProject *w = open();
    typeInto(w->EdtProName, QStringLiteral("春"));
    clickTab(w->Pgproject, 1);
    ASSERT_EQ(w->Pgproject->currentIndex(), 1);
    // The operator's click is over before any later code runs.
    QCoreApplication::processEvents();

    // Shown again: the window reloads both lists itself, and its own switch
    // back to the project tab adds no load of its own.
    w->hide();
    StatementRecorder rec;
    w->show();
    EXPECT_EQ(w->Pgproject->currentIndex(), 0);
    ASSERT_EQ(rec.count(), 2) << rec.statements().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(rec.statements()[0], kProjectList);
    EXPECT_TRUE(rec.statements()[1].startsWith(kLimitListStart));

    // Any other page change made by code is not the operator's either.
    rec.clear();
    w->Pgproject->setCurrentIndex(1);
    w->Pgproject->setCurrentIndex(0);
    EXPECT_EQ(rec.count(), 0) << rec.statements().join(QLatin1Char('\n')).toStdString();
}

TEST_F(MainWindowTest, EditDeleteAndPerformancesNeedACurrentRow)
{
    db.exec(QStringLiteral("DELETE FROM qel_project_member_limit"));
    db.exec(QStringLiteral("DELETE FROM QEL_PROJECT_PRODUCT"));
    db.exec(QStringLiteral("DELETE FROM QEL_PROJECT"));
    TFrmProject *w = open();
    auto commands = [w] {
        return QString::fromLatin1("%1%2%3%4%5")
            .arg(w->ToolButton1->isEnabled())
            .arg(w->ToolButton2->isEnabled())
            .arg(w->ToolButton4->isEnabled())
            .arg(w->ToolButton7->isEnabled())
            .arg(w->ToolButton5->isEnabled());
    };
    // New, Edit, Delete, performances, Refresh.
    EXPECT_EQ(commands(), QStringLiteral("10001"));
    clickTab(w->Pgproject, 1);
    EXPECT_EQ(commands(), QStringLiteral("10001"));

    addProject(QStringLiteral("话剧展演"), 0, 0, 0);
    clickTab(w->Pgproject, 0);
    EXPECT_EQ(commands(), QStringLiteral("11111"));
    // The limit tab has no row yet.
    clickTab(w->Pgproject, 1);
    EXPECT_EQ(commands(), QStringLiteral("10001"));
    addLimit(idOf(QStringLiteral("话剧展演")), QString(), 3, QStringLiteral("2"), QStringLiteral("1"));
    QTest::mouseClick(w->ToolButton5, Qt::LeftButton);
    EXPECT_EQ(commands(), QStringLiteral("11111"));
    typeInto(w->edtprolimit, QStringLiteral("没有这个"));
    QTest::keyClick(w->edtprolimit, Qt::Key_Return);
    EXPECT_EQ(limitProjects(), QStringList());
    EXPECT_EQ(commands(), QStringLiteral("10001"));

    // A search that finds nothing on the project tab.
    clickTab(w->Pgproject, 0);
    EXPECT_EQ(commands(), QStringLiteral("11111"));
    searchProjects(QStringLiteral("没有这个"));
    EXPECT_EQ(projectNames(), QStringList());
    EXPECT_EQ(commands(), QStringLiteral("10001"));
    // Deleting the last row disables them again.
    searchProjects(QString());
    testPresenter().pushAnswer(mrYes);
    w->ToolButton4->click();
    EXPECT_EQ(projects(), 0);
    EXPECT_EQ(commands(), QStringLiteral("10001"));
}

TEST_F(MainWindowTest, PerformanceManagementOpensTheProjectOfTheActiveTabsCurrentRow)
{
    TFrmProject *w = open();
    const int r = rowOf(w->QELDBGrid1, 1, QStringLiteral("人民剧场演出季"));
    clickRow(w->QELDBGrid1, r);
    struct Seen {
        QString projectId, context, count;
        bool global = false;
    };
    auto capture = [](Seen *s) {
        return [s](TFrmProductProject *d) {
            s->projectId = d->ProjectID;
            s->count = d->dgrproduct->CountLabel()->text();
            s->context = d->Context;
            s->global = FrmProductProject == d;
            d->close();
        };
    };
    Seen fromProjects;
    {
        ModalAnswer<TFrmProductProject> answer(capture(&fromProjects));
        QTest::mouseClick(w->ToolButton7, Qt::LeftButton);
        ASSERT_TRUE(answer.seen());
    }
    EXPECT_EQ(fromProjects.projectId, QString::number(idOf(QStringLiteral("人民剧场演出季"))));
    EXPECT_EQ(fromProjects.context, kCtx);
    EXPECT_TRUE(fromProjects.global);
    EXPECT_EQ(FrmProductProject, nullptr) << "freed when it closes";

    // From the limit tab: the project of the current limit row.
    clickTab(w->Pgproject, 1);
    clickRow(w->QELDBGrid2, rowOf(w->QELDBGrid2, 0, QStringLiteral("话剧展演")));
    Seen fromLimits;
    {
        ModalAnswer<TFrmProductProject> answer(capture(&fromLimits));
        QTest::mouseClick(w->ToolButton7, Qt::LeftButton);
        ASSERT_TRUE(answer.seen());
    }
    EXPECT_EQ(fromLimits.projectId, QString::number(drama));
    EXPECT_TRUE(fromLimits.count.contains(QStringLiteral("话剧展演"))) << "the count line names its project";
    EXPECT_EQ(testPresenter().count(), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(MainWindowTest, CloseFreesTheDataModuleAndTheWindow)
{
    for (bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "关闭 button");
        TFrmProject *w = open();
        ASSERT_NE(CDProject, nullptr);
        QPointer<TCDProject> data = CDProject;
        QPointer<TQELDataSource> source = CDProject->DSProject;
        if (closeBox)
            w->close();
        else
            QTest::mouseClick(w->ToolButton3, Qt::LeftButton);
        EXPECT_EQ(CDProject, nullptr);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(source, nullptr);
        EXPECT_FALSE(w->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(win, nullptr) << "the window frees itself";
        EXPECT_EQ(FrmProject, nullptr);
    }
    EXPECT_EQ(testPresenter().count(), 0);
}

TEST_F(MainWindowTest, TextGbkCannotHoldGivesAClearErrorAndTheWindowStaysUsable)
{
    TFrmProject *w = open();
    searchProjects(QStringLiteral("剧场"));
    ASSERT_EQ(projectNames().size(), 2);

    searchProjects(QStringLiteral("剧场🎭"));
    ASSERT_EQ(testPresenter().count(), 1);
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Error);
    EXPECT_TRUE(testPresenter().last().text.contains(QStringLiteral("🎭"))) << testPresenter().last().text.toStdString();
    EXPECT_EQ(projectNames().size(), 2) << "a failed load keeps the list";

    // The same window goes on working, Chinese included.
    testPresenter().clear();
    searchProjects(QStringLiteral("话剧"));
    EXPECT_EQ(testPresenter().count(), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(projectNames(), QStringList{QStringLiteral("话剧展演")});

    // A name with an emoji: refused inside the dialog, nothing stored.
    ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
        typeInto(d->edtProjectName, QStringLiteral("庆典🎉"));
        d->btnOK->click();
        if (!d->isVisible())
            return;
        typeInto(d->edtProjectName, QStringLiteral("庆典"));
        d->btnOK->click();
    });
    testPresenter().clear();
    w->ToolButton1->click();
    ASSERT_TRUE(answer.seen());
    ASSERT_GE(testPresenter().count(), 1);
    EXPECT_EQ(testPresenter().calls().first().kind, MessageKind::Error);
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT WHERE CNAME LIKE '庆典%'")), 1);
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT WHERE CNAME = '庆典'")), 1);
    EXPECT_EQ(testPresenter().count(), 1) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(MainWindowTest, ADatabaseErrorShowsAnErrorBoxAndTheWindowStaysUsable)
{
    TFrmProject *w = open();
    const QStringList before = projectNames();
    clickRow(w->QELDBGrid1, rowOf(w->QELDBGrid1, 1, QStringLiteral("春节联欢晚会")));
    db.exec(QStringLiteral("DROP TABLE qel_project_member_limit"));

    testPresenter().pushAnswer(mrYes);
    w->ToolButton4->click();
    ASSERT_EQ(testPresenter().count(), 2) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Error);
    EXPECT_FALSE(testPresenter().last().text.isEmpty());
    EXPECT_EQ(projectNames(), before) << "not reloaded after the failure";
    // The three deletes go together: the project and its performances survive.
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT WHERE ID = %1").arg(spring)), 1);
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = %1").arg(spring)), 1);

    // The window goes on working.
    testPresenter().clear();
    searchProjects(QStringLiteral("话剧"));
    EXPECT_EQ(projectNames(), QStringList{QStringLiteral("话剧展演")});
    ModalAnswer<TfrmProjectEdit> answer([](TfrmProjectEdit *d) {
        typeInto(d->edtProjectName, QStringLiteral("话剧加演"));
        d->btnOK->click();
    });
    w->ToolButton1->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_EQ(testPresenter().count(), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(sorted(projectNames()), sorted({QStringLiteral("话剧展演"), QStringLiteral("话剧加演")}));

    // A failing reload of the limit tab: error box, old rows kept.
    clickTab(w->Pgproject, 1);
    ASSERT_EQ(testPresenter().count(), 1);
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Error);
    EXPECT_EQ(limitProjects().size(), 3);
    EXPECT_EQ(w->Pgproject->currentIndex(), 1);
    clickTab(w->Pgproject, 0);
    EXPECT_EQ(testPresenter().count(), 1);
    EXPECT_EQ(sorted(projectNames()), sorted({QStringLiteral("话剧展演"), QStringLiteral("话剧加演")}));
}

} // namespace
