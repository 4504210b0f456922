// TCDProject: the statements it sends and what they do to a real database,
// on the engine QEL_DATABASE selects (SQLite file or PostgreSQL server).
#include "SqlText.h"
#include "Context.h"
#include "Database.h"
#include "Errors.h"
#include "HostError.h"
#include "Pipe.h"
#include "TestDb.h"
#include "uCDProject.h"
#include <QComboBox>
#include <QMap>
#include <QSet>
#include <functional>
#include <gtest/gtest.h>

namespace {

// A session context as the host hands it over: eight fields split by char 13.
const QString kCtx = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("票务组"), QStringLiteral("张三"), QStringLiteral("A"),
                                           QStringLiteral("e"), QStringLiteral("f"), QStringLiteral("g"), QStringLiteral("h")});

// The five fixed pieces of the limit list statement.
const QString kLimitList =
    QStringLiteral("Select a.id as projectid,b.MEMBER_CLASS_ID, a.cname,c.member_class_name,b.enable ") +
    QStringLiteral(",case when b.enable='1' then '是' when enable='0' then '否' end as enablename  ") +
    QStringLiteral(",b.max_num,b.limit_type,case when limit_type='1' then '会员类别' when limit_type='2' then '身份证' end as limitname   from QEL_Project  A ") +
    QStringLiteral("  join qel_project_member_limit B on B.pid=A.id ") +
    QStringLiteral("  left join um_member_class C on C.member_class_id=b.member_class_id ");

// Every table of the module's world, for "nothing was dropped" checks.
const QStringList kTables = {QStringLiteral("QEL_PROJECT"),    QStringLiteral("QEL_PROJECT_PRODUCT"), QStringLiteral("qel_project_member_limit"),
                             QStringLiteral("um_member_class"), QStringLiteral("QEL_PRODUCT"),         QStringLiteral("qel_place"),
                             QStringLiteral("QEL_PLACE_CITY"),  QStringLiteral("QEL_PRODUCT_CLASS")};

class CDProjectTest : public ::testing::Test {
protected:
    CDProjectTest() { cd.Context = kCtx; }

    int addProject(const QString &name, int discount = 0, int tickets = 0, int performances = 0)
    {
        db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) values (%1, %2, %3, %4)")
                    .arg(QuotedStr(name))
                    .arg(discount)
                    .arg(tickets)
                    .arg(performances));
        return projectId(name);
    }
    int projectId(const QString &name) { return db.count(QStringLiteral("select ID from QEL_PROJECT where CNAME = %1").arg(QuotedStr(name))); }
    int projects() { return db.count(QStringLiteral("select count(*) from QEL_PROJECT")); }
    void addMemberClass(const QString &id, const QString &name)
    {
        db.exec(QStringLiteral("insert into um_member_class values (%1, %2)").arg(QuotedStr(id), QuotedStr(name)));
    }
    // enable: a text, or "NULL" for a null cell. Fixture rows may break the
    // rules the database holds (mixed types, a missing project): as if left by
    // another program before the rules.
    void addLimit(int pid, const QString &memberClass, int maxNum, const QString &type, const QString &enable = QStringLiteral("'1'"))
    {
        db.execUnchecked(QStringLiteral("insert into qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) values (%1, %2, %3, %4, %5)")
                    .arg(pid)
                    .arg(QuotedStr(memberClass))
                    .arg(maxNum)
                    .arg(QuotedStr(type), enable));
    }
    void assign(int pid, const QString &code)
    {
        db.execUnchecked(QStringLiteral("insert into QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) values (%1, %2)").arg(pid).arg(QuotedStr(code)));
    }
    int limits(int pid) { return db.count(QStringLiteral("select count(*) from qel_project_member_limit where PID = %1").arg(pid)); }
    int assignments(int pid) { return db.count(QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT where PROJECTID = %1").arg(pid)); }
    // Every table still answers a query.
    void expectAllTablesPresent()
    {
        for (const QString &t : kTables)
            EXPECT_NO_THROW(db.query(QStringLiteral("select count(*) from ") + t)) << t.toStdString();
    }

    // Names in the project list, in list order.
    static QStringList names(TQELClientDataSet *ds, const char *field = "CName")
    {
        QStringList out;
        const TField f = ds->FieldByName(QString::fromLatin1(field));
        for (ds->First(); !ds->Eof(); ds->Next())
            out << f.AsString();
        return out;
    }
    static QSet<QString> nameSet(TQELClientDataSet *ds, const char *field = "CName")
    {
        const QStringList l = names(ds, field);
        return QSet<QString>(l.begin(), l.end());
    }

    TestDatabase db;
    TCDProject cd;
};

// ---- exact statements ---------------------------------------------------------

struct StatementCase {
    const char *label;
    std::function<void(TCDProject &)> run;
    QStringList expected;
};

void PrintTo(const StatementCase &c, std::ostream *os) { *os << c.label; }

class CDProjectStatements : public CDProjectTest, public ::testing::WithParamInterface<StatementCase> {};

TEST_P(CDProjectStatements, SendsExactlyTheseStatementsUnderTheModulesContext)
{
    // Project 3 exists, so the limit inserts for it are accepted.
    addProject(QStringLiteral("已有项目"));
    addProject(QStringLiteral("第二项目"));
    addProject(QStringLiteral("第三项目"));
    StatementRecorder rec;
    GetParam().run(cd);
    EXPECT_EQ(rec.statements(), GetParam().expected);
    EXPECT_EQ(rec.contexts(), QStringList(QList<QString>(GetParam().expected.size(), kCtx)));
}

const QString limitTail = QStringLiteral(" Values('3','M1','5','1')");

INSTANTIATE_TEST_SUITE_P(
    AllOperations, CDProjectStatements,
    ::testing::Values(
        StatementCase{"GetProject_all", [](TCDProject &m) { m.GetProject(QString()); }, {QStringLiteral("Select * from QEL_Project  A ")}},
        StatementCase{"GetProject_filter", [](TCDProject &m) { m.GetProject(QStringLiteral("abc")); },
                      {QStringLiteral("Select * from QEL_Project  A  WHERE CNAME like '%abc%'")}},
        StatementCase{"GetProject_blanks_untrimmed", [](TCDProject &m) { m.GetProject(QStringLiteral("  ")); },
                      {QStringLiteral("Select * from QEL_Project  A  WHERE CNAME like '%  %'")}},
        StatementCase{"GetProject_quote_doubled", [](TCDProject &m) { m.GetProject(QStringLiteral("a'b")); },
                      {QStringLiteral("Select * from QEL_Project  A  WHERE CNAME like '%a''b%'")}},
        StatementCase{"GetProject_wildcards_kept", [](TCDProject &m) { m.GetProject(QStringLiteral("1_0%")); },
                      {QStringLiteral("Select * from QEL_Project  A  WHERE CNAME like '%1_0%%'")}},
        StatementCase{"GetProject_backslash_literal", [](TCDProject &m) { m.GetProject(QStringLiteral("C:\\a'")); },
                      {QStringLiteral("Select * from QEL_Project  A  WHERE CNAME like '%C:\\\\a''%' ESCAPE '\\'")}},
        StatementCase{"InsertPro", [](TCDProject &m) { m.InsertPro(QStringLiteral("梁祝"), 85, 3, 2); },
                      {QStringLiteral("INSERT INTO QEL_Project(CName, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) Values('梁祝',85,3,2)")}},
        StatementCase{"InsertPro_quote_and_unchecked_numbers", [](TCDProject &m) { m.InsertPro(QStringLiteral("O'Neil's"), -1, 0, 150); },
                      {QStringLiteral("INSERT INTO QEL_Project(CName, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) Values('O''Neil''s',-1,0,150)")}},
        StatementCase{"EdtPro", [](TCDProject &m) { m.EdtPro(7, QStringLiteral("新'名"), 90, 4, 3); },
                      {QStringLiteral("Update QEL_Project Set CName = '新''名', CROSSDISCOUNT = 90, CROSTNUM = 4, CROSSPNUM = 3 where ID=7")}},
        StatementCase{"DelPro", [](TCDProject &m) { m.DelPro(12); },
                      {QStringLiteral("Delete From QEL_PROJECT where ID=12"), QStringLiteral("Delete From QEL_PROJECT_PRODUCT where projectID=12"),
                       QStringLiteral("Delete From qel_project_member_limit where pID=12")}},
        StatementCase{"DelPro_negative", [](TCDProject &m) { m.DelPro(-4); },
                      {QStringLiteral("Delete From QEL_PROJECT where ID=-4"), QStringLiteral("Delete From QEL_PROJECT_PRODUCT where projectID=-4"),
                       QStringLiteral("Delete From qel_project_member_limit where pID=-4")}},
        StatementCase{"ChkProName_new", [](TCDProject &m) { m.ChkProName(-1, QStringLiteral("x'y")); },
                      {QStringLiteral("Select 1 as vStatus FROM QEL_PROJECT WHERE ID <> -1 and CName='x''y'")}},
        StatementCase{"ChkProName_edit", [](TCDProject &m) { m.ChkProName(7, QStringLiteral(" 梁祝 ")); },
                      {QStringLiteral("Select 1 as vStatus FROM QEL_PROJECT WHERE ID <> 7 and CName=' 梁祝 '")}},
        StatementCase{"GetProjectmember_all", [](TCDProject &m) { m.GetProjectmember(QString()); }, {kLimitList}},
        StatementCase{"GetProjectmember_filter", [](TCDProject &m) { m.GetProjectmember(QStringLiteral("京")); },
                      {kLimitList + QStringLiteral(" WHERE CNAME like '%京%'")}},
        StatementCase{"GetProjectmember_quote_doubled", [](TCDProject &m) { m.GetProjectmember(QStringLiteral("'; drop table x; --")); },
                      {kLimitList + QStringLiteral(" WHERE CNAME like '%''; drop table x; --%'")}},
        StatementCase{"getpromemberinfo",
                      [](TCDProject &m) {
                          QComboBox a, b;
                          QStringList ia, ib;
                          m.getpromemberinfo(&a, &b, ia, ib);
                      },
                      {QStringLiteral("select * from qel_project "), QStringLiteral("select * from um_member_class ")}},
        StatementCase{"Insertmemberlimit",
                      [](TCDProject &m) { m.Insertmemberlimit(QStringLiteral("3"), QStringLiteral("M1"), QStringLiteral("5"), QStringLiteral("1")); },
                      {QStringLiteral("INSERT INTO qel_project_member_limit(PID,MEMBER_CLASS_ID,MAX_NUM,limit_type)") + limitTail}},
        StatementCase{"Insertmemberlimit_identity_card",
                      [](TCDProject &m) { m.Insertmemberlimit(QStringLiteral("3"), QString(), QStringLiteral("2"), QStringLiteral("2")); },
                      {QStringLiteral("INSERT INTO qel_project_member_limit(PID,MEMBER_CLASS_ID,MAX_NUM,limit_type) Values('3','','2','2')")}},
        StatementCase{"Insertmemberlimit_enable_on",
                      [](TCDProject &m) {
                          m.Insertmemberlimit(QStringLiteral("3"), QStringLiteral("M1"), QStringLiteral("5"), QStringLiteral("1"), QStringLiteral("1"));
                      },
                      {QStringLiteral("INSERT INTO qel_project_member_limit(PID,MEMBER_CLASS_ID,MAX_NUM,limit_type,enable) Values('3','M1','5','1','1')")}},
        StatementCase{"Insertmemberlimit_enable_off",
                      [](TCDProject &m) {
                          m.Insertmemberlimit(QStringLiteral("3"), QStringLiteral("M'1"), QStringLiteral("5"), QStringLiteral("1"), QStringLiteral("0"));
                      },
                      {QStringLiteral("INSERT INTO qel_project_member_limit(PID,MEMBER_CLASS_ID,MAX_NUM,limit_type,enable) Values('3','M''1','5','1','0')")}},
        StatementCase{"updatememberlimit_reorders_arguments",
                      [](TCDProject &m) {
                          m.updatememberlimit(QStringLiteral("3"), QStringLiteral("NEW"), QStringLiteral("OLD"), QStringLiteral("6"), QStringLiteral("2"),
                                              QStringLiteral("0"));
                      },
                      {QStringLiteral("update qel_project_member_limit set MEMBER_CLASS_ID='NEW',MAX_NUM='6',limit_type='2',enable='0' where pid='3' "
                                      "AND MEMBER_CLASS_ID='OLD'")}},
        // Values that look like placeholders must land verbatim, not be substituted again.
        StatementCase{"updatememberlimit_placeholder_like_values",
                      [](TCDProject &m) {
                          m.updatememberlimit(QStringLiteral("3"), QStringLiteral("%2"), QStringLiteral("%6'"), QStringLiteral("6"), QStringLiteral("1"),
                                              QStringLiteral("1"));
                      },
                      {QStringLiteral("update qel_project_member_limit set MEMBER_CLASS_ID='%2',MAX_NUM='6',limit_type='1',enable='1' where pid='3' "
                                      "AND MEMBER_CLASS_ID='%6'''")}},
        StatementCase{"Dellimit", [](TCDProject &m) { m.Dellimit(3, QStringLiteral("M1"), QStringLiteral("1")); },
                      {QStringLiteral("Delete From qel_project_member_limit where PID=3 and MEMBER_CLASS_ID='M1' and limit_type='1'")}},
        StatementCase{"Dellimit_identity_card", [](TCDProject &m) { m.Dellimit(3, QString(), QStringLiteral("2")); },
                      {QStringLiteral("Delete From qel_project_member_limit where PID=3 and MEMBER_CLASS_ID='' and limit_type='2'")}},
        StatementCase{"bhaveproxglx_1", [](TCDProject &m) { m.bhaveproxglx(QStringLiteral("3"), QStringLiteral("1")); },
                      {QStringLiteral("Select 1 as vStatus FROM qel_project_member_limit WHERE pid='3' and limit_type='2'")}},
        StatementCase{"bhaveproxglx_2", [](TCDProject &m) { m.bhaveproxglx(QStringLiteral("3"), QStringLiteral("2")); },
                      {QStringLiteral("Select 1 as vStatus FROM qel_project_member_limit WHERE pid='3' and limit_type='1'")}},
        StatementCase{"bhaveproxglx_empty", [](TCDProject &m) { m.bhaveproxglx(QStringLiteral("3"), QString()); },
                      {QStringLiteral("Select 1 as vStatus FROM qel_project_member_limit WHERE pid='3' and limit_type='1'")}},
        StatementCase{"bhavepromem_no_leave_out", [](TCDProject &m) { m.bhavepromem(QStringLiteral("3"), QStringLiteral("M1"), QString()); },
                      {QStringLiteral("Select 1 as vStatus FROM qel_project_member_limit WHERE pid='3' and MEMBER_CLASS_ID='M1'")}},
        StatementCase{"bhavepromem_leave_out",
                      [](TCDProject &m) { m.bhavepromem(QStringLiteral("3"), QStringLiteral("M1"), QStringLiteral("M'2")); },
                      {QStringLiteral("Select 1 as vStatus FROM qel_project_member_limit WHERE pid='3' and MEMBER_CLASS_ID='M1' and MEMBER_CLASS_ID<>'M''2'")}},
        StatementCase{"bhavepromemupdatexglx",
                      [](TCDProject &m) { m.bhavepromemupdatexglx(QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("1")); },
                      {QStringLiteral("Select limit_type FROM qel_project_member_limit WHERE pid='3' and limit_type='1'")}},
        StatementCase{"bhavepromemupdatexglx_type_1",
                      [](TCDProject &m) { m.bhavepromemupdatexglx(QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("1")); },
                      {QStringLiteral("Select limit_type FROM qel_project_member_limit WHERE pid='3' and limit_type='2'")}},
        // The stored member class condition is appended even when it is empty.
        StatementCase{"bhavepromemupdate_empty_stored",
                      [](TCDProject &m) { m.bhavepromemupdate(QStringLiteral("3"), QStringLiteral("M2"), QString()); },
                      {QStringLiteral("Select 1 as vStatus FROM qel_project_member_limit WHERE pid='3' and MEMBER_CLASS_ID='M2' and MEMBER_CLASS_ID<>''")}}),
    [](const ::testing::TestParamInfo<StatementCase> &paramInfo) { return std::string(paramInfo.param.label); });

TEST_F(CDProjectTest, ContextFollowsTheFieldAndIsPassedUnchanged)
{
    StatementRecorder rec;
    cd.GetProject(QString());
    const QString other = TQELContext::Compose({QStringLiteral("02"), QStringLiteral("组二"), QStringLiteral("李四"), QStringLiteral("G")});
    cd.Context = other;
    cd.bhaveproxglx(QStringLiteral("1"), QStringLiteral("1"));
    cd.DelPro(1);
    ASSERT_EQ(rec.count(), 5);
    EXPECT_EQ(rec.contexts().at(0), kCtx);
    for (int i = 1; i < 5; ++i)
        EXPECT_EQ(rec.contexts().at(i), other) << i;
}

// ---- project records --------------------------------------------------------

TEST_F(CDProjectTest, InsertProStoresOneRowWithValuesInColumnOrder)
{
    EXPECT_TRUE(cd.InsertPro(QStringLiteral("越剧《梁祝》"), 85, 3, 2));
    // Numbers go through unchanged; the range is the dialog's business.
    EXPECT_TRUE(cd.InsertPro(QStringLiteral("超范围"), 150, -1, 0));
    ASSERT_EQ(projects(), 2);
    const DataPacket p = db.query(QStringLiteral("select CROSSDISCOUNT, CROSTNUM, CROSSPNUM from QEL_PROJECT where CNAME = '越剧《梁祝》'"));
    ASSERT_EQ(p.rowCount(), 1);
    EXPECT_EQ(p.integer(0, 0), 85);
    EXPECT_EQ(p.integer(0, 1), 3);
    EXPECT_EQ(p.integer(0, 2), 2);
    const DataPacket q = db.query(QStringLiteral("select CROSSDISCOUNT, CROSTNUM, CROSSPNUM from QEL_PROJECT where CNAME = '超范围'"));
    ASSERT_EQ(q.rowCount(), 1);
    EXPECT_EQ(q.integer(0, 0), 150);
    EXPECT_EQ(q.integer(0, 1), -1);
    EXPECT_EQ(q.integer(0, 2), 0);
    EXPECT_NE(projectId(QStringLiteral("越剧《梁祝》")), projectId(QStringLiteral("超范围")));
}

TEST_F(CDProjectTest, GetProjectLoadsAllColumnsReadableInAnyCase)
{
    const int id = addProject(QStringLiteral("北京音乐节"), 80, 4, 2);
    addProject(QStringLiteral("上海戏剧节"));
    cd.GetProject(QString());
    ASSERT_EQ(cd.cdsProject->RecordCount(), 2);
    ASSERT_TRUE(cd.cdsProject->Locate(QStringLiteral("CNAME"), QStringLiteral("北京音乐节")));
    EXPECT_EQ(cd.cdsProject->FieldByName(QStringLiteral("ID")).AsInteger(), id);
    EXPECT_EQ(cd.cdsProject->FieldByName(QStringLiteral("CrossDiscount")).AsInteger(), 80);
    EXPECT_EQ(cd.cdsProject->FieldByName(QStringLiteral("CrosTNum")).AsInteger(), 4);
    EXPECT_EQ(cd.cdsProject->FieldByName(QStringLiteral("CrossPNum")).AsInteger(), 2);
    // The grid's model shows the same rows.
    EXPECT_EQ(cd.DSProject->rowCount(), 2);
    // Reloading replaces the content and puts the cursor on the first row.
    db.exec(QStringLiteral("delete from QEL_PROJECT where CNAME = '上海戏剧节'"));
    cd.GetProject(QString());
    EXPECT_EQ(cd.cdsProject->RecordCount(), 1);
    EXPECT_EQ(cd.cdsProject->RecNo(), 0);
    EXPECT_FALSE(cd.cdsProject->Eof());
}

TEST_F(CDProjectTest, GetProjectFilterActsAsLikePatternWithQuotesDoubled)
{
    const QStringList all = {QStringLiteral("北京音乐节"), QStringLiteral("上海音乐节"), QStringLiteral("a'b 专场"), QStringLiteral("100%纯爱"),
                             QStringLiteral("a_b"),        QStringLiteral("axb"),         QStringLiteral("x  y")};
    for (const QString &n : all)
        addProject(n);
    struct Row {
        QString filter;
        QStringList found;
    };
    const QList<Row> table = {
        {QString(), all},
        {QStringLiteral("音乐"), {QStringLiteral("北京音乐节"), QStringLiteral("上海音乐节")}},
        {QStringLiteral("a'b"), {QStringLiteral("a'b 专场")}},
        // % and _ stay wildcards.
        {QStringLiteral("%"), all},
        {QStringLiteral("a_b"), {QStringLiteral("a'b 专场"), QStringLiteral("a_b"), QStringLiteral("axb")}},
        {QStringLiteral("100%"), {QStringLiteral("100%纯爱")}},
        {QStringLiteral("0%爱"), {QStringLiteral("100%纯爱")}},
        // Blanks count, untrimmed.
        {QStringLiteral(" "), {QStringLiteral("a'b 专场"), QStringLiteral("x  y")}},
        {QStringLiteral("  "), {QStringLiteral("x  y")}},
        {QStringLiteral(" 北京"), {}},
        // A quote cannot end the literal and widen the search.
        {QStringLiteral("' or '1'='1"), {}},
        {QStringLiteral("北京' or CNAME like '%"), {}},
    };
    for (const Row &r : table) {
        SCOPED_TRACE(r.filter.toStdString());
        ASSERT_NO_THROW(cd.GetProject(r.filter));
        EXPECT_EQ(nameSet(cd.cdsProject), QSet<QString>(r.found.begin(), r.found.end()));
    }
}

TEST_F(CDProjectTest, InjectedFiltersChangeNoStructure)
{
    const int id = addProject(QStringLiteral("项目甲"));
    addLimit(id, QStringLiteral("M1"), 2, QStringLiteral("1"));
    const QStringList attacks = {QStringLiteral("'; drop table qel_project; --"), QStringLiteral("%'; delete from qel_project_member_limit; --"),
                                 QStringLiteral("x'); drop table um_member_class; --"), QStringLiteral("''"), QStringLiteral("'")};
    for (const QString &a : attacks) {
        SCOPED_TRACE(a.toStdString());
        EXPECT_NO_THROW(cd.GetProject(a));
        EXPECT_EQ(cd.cdsProject->RecordCount(), 0);
        EXPECT_NO_THROW(cd.GetProjectmember(a));
        EXPECT_EQ(cd.cdsprojectmember->RecordCount(), 0);
    }
    expectAllTablesPresent();
    EXPECT_EQ(projects(), 1);
    EXPECT_EQ(limits(id), 1);
}

TEST_F(CDProjectTest, FailedGetProjectKeepsThePreviousList)
{
    addProject(QStringLiteral("甲"));
    addProject(QStringLiteral("乙"));
    cd.GetProject(QString());
    ASSERT_EQ(cd.cdsProject->RecordCount(), 2);
    db.exec(QStringLiteral("ALTER TABLE QEL_PROJECT RENAME TO qel_project_away"));
    EXPECT_THROW(cd.GetProject(QString()), EHostError);
    db.exec(QStringLiteral("ALTER TABLE qel_project_away RENAME TO QEL_PROJECT"));
    EXPECT_EQ(nameSet(cd.cdsProject), (QSet<QString>{QStringLiteral("甲"), QStringLiteral("乙")}));
}

TEST_F(CDProjectTest, QuotedNamesAreStoredComparedAndFoundIntact)
{
    const QStringList tricky = {QStringLiteral("O'Neil"), QStringLiteral("''"), QStringLiteral("'开头"), QStringLiteral("结尾'"),
                                QStringLiteral("a''b"),   QStringLiteral("\\'x")};
    for (const QString &n : tricky) {
        SCOPED_TRACE(n.toStdString());
        ASSERT_TRUE(cd.InsertPro(n, 1, 2, 3));
        EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT where CNAME = %1").arg(QuotedStr(n))), 1);
        EXPECT_FALSE(cd.ChkProName(-1, n));
        EXPECT_TRUE(cd.ChkProName(projectId(n), n));
        cd.GetProject(QString());
        EXPECT_TRUE(cd.cdsProject->Locate(QStringLiteral("cname"), n));
    }
    EXPECT_EQ(projects(), tricky.size());
    // "a'b" and "a''b" are different names.
    EXPECT_TRUE(cd.ChkProName(-1, QStringLiteral("a'b")));

    const int id = projectId(QStringLiteral("O'Neil"));
    cd.EdtPro(id, QStringLiteral("O'Brien's"), 5, 6, 7);
    EXPECT_EQ(db.scalar(QStringLiteral("select CNAME from QEL_PROJECT where ID = %1").arg(id)), QStringLiteral("O'Brien's"));
}

TEST_F(CDProjectTest, ChkProNameTruthTable)
{
    const int a = addProject(QStringLiteral("梁祝"));
    const int b = addProject(QStringLiteral("Carmen"));
    struct Row {
        int id;
        QString name;
        bool free;
    };
    const QList<Row> table = {
        {-1, QStringLiteral("梁祝"), false},     // a new project: every existing one counts
        {-1, QStringLiteral("Carmen"), false},
        {-1, QStringLiteral("茶花女"), true},
        {a, QStringLiteral("梁祝"), true},       // the project may keep its own name
        {b, QStringLiteral("梁祝"), false},      // but not take another's
        {a, QStringLiteral("Carmen"), false},
        {a, QStringLiteral("梁祝 "), true},      // a trailing blank makes another name
        {-1, QStringLiteral(" 梁祝"), true},
        {-1, QStringLiteral("梁"), true},        // exact comparison, no pattern
        {-1, QStringLiteral("%"), true},
        {9999, QStringLiteral("梁祝"), false},
    };
    for (const Row &r : table)
        EXPECT_EQ(cd.ChkProName(r.id, r.name), r.free) << r.id << " " << r.name.toStdString();
}

TEST_F(CDProjectTest, EdtProChangesOnlyTheGivenProject)
{
    const int a = addProject(QStringLiteral("甲"), 10, 1, 1);
    const int b = addProject(QStringLiteral("乙"), 20, 2, 2);
    cd.EdtPro(a, QStringLiteral("甲改"), 95, 8, 6);
    const DataPacket p = db.query(QStringLiteral("select CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM from QEL_PROJECT where ID = %1").arg(a));
    ASSERT_EQ(p.rowCount(), 1);
    EXPECT_EQ(p.text(0, 0), QStringLiteral("甲改"));
    EXPECT_EQ(p.integer(0, 1), 95);
    EXPECT_EQ(p.integer(0, 2), 8);
    EXPECT_EQ(p.integer(0, 3), 6);
    EXPECT_EQ(db.scalar(QStringLiteral("select CNAME from QEL_PROJECT where ID = %1").arg(b)), QStringLiteral("乙"));
    EXPECT_EQ(db.count(QStringLiteral("select CROSSDISCOUNT from QEL_PROJECT where ID = %1").arg(b)), 20);
    // Editing a project that is gone does nothing and reports nothing.
    EXPECT_NO_THROW(cd.EdtPro(9999, QStringLiteral("幽灵"), 1, 1, 1));
    EXPECT_EQ(projects(), 2);
    EXPECT_EQ(projectId(QStringLiteral("幽灵")), 0);
}

TEST_F(CDProjectTest, DelProRemovesProjectAssignmentsAndLimitsOfThatProjectOnly)
{
    const int a = addProject(QStringLiteral("甲"));
    const int b = addProject(QStringLiteral("乙"));
    assign(a, QStringLiteral("P001"));
    assign(a, QStringLiteral("P002"));
    assign(b, QStringLiteral("P003"));
    addLimit(a, QStringLiteral("M1"), 2, QStringLiteral("1"));
    addLimit(a, QStringLiteral("M2"), 4, QStringLiteral("1"));
    addLimit(b, QStringLiteral("M1"), 6, QStringLiteral("1"));
    cd.GetProjectmember(QString());
    ASSERT_EQ(cd.cdsprojectmember->RecordCount(), 3);

    cd.DelPro(a);
    EXPECT_EQ(projectId(QStringLiteral("甲")), 0);
    EXPECT_EQ(assignments(a), 0);
    EXPECT_EQ(limits(a), 0);
    EXPECT_EQ(projectId(QStringLiteral("乙")), b);
    EXPECT_EQ(assignments(b), 1);
    EXPECT_EQ(limits(b), 1);
    EXPECT_FALSE(Database::connection()->inTransaction());
    // The limit list is not reloaded by the delete.
    EXPECT_EQ(cd.cdsprojectmember->RecordCount(), 3);
    cd.GetProjectmember(QString());
    EXPECT_EQ(cd.cdsprojectmember->RecordCount(), 1);
}

TEST_F(CDProjectTest, DelProOfMissingIdSendsAllThreeAndReportsNothing)
{
    const int a = addProject(QStringLiteral("甲"));
    assign(a, QStringLiteral("P001"));
    addLimit(a, QStringLiteral("M1"), 2, QStringLiteral("1"));
    StatementRecorder rec;
    EXPECT_NO_THROW(cd.DelPro(a + 100));
    EXPECT_EQ(rec.count(), 3);
    EXPECT_EQ(projects(), 1);
    EXPECT_EQ(assignments(a), 1);
    EXPECT_EQ(limits(a), 1);
    // Orphans of a project that is already gone are still cleaned up.
    assign(a + 100, QStringLiteral("P009"));
    addLimit(a + 100, QStringLiteral("M1"), 2, QStringLiteral("1"));
    EXPECT_NO_THROW(cd.DelPro(a + 100));
    EXPECT_EQ(assignments(a + 100), 0);
    EXPECT_EQ(limits(a + 100), 0);
}

TEST_F(CDProjectTest, DelProIsAllOrNothingWhenALaterStatementFails)
{
    const int a = addProject(QStringLiteral("甲"));
    assign(a, QStringLiteral("P001"));
    addLimit(a, QStringLiteral("M1"), 2, QStringLiteral("1"));
    // Make the third statement fail.
    db.exec(QStringLiteral("ALTER TABLE qel_project_member_limit RENAME TO qel_limit_away"));
    StatementRecorder rec;
    EXPECT_THROW(cd.DelPro(a), EHostError);
    EXPECT_EQ(rec.count(), 3);
    EXPECT_FALSE(Database::connection()->inTransaction());
    db.exec(QStringLiteral("ALTER TABLE qel_limit_away RENAME TO qel_project_member_limit"));
    EXPECT_EQ(projectId(QStringLiteral("甲")), a);
    EXPECT_EQ(assignments(a), 1);
    EXPECT_EQ(limits(a), 1);

    // Second statement failing: nothing sent after it, nothing kept of the first.
    db.exec(QStringLiteral("ALTER TABLE QEL_PROJECT_PRODUCT RENAME TO qel_pp_away"));
    rec.clear();
    EXPECT_THROW(cd.DelPro(a), EHostError);
    EXPECT_EQ(rec.count(), 2);
    db.exec(QStringLiteral("ALTER TABLE qel_pp_away RENAME TO QEL_PROJECT_PRODUCT"));
    EXPECT_EQ(projectId(QStringLiteral("甲")), a);
    EXPECT_EQ(assignments(a), 1);

    // With everything in place again the delete goes through on the same module.
    cd.DelPro(a);
    EXPECT_EQ(projects(), 0);
    EXPECT_EQ(assignments(a), 0);
    EXPECT_EQ(limits(a), 0);
}

TEST_F(CDProjectTest, DatabaseRefusesDuplicateNamesAndDuplicateLimits)
{
    ASSERT_TRUE(cd.InsertPro(QStringLiteral("梁祝"), 0, 0, 0));
    EXPECT_THROW(cd.InsertPro(QStringLiteral("梁祝"), 1, 1, 1), EHostError);
    const int a = projectId(QStringLiteral("梁祝"));
    EXPECT_THROW(cd.DBPipe->ExecSQL(kCtx, QStringLiteral("insert into QEL_PROJECT (CNAME) values ('梁祝')")), EHostError);
    EXPECT_EQ(projects(), 1);
    // Renaming onto another project's name is refused too.
    const int b = addProject(QStringLiteral("茶花女"));
    EXPECT_THROW(cd.EdtPro(b, QStringLiteral("梁祝"), 0, 0, 0), EHostError);
    EXPECT_EQ(db.scalar(QStringLiteral("select CNAME from QEL_PROJECT where ID = %1").arg(b)), QStringLiteral("茶花女"));

    const QString pid = QString::number(a);
    ASSERT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("2"), QStringLiteral("1")));
    EXPECT_THROW(cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("9"), QStringLiteral("1")), EHostError);
    EXPECT_THROW(cd.DBPipe->ExecSQL(kCtx, QStringLiteral("insert into qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type) "
                                                         "values (%1, 'M1', 3, '2')")
                                              .arg(a)),
                 EHostError);
    // One identity-card limit per project: its member class is the empty text.
    const int c = addProject(QStringLiteral("卡门"));
    const QString pc = QString::number(c);
    ASSERT_TRUE(cd.Insertmemberlimit(pc, QString(), QStringLiteral("2"), QStringLiteral("2")));
    EXPECT_THROW(cd.Insertmemberlimit(pc, QString(), QStringLiteral("4"), QStringLiteral("2")), EHostError);
    EXPECT_EQ(limits(a), 1);
    EXPECT_EQ(limits(c), 1);
    // The same member class in another project is fine.
    EXPECT_TRUE(cd.Insertmemberlimit(QString::number(b), QStringLiteral("M1"), QStringLiteral("2"), QStringLiteral("1")));
    // An update moving a limit onto a taken member class is refused.
    ASSERT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M2"), QStringLiteral("5"), QStringLiteral("1")));
    EXPECT_THROW(cd.updatememberlimit(pid, QStringLiteral("M1"), QStringLiteral("M2"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1")),
                 EHostError);
    EXPECT_EQ(db.count(QStringLiteral("select MAX_NUM from qel_project_member_limit where PID = %1 and MEMBER_CLASS_ID = 'M1'").arg(a)), 2);
}

TEST_F(CDProjectTest, TextOutsideGbkIsRefusedNamedAndNothingStored)
{
    const QString emoji = QStringLiteral("😀");
    StatementRecorder rec;
    const QString msg = thrownMessage([&] { cd.InsertPro(QStringLiteral("演唱会") + emoji, 1, 1, 1); });
    EXPECT_TRUE(msg.contains(emoji)) << msg.toStdString();
    EXPECT_EQ(rec.count(), 0);
    EXPECT_EQ(projects(), 0);
}

TEST_F(CDProjectTest, ARefusedTextDoesNotSpoilLaterStatements)
{
    const int a = addProject(QStringLiteral("原名"));
    cd.GetProject(QString());
    const QString emoji = QStringLiteral("😀");
    EXPECT_THROW(cd.EdtPro(a, emoji + QStringLiteral("新名"), 1, 1, 1), EHostError);
    EXPECT_THROW(cd.GetProject(emoji), EHostError);
    // The list loaded before keeps its content.
    EXPECT_EQ(names(cd.cdsProject), QStringList{QStringLiteral("原名")});
    const QString msg = thrownMessage([&] { cd.Insertmemberlimit(QString::number(a), QStringLiteral("会员") + emoji, QStringLiteral("1"), QStringLiteral("1")); });
    EXPECT_TRUE(msg.contains(emoji)) << msg.toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("select CNAME from QEL_PROJECT where ID = %1").arg(a)), QStringLiteral("原名"));
    EXPECT_EQ(limits(a), 0);
    // Ordinary Chinese text, under the same Chinese context, still goes through.
    EXPECT_NO_THROW(cd.EdtPro(a, QStringLiteral("新名"), 1, 1, 1));
    EXPECT_EQ(db.scalar(QStringLiteral("select CNAME from QEL_PROJECT where ID = %1").arg(a)), QStringLiteral("新名"));
    EXPECT_NO_THROW(EXPECT_TRUE(cd.InsertPro(QStringLiteral("越剧"), 0, 0, 0)));
    EXPECT_EQ(projects(), 2);
}

// ---- limit writes -------------------------------------------------------------

TEST_F(CDProjectTest, InsertmemberlimitWritesTextValuesAndEnableOnlyWhenGiven)
{
    const int a = addProject(QStringLiteral("甲"));
    const QString pid = QString::number(a);
    EXPECT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M1"), QStringLiteral("5"), QStringLiteral("1")));
    EXPECT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M2"), QStringLiteral("6"), QStringLiteral("1"), QStringLiteral("0")));
    EXPECT_TRUE(cd.Insertmemberlimit(pid, QStringLiteral("M3"), QStringLiteral("7"), QStringLiteral("1"), QStringLiteral("1")));
    // An identity-card limit goes to a project of its own: one type per project.
    const int b = addProject(QStringLiteral("乙"));
    EXPECT_TRUE(cd.Insertmemberlimit(QString::number(b), QString(), QStringLiteral("8"), QStringLiteral("2")));
    const DataPacket p = db.query(
        QStringLiteral("select MEMBER_CLASS_ID, MAX_NUM, limit_type, enable from qel_project_member_limit where PID in (%1, %2) order by MAX_NUM")
            .arg(a)
            .arg(b));
    ASSERT_EQ(p.rowCount(), 4);
    const QStringList classes = {QStringLiteral("M1"), QStringLiteral("M2"), QStringLiteral("M3"), QString()};
    const QStringList enables = {QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("1")}; // "1": the table's default
    const QStringList types = {QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("2")};
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(p.text(r, 0), classes[r]) << r;
        EXPECT_FALSE(p.isNull(r, 0)) << "empty member class is stored as empty text, not null";
        EXPECT_EQ(p.integer(r, 1), 5 + r) << r;
        EXPECT_EQ(p.text(r, 2), types[r]) << r;
        EXPECT_EQ(p.text(r, 3), enables[r]) << r;
    }
}

TEST_F(CDProjectTest, UpdatememberlimitFindsByProjectAndStoredClassAndMovesIt)
{
    const int a = addProject(QStringLiteral("甲"));
    const int b = addProject(QStringLiteral("乙"));
    addLimit(a, QStringLiteral("M1"), 2, QStringLiteral("1"));
    addLimit(b, QStringLiteral("M1"), 3, QStringLiteral("1"));
    const QString pa = QString::number(a);
    // New class, quantity, type and enable in one step; argument order differs from the statement's.
    EXPECT_TRUE(cd.updatememberlimit(pa, QStringLiteral("M9"), QStringLiteral("M1"), QStringLiteral("7"), QStringLiteral("2"), QStringLiteral("0")));
    DataPacket p = db.query(QStringLiteral("select MEMBER_CLASS_ID, MAX_NUM, limit_type, enable from qel_project_member_limit where PID = %1").arg(a));
    ASSERT_EQ(p.rowCount(), 1);
    EXPECT_EQ(p.text(0, 0), QStringLiteral("M9"));
    EXPECT_EQ(p.integer(0, 1), 7);
    EXPECT_EQ(p.text(0, 2), QStringLiteral("2"));
    EXPECT_EQ(p.text(0, 3), QStringLiteral("0"));
    // The other project's limit with the same class is untouched.
    p = db.query(QStringLiteral("select MEMBER_CLASS_ID, MAX_NUM, enable from qel_project_member_limit where PID = %1").arg(b));
    ASSERT_EQ(p.rowCount(), 1);
    EXPECT_EQ(p.text(0, 0), QStringLiteral("M1"));
    EXPECT_EQ(p.integer(0, 1), 3);
    EXPECT_EQ(p.text(0, 2), QStringLiteral("1"));

    // No row with that stored class: false, nothing changed.
    EXPECT_FALSE(cd.updatememberlimit(pa, QStringLiteral("M5"), QStringLiteral("M1"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1")));
    EXPECT_EQ(db.scalar(QStringLiteral("select MEMBER_CLASS_ID from qel_project_member_limit where PID = %1").arg(a)), QStringLiteral("M9"));

    // An identity-card limit is found by its empty class, and can become a class limit.
    EXPECT_TRUE(cd.updatememberlimit(pa, QString(), QStringLiteral("M9"), QStringLiteral("4"), QStringLiteral("2"), QStringLiteral("1")));
    EXPECT_TRUE(cd.updatememberlimit(pa, QStringLiteral("M3"), QString(), QStringLiteral("4"), QStringLiteral("1"), QStringLiteral("1")));
    EXPECT_EQ(db.scalar(QStringLiteral("select MEMBER_CLASS_ID from qel_project_member_limit where PID = %1").arg(a)), QStringLiteral("M3"));
    EXPECT_EQ(limits(a), 1);
}

TEST_F(CDProjectTest, DellimitNeedsProjectClassAndTypeToMatch)
{
    const int a = addProject(QStringLiteral("甲"));
    const int b = addProject(QStringLiteral("乙"));
    addLimit(a, QStringLiteral("M1"), 2, QStringLiteral("1"));
    addLimit(a, QStringLiteral("M2"), 2, QStringLiteral("1"));
    addLimit(b, QString(), 2, QStringLiteral("2"));
    addLimit(b, QStringLiteral("M1"), 2, QStringLiteral("1"));
    struct Row {
        int pid;
        QString cls, type;
        int leftA, leftB;
    };
    const QList<Row> table = {
        {a, QStringLiteral("M1"), QStringLiteral("2"), 2, 2}, // stored type differs: kept
        {a, QString(), QStringLiteral("2"), 2, 2},            // project a has no identity-card limit
        {b + 100, QStringLiteral("M1"), QStringLiteral("1"), 2, 2},
        {a, QStringLiteral("M1"), QStringLiteral("1"), 1, 2},
        {b, QString(), QStringLiteral("2"), 1, 1}, // identity card: two single quotes
        {b, QStringLiteral("M1"), QStringLiteral("1"), 1, 0},
    };
    for (const Row &r : table) {
        EXPECT_NO_THROW(cd.Dellimit(r.pid, r.cls, r.type));
        EXPECT_EQ(limits(a), r.leftA) << r.pid << r.cls.toStdString() << r.type.toStdString();
        EXPECT_EQ(limits(b), r.leftB) << r.pid << r.cls.toStdString() << r.type.toStdString();
    }
    EXPECT_EQ(db.scalar(QStringLiteral("select MEMBER_CLASS_ID from qel_project_member_limit where PID = %1").arg(a)), QStringLiteral("M2"));
}

// ---- conflict checks ------------------------------------------------------------

enum class Check { OtherTypeNew, SameClassNew, OtherTypeEdit, SameClassEdit };

struct CheckCase {
    Check check;
    const char *project; // key of the prepared projects
    QString a, b;        // the arguments after the project ID
    bool conflict;
    const char *why;
};

void PrintTo(const CheckCase &c, std::ostream *os)
{
    *os << c.project << "(" << c.a.toStdString() << "," << c.b.toStdString() << ") " << c.why;
}

class CDProjectChecks : public CDProjectTest, public ::testing::WithParamInterface<CheckCase> {
protected:
    void SetUp() override
    {
        // Prepared limit rows, one project per situation.
        const int twoOfType1 = addProject(QStringLiteral("二会员"));
        addLimit(twoOfType1, QStringLiteral("M1"), 2, QStringLiteral("1"));
        addLimit(twoOfType1, QStringLiteral("M2"), 2, QStringLiteral("1"));
        const int oneOfType1 = addProject(QStringLiteral("一会员"));
        addLimit(oneOfType1, QStringLiteral("M1"), 2, QStringLiteral("1"));
        const int card = addProject(QStringLiteral("身份证"));
        addLimit(card, QString(), 2, QStringLiteral("2"));
        // Both types and an identity-card limit: a project that already breaks the rules.
        const int mixed = addProject(QStringLiteral("混合"));
        addLimit(mixed, QStringLiteral("M1"), 2, QStringLiteral("1"));
        addLimit(mixed, QString(), 2, QStringLiteral("2"));
        const int none = addProject(QStringLiteral("无限购"));
        ids = {{"two1", twoOfType1}, {"one1", oneOfType1}, {"card", card}, {"mixed", mixed}, {"none", none}, {"gone", none + 100}};
    }
    QMap<QString, int> ids;
};

TEST_P(CDProjectChecks, AnswersAsTheTruthTableSays)
{
    const CheckCase &c = GetParam();
    ASSERT_TRUE(ids.contains(QString::fromLatin1(c.project)));
    const QString pid = QString::number(ids.value(QString::fromLatin1(c.project)));
    const int before = db.count(QStringLiteral("select count(*) from qel_project_member_limit"));
    bool got = !c.conflict;
    switch (c.check) {
    case Check::OtherTypeNew: got = cd.bhaveproxglx(pid, c.a); break;
    case Check::SameClassNew: got = cd.bhavepromem(pid, c.a, c.b); break;
    case Check::OtherTypeEdit: got = cd.bhavepromemupdatexglx(pid, c.a, c.b); break;
    case Check::SameClassEdit: got = cd.bhavepromemupdate(pid, c.a, c.b); break;
    }
    EXPECT_EQ(got, c.conflict) << c.why;
    // A check only reads.
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from qel_project_member_limit")), before);
}

INSTANTIATE_TEST_SUITE_P(
    OtherTypeNew, CDProjectChecks,
    ::testing::Values(CheckCase{Check::OtherTypeNew, "two1", QStringLiteral("1"), {}, false, "same type only"},
                      CheckCase{Check::OtherTypeNew, "two1", QStringLiteral("2"), {}, true, "type 1 already there"},
                      CheckCase{Check::OtherTypeNew, "two1", QString(), {}, true, "empty type looks for type 1"},
                      CheckCase{Check::OtherTypeNew, "two1", QStringLiteral("x"), {}, true, "unknown type looks for type 1"},
                      CheckCase{Check::OtherTypeNew, "card", QStringLiteral("1"), {}, true, "type 2 already there"},
                      CheckCase{Check::OtherTypeNew, "card", QStringLiteral("2"), {}, false, "same type only"},
                      CheckCase{Check::OtherTypeNew, "card", QString(), {}, false, "empty type looks for type 1"},
                      CheckCase{Check::OtherTypeNew, "card", QStringLiteral("x"), {}, false, "unknown type looks for type 1"},
                      CheckCase{Check::OtherTypeNew, "mixed", QStringLiteral("1"), {}, true, "mixed project"},
                      CheckCase{Check::OtherTypeNew, "mixed", QStringLiteral("2"), {}, true, "mixed project"},
                      CheckCase{Check::OtherTypeNew, "none", QStringLiteral("1"), {}, false, "no limits"},
                      CheckCase{Check::OtherTypeNew, "none", QStringLiteral("2"), {}, false, "no limits"},
                      CheckCase{Check::OtherTypeNew, "gone", QStringLiteral("2"), {}, false, "no such project"}));

INSTANTIATE_TEST_SUITE_P(
    SameClassNew, CDProjectChecks,
    ::testing::Values(CheckCase{Check::SameClassNew, "two1", QStringLiteral("M1"), QString(), true, "class taken"},
                      CheckCase{Check::SameClassNew, "two1", QStringLiteral("M3"), QString(), false, "class free"},
                      CheckCase{Check::SameClassNew, "one1", QStringLiteral("M2"), QString(), false, "taken in another project only"},
                      CheckCase{Check::SameClassNew, "card", QString(), QString(), true, "identity-card limit exists"},
                      CheckCase{Check::SameClassNew, "two1", QString(), QString(), false, "no identity-card limit"},
                      CheckCase{Check::SameClassNew, "mixed", QString(), QString(), true, "identity-card limit exists"},
                      CheckCase{Check::SameClassNew, "two1", QStringLiteral("M1"), QStringLiteral("M1"), false, "left out"},
                      CheckCase{Check::SameClassNew, "two1", QStringLiteral("M1"), QStringLiteral("M2"), true, "another left out"},
                      CheckCase{Check::SameClassNew, "card", QString(), QStringLiteral("M1"), true, "leave-out of another class"},
                      CheckCase{Check::SameClassNew, "two1", QStringLiteral("m1"), QString(), false, "exact class comparison"},
                      CheckCase{Check::SameClassNew, "none", QStringLiteral("M1"), QString(), false, "no limits"}));

INSTANTIATE_TEST_SUITE_P(
    OtherTypeEdit, CDProjectChecks,
    ::testing::Values(
        CheckCase{Check::OtherTypeEdit, "one1", QStringLiteral("2"), QStringLiteral("1"), false, "changing the only limit's type"},
        CheckCase{Check::OtherTypeEdit, "two1", QStringLiteral("2"), QStringLiteral("1"), true, "changing one of two"},
        CheckCase{Check::OtherTypeEdit, "two1", QStringLiteral("1"), QStringLiteral("1"), false, "keeping type in a single-type project"},
        CheckCase{Check::OtherTypeEdit, "card", QStringLiteral("2"), QStringLiteral("2"), false, "keeping type 2"},
        CheckCase{Check::OtherTypeEdit, "card", QStringLiteral("1"), QStringLiteral("2"), false, "changing the only card limit"},
        CheckCase{Check::OtherTypeEdit, "mixed", QStringLiteral("1"), QStringLiteral("1"), true, "keeping type while mixed"},
        CheckCase{Check::OtherTypeEdit, "mixed", QStringLiteral("2"), QStringLiteral("2"), true, "keeping type while mixed"},
        CheckCase{Check::OtherTypeEdit, "mixed", QStringLiteral("2"), QStringLiteral("1"), false, "moving the only type-1 limit"},
        CheckCase{Check::OtherTypeEdit, "mixed", QStringLiteral("1"), QStringLiteral("2"), false, "moving the only type-2 limit"},
        CheckCase{Check::OtherTypeEdit, "one1", QString(), QStringLiteral("1"), false, "empty type counts as not 1"},
        CheckCase{Check::OtherTypeEdit, "two1", QString(), QStringLiteral("1"), true, "empty type counts as not 1"},
        CheckCase{Check::OtherTypeEdit, "two1", QStringLiteral("x"), QStringLiteral("x"), true, "unknown type counts as not 1"},
        CheckCase{Check::OtherTypeEdit, "one1", QStringLiteral("2"), QStringLiteral("2"), true, "one row of another stored type"},
        CheckCase{Check::OtherTypeEdit, "none", QStringLiteral("2"), QStringLiteral("1"), false, "no limits"}));

INSTANTIATE_TEST_SUITE_P(
    SameClassEdit, CDProjectChecks,
    ::testing::Values(CheckCase{Check::SameClassEdit, "two1", QStringLiteral("M1"), QStringLiteral("M1"), false, "unchanged class"},
                      CheckCase{Check::SameClassEdit, "card", QString(), QString(), false, "unchanged empty class"},
                      CheckCase{Check::SameClassEdit, "mixed", QStringLiteral("M1"), QStringLiteral("M1"), false, "unchanged class"},
                      CheckCase{Check::SameClassEdit, "two1", QStringLiteral("M2"), QStringLiteral("M1"), true, "moving onto a taken class"},
                      CheckCase{Check::SameClassEdit, "two1", QStringLiteral("M3"), QStringLiteral("M1"), false, "moving onto a free class"},
                      CheckCase{Check::SameClassEdit, "one1", QStringLiteral("M2"), QStringLiteral("M1"), false, "taken in another project only"},
                      CheckCase{Check::SameClassEdit, "mixed", QString(), QStringLiteral("M1"), true, "card limit already there"},
                      CheckCase{Check::SameClassEdit, "mixed", QStringLiteral("M1"), QString(), true, "class limit already there"},
                      CheckCase{Check::SameClassEdit, "card", QStringLiteral("M1"), QString(), false, "class free"},
                      CheckCase{Check::SameClassEdit, "two1", QString(), QStringLiteral("M1"), false, "no card limit"}));

// ---- limit list ------------------------------------------------------------------

TEST_F(CDProjectTest, LimitListColumnsJoinsAndMappings)
{
    addMemberClass(QStringLiteral("M1"), QStringLiteral("金卡会员"));
    addMemberClass(QStringLiteral("M2"), QStringLiteral("银卡会员"));
    const int a = addProject(QStringLiteral("北京音乐节"));
    const int b = addProject(QStringLiteral("上海戏剧节"));
    const int gone = addProject(QStringLiteral("已删除"));
    addLimit(a, QStringLiteral("M1"), 2, QStringLiteral("1"), QStringLiteral("'1'"));
    addLimit(a, QStringLiteral("M2"), 3, QStringLiteral("1"), QStringLiteral("'0'"));
    addLimit(a, QStringLiteral("GONE"), 4, QStringLiteral("1"), QStringLiteral("'x'"));
    addLimit(a, QStringLiteral("M9"), 5, QStringLiteral("x"), QStringLiteral("NULL"));
    addLimit(b, QString(), 6, QStringLiteral("2"), QStringLiteral("'1'"));
    addLimit(gone, QStringLiteral("M1"), 7, QStringLiteral("1"));
    addLimit(gone + 50, QStringLiteral("M1"), 8, QStringLiteral("1")); // never had a project
    db.exec(QStringLiteral("delete from QEL_PROJECT where ID = %1").arg(gone));

    cd.GetProjectmember(QString());
    TQELClientDataSet *ds = cd.cdsprojectmember;
    const QStringList columns = {QStringLiteral("projectid"), QStringLiteral("member_class_id"), QStringLiteral("cname"),
                                 QStringLiteral("member_class_name"), QStringLiteral("enable"), QStringLiteral("enablename"),
                                 QStringLiteral("max_num"), QStringLiteral("limit_type"), QStringLiteral("limitname")};
    ASSERT_EQ(ds->FieldCount(), columns.size());
    for (int i = 0; i < columns.size(); ++i)
        EXPECT_EQ(ds->FieldDefAt(i).name.toLower(), columns[i]) << i;
    ASSERT_EQ(ds->RecordCount(), 5) << "limits of deleted projects are not listed";
    EXPECT_EQ(ds->RecNo(), 0);

    struct Expect {
        int project;
        QString cname;
        QString className; // null: "<null>"
        QString enable, enableName;
        QString type, typeName;
    };
    const QString null = QStringLiteral("<null>");
    const QMap<int, Expect> byMax = {
        {2, {a, QStringLiteral("北京音乐节"), QStringLiteral("金卡会员"), QStringLiteral("1"), QStringLiteral("是"), QStringLiteral("1"), QStringLiteral("会员类别")}},
        {3, {a, QStringLiteral("北京音乐节"), QStringLiteral("银卡会员"), QStringLiteral("0"), QStringLiteral("否"), QStringLiteral("1"), QStringLiteral("会员类别")}},
        {4, {a, QStringLiteral("北京音乐节"), null, QStringLiteral("x"), null, QStringLiteral("1"), QStringLiteral("会员类别")}},
        {5, {a, QStringLiteral("北京音乐节"), null, null, null, QStringLiteral("x"), null}},
        {6, {b, QStringLiteral("上海戏剧节"), null, QStringLiteral("1"), QStringLiteral("是"), QStringLiteral("2"), QStringLiteral("身份证")}},
    };
    const auto cell = [&](const char *f) {
        const TField fld = ds->FieldByName(QString::fromLatin1(f));
        return fld.IsNull() ? null : fld.AsString();
    };
    QSet<int> seen;
    for (ds->First(); !ds->Eof(); ds->Next()) {
        const int max = int(ds->FieldByName(QStringLiteral("max_num")).AsInteger());
        ASSERT_TRUE(byMax.contains(max)) << max;
        seen << max;
        const Expect &e = byMax[max];
        SCOPED_TRACE(max);
        EXPECT_EQ(ds->FieldByName(QStringLiteral("projectid")).AsInteger(), e.project);
        EXPECT_EQ(cell("cname"), e.cname);
        EXPECT_EQ(cell("member_class_name"), e.className);
        EXPECT_EQ(cell("enable"), e.enable);
        EXPECT_EQ(cell("enablename"), e.enableName);
        EXPECT_EQ(cell("limit_type"), e.type);
        EXPECT_EQ(cell("limitname"), e.typeName);
    }
    EXPECT_EQ(seen.size(), 5);
    // The identity-card limit carries the empty class, not null.
    ASSERT_TRUE(ds->Locate(QStringLiteral("max_num"), 6));
    EXPECT_FALSE(ds->FieldByName(QStringLiteral("MEMBER_CLASS_ID")).IsNull());
    EXPECT_EQ(ds->FieldByName(QStringLiteral("MEMBER_CLASS_ID")).AsString(), QString());
    EXPECT_EQ(cd.dsprojectmember->rowCount(), 5);
}

TEST_F(CDProjectTest, LimitListFilter)
{
    const QStringList names = {QStringLiteral("北京音乐节"), QStringLiteral("北京  戏剧"), QStringLiteral("a'b 专场"), QStringLiteral("50%折扣"),
                               QStringLiteral("无限购项目")};
    for (int i = 0; i < names.size(); ++i) {
        const int id = addProject(names[i]);
        if (i < 4)
            addLimit(id, QStringLiteral("M1"), 2, QStringLiteral("1"));
    }
    struct Row {
        QString filter;
        QStringList found;
    };
    const QList<Row> table = {
        {QString(), names.mid(0, 4)},
        {QStringLiteral("北京"), {QStringLiteral("北京音乐节"), QStringLiteral("北京  戏剧")}},
        {QStringLiteral(" "), {QStringLiteral("北京  戏剧"), QStringLiteral("a'b 专场")}},
        {QStringLiteral("  "), {QStringLiteral("北京  戏剧")}},
        {QStringLiteral("   "), {}},
        {QStringLiteral("a'b"), {QStringLiteral("a'b 专场")}},
        {QStringLiteral("%"), names.mid(0, 4)},
        {QStringLiteral("北京_"), {QStringLiteral("北京音乐节"), QStringLiteral("北京  戏剧")}},
        {QStringLiteral("0%折"), {QStringLiteral("50%折扣")}},
        {QStringLiteral("无限购"), {}},
        {QStringLiteral("' or '1'='1"), {}},
    };
    for (const Row &r : table) {
        SCOPED_TRACE(r.filter.toStdString());
        ASSERT_NO_THROW(cd.GetProjectmember(r.filter));
        EXPECT_EQ(nameSet(cd.cdsprojectmember, "cname"), QSet<QString>(r.found.begin(), r.found.end()));
    }
}

// ---- pick lists ----------------------------------------------------------------

TEST_F(CDProjectTest, PickListsPairByPositionAndAppendToTheGivenLists)
{
    for (const QString &n : {QStringLiteral("丙"), QStringLiteral("甲"), QStringLiteral("乙")})
        addProject(n);
    db.exec(QStringLiteral("delete from QEL_PROJECT where CNAME = '甲'"));
    addProject(QStringLiteral("丁"));
    addMemberClass(QStringLiteral("M2"), QStringLiteral("银卡"));
    addMemberClass(QStringLiteral("M1"), QStringLiteral("金卡"));
    addMemberClass(QStringLiteral("M3"), QStringLiteral("普通"));

    QComboBox projects, classes;
    projects.addItem(QStringLiteral("旧项"));
    classes.addItem(QStringLiteral("旧项"));
    QStringList projectIds = {QStringLiteral("keep")}, classIds;
    cd.getpromemberinfo(&projects, &classes, projectIds, classIds);

    // Server order: the same statement on another connection.
    const DataPacket p = db.query(QStringLiteral("select * from qel_project "));
    const DataPacket m = db.query(QStringLiteral("select * from um_member_class "));
    ASSERT_EQ(projects.count(), p.rowCount());
    ASSERT_EQ(projectIds.size(), 1 + p.rowCount());
    EXPECT_EQ(projectIds.first(), QStringLiteral("keep"));
    for (int i = 0; i < p.rowCount(); ++i) {
        EXPECT_EQ(projects.itemText(i), p.text(i, p.columnIndex(QStringLiteral("cname"))));
        EXPECT_EQ(projectIds[i + 1], p.text(i, p.columnIndex(QStringLiteral("id"))));
        // Entry i of the list is the ID of item i.
        EXPECT_EQ(projectId(projects.itemText(i)), projectIds[i + 1].toInt());
    }
    ASSERT_EQ(classes.count(), 3);
    ASSERT_EQ(classIds.size(), 3);
    const QMap<QString, QString> nameOf = {{QStringLiteral("M1"), QStringLiteral("金卡")},
                                           {QStringLiteral("M2"), QStringLiteral("银卡")},
                                           {QStringLiteral("M3"), QStringLiteral("普通")}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(classIds[i], m.text(i, m.columnIndex(QStringLiteral("member_class_id"))));
        EXPECT_EQ(classes.itemText(i), nameOf.value(classIds[i])) << i;
    }
    // The scratch dataset is left holding the member classes.
    EXPECT_EQ(cd.cdstmp->RecordCount(), 3);
    EXPECT_GE(cd.cdstmp->FieldIndex(QStringLiteral("MEMBER_CLASS_NAME")), 0);

    // A second call with the same lists: combos replaced, lists grown.
    cd.getpromemberinfo(&projects, &classes, projectIds, classIds);
    EXPECT_EQ(projects.count(), 3);
    EXPECT_EQ(classes.count(), 3);
    EXPECT_EQ(projectIds.size(), 1 + 3 + 3);
    EXPECT_EQ(classIds.size(), 6);
    EXPECT_EQ(classIds.mid(3), classIds.mid(0, 3));
}

TEST_F(CDProjectTest, PickListsOverEmptyTablesLeaveListsAsTheyWere)
{
    QComboBox projects, classes;
    projects.addItem(QStringLiteral("旧项"));
    classes.addItem(QStringLiteral("旧项"));
    QStringList projectIds = {QStringLiteral("1")}, classIds = {QStringLiteral("M1")};
    cd.getpromemberinfo(&projects, &classes, projectIds, classIds);
    EXPECT_EQ(projects.count(), 0);
    EXPECT_EQ(classes.count(), 0);
    EXPECT_EQ(projectIds, QStringList{QStringLiteral("1")});
    EXPECT_EQ(classIds, QStringList{QStringLiteral("M1")});
}

// The calling order of the limit window, end to end on the database.
TEST_F(CDProjectTest, LimitWindowSequenceKeepsTheRules)
{
    const int a = addProject(QStringLiteral("甲"));
    const QString pid = QString::number(a);
    addMemberClass(QStringLiteral("M1"), QStringLiteral("金卡"));
    addMemberClass(QStringLiteral("M2"), QStringLiteral("银卡"));
    const auto tryInsert = [&](const QString &cls, const QString &type) {
        if (cd.bhaveproxglx(pid, type) || cd.bhavepromem(pid, cls, QString()))
            return false;
        return cd.Insertmemberlimit(pid, cls, QStringLiteral("2"), type);
    };
    EXPECT_TRUE(tryInsert(QStringLiteral("M1"), QStringLiteral("1")));
    EXPECT_FALSE(tryInsert(QStringLiteral("M1"), QStringLiteral("1")));
    EXPECT_FALSE(tryInsert(QString(), QStringLiteral("2")));
    EXPECT_TRUE(tryInsert(QStringLiteral("M2"), QStringLiteral("1")));
    EXPECT_EQ(limits(a), 2);
    // Edit M2 to an identity card: refused, another type-1 limit stays.
    EXPECT_TRUE(cd.bhavepromemupdatexglx(pid, QStringLiteral("2"), QStringLiteral("1")));
    cd.Dellimit(a, QStringLiteral("M1"), QStringLiteral("1"));
    // Now M2 is alone and may become the identity-card limit.
    ASSERT_FALSE(cd.bhavepromemupdatexglx(pid, QStringLiteral("2"), QStringLiteral("1")));
    ASSERT_FALSE(cd.bhavepromemupdate(pid, QString(), QStringLiteral("M2")));
    EXPECT_TRUE(cd.updatememberlimit(pid, QString(), QStringLiteral("M2"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("1")));
    cd.GetProjectmember(QString());
    ASSERT_EQ(cd.cdsprojectmember->RecordCount(), 1);
    EXPECT_EQ(cd.cdsprojectmember->FieldByName(QStringLiteral("limitname")).AsString(), QStringLiteral("身份证"));
    EXPECT_TRUE(cd.cdsprojectmember->FieldByName(QStringLiteral("member_class_name")).IsNull());
}

} // namespace
