// Big selections: the grid's selection list keeps the order of selecting at
// any size, and reading it moves neither the cursor nor the view.
#include "ClientDataSet.h"
#include "DBGrid.h"
#include "DataSource.h"
#include "GuiTest.h"
#include "HostError.h"
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// n rows with codes C00000.. in their own order, shown in a multi-select grid.
struct BigGrid {
    explicit BigGrid(int n)
    {
        DataPacket p;
        p.addColumn({QStringLiteral("PRODUCTCODE"), FieldType::Text, 20});
        p.addColumn({QStringLiteral("N"), FieldType::Integer, 0});
        for (int i = 0; i < n; ++i) {
            p.appendRow();
            p.setText(0, QStringLiteral("C%1").arg(i, 5, 10, QLatin1Char('0')));
            p.setInteger(1, i);
        }
        ds.SetData(std::move(p));
        source.SetDataSet(&ds);
        grid.SetColumns({GridColumn{QStringLiteral("PRODUCTCODE"), QStringLiteral("编号"), 80}});
        grid.SetMultiSelect(true);
        grid.SetDataSource(&source);
        grid.resize(300, 200);
        grid.show();
    }
    QString code(int pos) const { return ds.text(ds.rowAt(pos), 0); }

    TQELClientDataSet ds;
    TQELDataSource source;
    TQELDBGrid grid;
};

TEST(BigSelection, CtrlAThenReadingTakesEveryRowInGridOrderWithoutMovingTheCursor)
{
    BigGrid g(20000);
    g.ds.MoveTo(37);
    QApplication::processEvents();
    const int scroll = g.grid.verticalScrollBar()->value();
    QTest::keyClick(&g.grid, Qt::Key_A, Qt::ControlModifier);

    QSignalSpy moved(&g.ds, &TQELClientDataSet::cursorMoved);
    const QStringList codes = g.grid.SelectedTexts(QStringLiteral("productcode"));
    ASSERT_EQ(codes.size(), 20000);
    for (int pos : {0, 1, 37, 9999, 19999})
        EXPECT_EQ(codes[pos], g.code(pos));
    EXPECT_EQ(moved.count(), 0);
    EXPECT_EQ(g.ds.RecNo(), 37);
    EXPECT_EQ(g.grid.verticalScrollBar()->value(), scroll);
    EXPECT_THROW(g.grid.SelectedTexts(QStringLiteral("NOSUCHFIELD")), EHostError);
}

TEST(BigSelection, TheListKeepsTheOrderOfSelectingThroughDeselectsAndReselects)
{
    BigGrid g(2000);
    QItemSelectionModel *sel = g.grid.selectionModel();
    const auto pick = [&](int pos, QItemSelectionModel::SelectionFlags how) {
        sel->select(g.source.index(pos, 0), how | QItemSelectionModel::Rows);
    };
    // Pick rows one by one, later rows first: the order of picking counts.
    for (int pos = 1999; pos >= 0; --pos)
        pick(pos, QItemSelectionModel::Select);
    // Drop four rows in five (enough stale entries to make the list compact
    // itself), then pick row 10 again: it goes to the end.
    for (int pos = 0; pos < 2000; ++pos)
        if (pos % 5 != 4)
            pick(pos, QItemSelectionModel::Deselect);
    pick(10, QItemSelectionModel::Select);

    QStringList want;
    for (int pos = 1999; pos >= 0; --pos)
        if (pos % 5 == 4)
            want << g.code(pos);
    want << g.code(10);
    EXPECT_EQ(g.grid.SelectedTexts(QStringLiteral("PRODUCTCODE")), want);
    EXPECT_EQ(g.grid.SelectedRows().size(), want.size());

    // A reload forgets the selection.
    DataPacket p;
    p.addColumn({QStringLiteral("PRODUCTCODE"), FieldType::Text, 20});
    p.addColumn({QStringLiteral("N"), FieldType::Integer, 0});
    p.appendRow();
    p.setText(0, QStringLiteral("X"));
    g.ds.SetData(std::move(p));
    EXPECT_TRUE(g.grid.SelectedRows().isEmpty());
}

TEST(BigSelection, RowsDeletedFromTheListLeaveTheSelection)
{
    BigGrid g(50);
    QItemSelectionModel *sel = g.grid.selectionModel();
    for (int pos : {5, 6, 7})
        sel->select(g.source.index(pos, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    g.ds.MoveTo(6);
    g.ds.Delete();
    EXPECT_EQ(g.grid.SelectedTexts(QStringLiteral("PRODUCTCODE")), (QStringList{QStringLiteral("C00005"), QStringLiteral("C00007")}));
}

} // namespace
