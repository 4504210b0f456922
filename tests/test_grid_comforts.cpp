// The grid's comforts on a real grid shown offscreen: sorting by a click on
// a title, the count line, the empty list, Ctrl+C, the context menu with its
// exports, and the last column running on to the right edge.
#include "ClientDataSet.h"
#include "Database.h"
#include "DBGrid.h"
#include "DataSource.h"
#include "FileDialog.h"
#include "GuiTest.h"
#include "TableExport.h"
#include "TestPresenter.h"
#include "Xlsx.h"
#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QScrollBar>
#include <QFile>
#include <QFileDialog>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QPushButton>
#include <QSignalSpy>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include "ModelTesterLog.h"
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace {

struct Show {
    const char *code;
    const char *name; // nullptr: null
    std::optional<qint64> qty;
    QDateTime when;  // invalid: null
    std::optional<double> price;
};

QDateTime at(int day, int h, int m) { return QDateTime(QDate(2025, 1, day), QTime(h, m)); }

// In the list's own order. Two rows share 北京 / 9 / the same time, for stability.
const std::vector<Show> kShows = {
    {"C1", "上海", 10, at(3, 19, 30), 80.5},
    {"C2", "北京", 9, at(1, 10, 0), std::nullopt},
    {"C3", "广州", 100, QDateTime(), 120},
    {"C4", "", std::nullopt, at(2, 8, 0), 80.5},
    {"C5", "安庆", 2, at(5, 20, 0), -1},
    {"C6", "北京", 9, at(1, 10, 0), 3},
    {"C7", nullptr, 10, at(4, 12, 0), 80.5},
};
const QStringList kListOrder = {"C1", "C2", "C3", "C4", "C5", "C6", "C7"};

DataPacket packet(const std::vector<Show> &shows)
{
    DataPacket p;
    p.addColumn({QStringLiteral("CODE"), FieldType::Text, 10});
    p.addColumn({QStringLiteral("NAME"), FieldType::Text, 40});
    p.addColumn({QStringLiteral("QTY"), FieldType::Integer, 0});
    p.addColumn({QStringLiteral("WHEN"), FieldType::DateTime, 0});
    p.addColumn({QStringLiteral("PRICE"), FieldType::Float, 0});
    for (const Show &s : shows) {
        p.appendRow();
        p.setText(0, QString::fromUtf8(s.code));
        if (s.name)
            p.setText(1, QString::fromUtf8(s.name));
        if (s.qty)
            p.setInteger(2, *s.qty);
        if (s.when.isValid())
            p.setDateTime(3, DataPacket::stampFromDateTime(s.when));
        if (s.price)
            p.setReal(4, *s.price);
    }
    return p;
}

enum Col { CODE, NAME, QTY, WHEN, PRICE };

class GridComforts : public ::testing::Test {
protected:
    void SetUp() override
    {
        src.SetDataSet(&ds);
        ds.SetData(packet(kShows));
        grid.SetColumns({{QStringLiteral("CODE"), QStringLiteral("编码"), 60},
                         {QStringLiteral("NAME"), QStringLiteral("名称"), 80},
                         {QStringLiteral("QTY"), QStringLiteral("数量"), 50, Qt::AlignRight | Qt::AlignVCenter},
                         {QStringLiteral("WHEN"), QStringLiteral("上演时间"), 120},
                         {QStringLiteral("PRICE"), QStringLiteral("票价"), 50}});
        grid.SetDataSource(&src);
        grid.resize(700, 320);
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }
    void TearDown() override { TQELDBGrid::SetSaveFileNameHook(nullptr); }

    QStringList shown() const { return gridColumn(&grid, CODE); }
    // The codes as the data modules walk them.
    QStringList walked()
    {
        QStringList out;
        const int keep = ds.RecNo();
        for (ds.First(); !ds.Eof(); ds.Next())
            out << ds.FieldByName(QStringLiteral("CODE")).AsString();
        ds.MoveTo(keep);
        return out;
    }
    QString currentCode() { return ds.FieldByName(QStringLiteral("CODE")).AsString(); }
    void clickTitle(int col, QPoint where = QPoint())
    {
        QHeaderView *h = grid.horizontalHeader();
        if (where.isNull())
            where = QPoint(h->sectionViewportPosition(col) + h->sectionSize(col) / 2, h->height() / 2);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, where);
    }
    int rowShowing(const QString &code) const { return int(shown().indexOf(code)); }

    TQELClientDataSet ds;
    TQELDataSource src;
    TQELDBGrid grid;
};

} // namespace

TEST_F(GridComforts, ATitleClickSortsUpThenDownThenBackToTheListsOrder)
{
    ModelTesterLog log;
    QAbstractItemModelTester tester(grid.model(), QAbstractItemModelTester::FailureReportingMode::Warning);
    ASSERT_EQ(shown(), kListOrder);
    EXPECT_EQ(grid.horizontalHeader()->sortIndicatorSection(), -1);

    clickTitle(NAME);
    // Pinyin: an, bei, bei, guang, shang; equal names keep the list's order; blanks last.
    EXPECT_EQ(shown(), (QStringList{"C5", "C2", "C6", "C3", "C1", "C4", "C7"}));
    EXPECT_EQ(grid.horizontalHeader()->sortIndicatorSection(), int(NAME));
    EXPECT_EQ(grid.horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_TRUE(grid.horizontalHeader()->isSortIndicatorShown());
    EXPECT_EQ(walked(), kListOrder) << "the dataset keeps its own order";

    clickTitle(NAME);
    EXPECT_EQ(shown(), (QStringList{"C1", "C3", "C2", "C6", "C5", "C4", "C7"})) << "ties keep the list's order; blanks still last";
    EXPECT_EQ(grid.horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(walked(), kListOrder);

    clickTitle(NAME);
    EXPECT_EQ(shown(), kListOrder);
    EXPECT_EQ(grid.horizontalHeader()->sortIndicatorSection(), -1);
    EXPECT_EQ(grid.SortColumn(), -1);

    // Another column starts ascending again.
    clickTitle(NAME);
    clickTitle(QTY);
    EXPECT_EQ(grid.SortColumn(), int(QTY));
    EXPECT_EQ(grid.SortOrder(), Qt::AscendingOrder);
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(GridComforts, NumbersTimesAndFractionsSortByValue)
{
    clickTitle(QTY);
    EXPECT_EQ(shown(), (QStringList{"C5", "C2", "C6", "C1", "C7", "C3", "C4"})) << "2 < 9 < 10 < 100, not as text";
    clickTitle(QTY);
    EXPECT_EQ(shown(), (QStringList{"C3", "C1", "C7", "C2", "C6", "C5", "C4"}));
    clickTitle(WHEN);
    EXPECT_EQ(shown(), (QStringList{"C2", "C6", "C4", "C1", "C7", "C5", "C3"}));
    clickTitle(WHEN);
    EXPECT_EQ(shown(), (QStringList{"C5", "C7", "C1", "C4", "C2", "C6", "C3"}));
    clickTitle(PRICE);
    EXPECT_EQ(shown(), (QStringList{"C5", "C6", "C1", "C4", "C7", "C3", "C2"}));
    EXPECT_EQ(gridColumn(&grid, PRICE), (QStringList{"-1", "3", "80.5", "80.5", "80.5", "120", ""}));
}

TEST_F(GridComforts, TheCursorFollowsTheRowClickedInASortedGridAndBack)
{
    clickTitle(NAME); // C5 C2 C6 C3 C1 C4 C7
    clickRow(&grid, 0);
    EXPECT_EQ(currentCode(), QStringLiteral("C5"));
    EXPECT_EQ(ds.RecNo(), 4) << "the record's place in the dataset's own order";
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(currentCode(), QStringLiteral("C2"));
    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(currentCode(), QStringLiteral("C6"));
    EXPECT_EQ(ds.RecNo(), 5);
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(currentCode(), QStringLiteral("C7"));
    // The other way: the dataset moves, the grid shows where the record sits.
    ds.MoveTo(0);
    EXPECT_EQ(grid.currentIndex().row(), rowShowing(QStringLiteral("C1")));
    ds.Locate(QStringLiteral("CODE"), QStringLiteral("C3"));
    EXPECT_EQ(grid.currentIndex().row(), 3);
    EXPECT_EQ(grid.model()->headerData(3, Qt::Vertical).toString(), QStringLiteral("▶")) << "the row indicator marks the shown row";
    EXPECT_TRUE(grid.model()->headerData(2, Qt::Vertical).toString().isEmpty());
    // Sorting keeps the current record current.
    clickTitle(QTY);
    EXPECT_EQ(currentCode(), QStringLiteral("C3"));
    EXPECT_EQ(grid.currentIndex().row(), rowShowing(QStringLiteral("C3")));
}

TEST_F(GridComforts, TheSortStaysAcrossReloadsAndTheCursorStartsOnTheFirstRecord)
{
    clickTitle(QTY);
    clickTitle(QTY); // descending
    std::vector<Show> next = kShows;
    next.push_back({"C8", "成都", 50, at(6, 9, 0), 1});
    next.erase(next.begin()); // C1 gone
    ds.SetData(packet(next));
    EXPECT_EQ(shown(), (QStringList{"C3", "C8", "C7", "C2", "C6", "C5", "C4"}));
    EXPECT_EQ(grid.horizontalHeader()->sortIndicatorSection(), int(QTY));
    EXPECT_EQ(grid.horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_EQ(currentCode(), QStringLiteral("C2")) << "the dataset's first record, as after any reload";
    EXPECT_EQ(grid.currentIndex().row(), rowShowing(QStringLiteral("C2")));
    // Other columns (another list in the same grid) start unsorted.
    grid.SetColumns({{QStringLiteral("CODE"), QStringLiteral("编码"), 60}, {QStringLiteral("QTY"), QStringLiteral("数量"), 50}});
    EXPECT_EQ(grid.SortColumn(), -1);
    EXPECT_EQ(grid.horizontalHeader()->sortIndicatorSection(), -1);
    EXPECT_EQ(shown(), (QStringList{"C2", "C3", "C4", "C5", "C6", "C7", "C8"}));
}

TEST_F(GridComforts, SelectionsReadInSelectingOrderAndSurviveASort)
{
    grid.SetMultiSelect(true);
    clickTitle(NAME); // C5 C2 C6 C3 C1 C4 C7
    clickRow(&grid, 0);
    clickRow(&grid, 4, Qt::ControlModifier);
    clickRow(&grid, 2, Qt::ControlModifier);
    EXPECT_EQ(grid.SelectedTexts(QStringLiteral("CODE")), (QStringList{"C5", "C1", "C6"}));
    EXPECT_EQ(grid.SelectedCommaText(QStringLiteral("CODE")), QStringLiteral("C5,C1,C6"));
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 7 条　已选 3 条"));
    // A range is taken as shown, not as the dataset orders it.
    clickRow(&grid, 1);
    clickRow(&grid, 3, Qt::ShiftModifier);
    QStringList range = grid.SelectedTexts(QStringLiteral("CODE"));
    range.sort();
    EXPECT_EQ(range, (QStringList{"C2", "C3", "C6"}));
    clickRow(&grid, 0);
    clickRow(&grid, 4, Qt::ControlModifier);
    clickRow(&grid, 2, Qt::ControlModifier);

    clickTitle(QTY); // C5 C2 C6 C1 C7 C3 C4
    EXPECT_EQ(grid.SelectedTexts(QStringLiteral("CODE")), (QStringList{"C5", "C1", "C6"}));
    QStringList marked;
    for (const QModelIndex &i : grid.selectionModel()->selectedRows())
        marked << grid.model()->index(i.row(), CODE).data().toString();
    marked.sort();
    EXPECT_EQ(marked, (QStringList{"C1", "C5", "C6"})) << "the same records stay marked where they went";
    // Ctrl+C copies them as shown now, with the titles.
    EXPECT_EQ(grid.CopyText(), QStringLiteral("编码\t名称\t数量\t上演时间\t票价\n"
                                              "C5\t安庆\t2\t2025-01-05 20:00\t-1\n"
                                              "C6\t北京\t9\t2025-01-01 10:00\t3\n"
                                              "C1\t上海\t10\t2025-01-03 19:30\t80.5\n"));
    // Deselecting one by Ctrl+click after the sort.
    clickRow(&grid, rowShowing(QStringLiteral("C1")), Qt::ControlModifier);
    EXPECT_EQ(grid.SelectedTexts(QStringLiteral("CODE")), (QStringList{"C5", "C6"}));
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 7 条　已选 2 条"));
}

TEST_F(GridComforts, DeletesAndAppendsKeepTheSortedViewConsistent)
{
    ModelTesterLog log;
    QAbstractItemModelTester tester(grid.model(), QAbstractItemModelTester::FailureReportingMode::Warning);
    clickTitle(NAME); // C5 C2 C6 C3 C1 C4 C7
    ASSERT_TRUE(ds.Locate(QStringLiteral("CODE"), QStringLiteral("C6")));
    ds.Delete();
    EXPECT_EQ(shown(), (QStringList{"C5", "C2", "C3", "C1", "C4", "C7"}));
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 6 条"));
    EXPECT_EQ(grid.currentIndex().row(), rowShowing(currentCode())) << "the grid still shows the dataset's current record";
    ds.Append();
    ds.FieldByName(QStringLiteral("CODE")).SetAsString(QStringLiteral("C9"));
    ds.FieldByName(QStringLiteral("NAME")).SetAsString(QStringLiteral("阿城"));
    ds.Post();
    EXPECT_EQ(shown(), (QStringList{"C5", "C2", "C3", "C1", "C4", "C7", "C9"})) << "a new row waits at the end until the next sort";
    EXPECT_EQ(grid.currentIndex().row(), 6);
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 7 条"));
    clickTitle(NAME); // descending now, with the new row in its place
    EXPECT_EQ(shown(), (QStringList{"C1", "C3", "C2", "C5", "C9", "C4", "C7"}));
    EXPECT_EQ(walked(), (QStringList{"C1", "C2", "C3", "C4", "C5", "C7", "C9"}));
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(GridComforts, IndexesOfTheDataSourceStillAddressTheirRows)
{
    grid.SetMultiSelect(true);
    grid.clearSelection();
    clickTitle(NAME); // C5 C2 C6 C3 C1 C4 C7
    // Dataset position 0 (C1) shows on row 4.
    EXPECT_EQ(grid.visualRect(src.index(0, 1)), grid.visualRect(grid.model()->index(4, 1)));
    grid.selectionModel()->select(src.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    grid.selectionModel()->select(QItemSelection(src.index(0, 0), src.index(1, 4)), QItemSelectionModel::Select);
    EXPECT_EQ(grid.SelectedTexts(QStringLiteral("CODE")), (QStringList{"C3", "C1", "C2"})) << "a range in its own order";
    grid.selectionModel()->setCurrentIndex(src.index(4, 0), QItemSelectionModel::NoUpdate);
    EXPECT_EQ(currentCode(), QStringLiteral("C5"));
    EXPECT_EQ(grid.currentIndex().row(), 0);
}

TEST_F(GridComforts, TheCountLineCountsRowsAndPicksAndAnEmptyListSaysSo)
{
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 7 条"));
    EXPECT_TRUE(grid.CountLabel()->isVisible());
    // Under the rows, inside the grid, below its frame and scroll bar.
    EXPECT_EQ(grid.CountLabel()->geometry().top(), grid.viewport()->geometry().bottom() + 1);
    EXPECT_GE(grid.CountLabel()->height(), grid.CountLabel()->fontMetrics().height());
    EXPECT_LE(grid.CountLabel()->geometry().bottom(), grid.rect().bottom());
    grid.SetMultiSelect(true);
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 7 条　已选 1 条")) << "the current row, picked when one row could be";
    grid.clearSelection();
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 7 条　已选 0 条"));
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 7 条　已选 7 条"));
    clickRow(&grid, 2);
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 7 条　已选 1 条"));

    auto inkInCentre = [this] {
        QApplication::processEvents();
        const QImage img = grid.viewport()->grab().toImage();
        const QColor base = grid.viewport()->palette().color(QPalette::Base);
        int ink = 0;
        for (int y = img.height() / 2 - 12; y < img.height() / 2 + 12; ++y)
            for (int x = 0; x < img.width(); ++x)
                ink += QColor(img.pixel(x, y)) != base;
        return ink;
    };
    grid.resize(700, 600); // the middle lies below seven rows
    ds.SetData(packet({}));
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 0 条　已选 0 条"));
    EXPECT_GT(inkInCentre(), 50) << "没有符合条件的记录 is painted in the empty list";
    EXPECT_EQ(TQELDBGrid::EmptyText(), QStringLiteral("没有符合条件的记录"));
    ds.Close();
    EXPECT_EQ(inkInCentre(), 0) << "a list not loaded yet says nothing";
    ds.SetData(packet(kShows));
    EXPECT_EQ(inkInCentre(), 0) << "rows end above the middle; no message over them";
    EXPECT_EQ(grid.CountLabel()->text(), QStringLiteral("共 7 条　已选 0 条"));
}

TEST_F(GridComforts, CtrlCCopiesThePickedRowsOrTheCurrentOneAsShown)
{
    std::vector<Show> shows = kShows;
    shows.push_back({"C8", "@带\t制表符", 1, QDateTime(), std::nullopt});
    shows.push_back({"C9", "两\n行 \"引号\"", 1, QDateTime(), std::nullopt});
    ds.SetData(packet(shows));
    clickTitle(CODE);
    clickTitle(CODE); // C9 C8 C7 …
    clickRow(&grid, 0);
    grid.setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("编码\t名称\t数量\t上演时间\t票价\nC9\t\"两\n行 \"\"引号\"\"\"\t1\t\t\n"));
    grid.SetMultiSelect(true);
    clickRow(&grid, 2);
    clickRow(&grid, 1, Qt::ControlModifier);
    QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("编码\t名称\t数量\t上演时间\t票价\nC8\t\"'@带\t制表符\"\t1\t\t\nC7\t\t10\t2025-01-04 12:00\t80.5\n"))
        << "rows in the order shown, not the order picked";
    // Nothing picked: the current row.
    clickRow(&grid, 1, Qt::ControlModifier);
    clickRow(&grid, 2, Qt::ControlModifier);
    ASSERT_TRUE(grid.SelectedRows().isEmpty());
    QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("编码\t名称\t数量\t上演时间\t票价\nC7\t\t10\t2025-01-04 12:00\t80.5\n"));
}

TEST_F(GridComforts, TheContextMenuOffersCopyAndExportsAndWhatAFormAdds)
{
    QAction history(QStringLiteral("变更记录"));
    int ran = 0;
    QObject::connect(&history, &QAction::triggered, [&] { ++ran; });
    grid.AddContextAction(&history);
    QApplication::clipboard()->clear();
    const QStringList offered = withContextMenu(grid, 3, [](QMenu *m) { trigger(m, QStringLiteral("复制")); });
    EXPECT_EQ(offered, (QStringList{"复制", "导出为 Excel…", "导出为 CSV…", "导出为 PDF…", "打印…", "恢复默认布局", "变更记录"}));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("编码\t名称\t数量\t上演时间\t票价\nC4\t\t\t2025-01-02 08:00\t80.5\n"))
        << "the right click made the row current";
    withContextMenu(grid, 1, [](QMenu *m) { trigger(m, QStringLiteral("变更记录")); });
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(currentCode(), QStringLiteral("C2"));
}

TEST_F(GridComforts, ExportsFromTheMenuWriteTheListAsShown)
{
    QTemporaryDir dir;
    QString asked;
    QString answer = dir.filePath(QStringLiteral("演出列表"));
    TQELDBGrid::SetSaveFileNameHook([&](QWidget *, const QString &caption, const QString &suggested, const QString &) {
        asked = caption + QLatin1Char('|') + suggested;
        return answer;
    });
    grid.SetExportName(QStringLiteral("演出/列表"));
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    clickTitle(WHEN);
    clickTitle(WHEN); // C5 C7 C1 C4 C2 C6 C3
    withContextMenu(grid, 0, [](QMenu *m) { trigger(m, QStringLiteral("导出为 CSV…")); });
    EXPECT_TRUE(asked.startsWith(QStringLiteral("导出为 CSV|"))) << asked.toStdString();
    EXPECT_TRUE(asked.endsWith(QStringLiteral("/演出_列表_") + today + QStringLiteral(".csv"))) << asked.toStdString();
    QFile csv(answer + QStringLiteral(".csv"));
    EXPECT_TRUE(grid.CountLabel()->text().endsWith(QStringLiteral("已导出到 ") + csv.fileName())) << "the window says where it went";
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly)) << "the suffix is added to a bare name";
    EXPECT_EQ(csv.readAll(), QByteArray("\xEF\xBB\xBF"
                                        "编码,名称,数量,上演时间,票价\r\n"
                                        "C5,安庆,2,2025-01-05 20:00,-1\r\n"
                                        "C7,,10,2025-01-04 12:00,80.5\r\n"
                                        "C1,上海,10,2025-01-03 19:30,80.5\r\n"
                                        "C4,,,2025-01-02 08:00,80.5\r\n"
                                        "C2,北京,9,2025-01-01 10:00,\r\n"
                                        "C6,北京,9,2025-01-01 10:00,3\r\n"
                                        "C3,广州,100,,120\r\n"));

    // A CSV name for a workbook: the workbook is written under its own suffix; the CSV stays.
    const qint64 csvSize = csv.size();
    answer = dir.filePath(QStringLiteral("演出列表.csv"));
    withContextMenu(grid, 0, [](QMenu *m) { trigger(m, QStringLiteral("导出为 Excel…")); });
    EXPECT_EQ(asked, QStringLiteral("导出为 Excel|") + dir.filePath(QStringLiteral("演出_列表_")) + today + QStringLiteral(".xlsx"))
        << "the folder last written to";
    EXPECT_EQ(csv.size(), csvSize);
    answer = dir.filePath(QStringLiteral("演出列表.xlsx"));
    QString error;
    const QJsonObject sheet = readXlsx(answer, &error);
    ASSERT_EQ(xlsxRowCount(sheet), 8) << error.toStdString();
    const QString f = QStringLiteral("|yyyy-mm-dd hh:mm");
    EXPECT_EQ(xlsxRow(sheet, 0), (QStringList{"s:编码", "s:名称", "s:数量", "s:上演时间", "s:票价"}));
    EXPECT_EQ(xlsxRow(sheet, 1), (QStringList{"s:C5", "s:安庆", "n:2", "d:2025-01-05 20:00:00" + f, "n:-1"}));
    EXPECT_EQ(xlsxRow(sheet, 2), (QStringList{"s:C7", "-", "n:10", "d:2025-01-04 12:00:00" + f, "n:80.5"}));
    EXPECT_EQ(xlsxRow(sheet, 4), (QStringList{"s:C4", "-", "-", "d:2025-01-02 08:00:00" + f, "n:80.5"})) << "empty text stays empty";
    EXPECT_EQ(xlsxRow(sheet, 5), (QStringList{"s:C2", "s:北京", "n:9", "d:2025-01-01 10:00:00" + f}));
    EXPECT_EQ(xlsxRow(sheet, 7), (QStringList{"s:C3", "s:广州", "n:100", "-", "n:120"}));
    const QJsonObject widths = sheet.value(QStringLiteral("widths")).toObject();
    EXPECT_GT(widths.value(QStringLiteral("D")).toDouble(), widths.value(QStringLiteral("B")).toDouble()) << "widths follow the grid's columns";

    // Cancelled: nothing is written and nothing said.
    testPresenter().clear();
    answer.clear();
    const QStringList before = QDir(dir.path()).entryList(QDir::Files);
    withContextMenu(grid, 0, [](QMenu *m) { trigger(m, QStringLiteral("导出为 CSV…")); });
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), before);
    EXPECT_EQ(testPresenter().count(), 0);

    // A place that cannot be written: one error box saying why.
    answer = dir.filePath(QStringLiteral("演出列表.csv/x.csv"));
    withContextMenu(grid, 0, [](QMenu *m) { trigger(m, QStringLiteral("导出为 CSV…")); });
    expectOneError(QStringLiteral("导出失败：无法写入“") + answer + QStringLiteral("”：路径中有一项不是文件夹"), "export under a file");
    answer = QStringLiteral("/proc/演出列表.xlsx");
    withContextMenu(grid, 0, [](QMenu *m) { trigger(m, QStringLiteral("导出为 Excel…")); });
    expectOneError(QStringLiteral("导出失败：无法写入“/proc/演出列表.xlsx”："), "export into /proc");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);
}

// The text of a PDF as pdftotext reads it, and its page count.
std::pair<QString, int> pdfText(const QString &file)
{
    QProcess text, info;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
    info.start(QStringLiteral("pdfinfo"), {file});
    if (!text.waitForFinished(30000) || !info.waitForFinished(30000))
        return {};
    const QString pages = QString::fromUtf8(info.readAllStandardOutput()).section(QStringLiteral("Pages:"), 1).section(QLatin1Char('\n'), 0, 0).trimmed();
    return {QString::fromUtf8(text.readAllStandardOutput()), pages.toInt()};
}

TEST_F(GridComforts, ThePrintAndThePdfShowTheListAsShownPageByPage)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("演出.pdf"));
    TQELDBGrid::SetSaveFileNameHook([&](QWidget *, const QString &, const QString &, const QString &) { return file; });
    grid.SetExportName(QStringLiteral("演出列表"));
    clickTitle(NAME);
    withContextMenu(grid, 0, [](QMenu *m) { trigger(m, QStringLiteral("导出为 PDF…")); });
    auto [text, pages] = pdfText(file);
    EXPECT_EQ(pages, 1);
    for (const QString &shown : {QStringLiteral("演出列表"), QStringLiteral("编码"), QStringLiteral("上演时间"), QStringLiteral("安庆"),
                                 QStringLiteral("2025-01-05 20:00"), QStringLiteral("第 1 页，共 1 页")})
        EXPECT_TRUE(text.contains(shown)) << shown.toStdString() << "\n" << text.toStdString();
    EXPECT_LT(text.indexOf(QStringLiteral("安庆")), text.indexOf(QStringLiteral("上海"))) << "in the order shown";

    // Many rows: every page has its titles and its number.
    std::vector<Show> many;
    for (int i = 0; i < 300; ++i)
        many.push_back({"X", "行", i, QDateTime(), std::nullopt});
    ds.SetData(packet(many));
    withContextMenu(grid, 0, [](QMenu *m) { trigger(m, QStringLiteral("导出为 PDF…")); });
    std::tie(text, pages) = pdfText(file);
    EXPECT_GT(pages, 3);
    EXPECT_EQ(text.count(QStringLiteral("编码")), pages);
    EXPECT_TRUE(text.contains(QStringLiteral("第 %1 页，共 %1 页").arg(pages)));

    // 打印… opens Qt's print preview.
    bool previewed = false;
    ModalAnswer<QDialog> preview([&](QDialog *d) { previewed = d->inherits("QPrintPreviewDialog"); });
    withContextMenu(grid, 0, [](QMenu *m) { trigger(m, QStringLiteral("打印…")); });
    EXPECT_TRUE(previewed);
}

TEST_F(GridComforts, TheLastColumnRunsOnToTheEdgeWithoutChangingItsWidth)
{
    EXPECT_EQ(grid.columnWidth(PRICE), 50) << "the width the form set";
    const int end = grid.columnViewportPosition(PRICE) + grid.columnWidth(PRICE);
    ASSERT_LT(end + 100, grid.viewport()->width());
    const int y = grid.rowViewportPosition(2) + grid.rowHeight(2) / 2;
    EXPECT_EQ(grid.indexAt(QPoint(end + 80, y)), grid.model()->index(2, PRICE));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, QPoint(end + 80, y));
    EXPECT_EQ(currentCode(), QStringLiteral("C3"));
    // The picked row's colour runs on into the room, as its last cell's does.
    QApplication::processEvents();
    const QImage img = grid.viewport()->grab().toImage();
    const QColor cell(img.pixel(grid.columnViewportPosition(PRICE) + 2, y - 4));
    EXPECT_NE(cell, grid.viewport()->palette().color(QPalette::Base));
    EXPECT_EQ(QColor(img.pixel(end + 80, y - 4)), cell);
    const int other = grid.rowViewportPosition(4) + 3;
    EXPECT_EQ(QColor(img.pixel(end + 80, other)), grid.viewport()->palette().color(QPalette::Base));
    // A click on the title's room sorts by the last column.
    clickTitle(PRICE, QPoint(end + 80, grid.horizontalHeader()->height() / 2));
    EXPECT_EQ(grid.SortColumn(), int(PRICE));
    EXPECT_EQ(shown(), (QStringList{"C5", "C6", "C1", "C4", "C7", "C3", "C2"}));
    EXPECT_EQ(grid.columnWidth(PRICE), 50);
    // Narrower than its columns: every width as set, and a scroll bar.
    grid.resize(250, 320);
    QApplication::processEvents();
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(grid.columnWidth(c), (QList<int>{60, 80, 50, 120, 50})[c]);
    EXPECT_TRUE(grid.horizontalScrollBar()->isVisible());
}

// POSIX locks this process holds on the files with these inodes (/proc/locks).
int locksHeld(const QStringList &files)
{
    QSet<QByteArray> inodes;
    for (const QString &f : files) {
        struct stat st;
        if (::stat(QFile::encodeName(f).constData(), &st) == 0)
            inodes.insert(QByteArray::number(qulonglong(st.st_ino)));
    }
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    int n = 0;
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 6 && f[1] == "POSIX" && f[4] == pid && inodes.contains(f[5].split(':').value(2)))
            ++n;
    }
    return n;
}

TEST_F(GridComforts, TheExportDialogListingTheDatabasesFolderLeavesItsLocksAndFilesAlone)
{
    // A desk with the database open in WAL mode: SQLite holds POSIX locks,
    // which Linux drops when any descriptor of the file closes in the process.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("desk.db"));
    Database::open(QStringLiteral("sqlite:") + file);
    const auto close = qScopeGuard([] { Database::close(); });
    Database::connection()->execScript("CREATE TABLE t (x INTEGER); INSERT INTO t VALUES (1);");
    const QStringList files = {file, file + QStringLiteral("-wal"), file + QStringLiteral("-shm")};
    const int held = locksHeld(files);
    ASSERT_GT(held, 0);

    // It opens where the last export went: the database's folder.
    RememberExportFolder(dir.path());
    bool listed = false;
    ModalAnswer<QDialog> look([&](QDialog *shown) {
        auto *d = qobject_cast<QFileDialog *>(shown);
        auto *model = d ? d->findChild<QFileSystemModel *>() : nullptr;
        ASSERT_TRUE(model);
        QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
        listed = QFileInfo(model->rootPath()) == QFileInfo(dir.path());
        loaded.wait(1000); // unless it was listed already
        const auto *buttons = d->findChild<QDialogButtonBox *>();
        ASSERT_TRUE(buttons && buttons->button(QDialogButtonBox::Cancel));
        EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消")) << "Qt's own texts speak Chinese";
        QTest::qWait(300); // icons and types are fetched after the names
        d->reject();
    });
    withContextMenu(grid, 0, [](QMenu *m) { trigger(m, QStringLiteral("导出为 CSV…")); });
    ASSERT_TRUE(look.seen());
    EXPECT_TRUE(listed) << "the dialog listed the database's folder";
    EXPECT_EQ(locksHeld(files), held) << "the desk still holds its locks";
    // Another desk comes and goes: it must see this one and leave the WAL.
    QProcess other;
    other.start(QStringLiteral("sqlite3"), {file, QStringLiteral("SELECT count(*) FROM t;")});
    ASSERT_TRUE(other.waitForFinished(10000));
    EXPECT_TRUE(QFileInfo::exists(files[1])) << "a second desk closing deleted the WAL under this one";
}
