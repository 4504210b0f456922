// The catalogue service: look-up lists and the performance search conditions,
// on the engine QEL_DATABASE selects.
#include "Errors.h"
#include "ProductShow.h"
#include "TestDb.h"
#include <QDateTime>
#include <gtest/gtest.h>

namespace {

const QString kCtx = QStringLiteral("01\rG01\radmin\rA\r\r\r\r");

struct Perf {
    QString code;
    QString name;
    QString when; // yyyy-MM-dd hh:mm:ss
    QString cls = QStringLiteral("C01");
    QString place = QStringLiteral("P01");
    QString node = QStringLiteral("01");
    QString status = QStringLiteral("5");
};

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The same place code at two nodes lies in two cities: the venue is code and node together.
        place(QStringLiteral("P01"), QStringLiteral("01"), QStringLiteral("北京音乐厅"), QStringLiteral("010"), true);
        place(QStringLiteral("P01"), QStringLiteral("02"), QStringLiteral("上海音乐厅"), QStringLiteral("021"), true);
        place(QStringLiteral("P02"), QStringLiteral("01"), QStringLiteral("天津大剧院"), QStringLiteral("022"), true);
        place(QStringLiteral("P09"), QStringLiteral("01"), QStringLiteral("旧礼堂"), QStringLiteral("010"), false);
        db.exec(QStringLiteral("insert into QEL_PRODUCT_CLASS values ('C01', '音乐会', 'Concert'), ('C02', '话剧', 'Drama')"));

        add({QStringLiteral("X1"), QStringLiteral("天鹅湖 芭蕾舞剧"), QStringLiteral("2030-05-10 19:30:00")});
        add({QStringLiteral("X2"), QStringLiteral("100%纯享音乐会"), QStringLiteral("2030-05-11 00:00:00"), QStringLiteral("C01"),
             QStringLiteral("P02"), QStringLiteral("01"), QStringLiteral("6")});
        add({QStringLiteral("X3"), QStringLiteral("A_B剧场"), QStringLiteral("2030-05-11 23:59:59"), QStringLiteral("C02"), QStringLiteral("P01"),
             QStringLiteral("02")});
        add({QStringLiteral("X4"), QStringLiteral("AxB剧场"), QStringLiteral("2030-05-12 00:00:00"), QStringLiteral("C02"), QStringLiteral("P02"),
             QStringLiteral("01"), QStringLiteral("7")});
        add({QStringLiteral("X5"), QStringLiteral("O'Neill 话剧"), QStringLiteral("2030-05-09 23:59:59"), QStringLiteral("C02")});
    }

    void place(const QString &code, const QString &node, const QString &name, const QString &city, bool valid)
    {
        db.exec(QStringLiteral("insert into qel_place (PLACECODE, NODECODE, CNAME, ENAME, CITYCODE, ISVALID) values ('%1', '%2', '%3', 'E', '%4', '%5')")
                    .arg(code, node, name, city, valid ? QStringLiteral("1") : QStringLiteral("0")));
    }

    void add(const Perf &p)
    {
        QString name = p.name;
        name.replace(QLatin1Char('\''), QLatin1String("''"));
        db.exec(QStringLiteral("insert into QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, MAPCODE, "
                               "CREATEGROUP, PLACEGROUP, STATUS, CREATEUSER, PRODUCTOWNERGROUP) "
                               "values ('%1', '%2', '%3', '%4', '%5', '%6', 'M1', 'G01', 'PG', '%7', 'admin', 'OG')")
                    .arg(p.code, name, p.when, p.cls, p.place, p.node, p.status));
    }

    // A condition packet like the search dialog's: every field present, only the given ones set.
    static DataPacket conditions(const QList<QPair<QString, QVariant>> &set)
    {
        DataPacket p;
        for (const char *n : {"ProductName", "ProductClassCode", "PlaceCODE", "StatusCode", "CITYCODE"})
            p.addColumn(ColumnDef{QLatin1String(n), FieldType::Text, 0});
        p.addColumn(ColumnDef{QStringLiteral("BHappenTime"), FieldType::DateTime, 0});
        p.addColumn(ColumnDef{QStringLiteral("EHappenTime"), FieldType::DateTime, 0});
        p.appendRow();
        for (const auto &kv : set)
            p.setValue(p.columnIndex(kv.first), kv.second);
        return p;
    }

    QStringList codes(const QList<QPair<QString, QVariant>> &set)
    {
        const DataPacket r = TCAProductShow().GetProduct(kCtx, conditions(set));
        QStringList out;
        const int c = r.columnIndex(QStringLiteral("PRODUCTCODE"));
        for (int i = 0; i < r.rowCount(); ++i)
            out << r.text(i, c);
        out.sort();
        return out;
    }

    static QDateTime at(const char *text) { return QDateTime::fromString(QLatin1String(text), QStringLiteral("yyyy-MM-dd hh:mm:ss")); }

    TestDatabase db;
};

TEST_F(CatalogueTest, EmptyConditionsMatchEverythingAndRowsCarryTheResultColumns)
{
    const QStringList all = {QStringLiteral("X1"), QStringLiteral("X2"), QStringLiteral("X3"), QStringLiteral("X4"), QStringLiteral("X5")};
    EXPECT_EQ(codes({}), all) << "null conditions";
    EXPECT_EQ(codes({{QStringLiteral("ProductName"), QString("")}, {QStringLiteral("ProductClassCode"), QString("")},
                     {QStringLiteral("PlaceCODE"), QString("")}, {QStringLiteral("StatusCode"), QString("")}, {QStringLiteral("CITYCODE"), QString("")}}),
              all)
        << "empty texts";
    EXPECT_EQ(TCAProductShow().GetProduct(kCtx, DataPacket()).rowCount(), 5) << "a packet without conditions";

    const DataPacket r = TCAProductShow().GetProduct(kCtx, conditions({}));
    QStringList names;
    for (int c = 0; c < r.columnCount(); ++c)
        names << r.column(c).name.toUpper();
    EXPECT_EQ(names, QStringList({"PRODUCTCODE", "CNAME", "HAPPENTIME", "PRODUCTCLASSCODE", "PLACECODE", "MAPCODE", "CREATEGROUP", "PLACEGROUP",
                                  "STATUS", "CREATEUSER", "PRODUCTOWNERGROUP"}));
    const int x3 = [&] {
        for (int i = 0; i < r.rowCount(); ++i)
            if (r.text(i, 0) == QLatin1String("X3"))
                return i;
        return -1;
    }();
    ASSERT_GE(x3, 0);
    EXPECT_EQ(r.text(x3, 1), QStringLiteral("A_B剧场"));
    EXPECT_EQ(r.dateTime(x3, 2), at("2030-05-11 23:59:59"));
    EXPECT_EQ(r.text(x3, 8), QStringLiteral("5"));
}

TEST_F(CatalogueTest, NameIsALiteralSubstring)
{
    EXPECT_EQ(codes({{QStringLiteral("ProductName"), QStringLiteral("芭蕾")}}), QStringList{QStringLiteral("X1")});
    // % and _ are characters here, not wildcards.
    EXPECT_EQ(codes({{QStringLiteral("ProductName"), QStringLiteral("%")}}), QStringList{QStringLiteral("X2")});
    EXPECT_EQ(codes({{QStringLiteral("ProductName"), QStringLiteral("A_B")}}), QStringList{QStringLiteral("X3")});
    EXPECT_EQ(codes({{QStringLiteral("ProductName"), QStringLiteral("O'Neill")}}), QStringList{QStringLiteral("X5")});
    EXPECT_EQ(codes({{QStringLiteral("ProductName"), QStringLiteral("' or '1'='1")}}), QStringList());
    EXPECT_EQ(codes({{QStringLiteral("ProductName"), QStringLiteral("剧场")}}), QStringList({QStringLiteral("X3"), QStringLiteral("X4")}));
}

TEST_F(CatalogueTest, EachCodeConditionAlone)
{
    EXPECT_EQ(codes({{QStringLiteral("ProductClassCode"), QStringLiteral("C01")}}), QStringList({QStringLiteral("X1"), QStringLiteral("X2")}));
    EXPECT_EQ(codes({{QStringLiteral("ProductClassCode"), QStringLiteral("C9")}}), QStringList());
    EXPECT_EQ(codes({{QStringLiteral("PlaceCODE"), QStringLiteral("P02")}}), QStringList({QStringLiteral("X2"), QStringLiteral("X4")}));
    EXPECT_EQ(codes({{QStringLiteral("StatusCode"), QStringLiteral("6")}}), QStringList{QStringLiteral("X2")});
    // The city is the venue's, found by place code and node together.
    EXPECT_EQ(codes({{QStringLiteral("CITYCODE"), QStringLiteral("010")}}), QStringList({QStringLiteral("X1"), QStringLiteral("X5")}));
    EXPECT_EQ(codes({{QStringLiteral("CITYCODE"), QStringLiteral("021")}}), QStringList{QStringLiteral("X3")});
    EXPECT_EQ(codes({{QStringLiteral("CITYCODE"), QStringLiteral("022")}}), QStringList({QStringLiteral("X2"), QStringLiteral("X4")}));
    // Conditions combine.
    EXPECT_EQ(codes({{QStringLiteral("ProductClassCode"), QStringLiteral("C02")}, {QStringLiteral("CITYCODE"), QStringLiteral("022")}}),
              QStringList{QStringLiteral("X4")});
}

TEST_F(CatalogueTest, TimeRangeTakesBothDaysWhole)
{
    // Times of day in the conditions do not narrow the first or the last day.
    EXPECT_EQ(codes({{QStringLiteral("BHappenTime"), at("2030-05-10 20:00:00")}, {QStringLiteral("EHappenTime"), at("2030-05-11 08:00:00")}}),
              QStringList({QStringLiteral("X1"), QStringLiteral("X2"), QStringLiteral("X3")}));
    // One day: from its midnight to the last second before the next.
    EXPECT_EQ(codes({{QStringLiteral("BHappenTime"), at("2030-05-11 00:00:00")}, {QStringLiteral("EHappenTime"), at("2030-05-11 00:00:00")}}),
              QStringList({QStringLiteral("X2"), QStringLiteral("X3")}));
    EXPECT_EQ(codes({{QStringLiteral("BHappenTime"), at("2030-05-12 00:00:00")}}), QStringList{QStringLiteral("X4")});
    EXPECT_EQ(codes({{QStringLiteral("EHappenTime"), at("2030-05-09 00:00:00")}}), QStringList{QStringLiteral("X5")});
    EXPECT_EQ(codes({{QStringLiteral("BHappenTime"), at("2030-05-13 00:00:00")}, {QStringLiteral("EHappenTime"), at("2030-05-20 00:00:00")}}),
              QStringList());
}

TEST_F(CatalogueTest, LookUpListsAndWhatIsSent)
{
    StatementRecorder rec;
    const DataPacket classes = TCAProductShow().GetProductClassBrief(kCtx);
    ASSERT_EQ(classes.rowCount(), 2);
    EXPECT_GE(classes.columnIndex(QStringLiteral("PRODUCTCLASSCODE")), 0);
    EXPECT_GE(classes.columnIndex(QStringLiteral("ENAME")), 0);
    EXPECT_EQ(classes.text(1, classes.columnIndex(QStringLiteral("CNAME"))), QStringLiteral("话剧"));

    const DataPacket valid = TCAProductShow().GetValidPlaceBrief(kCtx, true);
    const DataPacket every = TCAProductShow().GetValidPlaceBrief(kCtx, false);
    EXPECT_EQ(valid.rowCount(), 3) << "a venue out of use is left out";
    EXPECT_EQ(every.rowCount(), 4);
    for (const char *c : {"PLACECODE", "CNAME", "ENAME", "CITYCODE"})
        EXPECT_GE(valid.columnIndex(QLatin1String(c)), 0) << c;

    // Everything goes through the pipe, under the caller's context.
    codes({{QStringLiteral("ProductName"), QStringLiteral("O'Neill")}});
    ASSERT_EQ(rec.count(), 4);
    EXPECT_EQ(rec.contexts(), QStringList(4, kCtx));
    EXPECT_TRUE(rec.statements().at(3).contains(QStringLiteral("'O''Neill'"))) << rec.statements().at(3).toStdString();

    // Text GBK cannot hold is refused before anything is sent.
    rec.clear();
    const QString msg = thrownMessage([&] { codes({{QStringLiteral("ProductName"), QStringLiteral("演出😀")}}); });
    EXPECT_TRUE(msg.contains(QStringLiteral("U+1F600"))) << msg.toStdString();
    EXPECT_EQ(rec.count(), 0);
}

} // namespace
