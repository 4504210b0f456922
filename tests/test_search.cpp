// The performance search data module: visibility by the operator's kind,
// exclusions, weekday column, order, reset and the city list.
#include "CommaText.h"
#include "Context.h"
#include "Errors.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "uCDSearchproduct_pro.h"
#include <QAction>
#include <QDate>
#include <QGuiApplication>
#include <QSet>
#include <gtest/gtest.h>

namespace {

QString context(const QString &group, const QString &user, const QString &kind, const QString &node = QStringLiteral("01"))
{
    return TQELContext::Compose({node, group, user, kind});
}

class SearchDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db.exec(QStringLiteral("insert into qel_place (PLACECODE, NODECODE, CNAME, CITYCODE) values "
                               "('P01', '01', '北京音乐厅', '010'), ('P02', '01', '天津大剧院', '022')"));
        db.exec(QStringLiteral("insert into QEL_PRODUCT_CLASS values ('C01', '音乐会', 'Concert'), ('C02', '话剧', 'Drama')"));
        db.exec(QStringLiteral("insert into QEL_PLACE_CITY values ('01', '010', '北京'), ('01', '022', '天津'), ('02', '021', '上海')"));
        dm.SetContext(context(QStringLiteral("G1"), QStringLiteral("u1"), QStringLiteral("A")));
    }

    // A performance some days from today (inside the reset range of 0 .. 90 days).
    void add(const QString &code, const QString &status, const QString &group, const QString &user, int day = 3,
             const QString &name = QStringLiteral("演出"), const QString &time = QStringLiteral("19:30:00"), const QString &cls = QStringLiteral("C01"))
    {
        const QString when = QDate::currentDate().addDays(day).toString(QStringLiteral("yyyy-MM-dd ")) + time;
        const auto q = [](QString s) { return QLatin1Char('\'') + s.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\''); };
        db.exec(QStringLiteral("insert into QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, MAPCODE, "
                               "CREATEGROUP, PLACEGROUP, STATUS, CREATEUSER, PRODUCTOWNERGROUP) values (%1, %2, '%3', '%4', 'P01', '01', 'M', %5, 'PG', '%6', %7, 'OG')")
                    .arg(q(code), q(name), when, cls, q(group), status, q(user)));
    }

    // Owners: A = (G1, u1), B = (G1, u2), C = (G2, u1); codes like "B5" for owner B, status 5.
    void addOwnerTable()
    {
        const QList<QStringList> owners = {{"A", "G1", "u1"}, {"B", "G1", "u2"}, {"C", "G2", "u1"}};
        for (const QStringList &o : owners)
            for (int s = 0; s <= 7; ++s)
                add(o[0] + QString::number(s), QString::number(s), o[1], o[2]);
        add(QStringLiteral("A8"), QStringLiteral("8"), QStringLiteral("G1"), QStringLiteral("u1"));
    }

    static QStringList expected(const QString &owners, const QString &statuses)
    {
        QStringList out;
        for (QChar o : owners)
            for (QChar s : statuses)
                out << QString(o) + s;
        out.sort();
        return out;
    }

    void search()
    {
        if (dm.cdsCondition->IsEmpty())
            dm.ResetCondition(true);
        dm.actRetrieveExecute(nullptr);
    }

    QStringList listed(bool sorted = true)
    {
        QStringList out;
        TQELClientDataSet *ds = dm.cdsProduct;
        if (!ds->Active())
            return out;
        const TField code = ds->FieldByName(QStringLiteral("PRODUCTCODE"));
        for (ds->First(); !ds->Eof(); ds->Next())
            out << code.AsString();
        if (sorted)
            out.sort();
        return out;
    }

    TestDatabase db;
    TCDSearchProduct_pro dm;
};

TEST_F(SearchDataTest, VisibilityByKindAndStatusRange)
{
    addOwnerTable();
    struct Case {
        const char *kind;
        bool all;
        QStringList want;
    };
    const QString narrow = QStringLiteral("56"), wide = QStringLiteral("01234567");
    const QList<Case> cases = {
        {"A", false, expected("ABC", narrow)}, {"A", true, expected("ABC", wide)},
        {"C", false, expected("ABC", narrow)}, {"C", true, expected("ABC", wide)},
        // Own group: rows created by G1 (owners A and B), whoever the user.
        {"G", false, expected("AB", narrow)}, {"G", true, expected("AB", wide)},
        // Every other kind, lower case and empty included: own user u1 (owners A and C).
        {"a", false, expected("AC", narrow)}, {"a", true, expected("AC", wide)},
        {"g", false, expected("AC", narrow)}, {"g", true, expected("AC", wide)},
        {"", false, expected("AC", narrow)},  {"", true, expected("AC", wide)},
        {"X", true, expected("AC", wide)},
    };
    StatementRecorder rec;
    for (const Case &c : cases) {
        dm.SetContext(context(QStringLiteral("G1"), QStringLiteral("u1"), QLatin1String(c.kind)));
        dm.AllStatus = c.all;
        search();
        EXPECT_EQ(listed(), c.want) << "kind \"" << c.kind << "\", AllStatus " << c.all;
    }
    // The filter narrows in memory only: every search sent the same catalogue
    // query (and the same read of who holds what), whatever the kind and
    // AllStatus, and the catalogue is untouched.
    const QStringList sent = rec.statements();
    ASSERT_FALSE(sent.isEmpty());
    EXPECT_EQ(sent.count(sent.first()), cases.size()) << sent.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(QSet<QString>(sent.begin(), sent.end()).size(), 2);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PRODUCT")), 25);
}

TEST_F(SearchDataTest, QuotesInGroupOrUserNameNeitherBreakNorWidenTheSelection)
{
    add(QStringLiteral("Q1"), QStringLiteral("5"), QStringLiteral("O'Brien"), QStringLiteral("d'Artagnan"));
    add(QStringLiteral("Q2"), QStringLiteral("6"), QStringLiteral("O"), QStringLiteral("d"));
    add(QStringLiteral("Q3"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"));

    dm.SetContext(context(QStringLiteral("O'Brien"), QStringLiteral("nobody"), QStringLiteral("G")));
    search();
    EXPECT_EQ(listed(), QStringList{QStringLiteral("Q1")});
    dm.SetContext(context(QStringLiteral("nobody"), QStringLiteral("d'Artagnan"), QStringLiteral("U")));
    search();
    EXPECT_EQ(listed(), QStringList{QStringLiteral("Q1")});

    // Names written to escape a spliced expression match nothing.
    for (const QString &hostile : {QStringLiteral("x' or '1'='1"), QStringLiteral("G1' or CreateGroup<>'"), QStringLiteral("'")}) {
        dm.SetContext(context(hostile, hostile, QStringLiteral("G")));
        search();
        EXPECT_EQ(listed(), QStringList()) << "group " << hostile.toStdString();
        dm.SetContext(context(hostile, hostile, QStringLiteral("U")));
        search();
        EXPECT_EQ(listed(), QStringList()) << "user " << hostile.toStdString();
    }
    EXPECT_EQ(testPresenter().count(), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(SearchDataTest, ExcludedCodesAreRemovedOncePerListing)
{
    // A catalogue may return one code on several rows: give the table no key.
    db.exec(QStringLiteral("drop table QEL_PRODUCT"));
    db.exec(QStringLiteral("create table QEL_PRODUCT (PRODUCTCODE varchar(20), CNAME varchar(128), HAPPENTIME timestamp, "
                           "PRODUCTCLASSCODE varchar(4), PLACECODE varchar(5), NODECODE varchar(2), MAPCODE varchar(20), CREATEGROUP varchar(20), "
                           "PLACEGROUP varchar(20), STATUS varchar(1), CREATEUSER varchar(20), PRODUCTOWNERGROUP varchar(5))"));
    add(QStringLiteral("K1"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 1);
    add(QStringLiteral("K2"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 2);
    add(QStringLiteral("D"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 3);
    add(QStringLiteral("D"), QStringLiteral("6"), QStringLiteral("G1"), QStringLiteral("u1"), 4);
    add(QStringLiteral("E"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 5);
    // Invisible with AllStatus false, and listed before the visible F.
    add(QStringLiteral("F"), QStringLiteral("1"), QStringLiteral("G1"), QStringLiteral("u1"), 6, QStringLiteral("甲"));
    add(QStringLiteral("F"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 7, QStringLiteral("乙"));
    add(QStringLiteral("X Y"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 8);

    const QStringList everything = {"D", "D", "E", "F", "K1", "K2", "X Y"};
    struct Case {
        const char *exclude;
        QStringList left;
    };
    const QList<Case> cases = {
        {"", everything},
        {"NOPE,ALSO-NOT", everything},
        {"K1", {"D", "D", "E", "F", "K2", "X Y"}},
        {"D", {"D", "E", "F", "K1", "K2", "X Y"}},
        {"D,D", {"E", "F", "K1", "K2", "X Y"}},
        {"D,D,D,E,E", {"F", "K1", "K2", "X Y"}},
        // Only among the rows the filter let through: the visible F goes.
        {"F", {"D", "D", "E", "K1", "K2", "X Y"}},
        {"\"X Y\",K2", {"D", "D", "E", "F", "K1"}},
    };
    for (const Case &c : cases) {
        dm.ExcludeProducts = QLatin1String(c.exclude);
        search();
        EXPECT_EQ(listed(), c.left) << "excluding " << c.exclude;
    }
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PRODUCT")), 8) << "removed in memory only";
    EXPECT_EQ(testPresenter().count(), 0);

    // Excluded codes stay out of later searches with other conditions.
    dm.ExcludeProducts = QStringLiteral("K2");
    dm.cdsCondition->Edit();
    dm.cdsCondition->FieldByName(QStringLiteral("BHappenTime")).SetAsDateTime(QDateTime(QDate::currentDate().addDays(2), QTime(0, 0)));
    dm.cdsCondition->Post();
    search();
    EXPECT_EQ(listed(), QStringList({"D", "D", "E", "F", "X Y"}));
}

TEST_F(SearchDataTest, RowsReadAsTextAndRowsReadAsBytesFollowTheSameRules)
{
    // Owners and codes in Chinese go the text road, ASCII ones the byte road;
    // one search mixes both, with trailing blanks in a status.
    add(QStringLiteral("A1"), QStringLiteral("5"), QStringLiteral("票务组"), QStringLiteral("张三"), 1, QStringLiteral("甲"));
    add(QStringLiteral("演2"), QStringLiteral("6"), QStringLiteral("票务组"), QStringLiteral("张三"), 2, QStringLiteral("乙"));
    add(QStringLiteral("A3"), QStringLiteral("3"), QStringLiteral("票务组"), QStringLiteral("张三"), 3, QStringLiteral("丙"));
    add(QStringLiteral("A4"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 4, QStringLiteral("丁"));
    add(QStringLiteral("演5"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 5, QStringLiteral("戊"));
    db.exec(QStringLiteral("update QEL_PRODUCT set STATUS = '5 ' where PRODUCTCODE = 'A4'"));

    struct Case {
        const char *group, *user, *kind;
        bool all;
        const char *excluded;
        QStringList want;
    };
    const QList<Case> cases = {
        {"票务组", "张三", "U", false, "", {"A1", "演2"}},
        {"票务组", "张三", "U", true, "", {"A1", "A3", "演2"}},
        {"票务组", "nobody", "G", true, "A3", {"A1", "演2"}},
        {"G1", "u1", "U", false, "", {"A4", "演5"}},
        {"G1", "u1", "U", false, "演5,A4", {}},
        {"x", "x", "A", false, "演2,A1", {"A4", "演5"}},
        {"x", "x", "A", true, "A3,NOPE,演9", {"A1", "A4", "演2", "演5"}},
    };
    for (const Case &c : cases) {
        dm.SetContext(context(QString::fromUtf8(c.group), QString::fromUtf8(c.user), QLatin1String(c.kind)));
        dm.AllStatus = c.all;
        dm.ExcludeProducts = QString::fromUtf8(c.excluded);
        search();
        EXPECT_EQ(listed(), c.want) << c.group << "/" << c.user << " kind " << c.kind << " all " << c.all << " excluding " << c.excluded;
    }
    EXPECT_EQ(testPresenter().count(), 0);
}

TEST_F(SearchDataTest, AListedCodeTakesTheRowShownFirstNotTheRowLoadedFirst)
{
    db.exec(QStringLiteral("drop table QEL_PRODUCT"));
    db.exec(QStringLiteral("create table QEL_PRODUCT (PRODUCTCODE varchar(20), CNAME varchar(128), HAPPENTIME timestamp, "
                           "PRODUCTCLASSCODE varchar(4), PLACECODE varchar(5), NODECODE varchar(2), MAPCODE varchar(20), CREATEGROUP varchar(20), "
                           "PLACEGROUP varchar(20), STATUS varchar(1), CREATEUSER varchar(20), PRODUCTOWNERGROUP varchar(5))"));
    // The statement gives them by time: 乙 (day 1) before 阿 (day 2); the list
    // shows them by name in pinyin: 阿 (a) before 乙 (yi).
    add(QStringLiteral("G"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 1, QStringLiteral("乙"));
    add(QStringLiteral("G"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 2, QStringLiteral("阿"));
    // Codes in other scripts, one of them needing quotes in comma text.
    add(QStringLiteral("演01"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 3, QStringLiteral("丙"));
    add(QStringLiteral("演 02"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 4, QStringLiteral("丁"));
    add(QStringLiteral("\"Q\""), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 5, QStringLiteral("戊"));

    const auto names = [&] {
        QStringList out;
        TQELClientDataSet *ds = dm.cdsProduct;
        const TField name = ds->FieldByName(QStringLiteral("CNAME"));
        for (ds->First(); !ds->Eof(); ds->Next())
            out << name.AsString();
        return out;
    };
    dm.ExcludeProducts = QString();
    search();
    ASSERT_EQ(names(), QStringList({"阿", "丙", "丁", "戊", "乙"})) << "shown in pinyin order";

    dm.ExcludeProducts = QStringLiteral("G");
    search();
    EXPECT_EQ(names(), QStringList({"丙", "丁", "戊", "乙"})) << "the G shown first goes";

    dm.ExcludeProducts = WriteCommaText({QStringLiteral("演 02"), QStringLiteral("\"Q\""), QStringLiteral("演01"), QStringLiteral("G")});
    search();
    EXPECT_EQ(names(), QStringList({"乙"}));
    EXPECT_EQ(testPresenter().count(), 0);
}

TEST_F(SearchDataTest, WeekdayColumnAndOrderByNameThenTime)
{
    // Seven consecutive days cover every weekday.
    for (int d = 1; d <= 7; ++d)
        add(QStringLiteral("W%1").arg(d), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), d, QStringLiteral("周%1").arg(d));
    search();
    const QHash<int, QString> names = {{Qt::Sunday, "星期天"},   {Qt::Monday, "星期一"}, {Qt::Tuesday, "星期二"}, {Qt::Wednesday, "星期三"},
                                       {Qt::Thursday, "星期四"}, {Qt::Friday, "星期五"}, {Qt::Saturday, "星期六"}};
    TQELClientDataSet *ds = dm.cdsProduct;
    int seen = 0;
    for (ds->First(); !ds->Eof(); ds->Next(), ++seen) {
        const QDate day = ds->FieldByName(QStringLiteral("HAPPENTIME")).AsDateTime().date();
        EXPECT_EQ(ds->FieldByName(QStringLiteral("WEEK")).AsString(), names.value(day.dayOfWeek())) << day.toString().toStdString();
    }
    EXPECT_EQ(seen, 7);
    // The look-up fields show the venue and class names once their lists are loaded.
    dm.GetPlaceBrief();
    dm.GetProductClassBrief();
    ds->First();
    EXPECT_EQ(ds->FieldByName(QStringLiteral("PlaceName")).AsString(), QStringLiteral("北京音乐厅"));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("PRODUCTCLASSNAME")).AsString(), QStringLiteral("音乐会"));

    // Pinyin order (an < bei < chang), unlike code-point order (北 < 安 < 长); equal names by time.
    db.exec(QStringLiteral("delete from QEL_PRODUCT"));
    add(QStringLiteral("N1"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 9, QStringLiteral("长城"));
    add(QStringLiteral("N2"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 5, QStringLiteral("北京"), QStringLiteral("20:00:00"));
    add(QStringLiteral("N3"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 5, QStringLiteral("北京"), QStringLiteral("14:30:00"));
    add(QStringLiteral("N4"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 1, QStringLiteral("北京"));
    add(QStringLiteral("N5"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 8, QStringLiteral("安徽"));
    search();
    EXPECT_EQ(listed(false), QStringList({"N5", "N4", "N3", "N2", "N1"}));
}

TEST_F(SearchDataTest, ResetAsksFirstAndOnlyAConfirmedResetChangesAnything)
{
    add(QStringLiteral("R1"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 100, QStringLiteral("远期"), QStringLiteral("19:30:00"), QStringLiteral("C02"));
    add(QStringLiteral("R2"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"), 10);
    // The first reset makes the one record: today .. today + 90, nothing else chosen.
    ASSERT_TRUE(dm.cdsCondition->Active());
    EXPECT_EQ(dm.cdsCondition->RecordCount(), 0);
    dm.ResetCondition(true);
    EXPECT_EQ(dm.cdsCondition->RecordCount(), 1);

    TQELClientDataSet *cond = dm.cdsCondition;
    cond->Edit();
    cond->FieldByName(QStringLiteral("EHappenTime")).SetAsDateTime(QDateTime(QDate::currentDate().addDays(200), QTime(0, 0)));
    for (const char *f : {"ProductClassCode", "PlaceCODE", "ProductName", "CITYCODE"})
        cond->FieldByName(QLatin1String(f)).SetAsString(QStringLiteral("x"));
    cond->FieldByName(QStringLiteral("ProductClassCode")).SetAsString(QStringLiteral("C02"));
    cond->FieldByName(QStringLiteral("ProductName")).SetAsString(QStringLiteral("远"));
    cond->FieldByName(QStringLiteral("PlaceCODE")).SetAsString(QStringLiteral("P01"));
    cond->FieldByName(QStringLiteral("CITYCODE")).SetAsString(QStringLiteral("010"));
    cond->FieldByName(QStringLiteral("StatusCode")).SetAsString(QStringLiteral("5"));
    // Left unposted, as a condition control leaves it: the search posts it.
    dm.actRetrieveExecute(nullptr);
    EXPECT_EQ(cond->State(), DataSetState::Browse);
    EXPECT_EQ(listed(), QStringList{QStringLiteral("R1")});

    dm.cdsPlaceBrief->SetFilter([](const TQELClientDataSet &, int) { return false; });
    dm.cdsPlaceBrief->SetFiltered(true);

    testPresenter().pushAnswer(mrNo);
    dm.actReset->trigger();
    ASSERT_EQ(testPresenter().count(MessageKind::Confirm), 1);
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("您确定要重新选择查询条件吗？"));
    EXPECT_EQ(testPresenter().last().caption, QStringLiteral("请确认"));
    EXPECT_TRUE(dm.cdsProduct->Active());
    EXPECT_EQ(listed(), QStringList{QStringLiteral("R1")});
    EXPECT_EQ(cond->FieldByName(QStringLiteral("ProductClassCode")).AsString(), QStringLiteral("C02"));
    EXPECT_TRUE(dm.cdsPlaceBrief->Filtered());

    testPresenter().pushAnswer(mrYes);
    dm.actReset->trigger();
    EXPECT_EQ(testPresenter().count(MessageKind::Confirm), 2);
    EXPECT_FALSE(dm.cdsProduct->Active()) << "the result list is emptied";
    EXPECT_EQ(cond->RecordCount(), 1);
    const QDate today = QDate::currentDate();
    EXPECT_EQ(cond->FieldByName(QStringLiteral("BHappenTime")).AsDateTime(), QDateTime(today, QTime(0, 0)));
    EXPECT_EQ(cond->FieldByName(QStringLiteral("EHappenTime")).AsDateTime(), QDateTime(today.addDays(90), QTime(0, 0)));
    for (const char *f : {"ProductClassCode", "PlaceCODE", "ProductName", "CITYCODE"})
        EXPECT_EQ(cond->FieldByName(QLatin1String(f)).AsString(), QString()) << f;
    EXPECT_EQ(cond->FieldByName(QStringLiteral("StatusCode")).AsString(), QStringLiteral("5")) << "the status code is kept";
    EXPECT_FALSE(dm.cdsPlaceBrief->Filtered());

    // The next search uses the reset conditions (R2 only: R1 lies beyond 90 days).
    dm.actRetrieve->trigger();
    EXPECT_EQ(listed(), QStringList{QStringLiteral("R2")});
}

TEST_F(SearchDataTest, CityListQuotesTheNodeCodeAndLookUpsLoadOnce)
{
    db.exec(QStringLiteral("insert into QEL_PLACE_CITY values ('0''', 'Q1', '引号城')"));
    StatementRecorder rec;
    const QString ctx = context(QStringLiteral("G1"), QStringLiteral("u1"), QStringLiteral("A"), QStringLiteral("0'"));
    dm.SetContext(ctx);
    dm.GetCityBrief();
    ASSERT_EQ(rec.count(), 1);
    EXPECT_EQ(rec.statements().at(0), QStringLiteral("Select NodeCode, CityCode, CName  from QEL_PLACE_CITY where NodeCode = '0'''"));
    EXPECT_EQ(rec.contexts().at(0), ctx);
    ASSERT_EQ(dm.cdsCityBrief->RecordCount(), 1);
    EXPECT_EQ(dm.cdsCityBrief->FieldByName(QStringLiteral("CNAME")).AsString(), QStringLiteral("引号城"));

    dm.SetContext(context(QStringLiteral("G1"), QStringLiteral("u1"), QStringLiteral("A"), QStringLiteral("01")));
    dm.GetCityBrief();
    EXPECT_EQ(dm.cdsCityBrief->RecordCount(), 2);

    rec.clear();
    dm.GetProductClassBrief();
    dm.GetPlaceBrief();
    dm.GetProductClassBrief();
    dm.GetPlaceBrief();
    EXPECT_EQ(rec.count(), 2) << "an open look-up list is not loaded again";
    EXPECT_EQ(dm.cdsProductClassBrief->RecordCount(), 2);
    EXPECT_EQ(dm.cdsPlaceBrief->RecordCount(), 2);
    // Sorted by name: 北京音乐厅 (bei) before 天津大剧院 (tian).
    dm.cdsPlaceBrief->First();
    EXPECT_EQ(dm.cdsPlaceBrief->FieldByName(QStringLiteral("PLACECODE")).AsString(), QStringLiteral("P01"));
}

TEST_F(SearchDataTest, FailedOrRefusedSearchKeepsTheListAndTheCursor)
{
    add(QStringLiteral("S1"), QStringLiteral("5"), QStringLiteral("G1"), QStringLiteral("u1"));
    add(QStringLiteral("S2"), QStringLiteral("6"), QStringLiteral("G1"), QStringLiteral("u1"));
    dm.ExcludeProducts = QStringLiteral("S2");
    search();
    ASSERT_EQ(listed(), QStringList{QStringLiteral("S1")});

    // The catalogue fails: the error goes to the host's handling, the list stays as it was.
    db.exec(QStringLiteral("drop table QEL_PRODUCT"));
    dm.actRetrieve->trigger();
    EXPECT_EQ(testPresenter().count(MessageKind::Error), 1);
    EXPECT_EQ(listed(), QStringList{QStringLiteral("S1")}) << "previous filter and exclusions kept";
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the hourglass is gone";

    // A range that ends before it begins is refused with a message; nothing is sent.
    StatementRecorder rec;
    dm.cdsCondition->Edit();
    dm.cdsCondition->FieldByName(QStringLiteral("BHappenTime")).SetAsDateTime(QDateTime(QDate::currentDate().addDays(5), QTime(0, 0)));
    dm.cdsCondition->FieldByName(QStringLiteral("EHappenTime")).SetAsDateTime(QDateTime(QDate::currentDate().addDays(4), QTime(0, 0)));
    dm.actRetrieve->trigger();
    EXPECT_EQ(testPresenter().count(MessageKind::Warning), 1);
    EXPECT_TRUE(testPresenter().last().text.contains(QStringLiteral("晚于"))) << testPresenter().last().text.toStdString();
    EXPECT_EQ(rec.count(), 0);
    EXPECT_EQ(listed(), QStringList{QStringLiteral("S1")});
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(SearchDataModule, OpensWithAnEmptyConditionRecordAndClearsItsOwnGlobalOnly)
{
    auto first = std::make_unique<TCDSearchProduct_pro>();
    EXPECT_TRUE(first->cdsCondition->Active());
    EXPECT_EQ(first->cdsCondition->RecordCount(), 0);
    for (TQELClientDataSet *ds : {first->cdsProduct, first->cdsPlaceBrief, first->cdsProductClassBrief, first->cdsCityBrief})
        EXPECT_FALSE(ds->Active()) << ds->objectName().toStdString();
    EXPECT_FALSE(first->AllStatus);
    EXPECT_EQ(first->actRetrieve->text(), QStringLiteral("查询"));
    EXPECT_EQ(first->actReset->text(), QStringLiteral("重置"));
    EXPECT_EQ(TCDSearchProduct_pro::WeekdayName(QDate(2024, 6, 2)), QStringLiteral("星期天"));
    EXPECT_EQ(TCDSearchProduct_pro::WeekdayName(QDate(2024, 6, 8)), QStringLiteral("星期六"));

    auto second = std::make_unique<TCDSearchProduct_pro>();
    CDSearchProduct_pro = second.get();
    first.reset();
    EXPECT_EQ(CDSearchProduct_pro.data(), second.get()) << "freeing another instance leaves the global alone";
    second->DataModuleDestroy(second.get());
    EXPECT_EQ(CDSearchProduct_pro.data(), nullptr);
}

} // namespace
