// The quick roads through big lists give what the plain ones give: comma text
// written without a string per row, rows read as stored bytes.
#include "ClientDataSet.h"
#include "CommaText.h"
#include "DBGrid.h"
#include "DataSource.h"
#include "HostError.h"
#include <QItemSelectionModel>
#include <gtest/gtest.h>

namespace {

// Codes that take every branch of the writer: plain ASCII, ones that need
// quotes, empty, null, non-ASCII and a leading byte order mark.
const QStringList kCodes = {
    QStringLiteral("C00001"),
    QStringLiteral("a,b"),
    QStringLiteral("with blank"),
    QStringLiteral("say \"hi\""),
    QString(), // null
    QStringLiteral(""),
    QStringLiteral("演出01"),
    QStringLiteral("演出 \"x\""),
    QString(QChar(0xFEFF)) + QStringLiteral("BOM"),
    QStringLiteral("tab\there"),
    QStringLiteral("\"\""),
    QStringLiteral("Z99"),
};

struct Grid {
    explicit Grid(const QStringList &codes)
    {
        DataPacket p;
        p.addColumn({QStringLiteral("PRODUCTCODE"), FieldType::Text, 20});
        p.addColumn({QStringLiteral("N"), FieldType::Integer, 0});
        for (int i = 0; i < codes.size(); ++i) {
            p.appendRow();
            if (!codes[i].isNull())
                p.setText(0, codes[i]);
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
    void pick(int pos, QItemSelectionModel::SelectionFlags how = QItemSelectionModel::Select)
    {
        grid.selectionModel()->select(source.index(pos, 0), how | QItemSelectionModel::Rows);
    }

    TQELClientDataSet ds;
    TQELDataSource source;
    TQELDBGrid grid;
};

TEST(CommaTextWriter, WritesWhatWriteCommaTextWritesItemByItem)
{
    CommaTextWriter w;
    for (const QString &c : kCodes)
        w.add(c);
    const QString text = w.take();
    EXPECT_EQ(text, WriteCommaText(kCodes));
    EXPECT_EQ(ReadCommaText(text).size(), kCodes.size());
    // Taking empties the writer: the next text starts without a comma.
    w.add(QStringLiteral("X"));
    EXPECT_EQ(w.take(), QStringLiteral("X"));
}

TEST(CommaTextWriter, AsciiBytesAreWrittenAsTheirTextAndOtherBytesRefused)
{
    CommaTextWriter w;
    EXPECT_TRUE(w.addAscii("C1"));
    EXPECT_TRUE(w.addAscii("a,b"));
    EXPECT_TRUE(w.addAscii(""));
    EXPECT_TRUE(w.addAscii("q\"q"));
    EXPECT_FALSE(w.addAscii("\xE6\xBC\x94")); // 演: nothing written
    EXPECT_TRUE(w.addAscii("end"));
    EXPECT_EQ(w.take(), WriteCommaText({QStringLiteral("C1"), QStringLiteral("a,b"), QString(), QStringLiteral("q\"q"), QStringLiteral("end")}));
}

TEST(CommaTextWriter, AnEmptyListIsStillANullText)
{
    EXPECT_TRUE(WriteCommaText({}).isNull());
    EXPECT_TRUE(CommaTextWriter().take().isEmpty());
}

TEST(SelectedCommaText, IsTheCommaTextOfTheSelectedTextsInTheOrderOfSelecting)
{
    Grid g(kCodes);
    // Picked out of order, one dropped and picked again: it goes last.
    for (int pos : {8, 0, 3, 4, 5, 6, 7, 1, 2, 9, 10, 11})
        g.pick(pos);
    g.pick(0, QItemSelectionModel::Deselect);
    g.pick(0);
    const QStringList texts = g.grid.SelectedTexts(QStringLiteral("productcode"));
    ASSERT_EQ(texts.size(), kCodes.size());
    EXPECT_EQ(texts.last(), QStringLiteral("C00001"));
    EXPECT_EQ(texts.first(), kCodes[8]);
    EXPECT_EQ(g.grid.SelectedCommaText(QStringLiteral("productcode")), WriteCommaText(texts));
    EXPECT_EQ(ReadCommaText(g.grid.SelectedCommaText(QStringLiteral("PRODUCTCODE"))).at(0), kCodes[8]);
}

TEST(SelectedCommaText, EditedRowsGiveTheirEditedValues)
{
    Grid g(kCodes);
    g.ds.MoveTo(0);
    g.ds.Edit();
    g.ds.FieldByName(QStringLiteral("PRODUCTCODE")).SetAsString(QStringLiteral("NEW,1"));
    g.ds.Post();
    g.pick(0);
    g.pick(11);
    EXPECT_EQ(g.grid.SelectedCommaText(QStringLiteral("PRODUCTCODE")), QStringLiteral("\"NEW,1\",Z99"));
}

TEST(SelectedCommaText, DeletedRowsLeaveAndAnUnknownFieldThrows)
{
    Grid g(kCodes);
    for (int pos : {0, 1, 11})
        g.pick(pos);
    g.ds.MoveTo(1);
    g.ds.Delete();
    EXPECT_EQ(g.grid.SelectedCommaText(QStringLiteral("PRODUCTCODE")), QStringLiteral("C00001,Z99"));
    EXPECT_THROW(g.grid.SelectedCommaText(QStringLiteral("NOSUCHFIELD")), EHostError);

    TQELDBGrid unbound;
    EXPECT_TRUE(unbound.SelectedCommaText(QStringLiteral("PRODUCTCODE")).isEmpty());
}

TEST(StoredUtf8, GivesTheStoredBytesOnlyWhereTheyAreTheValue)
{
    Grid g(kCodes);
    std::string_view v;
    ASSERT_TRUE(g.ds.storedUtf8(6, 0, v));
    EXPECT_EQ(QString::fromUtf8(v.data(), qsizetype(v.size())), QStringLiteral("演出01"));
    EXPECT_FALSE(g.ds.storedUtf8(4, 0, v)); // null
    EXPECT_FALSE(g.ds.storedUtf8(0, 1, v)); // a number
    g.ds.MoveTo(0);
    g.ds.Edit();
    g.ds.FieldByName(QStringLiteral("PRODUCTCODE")).SetAsString(QStringLiteral("E"));
    EXPECT_FALSE(g.ds.storedUtf8(6, 0, v)); // while anything is edited, values come from text()
    g.ds.Cancel();
    EXPECT_TRUE(g.ds.storedUtf8(6, 0, v));
}

} // namespace
