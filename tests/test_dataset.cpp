// Host pieces that need no server: client dataset, data source, grid,
// comma text, session context, snap-in and data packets.
#include "ClientDataSet.h"
#include "ByteKeyTable.h"
#include "HostMemory.h"
#include "CommaText.h"
#include "SqlText.h"
#include "Context.h"
#include "DBGrid.h"
#include "DataPacket.h"
#include "DataSource.h"
#include "Errors.h"
#include "HostError.h"
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>
#include "ModelTesterLog.h"
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <sys/resource.h>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>

namespace {

using Row = QVariantList;

// A packet with the given columns and rows (QVariant() is a null cell).
DataPacket makePacket(const QList<ColumnDef> &columns, const QList<Row> &rows)
{
    DataPacket p;
    for (const ColumnDef &c : columns)
        p.addColumn(c);
    for (const Row &r : rows) {
        p.appendRow();
        for (int c = 0; c < r.size(); ++c)
            p.setValue(c, r[c]);
    }
    return p;
}

QDateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

// Performances: code, name, time, quantity.
DataPacket shows()
{
    return makePacket({{QStringLiteral("CODE"), FieldType::Text, 8},
                       {QStringLiteral("CNAME"), FieldType::Text, 40},
                       {QStringLiteral("HAPPENTIME"), FieldType::DateTime, 0},
                       {QStringLiteral("QTY"), FieldType::Integer, 0}},
                      {{QStringLiteral("P1"), QStringLiteral("上海"), at(2024, 5, 2, 19, 30), 10},
                       {QStringLiteral("P2"), QStringLiteral("北京"), at(2024, 5, 3, 19, 30), 9},
                       {QStringLiteral("P3"), QStringLiteral("天津"), at(2024, 5, 1, 14, 0), 100},
                       {QStringLiteral("P4"), QStringLiteral("北京"), at(2024, 5, 1, 19, 30), -1},
                       {QStringLiteral("P5"), QStringLiteral("广州"), at(2024, 4, 30, 20, 0), 0}});
}

// Values of one field, walking from First to Eof.
QStringList column(TQELClientDataSet &ds, const QString &field)
{
    QStringList out;
    const TField f = ds.FieldByName(field);
    for (ds.First(); !ds.Eof(); ds.Next())
        out << f.AsString();
    return out;
}

QString current(TQELClientDataSet &ds, const char *field = "CODE")
{
    return ds.FieldByName(QString::fromLatin1(field)).AsString();
}

FieldDef field(const char *name, FieldType type = FieldType::Text, FieldKind kind = FieldKind::Data)
{
    FieldDef f;
    f.name = QString::fromLatin1(name);
    f.type = type;
    f.kind = kind;
    return f;
}

// ---- TQELClientDataSet -----------------------------------------------------------

TEST(ClientDataSet, SetDataOpensWithCursorOnFirstRow)
{
    TQELClientDataSet ds;
    EXPECT_FALSE(ds.Active());
    ds.SetData(shows());
    EXPECT_TRUE(ds.Active());
    EXPECT_EQ(ds.RecordCount(), 5);
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(current(ds), QStringLiteral("P1"));
    // Moving away and loading again starts over on the first row of the new content.
    ds.Last();
    ds.Next();
    ASSERT_TRUE(ds.Eof());
    ds.SetData(makePacket({{QStringLiteral("CODE"), FieldType::Text, 8}}, {{QStringLiteral("X")}, {QStringLiteral("Y")}}));
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(current(ds), QStringLiteral("X"));
    // Fields follow the packet: the old ones are gone.
    EXPECT_EQ(ds.FieldCount(), 1);
    EXPECT_THROW(ds.FieldByName(QStringLiteral("CNAME")), EHostError);
}

TEST(ClientDataSet, FieldByNameIgnoresCaseAndNamesUnknownFields)
{
    TQELClientDataSet ds;
    EXPECT_THROW(ds.FieldByName(QStringLiteral("CODE")), EHostError) << "closed, without fields";
    ds.SetData(shows());
    for (const char *n : {"CNAME", "cname", "CName", "cNaMe"})
        EXPECT_EQ(ds.FieldByName(QString::fromLatin1(n)).AsString(), QStringLiteral("上海")) << n;
    EXPECT_EQ(ds.FieldByName(QStringLiteral("qty")).AsInteger(), 10);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("happentime")).AsDateTime(), at(2024, 5, 2, 19, 30));
    const QString msg = thrownMessage([&] { ds.FieldByName(QStringLiteral("NoSuchField")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("NoSuchField"))) << msg.toStdString();
    EXPECT_THROW(ds.FieldByName(QString()), EHostError);
    EXPECT_THROW(ds.FieldByName(QStringLiteral("CNAM")), EHostError);
}

TEST(ClientDataSet, EmptyDatasetReadsZeroAndEmpty)
{
    TQELClientDataSet ds;
    ds.SetData(makePacket({{QStringLiteral("vStatus"), FieldType::Integer, 0}, {QStringLiteral("NAME"), FieldType::Text, 0}}, {}));
    EXPECT_TRUE(ds.Active());
    EXPECT_TRUE(ds.Eof());
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("VSTATUS")).AsInteger(), 0);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("name")).AsString(), QString());
    EXPECT_TRUE(ds.FieldByName(QStringLiteral("name")).IsNull());
    EXPECT_FALSE(ds.FieldByName(QStringLiteral("name")).AsDateTime().isValid());
    // Moving on an empty dataset is harmless.
    ds.First();
    ds.Next();
    ds.Last();
    EXPECT_TRUE(ds.Eof());
    EXPECT_FALSE(ds.Locate(QStringLiteral("NAME"), QString()));
    EXPECT_THROW(ds.Delete(), EHostError);
}

TEST(ClientDataSet, WalkingVisitsEveryRowOnceInOrder)
{
    TQELClientDataSet ds;
    ds.SetData(shows());
    EXPECT_EQ(column(ds, QStringLiteral("CODE")), (QStringList{"P1", "P2", "P3", "P4", "P5"}));
    EXPECT_TRUE(ds.Eof());
    // At the end the last row stays current; First starts over.
    EXPECT_EQ(current(ds), QStringLiteral("P5"));
    ds.First();
    EXPECT_FALSE(ds.Eof());
    EXPECT_TRUE(ds.Bof());
    ds.Next();
    ds.Next();
    EXPECT_EQ(current(ds), QStringLiteral("P3"));
    ds.Prior();
    EXPECT_EQ(current(ds), QStringLiteral("P2"));
    ds.Last();
    EXPECT_EQ(current(ds), QStringLiteral("P5"));
    EXPECT_FALSE(ds.Eof()) << "on the last row, not past it";
    // A one-row dataset: one step reaches the end.
    TQELClientDataSet one;
    one.SetData(makePacket({{QStringLiteral("A"), FieldType::Integer, 0}}, {{7}}));
    EXPECT_EQ(column(one, QStringLiteral("a")), QStringList{QStringLiteral("7")});
}

TEST(ClientDataSet, LocateFindsFirstMatchAndKeepsCursorOtherwise)
{
    TQELClientDataSet ds;
    ds.SetData(shows());
    ds.MoveTo(2);
    EXPECT_TRUE(ds.Locate(QStringLiteral("cname"), QStringLiteral("北京")));
    EXPECT_EQ(current(ds), QStringLiteral("P2")) << "first of two matches";
    EXPECT_TRUE(ds.Locate(QStringLiteral("QTY"), 100));
    EXPECT_EQ(current(ds), QStringLiteral("P3"));
    EXPECT_TRUE(ds.Locate(QStringLiteral("QTY"), QStringLiteral("-1")));
    EXPECT_EQ(current(ds), QStringLiteral("P4"));
    EXPECT_FALSE(ds.Locate(QStringLiteral("CNAME"), QStringLiteral("北")));
    EXPECT_FALSE(ds.Locate(QStringLiteral("CNAME"), QStringLiteral("南京")));
    EXPECT_EQ(current(ds), QStringLiteral("P4"));
    EXPECT_THROW(ds.Locate(QStringLiteral("nope"), 1), EHostError);
    // A time is found by its value.
    EXPECT_TRUE(ds.Locate(QStringLiteral("HAPPENTIME"), at(2024, 5, 3, 19, 30)));
    EXPECT_EQ(current(ds), QStringLiteral("P2"));
    // Found when it lies before the cursor, too.
    ds.Last();
    EXPECT_TRUE(ds.Locate(QStringLiteral("CODE"), QStringLiteral("P1")));
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_FALSE(ds.Eof());
}

TEST(ClientDataSet, LocateTellsNullFromEmptyText)
{
    TQELClientDataSet ds;
    ds.SetData(makePacket({{QStringLiteral("K"), FieldType::Text, 0}, {QStringLiteral("V"), FieldType::Integer, 0}},
                          {{QVariant(), 1}, {QString(""), 2}}));
    ASSERT_TRUE(ds.Locate(QStringLiteral("K"), QString()));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("V")).AsInteger(), 2);
}

TEST(ClientDataSet, DeleteKeepsTheCursorOnANeighbour)
{
    TQELClientDataSet ds;
    ds.SetData(shows());
    const auto bP2 = [&] {
        ds.Locate(QStringLiteral("CODE"), QStringLiteral("P2"));
        return ds.GetBookmark();
    }();
    ds.MoveTo(2); // P3, in the middle
    ds.Delete();
    EXPECT_EQ(ds.RecordCount(), 4);
    EXPECT_EQ(current(ds), QStringLiteral("P4")) << "the next row takes its place";
    ds.Last(); // P5
    ds.Delete();
    EXPECT_EQ(current(ds), QStringLiteral("P4")) << "deleting the last row moves to the new last";
    EXPECT_FALSE(ds.Eof());
    // Bookmarks of the other rows still lead to their records.
    ASSERT_TRUE(ds.BookmarkValid(bP2));
    ds.GotoBookmark(bP2);
    EXPECT_EQ(current(ds), QStringLiteral("P2"));
    ds.Delete();
    EXPECT_FALSE(ds.BookmarkValid(bP2));
    EXPECT_THROW(ds.GotoBookmark(bP2), EHostError);
    EXPECT_EQ(column(ds, QStringLiteral("CODE")), (QStringList{"P1", "P4"}));
    ds.First();
    ds.Delete();
    ds.Delete();
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.RecNo(), -1);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("QTY")).AsInteger(), 0);
    EXPECT_THROW(ds.Delete(), EHostError);
}

TEST(ClientDataSet, DeleteDuringAnEditDropsTheEdit)
{
    TQELClientDataSet ds;
    ds.SetData(shows());
    ds.MoveTo(1); // P2
    ds.Edit();
    ds.FieldByName(QStringLiteral("CNAME")).SetAsString(QStringLiteral("南京"));
    ds.Delete();
    EXPECT_EQ(ds.State(), DataSetState::Browse);
    EXPECT_EQ(current(ds), QStringLiteral("P3"));
    // The next edit changes the record now current.
    ds.Edit();
    ds.FieldByName(QStringLiteral("CNAME")).SetAsString(QStringLiteral("重庆"));
    ds.Post();
    EXPECT_EQ(current(ds, "CNAME"), QStringLiteral("重庆"));
    EXPECT_EQ(column(ds, QStringLiteral("CNAME")), (QStringList{"上海", "重庆", "北京", "广州"}));
}

TEST(ClientDataSet, BookmarksSurviveSortAndFilter)
{
    TQELClientDataSet ds;
    ds.SetData(shows());
    QMap<QString, TQELClientDataSet::TBookmark> bm;
    for (ds.First(); !ds.Eof(); ds.Next())
        bm[current(ds)] = ds.GetBookmark();
    ds.SetIndexFieldNames(QStringLiteral("QTY"));
    for (auto it = bm.cbegin(); it != bm.cend(); ++it) {
        ds.GotoBookmark(it.value());
        EXPECT_EQ(current(ds), it.key());
    }
    const int qty = ds.FieldIndex(QStringLiteral("QTY"));
    ds.SetFilter([qty](const TQELClientDataSet &d, int row) { return d.integer(row, qty) >= 9; });
    ds.SetFiltered(true);
    ds.GotoBookmark(bm[QStringLiteral("P3")]);
    EXPECT_EQ(current(ds), QStringLiteral("P3"));
    // A filtered-out record cannot be reached, and the cursor stays put.
    EXPECT_FALSE(ds.BookmarkValid(bm[QStringLiteral("P4")]));
    EXPECT_THROW(ds.GotoBookmark(bm[QStringLiteral("P4")]), EHostError);
    EXPECT_EQ(current(ds), QStringLiteral("P3"));
    ds.SetFiltered(false);
    ds.GotoBookmark(bm[QStringLiteral("P4")]);
    EXPECT_EQ(current(ds), QStringLiteral("P4"));
    // A new load makes new records.
    ds.SetData(makePacket({{QStringLiteral("CODE"), FieldType::Text, 0}}, {{QStringLiteral("Z")}}));
    EXPECT_FALSE(ds.BookmarkValid(bm[QStringLiteral("P5")]));
}

TEST(ClientDataSet, IndexSortsNamesInPinyinOrderThenByTime)
{
    TQELClientDataSet ds;
    ds.SetData(shows());
    ds.Locate(QStringLiteral("CODE"), QStringLiteral("P1"));
    ds.SetIndexFieldNames(QStringLiteral("CNAME;HAPPENTIME"));
    // bei jing, bei jing, guang zhou, shang hai, tian jin — not code point order.
    EXPECT_EQ(column(ds, QStringLiteral("CNAME")), (QStringList{"北京", "北京", "广州", "上海", "天津"}));
    EXPECT_EQ(column(ds, QStringLiteral("CODE")), (QStringList{"P4", "P2", "P5", "P1", "P3"}));
    ds.SetIndexFieldNames(QStringLiteral("QTY"));
    EXPECT_EQ(column(ds, QStringLiteral("QTY")), (QStringList{"-1", "0", "9", "10", "100"})) << "numbers numerically";
    ds.SetIndexFieldNames(QStringLiteral(" happentime ; code "));
    EXPECT_EQ(column(ds, QStringLiteral("CODE")), (QStringList{"P5", "P3", "P4", "P1", "P2"}));
    ds.SetIndexFieldNames(QString());
    EXPECT_EQ(column(ds, QStringLiteral("CODE")), (QStringList{"P1", "P2", "P3", "P4", "P5"})) << "no index: packet order";
}

TEST(ClientDataSet, IndexKeepsTheCurrentRecordAndAppliesToNewLoads)
{
    TQELClientDataSet ds;
    ds.SetData(shows());
    ds.Locate(QStringLiteral("CODE"), QStringLiteral("P3"));
    ds.SetIndexFieldNames(QStringLiteral("CNAME"));
    EXPECT_EQ(current(ds), QStringLiteral("P3"));
    EXPECT_EQ(ds.RecNo(), 4);
    // An index set before loading orders the next packet; the cursor is on the first sorted row.
    TQELClientDataSet later;
    later.SetIndexFieldNames(QStringLiteral("CNAME"));
    later.SetData(shows());
    EXPECT_EQ(current(later, "CNAME"), QStringLiteral("北京"));
    EXPECT_EQ(column(later, QStringLiteral("CNAME")), (QStringList{"北京", "北京", "广州", "上海", "天津"}));
}

TEST(ClientDataSet, NullsAndFloatsSort)
{
    TQELClientDataSet ds;
    ds.SetData(makePacket({{QStringLiteral("N"), FieldType::Text, 0}, {QStringLiteral("F"), FieldType::Float, 0}},
                          {{QStringLiteral("b"), 2.5}, {QVariant(), 10.0}, {QStringLiteral("a"), QVariant()}, {QStringLiteral(""), -0.5}}));
    ds.SetIndexFieldNames(QStringLiteral("F"));
    EXPECT_EQ(column(ds, QStringLiteral("F")), (QStringList{"", "-0.5", "2.5", "10"}));
    ds.SetIndexFieldNames(QStringLiteral("N"));
    const QStringList n = column(ds, QStringLiteral("N"));
    EXPECT_EQ(n.mid(2), (QStringList{"a", "b"}));
}

TEST(ClientDataSet, EveryIndexShapeOrdersAsAStableSortOfItsKeys)
{
    // Names in a known pinyin order (bei, chong, guang, shang, tian), nulls,
    // repeated times and quantities both small and far apart: the index's
    // roads for a text key first, a whole-number key first and a float key
    // must all give the stable order of their keys.
    const QStringList names = {QStringLiteral("北京"), QStringLiteral("重庆"), QStringLiteral("广州"), QStringLiteral("上海"),
                               QStringLiteral("天津")};
    const qint64 quantities[] = {std::numeric_limits<qint64>::min() + 1, -5, 0, 3, 3, 1LL << 40, std::numeric_limits<qint64>::max()};
    QList<Row> rows;
    quint32 seed = 12345;
    const auto next = [&seed](quint32 n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    struct Keys {
        int name;     // -1 null
        qint64 time;  // min: null
        qint64 qty;   // min: null
        double price; // -inf: null
    };
    std::vector<Keys> keys;
    constexpr qint64 none = std::numeric_limits<qint64>::min();
    for (int i = 0; i < 3000; ++i) {
        Keys k{int(next(6)) - 1, next(9) == 0 ? none : qint64(next(40)), next(11) == 0 ? none : quantities[next(7)],
               next(13) == 0 ? -HUGE_VAL : double(next(50)) / 4};
        keys.push_back(k);
        rows.append(Row{QStringLiteral("R%1").arg(i), k.name < 0 ? QVariant() : QVariant(names[k.name]),
                        k.time == none ? QVariant() : QVariant(at(2024, 5, 1).addSecs(k.time * 3600)),
                        k.qty == none ? QVariant() : QVariant(k.qty), k.price == -HUGE_VAL ? QVariant() : QVariant(k.price)});
    }
    TQELClientDataSet ds;
    ds.SetData(makePacket({{QStringLiteral("CODE"), FieldType::Text, 8},
                           {QStringLiteral("CNAME"), FieldType::Text, 40},
                           {QStringLiteral("HAPPENTIME"), FieldType::DateTime, 0},
                           {QStringLiteral("QTY"), FieldType::Integer, 0},
                           {QStringLiteral("PRICE"), FieldType::Float, 0}},
                          rows));
    const auto expected = [&](const std::function<bool(const Keys &, const Keys &)> &less) {
        std::vector<int> order(keys.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return less(keys[size_t(a)], keys[size_t(b)]); });
        QStringList codes;
        for (int i : order)
            codes << QStringLiteral("R%1").arg(i);
        return codes;
    };
    const auto byName = [](const Keys &a, const Keys &b) { return a.name < b.name; };
    const auto byTime = [](const Keys &a, const Keys &b) { return a.time < b.time; };
    const auto byQty = [](const Keys &a, const Keys &b) { return a.qty < b.qty; };
    const auto byPrice = [](const Keys &a, const Keys &b) { return a.price < b.price; };
    const auto then = [](auto first, auto second) {
        return [=](const Keys &a, const Keys &b) { return first(a, b) || (!first(b, a) && second(a, b)); };
    };
    const struct {
        const char *index;
        std::function<bool(const Keys &, const Keys &)> less;
    } cases[] = {
        {"CNAME", byName},
        {"CNAME;HAPPENTIME", then(byName, byTime)},
        {"CNAME;QTY", then(byName, byQty)},
        {"HAPPENTIME;CNAME", then(byTime, byName)},
        {"QTY", byQty},
        {"QTY;HAPPENTIME", then(byQty, byTime)},
        {"PRICE;CNAME", then(byPrice, byName)},
        {"CNAME;HAPPENTIME;QTY", then(then(byName, byTime), byQty)},
    };
    for (const auto &c : cases) {
        ds.SetIndexFieldNames(QLatin1String(c.index));
        EXPECT_EQ(column(ds, QStringLiteral("CODE")), expected(c.less)) << c.index;
    }
    // Rows already in the second key's order within each name (the order a
    // statement returns them in) take the same road to the same place.
    ds.SetIndexFieldNames(QStringLiteral("HAPPENTIME"));
    DataPacket sorted = makePacket({{QStringLiteral("CODE"), FieldType::Text, 8},
                                    {QStringLiteral("CNAME"), FieldType::Text, 40},
                                    {QStringLiteral("HAPPENTIME"), FieldType::DateTime, 0}},
                                   {});
    std::vector<int> byTimeOrder(keys.size());
    std::iota(byTimeOrder.begin(), byTimeOrder.end(), 0);
    std::stable_sort(byTimeOrder.begin(), byTimeOrder.end(), [&](int a, int b) { return byTime(keys[size_t(a)], keys[size_t(b)]); });
    for (int i : byTimeOrder) {
        sorted.appendRow();
        sorted.setValue(0, QStringLiteral("R%1").arg(i));
        sorted.setValue(1, keys[size_t(i)].name < 0 ? QVariant() : QVariant(names[keys[size_t(i)].name]));
        sorted.setValue(2, keys[size_t(i)].time == none ? QVariant() : QVariant(at(2024, 5, 1).addSecs(keys[size_t(i)].time * 3600)));
    }
    TQELClientDataSet again;
    again.SetIndexFieldNames(QStringLiteral("CNAME;HAPPENTIME"));
    again.SetData(std::move(sorted));
    EXPECT_EQ(column(again, QStringLiteral("CODE")), expected(then(byName, byTime)));
}

TEST(ClientDataSet, UnknownIndexFieldIsRefusedAndLeavesTheDatasetUsable)
{
    TQELClientDataSet ds;
    TQELDataSource src;
    src.SetDataSet(&ds);
    ds.SetData(shows());
    QSignalSpy about(&src, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy done(&src, &QAbstractItemModel::modelReset);
    const QString msg = thrownMessage([&] { ds.SetIndexFieldNames(QStringLiteral("CNAME;NOPE")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("NOPE"))) << msg.toStdString();
    // Every begun model reset is ended.
    EXPECT_EQ(about.count(), done.count());
    // The next load still works and shows its rows.
    const DataPacket small = makePacket({{QStringLiteral("CODE"), FieldType::Text, 0}, {QStringLiteral("CNAME"), FieldType::Text, 0}},
                                        {{QStringLiteral("Z"), QStringLiteral("上海")}, {QStringLiteral("Y"), QStringLiteral("北京")}});
    EXPECT_NO_THROW(ds.SetData(small));
    EXPECT_EQ(ds.RecordCount(), 2);
    EXPECT_EQ(src.rowCount(), 2);
    EXPECT_EQ(about.count(), done.count());
}

TEST(ClientDataSet, LoadWithoutTheIndexFieldStaysConsistent)
{
    TQELClientDataSet ds;
    ds.SetIndexFieldNames(QStringLiteral("CNAME"));
    ds.SetData(shows());
    // A packet without CNAME: the index cannot apply.
    const DataPacket small = makePacket({{QStringLiteral("CODE"), FieldType::Text, 0}}, {{QStringLiteral("Z")}, {QStringLiteral("Y")}});
    try {
        ds.SetData(small);
    } catch (const EHostError &) {
    }
    // Whatever the outcome, the dataset never points past its rows.
    ASSERT_LE(ds.RecordCount(), ds.packet().rowCount());
    for (int p = 0; p < ds.RecordCount(); ++p)
        EXPECT_LT(ds.rowAt(p), ds.packet().rowCount());
}

TEST(ClientDataSet, FilterNarrowsAndUnfilteringRestores)
{
    TQELClientDataSet ds;
    ds.SetData(shows());
    const int name = ds.FieldIndex(QStringLiteral("cname"));
    ds.SetFilter([name](const TQELClientDataSet &d, int row) { return d.text(row, name) == QStringLiteral("北京"); });
    EXPECT_EQ(ds.RecordCount(), 5) << "a filter acts only once switched on";
    ds.SetFiltered(true);
    EXPECT_TRUE(ds.Filtered());
    EXPECT_EQ(column(ds, QStringLiteral("CODE")), (QStringList{"P2", "P4"}));
    EXPECT_FALSE(ds.Locate(QStringLiteral("CODE"), QStringLiteral("P1"))) << "Locate sees the filtered rows only";
    // Replacing the predicate while filtered applies it at once.
    const int qty = ds.FieldIndex(QStringLiteral("QTY"));
    ds.SetFilter([qty](const TQELClientDataSet &d, int row) { return d.integer(row, qty) > 5; });
    EXPECT_EQ(column(ds, QStringLiteral("CODE")), (QStringList{"P1", "P2", "P3"}));
    // Filter and index together.
    ds.SetIndexFieldNames(QStringLiteral("QTY"));
    EXPECT_EQ(column(ds, QStringLiteral("CODE")), (QStringList{"P2", "P1", "P3"}));
    // A delete under the filter removes the record for good.
    ds.First();
    ds.Delete();
    ds.SetFiltered(false);
    EXPECT_EQ(column(ds, QStringLiteral("CODE")), (QStringList{"P4", "P5", "P1", "P3"}));
    EXPECT_EQ(ds.RecNo(), 3);
    ds.First();
    EXPECT_EQ(ds.RecNo(), 0);
    // A filter that matches nothing.
    ds.SetFilter([](const TQELClientDataSet &, int) { return false; });
    ds.SetFiltered(true);
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.FieldByName(QStringLiteral("QTY")).AsInteger(), 0);
    ds.SetFiltered(false);
    EXPECT_EQ(ds.RecordCount(), 4);
    // The filter stays on across a new load.
    ds.SetFiltered(true);
    ds.SetData(shows());
    EXPECT_EQ(ds.RecordCount(), 0);
}

TEST(ClientDataSet, EditOnEmptyDatasetWithDesignFieldsStartsARecord)
{
    TQELClientDataSet ds;
    ds.AddFieldDef(field("ProductName"));
    ds.AddFieldDef(field("BHappenTime", FieldType::DateTime));
    ds.AddFieldDef(field("Qty", FieldType::Integer));
    EXPECT_THROW(ds.Edit(), EHostError) << "not open yet";
    ds.CreateDataSet();
    EXPECT_TRUE(ds.Active());
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_THROW(ds.FieldByName(QStringLiteral("productname")).SetAsString(QStringLiteral("x")), EHostError) << "not editing";
    ds.Edit();
    EXPECT_EQ(ds.State(), DataSetState::Insert);
    EXPECT_EQ(ds.RecordCount(), 1);
    ds.FieldByName(QStringLiteral("productname")).SetAsString(QStringLiteral("梁祝"));
    ds.FieldByName(QStringLiteral("BHAPPENTIME")).SetAsDateTime(at(2024, 6, 1));
    ds.FieldByName(QStringLiteral("qty")).SetAsString(QStringLiteral("12"));
    // Readable while editing.
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ProductName")).AsString(), QStringLiteral("梁祝"));
    ds.Post();
    EXPECT_EQ(ds.State(), DataSetState::Browse);
    EXPECT_EQ(ds.RecordCount(), 1);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ProductName")).AsString(), QStringLiteral("梁祝"));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("BHappenTime")).AsDateTime(), at(2024, 6, 1));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("Qty")).AsInteger(), 12);
    // A second Edit changes the same record instead of adding one.
    ds.Edit();
    EXPECT_EQ(ds.State(), DataSetState::Edit);
    ds.FieldByName(QStringLiteral("ProductName")).SetAsString(QStringLiteral("茶花女"));
    ds.Cancel();
    EXPECT_EQ(ds.FieldByName(QStringLiteral("ProductName")).AsString(), QStringLiteral("梁祝"));
    EXPECT_EQ(ds.RecordCount(), 1);
    ds.Edit();
    ds.FieldByName(QStringLiteral("ProductName")).Clear();
    ds.Post();
    EXPECT_TRUE(ds.FieldByName(QStringLiteral("ProductName")).IsNull());
}

TEST(ClientDataSet, CancelledAppendLeavesNoRecord)
{
    TQELClientDataSet ds;
    ds.SetData(shows());
    ds.MoveTo(1);
    ds.Append();
    EXPECT_EQ(ds.RecordCount(), 6);
    ds.FieldByName(QStringLiteral("CODE")).SetAsString(QStringLiteral("P9"));
    ds.Cancel();
    EXPECT_EQ(ds.State(), DataSetState::Browse);
    EXPECT_EQ(ds.RecordCount(), 5);
    EXPECT_FALSE(ds.Locate(QStringLiteral("CODE"), QStringLiteral("P9")));
    EXPECT_EQ(ds.GetData().rowCount(), 5);
    // Edit then Append posts the edit first.
    ds.First();
    ds.Edit();
    ds.FieldByName(QStringLiteral("CNAME")).SetAsString(QStringLiteral("南京"));
    ds.Append();
    ds.FieldByName(QStringLiteral("CODE")).SetAsString(QStringLiteral("P6"));
    ds.Post();
    EXPECT_TRUE(ds.Locate(QStringLiteral("CNAME"), QStringLiteral("南京")));
    EXPECT_EQ(current(ds), QStringLiteral("P1"));
    EXPECT_TRUE(ds.Locate(QStringLiteral("CODE"), QStringLiteral("P6")));
    EXPECT_TRUE(ds.FieldByName(QStringLiteral("CNAME")).IsNull());
}

TEST(ClientDataSet, GetDataRoundTripsEditsDeletesAndAppends)
{
    TQELClientDataSet ds;
    // Rows shared with another reader (the search's worker thread, say).
    const auto shared = std::make_shared<const DataPacket>(shows());
    ds.SetData(shared);
    ds.Locate(QStringLiteral("CODE"), QStringLiteral("P2"));
    ds.Edit();
    ds.FieldByName(QStringLiteral("CNAME")).SetAsString(QStringLiteral("北京·改"));
    ds.FieldByName(QStringLiteral("HAPPENTIME")).SetAsString(QStringLiteral("2025-01-02 03:04:05"));
    ds.FieldByName(QStringLiteral("QTY")).SetAsString(QStringLiteral("77"));
    ds.Post();
    ds.Locate(QStringLiteral("CODE"), QStringLiteral("P3"));
    ds.Delete();
    ds.Locate(QStringLiteral("CODE"), QStringLiteral("P4"));
    ds.Edit();
    ds.FieldByName(QStringLiteral("QTY")).Clear();
    ds.Post();
    ds.Append();
    ds.FieldByName(QStringLiteral("CODE")).SetAsString(QStringLiteral("P6"));
    ds.FieldByName(QStringLiteral("HAPPENTIME")).SetAsDateTime(at(2024, 12, 31, 23, 59, 59));
    ds.Post();

    EXPECT_EQ(shared->rowCount(), 5) << "the append copied the shared rows first";
    const DataPacket p = ds.GetData();
    ASSERT_EQ(p.columnCount(), 4);
    EXPECT_EQ(p.column(2).type, FieldType::DateTime);
    EXPECT_EQ(p.column(3).type, FieldType::Integer);
    TQELClientDataSet copy;
    copy.SetData(p);
    EXPECT_EQ(column(copy, QStringLiteral("CODE")), (QStringList{"P1", "P2", "P4", "P5", "P6"}));
    ASSERT_TRUE(copy.Locate(QStringLiteral("CODE"), QStringLiteral("P2")));
    EXPECT_EQ(current(copy, "CNAME"), QStringLiteral("北京·改"));
    EXPECT_EQ(copy.FieldByName(QStringLiteral("HAPPENTIME")).AsDateTime(), at(2025, 1, 2, 3, 4, 5));
    EXPECT_EQ(copy.FieldByName(QStringLiteral("QTY")).AsInteger(), 77);
    ASSERT_TRUE(copy.Locate(QStringLiteral("CODE"), QStringLiteral("P4")));
    EXPECT_TRUE(copy.FieldByName(QStringLiteral("QTY")).IsNull());
    EXPECT_EQ(current(copy, "CNAME"), QStringLiteral("北京"));
    ASSERT_TRUE(copy.Locate(QStringLiteral("CODE"), QStringLiteral("P6")));
    EXPECT_EQ(copy.FieldByName(QStringLiteral("HAPPENTIME")).AsDateTime(), at(2024, 12, 31, 23, 59, 59));
    EXPECT_TRUE(copy.FieldByName(QStringLiteral("CNAME")).IsNull());
    ASSERT_TRUE(copy.Locate(QStringLiteral("CODE"), QStringLiteral("P1")));
    EXPECT_EQ(copy.FieldByName(QStringLiteral("QTY")).AsInteger(), 10);
}

TEST(ClientDataSet, LookupsOfItselfOrOfEachOtherSettleAfterAnEdit)
{
    // Categories naming their parent category: the list looks itself up.
    TQELClientDataSet classes;
    classes.AddFieldDef(field("CODE"));
    classes.AddFieldDef(field("PARENT"));
    FieldDef parent = field("ParentName", FieldType::Text, FieldKind::Lookup);
    parent.keyField = QStringLiteral("PARENT");
    parent.lookupDataSet = &classes;
    parent.lookupKeyField = QStringLiteral("CODE");
    parent.lookupResultField = QStringLiteral("CODE");
    classes.AddFieldDef(parent);
    classes.SetData(makePacket({{QStringLiteral("CODE"), FieldType::Text, 0}, {QStringLiteral("PARENT"), FieldType::Text, 0}},
                               {{QStringLiteral("戏剧"), QVariant()}, {QStringLiteral("话剧"), QStringLiteral("戏剧")}}));
    EXPECT_EQ(column(classes, QStringLiteral("ParentName")), (QStringList{"", "戏剧"}));
    classes.First();
    classes.Edit();
    classes.FieldByName(QStringLiteral("CODE")).SetAsString(QStringLiteral("舞台剧"));
    classes.Post();
    EXPECT_EQ(column(classes, QStringLiteral("ParentName")), (QStringList{"", ""})) << "the child's parent key no longer matches";

    // Two lists looking each other up.
    TQELClientDataSet a, b;
    for (TQELClientDataSet *ds : {&a, &b}) {
        TQELClientDataSet *other = ds == &a ? &b : &a;
        ds->AddFieldDef(field("CODE"));
        FieldDef look = field("Other", FieldType::Text, FieldKind::Lookup);
        look.keyField = QStringLiteral("CODE");
        look.lookupDataSet = other;
        look.lookupKeyField = QStringLiteral("CODE");
        look.lookupResultField = QStringLiteral("CODE");
        ds->AddFieldDef(look);
        ds->SetData(makePacket({{QStringLiteral("CODE"), FieldType::Text, 0}}, {{QStringLiteral("K1")}}));
    }
    a.Edit();
    a.FieldByName(QStringLiteral("CODE")).SetAsString(QStringLiteral("K2"));
    a.Post();
    EXPECT_EQ(column(a, QStringLiteral("Other")), QStringList{""});
    EXPECT_EQ(column(b, QStringLiteral("Other")), QStringList{""});
}

TEST(ClientDataSet, LookupFieldsResolveThroughAnotherDataset)
{
    TQELClientDataSet places;
    places.SetData(makePacket({{QStringLiteral("PLACECODE"), FieldType::Text, 8}, {QStringLiteral("CNAME"), FieldType::Text, 64}},
                              {{QStringLiteral("001"), QStringLiteral("国家大剧院")}, {QStringLiteral("002"), QStringLiteral("人民剧场")}}));
    TQELClientDataSet ds;
    ds.AddFieldDef(field("CODE"));
    ds.AddFieldDef(field("PLACECODE"));
    FieldDef look = field("PlaceName", FieldType::Text, FieldKind::Lookup);
    look.keyField = QStringLiteral("placecode");
    look.lookupDataSet = &places;
    look.lookupKeyField = QStringLiteral("PLACECODE");
    look.lookupResultField = QStringLiteral("CNAME");
    ds.AddFieldDef(look);
    ds.SetData(makePacket({{QStringLiteral("CODE"), FieldType::Text, 0}, {QStringLiteral("PLACECODE"), FieldType::Text, 0}},
                          {{QStringLiteral("P1"), QStringLiteral("002")}, {QStringLiteral("P2"), QStringLiteral("009")},
                           {QStringLiteral("P3"), QVariant()}, {QStringLiteral("P4"), QStringLiteral("001")}}));
    ASSERT_EQ(ds.FieldCount(), 3);
    EXPECT_EQ(column(ds, QStringLiteral("placename")), (QStringList{"人民剧场", "", "", "国家大剧院"}));
    ds.MoveTo(1);
    EXPECT_TRUE(ds.FieldByName(QStringLiteral("PlaceName")).IsNull()) << "missing key";
    // A look-up field is not part of the data handed on.
    EXPECT_EQ(ds.GetData().columnCount(), 2);
    EXPECT_THROW(
        {
            ds.Edit();
            ds.FieldByName(QStringLiteral("PlaceName")).SetAsString(QStringLiteral("x"));
        },
        EHostError);
    ds.Cancel();

    // The look-up list reloaded: values follow.
    places.SetData(makePacket({{QStringLiteral("PLACECODE"), FieldType::Text, 8}, {QStringLiteral("CNAME"), FieldType::Text, 64}},
                              {{QStringLiteral("009"), QStringLiteral("保利剧院")}, {QStringLiteral("002"), QStringLiteral("人民剧场(新)")}}));
    EXPECT_EQ(column(ds, QStringLiteral("placename")), (QStringList{"人民剧场(新)", "保利剧院", "", ""}));
    // The key edited: the value follows at once.
    ds.First();
    ds.Edit();
    ds.FieldByName(QStringLiteral("PLACECODE")).SetAsString(QStringLiteral("009"));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("PlaceName")).AsString(), QStringLiteral("保利剧院"));
    ds.Post();
    EXPECT_EQ(ds.FieldByName(QStringLiteral("PlaceName")).AsString(), QStringLiteral("保利剧院"));
    // A row of the look-up list deleted: its key goes empty.
    places.Locate(QStringLiteral("PLACECODE"), QStringLiteral("009"));
    places.Delete();
    EXPECT_EQ(ds.FieldByName(QStringLiteral("PlaceName")).AsString(), QString());
    // A row added to the look-up list: its key resolves.
    places.Append();
    places.FieldByName(QStringLiteral("PLACECODE")).SetAsString(QStringLiteral("001"));
    places.FieldByName(QStringLiteral("CNAME")).SetAsString(QStringLiteral("国家大剧院"));
    places.Post();
    ds.Last();
    EXPECT_EQ(ds.FieldByName(QStringLiteral("PlaceName")).AsString(), QStringLiteral("国家大剧院"));
    // The look-up list closed: values go empty, nothing breaks.
    ds.First();
    ASSERT_EQ(current(ds, "PLACECODE"), QStringLiteral("009"));
    ds.MoveTo(3);
    places.Close();
    EXPECT_EQ(ds.FieldByName(QStringLiteral("PlaceName")).AsString(), QString());
}

TEST(ClientDataSet, CalculatedFieldsAreComputedOnDemand)
{
    TQELClientDataSet ds;
    ds.AddFieldDef(field("CODE"));
    ds.AddFieldDef(field("HAPPENTIME", FieldType::DateTime));
    ds.AddFieldDef(field("QTY", FieldType::Integer));
    ds.AddFieldDef(field("Week", FieldType::Text, FieldKind::Calculated));
    ds.AddFieldDef(field("Double", FieldType::Integer, FieldKind::Calculated));
    int calls = 0;
    const auto weekday = [](const QDateTime &t) { return QStringList{"一", "二", "三", "四", "五", "六", "日"}.at(t.date().dayOfWeek() - 1); };
    ds.SetOnCalcField([&](const TQELClientDataSet &d, int row, int f) -> QVariant {
        ++calls;
        if (d.FieldDefAt(f).name == QStringLiteral("Week"))
            return QStringLiteral("星期") + weekday(d.dateTime(row, d.FieldIndex(QStringLiteral("HAPPENTIME"))));
        return d.integer(row, d.FieldIndex(QStringLiteral("QTY"))) * 2;
    });
    ds.SetData(shows());
    EXPECT_EQ(calls, 0) << "nothing computed before it is read";
    EXPECT_EQ(ds.FieldByName(QStringLiteral("week")).AsString(), QStringLiteral("星期四")); // 2024-05-02
    EXPECT_EQ(ds.FieldByName(QStringLiteral("DOUBLE")).AsInteger(), 20);
    EXPECT_GT(calls, 0);
    // Recomputed from the current values.
    ds.Edit();
    ds.FieldByName(QStringLiteral("QTY")).SetAsString(QStringLiteral("21"));
    ds.FieldByName(QStringLiteral("HAPPENTIME")).SetAsDateTime(at(2024, 5, 5, 10));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("Double")).AsInteger(), 42);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("Week")).AsString(), QStringLiteral("星期日"));
    EXPECT_THROW(ds.FieldByName(QStringLiteral("Week")).SetAsString(QStringLiteral("x")), EHostError);
    ds.Post();
    EXPECT_EQ(column(ds, QStringLiteral("Double")), (QStringList{"42", "18", "200", "-2", "0"}));
    EXPECT_EQ(ds.GetData().columnCount(), 3) << "calculated fields are not data";
}

// ---- TQELDataSource ---------------------------------------------------------------

// The model shows exactly the dataset's rows, in its order.
void expectMirrors(const TQELDataSource &src, TQELClientDataSet &ds, const char *where)
{
    SCOPED_TRACE(where);
    ASSERT_EQ(src.rowCount(), ds.Active() ? ds.RecordCount() : 0);
    const int code = ds.FieldIndex(QStringLiteral("CODE"));
    for (int r = 0; r < src.rowCount(); ++r)
        EXPECT_EQ(src.data(src.index(r, 0)).toString(), ds.text(ds.rowAt(r), code)) << r;
    // The row indicator marks the cursor and nothing else.
    for (int r = 0; r < src.rowCount(); ++r)
        EXPECT_EQ(src.headerData(r, Qt::Vertical).toString().isEmpty(), r != ds.RecNo()) << r;
}

TEST(DataSource, KeepsTheModelContractThroughEveryChange)
{
    ModelTesterLog log;
    TQELClientDataSet ds;
    TQELDataSource src;
    QAbstractItemModelTester tester(&src, QAbstractItemModelTester::FailureReportingMode::Warning);
    src.SetDataSet(&ds);
    EXPECT_EQ(src.rowCount(), 0);
    QSignalSpy resets(&src, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&src, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&src, &QAbstractItemModel::rowsInserted);

    ds.SetData(shows());
    EXPECT_EQ(resets.count(), 1) << "one reset per reload";
    expectMirrors(src, ds, "reload");
    EXPECT_EQ(src.columnCount(), 4);
    EXPECT_EQ(src.headerData(1, Qt::Horizontal).toString(), QStringLiteral("CNAME"));
    EXPECT_EQ(src.data(src.index(0, 2)).toString(), QStringLiteral("2024-05-02 19:30"));
    EXPECT_EQ(src.rowCount(src.index(0, 0)), 0) << "a table has no children";

    ds.MoveTo(2);
    ds.Delete();
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(resets.count(), 1) << "a delete is no reset";
    expectMirrors(src, ds, "delete");

    ds.Append();
    ds.FieldByName(QStringLiteral("CODE")).SetAsString(QStringLiteral("P9"));
    ds.Post();
    EXPECT_EQ(inserted.count(), 1);
    expectMirrors(src, ds, "append");
    ds.Append();
    ds.Cancel();
    expectMirrors(src, ds, "cancelled append");

    ds.First();
    ds.Edit();
    ds.FieldByName(QStringLiteral("CODE")).SetAsString(QStringLiteral("P1*"));
    ds.Post();
    EXPECT_EQ(src.data(src.index(0, 0)).toString(), QStringLiteral("P1*"));

    const int name = ds.FieldIndex(QStringLiteral("CNAME"));
    ds.SetFilter([name](const TQELClientDataSet &d, int row) { return d.text(row, name) == QStringLiteral("北京"); });
    ds.SetFiltered(true);
    expectMirrors(src, ds, "filter");
    ds.SetFiltered(false);
    expectMirrors(src, ds, "unfilter");
    ds.SetIndexFieldNames(QStringLiteral("CNAME;HAPPENTIME"));
    expectMirrors(src, ds, "sort");
    ds.SetData(makePacket({{QStringLiteral("CODE"), FieldType::Text, 0}}, {}));
    expectMirrors(src, ds, "empty reload");
    EXPECT_EQ(src.columnCount(), 1);
    ds.Close();
    EXPECT_EQ(src.rowCount(), 0);
    ds.SetData(shows());
    expectMirrors(src, ds, "reopen");
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(DataSource, RowIndicatorFollowsTheCursor)
{
    TQELClientDataSet ds;
    TQELDataSource src;
    src.SetDataSet(&ds);
    ds.SetData(shows());
    QSignalSpy header(&src, &QAbstractItemModel::headerDataChanged);
    ds.MoveTo(3);
    expectMirrors(src, ds, "moved");
    // Both the old and the new row are repainted.
    QSet<int> touched;
    for (const QList<QVariant> &args : header) {
        EXPECT_EQ(args.at(0).value<Qt::Orientation>(), Qt::Vertical);
        for (int r = args.at(1).toInt(); r <= args.at(2).toInt(); ++r)
            touched << r;
    }
    EXPECT_TRUE(touched.contains(0));
    EXPECT_TRUE(touched.contains(3));
    ds.Delete();
    expectMirrors(src, ds, "after delete");
    ds.Last();
    ds.Delete();
    expectMirrors(src, ds, "after deleting the last");
    ds.SetIndexFieldNames(QStringLiteral("QTY"));
    expectMirrors(src, ds, "after sort");
    ds.SetData(makePacket({{QStringLiteral("CODE"), FieldType::Text, 0}}, {}));
    EXPECT_TRUE(src.headerData(0, Qt::Vertical).toString().isEmpty());
}

TEST(DataSource, OutlivesItsDataset)
{
    ModelTesterLog log;
    TQELDataSource src;
    QAbstractItemModelTester tester(&src, QAbstractItemModelTester::FailureReportingMode::Warning);
    {
        TQELClientDataSet ds;
        src.SetDataSet(&ds);
        ds.SetData(shows());
        EXPECT_EQ(src.rowCount(), 5);
    }
    EXPECT_EQ(src.DataSet(), nullptr);
    EXPECT_EQ(src.rowCount(), 0);
    EXPECT_FALSE(src.data(src.index(0, 0)).isValid());
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(DataSource, GridColumnsPickFieldsTitlesAndAlignment)
{
    TQELClientDataSet ds;
    TQELDataSource src;
    src.SetDataSet(&ds);
    src.setColumns({{QStringLiteral("cname"), QStringLiteral("演出名称\r\n"), 120, Qt::AlignLeft | Qt::AlignVCenter},
                    {QStringLiteral("QTY"), QStringLiteral("数量"), 40, Qt::AlignRight | Qt::AlignVCenter},
                    {QStringLiteral("MISSING"), QStringLiteral("无"), 40}});
    ds.SetData(shows());
    ASSERT_EQ(src.columnCount(), 3);
    EXPECT_EQ(src.headerData(0, Qt::Horizontal).toString(), QStringLiteral("演出名称"));
    EXPECT_EQ(src.data(src.index(0, 0)).toString(), QStringLiteral("上海"));
    EXPECT_EQ(src.data(src.index(2, 1)).toString(), QStringLiteral("100"));
    EXPECT_EQ(src.data(src.index(0, 1), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    EXPECT_FALSE(src.data(src.index(0, 2)).isValid());
    EXPECT_FALSE(src.flags(src.index(0, 0)).testFlag(Qt::ItemIsEditable));
}

TEST(DataSource, ColumnWidthsStayWithEachGrid)
{
    TQELClientDataSet ds;
    TQELDataSource src;
    src.SetDataSet(&ds);
    TQELDBGrid narrow, wide;
    narrow.SetDataSource(&src);
    narrow.SetColumns({{QStringLiteral("cname"), QStringLiteral("名称"), 60}, {QStringLiteral("QTY"), QStringLiteral("数量"), 30}});
    wide.SetDataSource(&src);
    wide.SetColumns({{QStringLiteral("cname"), QStringLiteral("名称"), 200}, {QStringLiteral("QTY"), QStringLiteral("数量"), 90}});
    // A load resets the shared model; each grid lays out its own widths again.
    ds.SetData(shows());
    ASSERT_EQ(src.columnCount(), 2);
    EXPECT_EQ(narrow.columnWidth(0), 60);
    EXPECT_EQ(narrow.columnWidth(1), 30);
    EXPECT_EQ(wide.columnWidth(0), 200);
    EXPECT_EQ(wide.columnWidth(1), 90);
}

// ---- TQELDBGrid -------------------------------------------------------------------

class GridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        src.SetDataSet(&ds);
        ds.SetData(shows());
        grid.SetDataSource(&src);
        grid.resize(500, 300);
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }
    void click(int row, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        const QRect r = grid.visualRect(src.index(row, 1));
        ASSERT_TRUE(r.isValid()) << row;
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, mods, r.center());
    }
    // The codes behind the selected bookmarks, in their order.
    QStringList selectedCodes()
    {
        QStringList out;
        const int keep = ds.GetBookmark();
        for (const auto b : grid.SelectedRows()) {
            ds.GotoBookmark(b);
            out << current(ds);
        }
        ds.GotoBookmark(keep);
        return out;
    }

    TQELClientDataSet ds;
    TQELDataSource src;
    TQELDBGrid grid;
};

TEST_F(GridTest, SelectedRowsComeAsBookmarksInSelectionOrder)
{
    grid.SetMultiSelect(true);
    click(2);
    click(0, Qt::ControlModifier);
    click(4, Qt::ControlModifier);
    EXPECT_EQ(selectedCodes(), (QStringList{"P3", "P1", "P5"}));
    click(0, Qt::ControlModifier); // deselect
    EXPECT_EQ(selectedCodes(), (QStringList{"P3", "P5"}));
    click(1, Qt::ControlModifier);
    EXPECT_EQ(selectedCodes(), (QStringList{"P3", "P5", "P2"}));
    // A plain click starts a new selection.
    click(3);
    EXPECT_EQ(selectedCodes(), QStringList{QStringLiteral("P4")});
    // A range picks every row of it.
    click(1);
    click(3, Qt::ShiftModifier);
    QStringList range = selectedCodes();
    EXPECT_EQ(range.first(), QStringLiteral("P2"));
    range.sort();
    EXPECT_EQ(range, (QStringList{"P2", "P3", "P4"}));
}

TEST_F(GridTest, SelectionSurvivesDeletingOtherRows)
{
    grid.SetMultiSelect(true);
    click(3);
    click(0, Qt::ControlModifier);
    ASSERT_EQ(selectedCodes(), (QStringList{"P4", "P1"}));
    // Deleting a row that is not selected keeps the selection as it was.
    ds.Locate(QStringLiteral("CODE"), QStringLiteral("P2"));
    ds.Delete();
    EXPECT_EQ(selectedCodes(), (QStringList{"P4", "P1"}));
    // Deleting a selected row drops just that one.
    ds.Locate(QStringLiteral("CODE"), QStringLiteral("P4"));
    ds.Delete();
    EXPECT_EQ(selectedCodes(), QStringList{QStringLiteral("P1")});
    // The bookmarks stay usable for a delete loop in selection order.
    click(2, Qt::ControlModifier); // P5 now
    const auto picked = grid.SelectedRows();
    ASSERT_EQ(picked.size(), 2);
    QStringList deleted;
    for (const auto b : picked) {
        ds.GotoBookmark(b);
        deleted << current(ds);
    }
    EXPECT_EQ(deleted, (QStringList{"P1", "P5"}));
    // A reload forgets the selection.
    ds.SetData(shows());
    EXPECT_TRUE(grid.SelectedRows().isEmpty());
}

TEST_F(GridTest, CurrentRowAndCursorMoveTogether)
{
    EXPECT_EQ(grid.currentIndex().row(), 0);
    ds.MoveTo(3);
    EXPECT_EQ(grid.currentIndex().row(), 3);
    click(1);
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_EQ(current(ds), QStringLiteral("P2"));
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(ds.RecNo(), 2);
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(ds.RecNo(), 4);
    ds.Locate(QStringLiteral("CODE"), QStringLiteral("P2"));
    EXPECT_EQ(grid.currentIndex().row(), 1);
    // Sorting keeps the record current, so the grid follows it to its new row.
    ds.SetIndexFieldNames(QStringLiteral("QTY"));
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_EQ(grid.currentIndex().row(), 2);
    ds.SetIndexFieldNames(QString());
    ds.SetData(shows());
    EXPECT_EQ(grid.currentIndex().row(), 0);
    // Single-row selection follows the cursor.
    ds.MoveTo(4);
    EXPECT_EQ(selectedCodes(), QStringList{QStringLiteral("P5")});
    // With multi-select, moving the cursor from code leaves the operator's selection alone.
    grid.SetMultiSelect(true);
    click(0);
    click(1, Qt::ControlModifier);
    ds.MoveTo(3);
    EXPECT_EQ(grid.currentIndex().row(), 3);
    EXPECT_EQ(selectedCodes(), (QStringList{"P1", "P2"}));
}

// ---- comma text ---------------------------------------------------------------------

struct CommaCase {
    QStringList items;
    QString text;
};

// Readable names for test listings: control characters shown as '?'.
std::string printable(const QString &s)
{
    QString out;
    for (QChar c : s)
        out += c.unicode() < 0x20 ? QChar(u'?') : c;
    return out.toStdString();
}

void PrintTo(const CommaCase &c, std::ostream *os)
{
    *os << '[';
    for (qsizetype i = 0; i < c.items.size(); ++i)
        *os << (i ? "|" : "") << (c.items[i].isEmpty() ? std::string("<empty>") : printable(c.items[i]));
    *os << ']';
}

TEST(HostMemory, AFreedBigBlockIsReusedNotFaultedInAgain)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(__GLIBC__)
    GTEST_SKIP() << "the sanitizer's allocator (or a non-glibc one) takes no setting";
#else
    ASSERT_TRUE(KeepFreedMemoryForReuse());
    // A block the size of a 100,000-row list's text, touched page by page.
    constexpr size_t size = 48u << 20;
    const auto touchFaults = [] {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        auto *p = static_cast<volatile char *>(std::malloc(size));
        for (size_t i = 0; i < size; i += 4096)
            p[i] = 1;
        std::free(const_cast<char *>(p));
        getrusage(RUSAGE_SELF, &after);
        return after.ru_minflt - before.ru_minflt;
    };
    const long first = touchFaults();
    const long again = touchFaults();
    EXPECT_GT(first, 1000) << "the first block is new memory";
    EXPECT_LT(again, first / 10) << "the second reuses the first's pages";
#endif
}

TEST(ByteKeyTable, KeepsEveryKeyThroughGrowthAndTellsAbsentOnes)
{
    // Starts small and grows many times; keys differ only in their last
    // bytes or by length, the empty key and a NUL byte among them.
    std::vector<std::string> keys = {"", std::string("a\0b", 3), std::string("a\0c", 3), "a"};
    for (int i = 0; i < 20000; ++i)
        keys.push_back("P" + std::to_string(i));
    ByteKeyTable table(4);
    for (size_t i = 0; i < keys.size(); ++i) {
        const auto [id, added] = table.insert(keys[i], int(i));
        ASSERT_TRUE(added) << i;
        ASSERT_EQ(id, int(i));
    }
    EXPECT_EQ(table.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        ASSERT_EQ(table.find(keys[i]), int(i)) << i;
    // A second insert keeps the first id.
    const auto [again, addedAgain] = table.insert(keys[7], 99999);
    EXPECT_FALSE(addedAgain);
    EXPECT_EQ(again, 7);
    for (const char *absent : {"P20000", "P-1", "p1", "P01", "b"})
        EXPECT_EQ(table.find(absent), -1) << absent;
    EXPECT_EQ(table.find(std::string("a\0", 2)), -1);
}

class CommaTextRoundTrip : public ::testing::TestWithParam<CommaCase> {};

TEST_P(CommaTextRoundTrip, WritesThisTextAndReadsTheSameListBack)
{
    const CommaCase &c = GetParam();
    EXPECT_EQ(WriteCommaText(c.items), c.text);
    EXPECT_EQ(ReadCommaText(WriteCommaText(c.items)), c.items);
}

QString withNul()
{
    QString s = QStringLiteral("a");
    s += QChar(0);
    s += QStringLiteral("b");
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    TrickyLists, CommaTextRoundTrip,
    ::testing::Values(CommaCase{{}, QString()}, CommaCase{{"P001"}, "P001"}, CommaCase{{"P001", "P002", "P003"}, "P001,P002,P003"},
                      CommaCase{{""}, "\"\""}, CommaCase{{"", ""}, "\"\",\"\""}, CommaCase{{"a", ""}, "a,\"\""},
                      CommaCase{{"", "a"}, "\"\",a"}, CommaCase{{"a b"}, "\"a b\""}, CommaCase{{" lead", "trail "}, "\" lead\",\"trail \""},
                      CommaCase{{" "}, "\" \""}, CommaCase{{"x,y", "z"}, "\"x,y\",z"}, CommaCase{{"say \"hi\""}, "\"say \"\"hi\"\"\""},
                      CommaCase{{"\""}, "\"\"\"\""}, CommaCase{{"a\"b"}, "\"a\"\"b\""}, CommaCase{{"tab\there", "cr\rlf\n"}, "\"tab\there\",\"cr\rlf\n\""},
                      CommaCase{{"\x01"}, "\"\x01\""}, CommaCase{{withNul()}, QStringLiteral("\"") + withNul() + QStringLiteral("\"")},
                      CommaCase{{"北京", "上海 浦东", "《梁祝》"}, "北京,\"上海 浦东\",《梁祝》"}, CommaCase{{"'single'"}, "'single'"},
                      CommaCase{{",", ",,"}, "\",\",\",,\""}, CommaCase{{"a,", ""}, "\"a,\",\"\""}));

struct ReadCase {
    QString text;
    QStringList items;
};

void PrintTo(const ReadCase &c, std::ostream *os) { *os << '<' << printable(c.text) << '>'; }

class CommaTextReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(CommaTextReading, SplitsAsTheRulesSay)
{
    EXPECT_EQ(ReadCommaText(GetParam().text), GetParam().items) << GetParam().text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CommaTextReading,
    ::testing::Values(ReadCase{"", {}}, ReadCase{"a,b", {"a", "b"}}, ReadCase{"a b", {"a", "b"}}, ReadCase{"a, b", {"a", "b"}},
                      ReadCase{"  a  ,  b  ", {"a", "b"}}, ReadCase{"a\tb", {"a", "b"}}, ReadCase{"a,", {"a", ""}}, ReadCase{",a", {"", "a"}},
                      ReadCase{"a,,b", {"a", "", "b"}}, ReadCase{"\"a b\",c", {"a b", "c"}}, ReadCase{"\"a, b\" c", {"a, b", "c"}},
                      ReadCase{"\"a\"\"b\"", {"a\"b"}}, ReadCase{"\"\"", {""}}, ReadCase{"\"open", {"open"}},
                      ReadCase{"P001,P002 P003", {"P001", "P002", "P003"}}, ReadCase{"北京 上海", {"北京", "上海"}}));

TEST(QuotedStr, DoublesEveryInnerSingleQuote)
{
    const QList<QPair<QString, QString>> table = {
        {QString(), "''"},          {"abc", "'abc'"},       {"O'Neil", "'O''Neil'"}, {"''", "''''''"},
        {"'", "''''"},              {"中'文", "'中''文'"}, {"\"", "'\"'"},          {"a\\'b", "'a\\''b'"},
        {"x' or '1'='1", "'x'' or ''1''=''1'"},
    };
    for (const auto &row : table)
        EXPECT_EQ(QuotedStr(row.first), row.second) << row.first.toStdString();
}

// ---- context and snap-in --------------------------------------------------------------

TEST(Context, EightFieldsByCarriageReturnFirstFourNamed)
{
    const QString text = QStringLiteral("01\r票务组\r张三\rA\re\rf\rg\rh");
    TQELContext c;
    c.SetAsString(text);
    EXPECT_EQ(c.AsString(), text);
    EXPECT_EQ(c.NodeCode(), QStringLiteral("01"));
    EXPECT_EQ(c.Group(), QStringLiteral("票务组"));
    EXPECT_EQ(c.UserName(), QStringLiteral("张三"));
    EXPECT_EQ(c.KindCode(), QStringLiteral("A"));
    EXPECT_EQ(c.Value(7), QStringLiteral("h"));
    EXPECT_EQ(TQELContext::Compose({"01", "票务组", "张三", "A", "e", "f", "g", "h"}), text);

    struct Case {
        QString text;
        QStringList first4;
    };
    const QList<Case> table = {
        {QString(), {"", "", "", ""}},
        {"01", {"01", "", "", ""}},
        {"01\r组", {"01", "组", "", ""}},
        {"01\r\r李四\rG", {"01", "", "李四", "G"}},
        {"a\nb\r c \rd\r\n", {"a\nb", " c ", "d", "\n"}}, // only character 13 separates
        {"1\r2\r3\r4\r5\r6\r7\r8\r9", {"1", "2", "3", "4"}},
    };
    for (const Case &r : table) {
        c.SetAsString(r.text);
        EXPECT_EQ((QStringList{c.NodeCode(), c.Group(), c.UserName(), c.KindCode()}), r.first4) << r.text.toStdString();
    }
    c.SetAsString(QStringLiteral("01\r组"));
    EXPECT_EQ(c.Value(-1), QString());
    EXPECT_EQ(c.Value(7), QString());
    // Compose always gives eight fields.
    EXPECT_EQ(TQELContext::Compose({"01", "组"}), QStringLiteral("01\r组\r\r\r\r\r\r"));
    EXPECT_EQ(TQELContext::Compose({"1", "2", "3", "4", "5", "6", "7", "8", "9"}).count(QChar(13)), 7);
}

TEST(SnapIn, SetContextStoresAndAnnounces)
{
    TQELCSnapIn snap;
    QSignalSpy spy(&snap, &TQELCSnapIn::OnContextChange);
    EXPECT_EQ(snap.Context(), QString());
    const QString ctx = TQELContext::Compose({"01", "组", "王五", "C"});
    snap.SetContext(ctx);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<TQELCSnapIn *>(), &snap);
    EXPECT_EQ(snap.Context(), ctx);
    // The handler already sees the new context.
    QString seen;
    QObject::connect(&snap, &TQELCSnapIn::OnContextChange, [&](TQELCSnapIn *s) { seen = s->Context(); });
    snap.SetContext(QStringLiteral("02"));
    EXPECT_EQ(seen, QStringLiteral("02"));
    snap.SetContext(QStringLiteral("02"));
    EXPECT_EQ(spy.count(), 3) << "every call announces";
}

// ---- DataPacket -------------------------------------------------------------------------

TEST(DataPacket, TextKeepsEveryCharacterOrRefuses)
{
    DataPacket p;
    p.addColumn({QStringLiteral("CNAME"), FieldType::Text, 0});
    // Byte order marks anywhere, pairs outside the BMP, NUL-free control text.
    const QStringList kept = {QStringLiteral("\uFEFF名"), QStringLiteral("\uFEFF"), QStringLiteral("a\uFEFFb"), QStringLiteral("\uFEFF\uFEFF"),
                              QStringLiteral("演出🎭"), QStringLiteral("\t\r\n"), QString()};
    for (const QString &s : kept) {
        p.appendRow();
        p.setText(0, s);
    }
    for (int r = 0; r < kept.size(); ++r)
        EXPECT_EQ(p.text(r, 0), kept[r]) << r;

    // UTF-8 has no form for an unpaired surrogate: refused, never stored as '?'.
    const QList<QString> broken = {QString(QChar(0xD800)) + QStringLiteral("x"), QStringLiteral("x") + QChar(0xDC00),
                                   QString(QChar(0xDBFF))};
    for (const QString &s : broken) {
        p.appendRow();
        try {
            p.setText(0, s);
            ADD_FAILURE() << "stored an unpaired surrogate";
        } catch (const EHostError &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("GBK"))) << e.what();
        }
        EXPECT_TRUE(p.isNull(p.rowCount() - 1, 0));
    }
}

TEST(DataPacket, TimeStampsParse)
{
    struct Case {
        const char *text;
        std::optional<QDateTime> value;
    };
    const QList<Case> table = {
        {"2024-03-05 14:30:15", at(2024, 3, 5, 14, 30, 15)},
        {"2024-03-05T14:30:15", at(2024, 3, 5, 14, 30, 15)},
        {"2024-03-05 14:30", at(2024, 3, 5, 14, 30)},
        {"2024-03-05", at(2024, 3, 5)},
        {"2024-02-29 23:59:59", at(2024, 2, 29, 23, 59, 59)},
        {"2024-03-05 14:30:15.5", QDateTime(QDate(2024, 3, 5), QTime(14, 30, 15, 500))},
        {"2024-03-05 14:30:15.123456", QDateTime(QDate(2024, 3, 5), QTime(14, 30, 15, 123))},
        {"0001-01-01 00:00:00", at(1, 1, 1)},
        {"1899-12-30 00:00:00", at(1899, 12, 30)},
        {"9999-12-31 23:59:59", at(9999, 12, 31, 23, 59, 59)},
        {"2023-02-29", std::nullopt},
        {"2024-13-01", std::nullopt},
        {"2024-03-05 24:00:00", std::nullopt},
        {"2024-03-05 14:60", std::nullopt},
        {"2024-03-05 14:30:60", std::nullopt},
        {"2024-3-5", std::nullopt},
        {"2024-03-05X14:30", std::nullopt},
        {"2024-03-05 1", std::nullopt},
        {"", std::nullopt},
        {"abcd-ef-gh", std::nullopt},
        {"0000-01-01", std::nullopt},
    };
    for (const Case &r : table) {
        qint64 stamp = -42;
        const bool ok = DataPacket::parseStamp(r.text, stamp);
        EXPECT_EQ(ok, r.value.has_value()) << r.text;
        if (ok && r.value) {
            EXPECT_EQ(DataPacket::dateTimeFromStamp(stamp), *r.value) << r.text;
            EXPECT_EQ(stamp, DataPacket::stampFromDateTime(*r.value)) << r.text;
        }
    }
}

TEST(DataPacket, TimeStampsFormatAndOrder)
{
    const QList<QDateTime> times = {at(1, 1, 1), at(1899, 12, 30, 12), at(1970, 1, 1), at(2024, 2, 29, 23, 59, 59), at(9999, 12, 31, 23, 59, 59)};
    qint64 previous = std::numeric_limits<qint64>::min();
    for (const QDateTime &t : times) {
        const qint64 s = DataPacket::stampFromDateTime(t);
        EXPECT_GT(s, previous) << "stamps order like times";
        previous = s;
        EXPECT_EQ(DataPacket::dateTimeFromStamp(s), t);
        const QString text = DataPacket::formatStamp(s);
        EXPECT_EQ(text, t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        qint64 back = 0;
        const QByteArray u = text.toUtf8();
        ASSERT_TRUE(DataPacket::parseStamp(std::string_view(u.constData(), size_t(u.size())), back)) << u.constData();
        EXPECT_EQ(back, s);
    }
    // Milliseconds are kept in the stamp, dropped in the text.
    const qint64 ms = DataPacket::stampFromDateTime(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5, 678)));
    EXPECT_EQ(DataPacket::dateTimeFromStamp(ms).time().msec(), 678);
    EXPECT_EQ(DataPacket::formatStamp(ms), QStringLiteral("2024-01-02 03:04:05"));
}

TEST(DataPacket, TypedReadsOfEveryColumnType)
{
    DataPacket p;
    const int i = p.addColumn({QStringLiteral("I"), FieldType::Integer, 0});
    const int f = p.addColumn({QStringLiteral("F"), FieldType::Float, 0});
    const int t = p.addColumn({QStringLiteral("T"), FieldType::Text, 20});
    const int d = p.addColumn({QStringLiteral("D"), FieldType::DateTime, 0});
    p.appendRow();
    p.setInteger(i, -9000000000LL);
    p.setReal(f, 12.5);
    p.setText(t, QStringLiteral(" 42 "));
    p.setText(d, std::string_view("2024-03-05 14:30:15"));
    p.appendRow(); // all null
    p.appendRow();
    p.setText(i, std::string_view("17"));
    p.setText(f, std::string_view("0.25"));
    p.setText(t, QStringLiteral("2024-06-01 08:00"));
    p.setText(d, std::string_view("not a time"));
    p.appendRow();
    p.setText(t, QStringLiteral("first"));
    p.setText(t, QStringLiteral("second")); // overwrites its own cell only
    p.setNull(i);

    ASSERT_EQ(p.rowCount(), 4);
    EXPECT_EQ(p.columnIndex(QStringLiteral("t")), t);
    EXPECT_EQ(p.columnIndex(QStringLiteral("x")), -1);

    EXPECT_EQ(p.integer(0, i), -9000000000LL);
    EXPECT_EQ(p.text(0, i), QStringLiteral("-9000000000"));
    EXPECT_DOUBLE_EQ(p.real(0, f), 12.5);
    EXPECT_EQ(p.text(0, f), QStringLiteral("12.5"));
    EXPECT_EQ(p.integer(0, f), 12);
    EXPECT_EQ(p.text(0, t), QStringLiteral(" 42 "));
    EXPECT_EQ(p.integer(0, t), 42) << "integer of a text cell, blanks ignored";
    EXPECT_EQ(p.dateTime(0, d), at(2024, 3, 5, 14, 30, 15));
    EXPECT_EQ(p.text(0, d), QStringLiteral("2024-03-05 14:30:15"));
    EXPECT_EQ(p.value(0, i).toLongLong(), -9000000000LL);
    EXPECT_EQ(p.value(0, d).toDateTime(), at(2024, 3, 5, 14, 30, 15));

    for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(p.isNull(1, c)) << c;
        EXPECT_EQ(p.text(1, c), QString()) << c;
        EXPECT_EQ(p.integer(1, c), 0) << c;
        EXPECT_FALSE(p.value(1, c).isValid()) << c;
    }
    EXPECT_FALSE(p.dateTime(1, d).isValid());

    EXPECT_EQ(p.integer(2, i), 17);
    EXPECT_DOUBLE_EQ(p.real(2, f), 0.25);
    EXPECT_EQ(p.dateTime(2, t), at(2024, 6, 1, 8)) << "a text cell holding a time";
    EXPECT_TRUE(p.isNull(2, d)) << "an unreadable time stays null";
    EXPECT_EQ(p.integer(2, t), 0);

    EXPECT_EQ(p.text(3, t), QStringLiteral("second"));
    EXPECT_EQ(p.text(0, t), QStringLiteral(" 42 "));
    EXPECT_EQ(p.text(2, t), QStringLiteral("2024-06-01 08:00"));
    EXPECT_TRUE(p.isNull(3, i));

    // A column added later starts null in every existing row.
    const int late = p.addColumn({QStringLiteral("LATE"), FieldType::Text, 0});
    for (int r = 0; r < 4; ++r)
        EXPECT_TRUE(p.isNull(r, late)) << r;
}

TEST(DataPacket, SetValueStoresEachVariantKindInTheColumnsType)
{
    DataPacket p = makePacket({{QStringLiteral("I"), FieldType::Integer, 0},
                               {QStringLiteral("T"), FieldType::Text, 0},
                               {QStringLiteral("D"), FieldType::DateTime, 0},
                               {QStringLiteral("F"), FieldType::Float, 0}},
                              {{QStringLiteral("12"), 7, QDate(2024, 5, 1), 3},
                               {true, 2.5, QStringLiteral("2024-05-01 10:00:00"), QStringLiteral("1.5")},
                               {QVariant(), at(2024, 5, 1, 9), QVariant(), QVariant()}});
    EXPECT_EQ(p.integer(0, 0), 12);
    EXPECT_EQ(p.text(0, 1), QStringLiteral("7"));
    EXPECT_EQ(p.dateTime(0, 2), at(2024, 5, 1));
    EXPECT_DOUBLE_EQ(p.real(0, 3), 3.0);
    EXPECT_EQ(p.integer(1, 0), 1);
    EXPECT_EQ(p.text(1, 1), QStringLiteral("2.5"));
    EXPECT_EQ(p.dateTime(1, 2), at(2024, 5, 1, 10));
    EXPECT_DOUBLE_EQ(p.real(1, 3), 1.5);
    EXPECT_TRUE(p.isNull(2, 0));
    EXPECT_EQ(p.text(2, 1), QStringLiteral("2024-05-01 09:00:00"));
    EXPECT_TRUE(p.isNull(2, 2));
    EXPECT_TRUE(p.isNull(2, 3));
}

} // namespace
