// The lists' comforts in the real windows, over a real database (SQLite, or
// PostgreSQL through QEL_DATABASE): sorting by a title click with the
// commands acting on the record clicked in the sorted list, the count line,
// the keys of the toolbar commands, and the catalogue search by name.
#include "Context.h"
#include "DBEdit.h"
#include "DBGrid.h"
#include "FileDialog.h"
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
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

const QString kCtx = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")});

void clickTitle(TQELDBGrid *grid, int col)
{
    QHeaderView *h = grid->horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionViewportPosition(col) + h->sectionSize(col) / 2, h->height() / 2));
}

void activate(QWidget *w)
{
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
}

// What an edit dialog opened by the next command shows, or "(none)".
struct EditSeen {
    QString name = QStringLiteral("(none)");
};

class ProjectWindowComforts : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : {"春节联欢晚会", "话剧展演", "爱乐之夜", "北京音乐节"})
            ids << addProject(db, QString::fromUtf8(name));
        db.exec(QStringLiteral("INSERT INTO um_member_class VALUES ('M01', '钻石会员')"));
        db.exec(QStringLiteral("INSERT INTO um_member_class VALUES ('M02', '白金会员')"));
        db.exec(QStringLiteral("INSERT INTO um_member_class VALUES ('M03', '普通会员')"));
        addLimit(ids[0], QStringLiteral("M01"), 12);
        addLimit(ids[0], QStringLiteral("M02"), 4);
        addLimit(ids[1], QStringLiteral("M03"), 100);
        addLimit(ids[2], QStringLiteral("M01"), 9);
        win = openProjectWindow(kCtx);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(win));
        activate(win);
        testPresenter().clear();
    }
    void TearDown() override
    {
        disposeWindow(win);
        delete CDProject.data();
    }
    void addLimit(const QString &project, const QString &member, int max)
    {
        db.exec(QStringLiteral("INSERT INTO qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, LIMIT_TYPE, ENABLE) VALUES (%1, '%2', %3, '1', '1')")
                    .arg(project, member)
                    .arg(max));
    }
    // Runs the key press (or other step) and reports the project name the edit dialog showed, then cancels it.
    QString editDialogNameAfter(const std::function<void()> &step)
    {
        QString seen = QStringLiteral("(none)");
        ModalAnswer<TfrmProjectEdit> answer([&](TfrmProjectEdit *d) {
            seen = d->edtProjectName->text();
            d->done(2);
        });
        step();
        // As on a desk: the window is active again once the dialog is gone.
        activate(win);
        return seen;
    }
    QStringList names() const { return gridColumn(win->QELDBGrid1, 1); }

    TestDatabase db;
    QStringList ids;
    QPointer<TFrmProject> win;
};

} // namespace

TEST_F(ProjectWindowComforts, TheSortedProjectListDrivesEditAndDeleteOnTheRecordClicked)
{
    TQELDBGrid *g = win->QELDBGrid1;
    EXPECT_EQ(g->CountLabel()->text(), QStringLiteral("共 4 条"));
    const QStringList listOrder = names();
    clickTitle(g, 1);
    EXPECT_EQ(names(), (QStringList{"爱乐之夜", "北京音乐节", "春节联欢晚会", "话剧展演"}));
    EXPECT_EQ(g->horizontalHeader()->sortIndicatorSection(), 1);
    // The data module still walks its rows in the statement's order.
    QStringList walked;
    TQELClientDataSet *ds = CDProject->cdsProject;
    for (ds->First(); !ds->Eof(); ds->Next())
        walked << ds->FieldByName(QStringLiteral("CNAME")).AsString();
    EXPECT_EQ(walked, listOrder);

    // F2 and a double-click edit the record clicked, wherever the sort put it.
    clickRow(g, 2);
    EXPECT_EQ(editDialogNameAfter([&] { QTest::keyClick(g, Qt::Key_F2); }), QStringLiteral("春节联欢晚会"));
    const QRect row0 = g->visualRect(g->model()->index(0, 1));
    EXPECT_EQ(editDialogNameAfter([&] {
                  QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, row0.center());
                  QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, row0.center());
              }),
              QStringLiteral("爱乐之夜"));
    // Insert opens an empty project dialog.
    EXPECT_EQ(editDialogNameAfter([&] { QTest::keyClick(g, Qt::Key_Insert); }), QString());

    // Delete: the toolbar's delete, with its confirmation, on the record clicked.
    clickRow(g, 3);
    testPresenter().pushAnswer(mrNo);
    QTest::keyClick(g, Qt::Key_Delete);
    ASSERT_EQ(testPresenter().count(MessageKind::Confirm), 1);
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("确认要删除此项目吗?"));
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT")), 4) << "declined: nothing deleted";
    QTest::keyClick(g, Qt::Key_Delete);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT where CNAME = '话剧展演'")), 0);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT")), 3);
    // The reload keeps the sort and counts again.
    EXPECT_EQ(names(), (QStringList{"爱乐之夜", "北京音乐节", "春节联欢晚会"}));
    EXPECT_EQ(g->CountLabel()->text(), QStringLiteral("共 3 条　已删除：话剧展演")) << "counted again, and says what happened";
    EXPECT_EQ(ds->RecNo(), 0) << "the cursor on the first record after the reload, as before";

    // F5 reloads the same list, still sorted; a third title click gives the statement's order back.
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('阿城专场')"));
    QTest::keyClick(g, Qt::Key_F5);
    EXPECT_EQ(names(), (QStringList{"阿城专场", "爱乐之夜", "北京音乐节", "春节联欢晚会"}));
    clickTitle(g, 1);
    clickTitle(g, 1);
    QStringList back;
    for (ds->First(); !ds->Eof(); ds->Next())
        back << ds->FieldByName(QStringLiteral("CNAME")).AsString();
    EXPECT_EQ(names(), back);
    EXPECT_EQ(g->horizontalHeader()->sortIndicatorSection(), -1);
}

TEST_F(ProjectWindowComforts, KeysOfDisabledCommandsDoNothingAndTooltipsNameTheKeys)
{
    EXPECT_EQ(win->ToolButton1->toolTip(), QStringLiteral("新建（Insert）"));
    EXPECT_EQ(win->ToolButton2->toolTip(), QStringLiteral("编辑（F2，或双击一行）"));
    EXPECT_EQ(win->ToolButton4->toolTip(), QStringLiteral("删除（Delete）"));
    EXPECT_EQ(win->ToolButton5->toolTip(), QStringLiteral("刷新（F5）"));
    // A search that finds nothing: Edit and Delete are off, and so are their keys.
    typeInto(win->EdtProName, QStringLiteral("没有这个项目"));
    QTest::mouseClick(win->BtnSearch, Qt::LeftButton);
    TQELDBGrid *g = win->QELDBGrid1;
    ASSERT_EQ(g->model()->rowCount(), 0);
    EXPECT_EQ(g->CountLabel()->text(), QStringLiteral("共 0 条"));
    ASSERT_FALSE(win->ToolButton2->isEnabled());
    g->setFocus();
    EXPECT_EQ(editDialogNameAfter([&] { QTest::keyClick(g, Qt::Key_F2); }), QStringLiteral("(none)"));
    QTest::keyClick(g, Qt::Key_Delete);
    EXPECT_EQ(testPresenter().count(), 0) << "no confirmation, no delete";
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT")), 4);
    // Ctrl+F: the active tab's filter box, its text selected.
    QTest::keyClick(g, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(win->EdtProName->hasFocus());
    EXPECT_EQ(win->EdtProName->selectedText(), QStringLiteral("没有这个项目"));
    // Delete in a filter box edits the text; it deletes no project.
    QTest::keyClick(win->EdtProName, Qt::Key_End);
    QTest::keyClick(win->EdtProName, Qt::Key_Backspace);
    QTest::keyClick(win->EdtProName, Qt::Key_Home);
    QTest::keyClick(win->EdtProName, Qt::Key_Delete);
    EXPECT_EQ(win->EdtProName->text(), QStringLiteral("有这个项"));
    EXPECT_EQ(testPresenter().count(), 0);
    // Ctrl+PgDn / Ctrl+PgUp switch the tabs from inside a list; Tab leaves the list on its row.
    g->setFocus();
    QTest::keyClick(g, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(win->Pgproject->currentIndex(), 1);
    TQELDBGrid *limits = win->QELDBGrid2;
    limits->setFocus();
    const int row = limits->currentIndex().row();
    QTest::keyClick(limits, Qt::Key_Tab);
    EXPECT_FALSE(limits->hasFocus());
    EXPECT_EQ(limits->currentIndex().row(), row);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(win->edtprolimit->hasFocus());
    QTest::keyClick(win->edtprolimit, Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(win->Pgproject->currentIndex(), 0);
    EXPECT_EQ(win->ToolButton7->toolTip(), QStringLiteral("演出管理（Ctrl+M）"));
}

TEST_F(ProjectWindowComforts, TheSortedLimitListEditsTheLimitClicked)
{
    clickTab(win->Pgproject, 1);
    TQELDBGrid *g = win->QELDBGrid2;
    ASSERT_EQ(g->model()->rowCount(), 4);
    EXPECT_EQ(g->CountLabel()->text(), QStringLiteral("共 4 条"));
    clickTitle(g, 2); // 限购数量
    EXPECT_EQ(gridColumn(g, 2), (QStringList{"4", "9", "12", "100"}));
    clickTitle(g, 2);
    EXPECT_EQ(gridColumn(g, 2), (QStringList{"100", "12", "9", "4"}));
    clickRow(g, 1);
    QString shown = QStringLiteral("(none)");
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        shown = d->edtlimitcount->text() + QLatin1Char('|') + d->cbbmemberclassname->currentText();
        d->done(2);
    });
    QTest::keyClick(g, Qt::Key_F2);
    EXPECT_EQ(shown, QStringLiteral("12|钻石会员"));
    activate(win);
    // Delete removes the limit clicked, after its own confirmation.
    clickRow(g, 3);
    QTest::keyClick(g, Qt::Key_Delete);
    EXPECT_EQ(testPresenter().count(MessageKind::Confirm), 1);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from qel_project_member_limit where MAX_NUM = 4")), 0);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from qel_project_member_limit")), 3);
    EXPECT_EQ(gridColumn(g, 2), (QStringList{"100", "12", "9"}));
}

// The desk's next start finds the widths the operator dragged, until
// 恢复默认布局 gives the design back; the window opens as designed (size,
// place, tab, list order); saved values that do not fit are passed over.
TEST_F(ProjectWindowComforts, TheNextStartFindsTheLayoutLeftUntilTheDesignIsAskedBack)
{
    TQELDBGrid *g = win->QELDBGrid1;
    const QSize designed = win->size();
    const QList<int> designedWidths = g->ColumnWidths();
    const QStringList listOrder = names();
    win->setGeometry(QRect(QPoint(40, 30), designed - QSize(300, 60)));
    // A drag on the right edge of the 演出项目 title.
    QHeaderView *h = g->horizontalHeader();
    const QPoint edge(h->sectionViewportPosition(1) + h->sectionSize(1) - 1, h->height() / 2);
    QTest::mousePress(h->viewport(), Qt::LeftButton, {}, edge);
    QTest::mouseMove(h->viewport(), edge + QPoint(80, 0));
    QTest::mouseRelease(h->viewport(), Qt::LeftButton, {}, edge + QPoint(80, 0));
    clickTitle(g, 1);
    clickTitle(g, 1);
    const QStringList sortedDown = names();
    QTemporaryDir folder;
    QString suggested;
    TQELDBGrid::SetSaveFileNameHook([&](QWidget *, const QString &, const QString &name, const QString &) {
        suggested = name;
        return QString(); // cancelled
    });
    const auto unhook = qScopeGuard([] { TQELDBGrid::SetSaveFileNameHook(nullptr); });
    RememberExportFolder(folder.path());
    clickTab(win->Pgproject, 1);
    const auto restart = [&] {
        disposeWindow(win);
        win = openProjectWindow(kCtx);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(win));
        g = win->QELDBGrid1;
    };
    restart();
    EXPECT_EQ(g->columnWidth(1), designedWidths[1] + 80);
    EXPECT_EQ(win->size(), designed);
    EXPECT_EQ(win->Pgproject->currentIndex(), 0) << "the window opens on the project tab";
    EXPECT_EQ(names(), listOrder);
    clickTitle(g, 1);
    clickTitle(g, 1);
    EXPECT_EQ(names(), sortedDown);
    g->ExportCsvAction()->trigger();
    EXPECT_EQ(QFileInfo(suggested).absolutePath(), folder.path());

    clickTab(win->Pgproject, 0);
    withContextMenu(*g, 0, [](QMenu *m) { trigger(m, QStringLiteral("恢复默认布局")); });
    EXPECT_EQ(g->ColumnWidths(), designedWidths);
    EXPECT_EQ(names(), listOrder);
    EXPECT_EQ(win->size(), designed);

    // A file from another layout, or spoilt.
    disposeWindow(win);
    QSettings s;
    s.beginGroup(QStringLiteral("Layout/FrmProject"));
    s.setValue(QStringLiteral("size"), QStringLiteral("garbage"));
    s.setValue(QStringLiteral("pos"), QPoint(-5000, -5000));
    s.setValue(QStringLiteral("QELDBGrid1/Widths/ID"), 150); // the one that fits
    s.setValue(QStringLiteral("QELDBGrid1/Widths/CNAME"), 0);
    s.setValue(QStringLiteral("QELDBGrid1/Widths/CROSTNUM"), QStringLiteral("wide"));
    s.setValue(QStringLiteral("QELDBGrid1/Widths/GONE"), 200);
    s.setValue(QStringLiteral("QELDBGrid1/Sort"), QStringLiteral("GONE"));
    s.setValue(QStringLiteral("QELDBGrid1/Order"), QStringLiteral("desc"));
    s.setValue(QStringLiteral("QELDBGrid2/Sort"), QStringLiteral("MAX_NUM"));
    s.setValue(QStringLiteral("QELDBGrid2/Order"), QStringLiteral("sideways"));
    s.sync();
    restart();
    EXPECT_EQ(win->size(), designed);
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().intersects(win->frameGeometry()));
    EXPECT_EQ(g->ColumnWidths(), QList<int>{150} + designedWidths.mid(1));
    EXPECT_EQ(names(), listOrder);
    EXPECT_EQ(win->QELDBGrid2->SortColumn(), -1);
}

namespace {

class PerformanceWindowComforts : public ::testing::Test {
protected:
    void SetUp() override
    {
        project = addProject(db, QStringLiteral("春季项目"));
        addVenueAndClass(db);
        // Codes in one order, days in another.
        const QList<QPair<QString, int>> shows = {{"K1", 5}, {"K2", 2}, {"K3", 9}, {"K4", 1}, {"K5", 7}};
        for (const auto &s : shows) {
            addPerformance(db, s.first, QStringLiteral("演出") + s.first, s.second);
            assignPerformance(db, project, s.first);
        }
        w.Context = kCtx;
        w.ProjectID = project;
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        activate(&w);
        testPresenter().clear();
    }

    TestDatabase db;
    QString project;
    TFrmProductProject w;
};

} // namespace

TEST_F(PerformanceWindowComforts, DeleteTheRowsPickedInASortedListByKey)
{
    TQELDBGrid *g = w.dgrproduct;
    EXPECT_EQ(w.ToolButton2->toolTip(), QStringLiteral("删除演出（Delete）"));
    EXPECT_EQ(w.ToolButton4->toolTip(), QStringLiteral("刷新（F5）"));
    EXPECT_EQ(w.ToolButton1->toolTip(), QStringLiteral("添加演出（Insert）"));
    clickTitle(g, 3); // 上演时间
    clickTitle(g, 3);
    EXPECT_EQ(gridColumn(g, 1), (QStringList{"K3", "K5", "K1", "K2", "K4"}));
    clickRow(g, 1);
    clickRow(g, 3, Qt::ControlModifier);
    EXPECT_TRUE(g->CountLabel()->text().endsWith(QStringLiteral("共 5 条　已选 2 条")));
    QTest::keyClick(g, Qt::Key_Delete);
    EXPECT_EQ(testPresenter().count(MessageKind::Confirm), 1);
    EXPECT_EQ(assignedPerformances(db, project), (QStringList{"K1", "K3", "K4"}));
    EXPECT_EQ(gridColumn(g, 1), (QStringList{"K3", "K1", "K4"})) << "reloaded, still sorted";
    EXPECT_TRUE(g->CountLabel()->text().endsWith(QStringLiteral("共 3 条　已选 0 条")));
    // F5 brings a performance assigned meanwhile, in its sorted place.
    addPerformance(db, QStringLiteral("K6"), QStringLiteral("演出K6"), 3);
    assignPerformance(db, project, QStringLiteral("K6"));
    QTest::keyClick(g, Qt::Key_F5);
    EXPECT_EQ(gridColumn(g, 1), (QStringList{"K3", "K1", "K6", "K4"}));
    QTest::keyClick(g, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(w.EdtProductName->hasFocus());
}

namespace {

class SearchByName : public ::testing::Test {
protected:
    void SetUp() override
    {
        addVenueAndClass(db);
        addPerformance(db, QStringLiteral("S1"), QStringLiteral("贝多芬交响曲之夜"), 2);
        addPerformance(db, QStringLiteral("S2"), QStringLiteral("莫扎特 100% 经典"), 3);
        addPerformance(db, QStringLiteral("S3"), QStringLiteral("交响曲_巡演"), 4);
        addPerformance(db, QStringLiteral("S4"), QStringLiteral("爱乐乐团新年音乐会"), 5);
        d.SnapIn->SetContext(kCtx);
        d.AllStatus = true;
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    }
    QStringList codes() const
    {
        QStringList out;
        const TQELClientDataSet *ds = d.DataModule()->cdsProduct;
        for (int pos = 0; pos < ds->RecordCount(); ++pos)
            out << ds->text(ds->rowAt(pos), ds->FieldIndex(QStringLiteral("PRODUCTCODE")));
        out.sort();
        return out;
    }

    TestDatabase db;
    TUISearchProduct_pro d;
};

} // namespace

TEST_F(SearchByName, ANameBoxAmongTheConditionsFindsPartsOfNamesAsTyped)
{
    auto *label = d.findChild<QLabel *>(QStringLiteral("QELDBLabel6"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("演出名称"));
    TQELDBEdit *name = d.edt_ProductName;
    EXPECT_EQ(name->DataField(), QStringLiteral("ProductName"));
    EXPECT_TRUE(d.QELPanel2->isAncestorOf(name)) << "with the other conditions";
    EXPECT_EQ(d.QELPanel2->height(), 91);
    // After the other conditions in the tab order, before 查询 and 重置.
    QStringList order;
    QWidget *w = d.dbox_ProductClass;
    const QList<QWidget *> stops = {d.dbox_ProductClass, d.DBComb_PlaceCode, d.dbox_BTime, d.dbox_ETime, d.DBComb_CityCode, name, d.BitBtn1, d.btn_ProductReset};
    for (int guard = 0; guard < 200 && order.size() < stops.size(); ++guard, w = w->nextInFocusChain())
        if (stops.contains(w) && !order.contains(w->objectName()))
            order << w->objectName();
    EXPECT_EQ(order, QStringList({"dbox_ProductClass", "DBComb_PlaceCode", "dbox_BTime", "dbox_ETime", "DBComb_CityCode", "edt_ProductName", "BitBtn1",
                                  "btn_ProductReset"}));

    ASSERT_EQ(codes(), (QStringList{"S1", "S2", "S3", "S4"}));
    EXPECT_EQ(d.dgrd_Product->CountLabel()->text(), QStringLiteral("共 4 条　已选 0 条"));
    typeInto(name, QStringLiteral("交响曲"));
    QTest::mouseClick(d.BitBtn1, Qt::LeftButton);
    EXPECT_EQ(codes(), (QStringList{"S1", "S3"}));
    EXPECT_EQ(d.dgrd_Product->CountLabel()->text(), QStringLiteral("共 2 条　已选 0 条"));
    // Wildcards are characters.
    typeInto(name, QStringLiteral("100%"));
    QTest::mouseClick(d.BitBtn1, Qt::LeftButton);
    EXPECT_EQ(codes(), QStringList{QStringLiteral("S2")});
    typeInto(name, QStringLiteral("_巡"));
    QTest::mouseClick(d.BitBtn1, Qt::LeftButton);
    EXPECT_EQ(codes(), QStringList{QStringLiteral("S3")});
    typeInto(name, QStringLiteral("没有的演出"));
    QTest::mouseClick(d.BitBtn1, Qt::LeftButton);
    EXPECT_TRUE(codes().isEmpty());
    EXPECT_EQ(d.dgrd_Product->CountLabel()->text(), QStringLiteral("共 0 条　已选 0 条"));
    // 重置 clears the box with the other conditions; the next search finds all again.
    QTest::mouseClick(d.btn_ProductReset, Qt::LeftButton);
    EXPECT_TRUE(name->text().isEmpty());
    EXPECT_TRUE(d.DataModule()->cdsCondition->FieldByName(QStringLiteral("ProductName")).AsString().isEmpty());
    QTest::mouseClick(d.BitBtn1, Qt::LeftButton);
    EXPECT_EQ(codes(), (QStringList{"S1", "S2", "S3", "S4"}));
}

TEST_F(SearchByName, APickInTheSortedListComesBackAsTheCodesPicked)
{
    clickTitle(d.dgrd_Product, 0); // 名称(中文), pinyin
    EXPECT_EQ(gridColumn(d.dgrd_Product, 0), (QStringList{"爱乐乐团新年音乐会", "贝多芬交响曲之夜", "交响曲_巡演", "莫扎特 100% 经典"}));
    clickRow(d.dgrd_Product, 3);
    clickRow(d.dgrd_Product, 0, Qt::ControlModifier);
    EXPECT_EQ(d.dgrd_Product->CountLabel()->text(), QStringLiteral("共 4 条　已选 2 条"));
    QTest::mouseClick(d.btn_ProductActOk, Qt::LeftButton);
    EXPECT_EQ(d.SelectedProducts, QStringLiteral("S2,S4"));
}
