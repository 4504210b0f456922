// The quick roads through big lists give what the plain ones give: comma text
// written without a string per row, rows read as stored bytes.
#include "ClientDataSet.h"
#include "CodeGrid.h"
#include "CommaText.h"
#include "SqlText.h"
#include "DBGrid.h"
#include "DataSource.h"
#include "Context.h"
#include "HostError.h"
#include "TestDb.h"
#include "uCDSearchproduct_pro.h"
#include <QDate>
#include <QItemSelectionModel>
#include <limits>
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

struct Grid : CodeGrid {
    using CodeGrid::CodeGrid;
    void pick(int pos, QItemSelectionModel::SelectionFlags how = QItemSelectionModel::Select)
    {
        grid.selectionModel()->select(source.index(pos, 0), how | QItemSelectionModel::Rows);
    }
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

TEST(PacketStore, CellsSurviveGrowthTrimCopyAndRewrites)
{
    // Enough rows for every column to grow many times over, then the trim.
    DataPacket p;
    p.addColumn({QStringLiteral("CODE"), FieldType::Text, 0});
    p.addColumn({QStringLiteral("N"), FieldType::Integer, 0});
    p.addColumn({QStringLiteral("X"), FieldType::Float, 0});
    const int rows = 70000;
    for (int i = 0; i < rows; ++i) {
        p.startRow();
        if (i % 7 == 3)
            p.putNull(0);
        else
            p.putText(0, QStringLiteral("演%1").arg(i).toStdString());
        p.putInteger(1, i);
        p.putReal(2, i / 4.0);
    }
    p.squeeze();
    const DataPacket copy = p;
    p.appendRow();
    p.setText(0, QStringLiteral("long value first"));
    p.setText(0, QStringLiteral("短")); // a rewrite of the last cell shrinks its text
    p.setNull(2);
    for (const DataPacket *q : {static_cast<const DataPacket *>(&p), &copy}) {
        for (int i : {0, 3, 4, 65535, rows - 1}) {
            EXPECT_EQ(q->isNull(i, 0), i % 7 == 3);
            if (i % 7 != 3) {
                EXPECT_EQ(q->text(i, 0), QStringLiteral("演%1").arg(i));
            }
            EXPECT_EQ(q->integer(i, 1), i);
            EXPECT_EQ(q->real(i, 2), i / 4.0);
        }
    }
    EXPECT_EQ(copy.rowCount(), rows);
    ASSERT_EQ(p.rowCount(), rows + 1);
    EXPECT_EQ(p.text(rows, 0), QStringLiteral("短"));
    EXPECT_TRUE(p.isNull(rows, 1));
    EXPECT_TRUE(p.isNull(rows, 2));
}

TEST(PacketStore, IntegersReadAsTheDigitsQStringNumberGives)
{
    DataPacket p;
    p.addColumn({QStringLiteral("ID"), FieldType::Integer, 0});
    const qint64 values[] = {0, 7, -7, 1234567890123LL, std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()};
    for (qint64 v : values) {
        p.appendRow();
        p.setInteger(0, v);
    }
    for (int i = 0; i < int(std::size(values)); ++i)
        EXPECT_EQ(p.text(i, 0), QString::number(values[i]));
}

// The search's narrowing reads ASCII cells as bytes and every other cell as
// text: both kinds in one listing give what comparing texts gives.
class NarrowingMix : public ::testing::Test {
protected:
    void SetUp() override
    {
        // No key, so one code may come on several rows; STATUS wide enough for blanks.
        db.exec(QStringLiteral("drop table QEL_PRODUCT"));
        db.exec(QStringLiteral("create table QEL_PRODUCT (PRODUCTCODE varchar(20), CNAME varchar(128), HAPPENTIME timestamp, "
                               "PRODUCTCLASSCODE varchar(4), PLACECODE varchar(5), NODECODE varchar(2), MAPCODE varchar(20), "
                               "CREATEGROUP varchar(20), PLACEGROUP varchar(20), STATUS varchar(4), CREATEUSER varchar(20), "
                               "PRODUCTOWNERGROUP varchar(5))"));
    }
    void add(const QString &code, const QString &status, const QString &group, const QString &user, int day)
    {
        const QString when = QDate::currentDate().addDays(day).toString(QStringLiteral("yyyy-MM-dd 19:30:00"));
        db.exec(QStringLiteral("insert into QEL_PRODUCT values (%1, '演出', '%2', 'C01', 'P01', '01', 'M', %3, 'PG', %4, %5, 'OG')")
                    .arg(QuotedStr(code), when, QuotedStr(group), QuotedStr(status), QuotedStr(user)));
    }
    QStringList search(const QString &group, const QString &user, const QString &kind, bool all, const QString &exclude)
    {
        TCDSearchProduct_pro dm;
        dm.SetContext(TQELContext::Compose({QStringLiteral("01"), group, user, kind}));
        dm.AllStatus = all;
        dm.ExcludeProducts = exclude;
        dm.ResetCondition(true);
        dm.actRetrieveExecute(nullptr);
        QStringList out;
        const TField code = dm.cdsProduct->FieldByName(QStringLiteral("PRODUCTCODE"));
        for (dm.cdsProduct->First(); !dm.cdsProduct->Eof(); dm.cdsProduct->Next())
            out << code.AsString(); // shown order: name, then time (all names alike)
        return out;
    }
    TestDatabase db;
};

TEST_F(NarrowingMix, AsciiAndOtherCodesAreTakenAwayOncePerListingInShownOrder)
{
    add(QStringLiteral("A1"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 1);
    add(QStringLiteral("演1"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 2);
    add(QStringLiteral("演1"), QStringLiteral("6"), QStringLiteral("G1"), QStringLiteral("u1"), 3);
    add(QStringLiteral("A1"), QStringLiteral("6"), QStringLiteral("G1"), QStringLiteral("u1"), 4);
    add(QStringLiteral("B 2"), QStringLiteral("5 "), QStringLiteral("G1"), QStringLiteral("u1"), 5);
    add(QStringLiteral("演2"), QStringLiteral("55"), QStringLiteral("G1"), QStringLiteral("u1"), 6);
    add(QStringLiteral("C3"), QStringLiteral("8"), QStringLiteral("G1"), QStringLiteral("u1"), 7);

    EXPECT_EQ(search(QStringLiteral("G1"), QStringLiteral("u1"), QStringLiteral("A"), false, QString()),
              QStringList({"A1", "演1", "演1", "A1", "B 2"}));
    // Each listed code takes one row, the first shown; listed twice, two.
    EXPECT_EQ(search(QStringLiteral("G1"), QStringLiteral("u1"), QStringLiteral("A"), false, QStringLiteral("演1,A1")),
              QStringList({"演1", "A1", "B 2"}));
    EXPECT_EQ(search(QStringLiteral("G1"), QStringLiteral("u1"), QStringLiteral("A"), false, QStringLiteral("演1,演1,A1,\"B 2\",NOPE")),
              QStringList({"A1"}));
    // Every status "0" .. "7" compares as text: "55" lies between them, "8" does not.
    EXPECT_EQ(search(QStringLiteral("G1"), QStringLiteral("u1"), QStringLiteral("A"), true, QStringLiteral("A1")),
              QStringList({"演1", "演1", "A1", "B 2", "演2"}));
}

TEST_F(NarrowingMix, OwnersWithOtherCharactersAreMatchedByTheirText)
{
    add(QStringLiteral("X1"), QStringLiteral("5"), QStringLiteral("剧团"), QStringLiteral("张三"), 1);
    add(QStringLiteral("X2"), QStringLiteral("5"), QStringLiteral("剧团"), QStringLiteral("u1"), 2);
    add(QStringLiteral("X3"), QStringLiteral("6"), QStringLiteral("G1"), QStringLiteral("张三"), 3);
    add(QStringLiteral("X4"), QStringLiteral("6"), QStringLiteral("剧团二"), QStringLiteral("张三丰"), 4);

    EXPECT_EQ(search(QStringLiteral("剧团"), QStringLiteral("nobody"), QStringLiteral("G"), false, QString()), QStringList({"X1", "X2"}));
    EXPECT_EQ(search(QStringLiteral("G1"), QStringLiteral("张三"), QStringLiteral("U"), false, QString()), QStringList({"X1", "X3"}));
    EXPECT_EQ(search(QStringLiteral("G1"), QStringLiteral("u1"), QStringLiteral("U"), false, QStringLiteral("X2")), QStringList());
    EXPECT_EQ(search(QStringLiteral("G1"), QStringLiteral("u1"), QStringLiteral("U"), false, QString()), QStringList({"X2"}));
}

} // namespace
