// The project-performance data module: the exact statements it sends and
// what they do, on the engine QEL_DATABASE selects.
#include "Errors.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "uCDProductProject.h"
#include <gtest/gtest.h>

namespace {

const QString kCtx = QStringLiteral("01\rG01\radmin\rA\r\r\r\r");

class ProductProjectDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('春季项目'), ('秋季项目')"));
        spring = db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = '春季项目'"));
        autumn = db.scalar(QStringLiteral("select ID from QEL_PROJECT where CNAME = '秋季项目'"));
        db.exec(QStringLiteral("insert into qel_place (PLACECODE, NODECODE, CNAME, CITYCODE) values ('P01', '01', '北京音乐厅', '010')"));
        product(QStringLiteral("A1"), QStringLiteral("abc音乐会"));
        product(QStringLiteral("A2"), QStringLiteral("100%纯享"));
        product(QStringLiteral("A3"), QStringLiteral("x_y剧场"));
        product(QStringLiteral("A4"), QStringLiteral("O'Neill 话剧"));
        product(QStringLiteral("A5"), QStringLiteral("xzy剧场"));
        // A venue of another node: the list joins on code and node.
        product(QStringLiteral("A6"), QStringLiteral("外地演出"), QStringLiteral("02"));
        for (const char *code : {"A1", "A2", "A3", "A4", "A5", "A6"})
            assign(spring, QLatin1String(code));
        dm.Context = kCtx;
        dm.ProjectID = spring;
    }

    void product(const QString &code, QString name, const QString &node = QStringLiteral("01"))
    {
        name.replace(QLatin1Char('\''), QLatin1String("''"));
        db.exec(QStringLiteral("insert into QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, STATUS) "
                               "values ('%1', '%2', '2030-01-02 19:30:00', 'C01', 'P01', '%3', '5')")
                    .arg(code, name, node));
    }
    void assign(const QString &project, const QString &code)
    {
        db.exec(QStringLiteral("insert into QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) values (%1, '%2')").arg(project, code));
    }
    int assigned(const QString &project)
    {
        return db.count(QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT where PROJECTID = %1").arg(project));
    }
    QStringList listed()
    {
        QStringList out;
        TQELClientDataSet *ds = dm.cdsProductProject;
        for (ds->First(); !ds->Eof(); ds->Next())
            out << ds->FieldByName(QStringLiteral("ProductCode")).AsString();
        out.sort();
        return out;
    }

    TestDatabase db;
    TcdProductProject dm;
    QString spring, autumn;
};

TEST_F(ProductProjectDataTest, ListStatementAndNameFilter)
{
    StatementRecorder rec;
    dm.GetProductProject(QString());
    const QString base = QStringLiteral(
                             "Select A.ProductCode,A.CName,B.projectid,C.CName as ProjectName,A.HappenTime,D.CName as PlaceName  from qel_product A, "
                             "QEL_PROJECT_PRODUCT B ,QEL_PROJECT C,qel_place D WHERE A.ProductCode=B.ProductCode and C.id=B.projectid and "
                             "A.PlaceCode=D.PlaceCode and A.NODECODE=D.NODECODE AND B.ProjectID='") +
                         spring + QLatin1Char('\'');
    ASSERT_EQ(rec.count(), 1);
    EXPECT_EQ(rec.statements().at(0), base);
    EXPECT_EQ(rec.contexts().at(0), kCtx);
    EXPECT_EQ(listed(), QStringList({"A1", "A2", "A3", "A4", "A5"})) << "A6's venue has no row at its node";
    TQELClientDataSet *ds = dm.cdsProductProject;
    ds->Locate(QStringLiteral("ProductCode"), QStringLiteral("A1"));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("ProjectName")).AsString(), QStringLiteral("春季项目"));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("PlaceName")).AsString(), QStringLiteral("北京音乐厅"));
    EXPECT_EQ(ds->FieldByName(QStringLiteral("projectid")).AsString(), spring);
    EXPECT_EQ(ds->FieldByName(QStringLiteral("HappenTime")).AsDateTime(), QDateTime(QDate(2030, 1, 2), QTime(19, 30)));

    rec.clear();
    dm.GetProductProject(QStringLiteral("abc"));
    EXPECT_EQ(rec.statements().at(0), base + QStringLiteral(" AND A.CName like '%abc%'"));
    EXPECT_EQ(listed(), QStringList{"A1"});
    // % and _ typed in the filter act as wildcards.
    dm.GetProductProject(QStringLiteral("%"));
    EXPECT_EQ(listed(), QStringList({"A1", "A2", "A3", "A4", "A5"}));
    dm.GetProductProject(QStringLiteral("x_y"));
    EXPECT_EQ(listed(), QStringList({"A3", "A5"}));
    // Blanks stay part of the pattern.
    dm.GetProductProject(QStringLiteral(" 话剧"));
    EXPECT_EQ(listed(), QStringList{"A4"});
    dm.GetProductProject(QStringLiteral("话剧 "));
    EXPECT_EQ(listed(), QStringList());
    // A single quote stays inside the literal instead of breaking the statement.
    rec.clear();
    dm.GetProductProject(QStringLiteral("O'Neill"));
    EXPECT_EQ(rec.statements().at(0), base + QStringLiteral(" AND A.CName like '%O''Neill%'"));
    EXPECT_EQ(listed(), QStringList{"A4"});

    // Another project's list is its own.
    dm.ProjectID = autumn;
    dm.GetProductProject(QString());
    EXPECT_EQ(listed(), QStringList());
}

TEST_F(ProductProjectDataTest, AssignedCodesAsCommaText)
{
    StatementRecorder rec;
    EXPECT_EQ(dm.sgetproduct(autumn), QString()) << "no performances: empty text";
    ASSERT_EQ(rec.count(), 1);
    EXPECT_EQ(rec.statements().at(0), QStringLiteral("select * from QEL_PROJECT_PRODUCT where PROJECTID='%1' ").arg(autumn));

    db.exec(QStringLiteral("delete from QEL_PROJECT_PRODUCT where PRODUCTCODE in ('A3', 'A4', 'A5', 'A6')"));
    QStringList two = dm.sgetproduct(spring).split(QLatin1Char(','));
    two.sort();
    EXPECT_EQ(two, QStringList({"A1", "A2"})) << "plain codes: one comma, no quotes or blanks";

    // A code with a blank is quoted, so reading it back gives the same code.
    assign(autumn, QStringLiteral("B 1"));
    assign(autumn, QStringLiteral("B2"));
    const QString text = dm.sgetproduct(autumn);
    EXPECT_TRUE(text == QStringLiteral("\"B 1\",B2") || text == QStringLiteral("B2,\"B 1\"")) << text.toStdString();
}

TEST_F(ProductProjectDataTest, RepeatTestFindsAnAssignmentInAnyProject)
{
    StatementRecorder rec;
    QString name = QStringLiteral("stale");
    EXPECT_TRUE(dm.brepeat(QStringLiteral("A4"), name));
    EXPECT_EQ(name, QStringLiteral("O'Neill 话剧"));
    ASSERT_EQ(rec.count(), 1);
    EXPECT_EQ(rec.statements().at(0), QStringLiteral("select P.CNAME from QEL_PROJECT_PRODUCT pj inner join QEL_PRODUCT P ON "
                                                     "PJ.PRODUCTCODE=P.PRODUCTCODE where  PJ.PRODUCTCODE='A4'"));

    product(QStringLiteral("Z1"), QStringLiteral("未分配"));
    EXPECT_FALSE(dm.brepeat(QStringLiteral("Z1"), name));
    EXPECT_EQ(name, QString());
    // Assigned, but gone from the catalogue.
    assign(autumn, QStringLiteral("GONE"));
    name = QStringLiteral("stale");
    EXPECT_FALSE(dm.brepeat(QStringLiteral("GONE"), name));
    EXPECT_EQ(name, QString());
    // A quote in the code stays inside its literal.
    rec.clear();
    EXPECT_FALSE(dm.brepeat(QStringLiteral("x' or '1'='1"), name));
    EXPECT_TRUE(rec.statements().at(0).endsWith(QStringLiteral("PJ.PRODUCTCODE='x'' or ''1''=''1'"))) << rec.statements().at(0).toStdString();
}

TEST_F(ProductProjectDataTest, InsertReportsItsOwnFailureAndTheCallerGoesOn)
{
    product(QStringLiteral("N1"), QStringLiteral("新一"));
    product(QStringLiteral("N2"), QStringLiteral("新二"));
    StatementRecorder rec;
    // The middle one is already assigned (to the other project): the database refuses it.
    for (const char *code : {"N1", "A1", "N2"})
        EXPECT_NO_THROW(dm.InsertProduct(autumn, QLatin1String(code)));
    ASSERT_EQ(rec.count(), 3);
    EXPECT_EQ(rec.statements().at(0), QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID,PRODUCTCODE) VALUES('%1','N1')").arg(autumn));
    EXPECT_EQ(assigned(autumn), 2);
    EXPECT_EQ(db.scalar(QStringLiteral("select PROJECTID from QEL_PROJECT_PRODUCT where PRODUCTCODE = 'A1'")), spring);

    ASSERT_EQ(testPresenter().count(), 1);
    const TestPresenter::Call shown = testPresenter().last();
    EXPECT_EQ(shown.kind, MessageKind::Plain);
    EXPECT_TRUE(shown.text.startsWith(QStringLiteral("新建失败，请检查该演出是否已经配置过项目数据库"))) << shown.text.toStdString();
    EXPECT_GT(shown.text.size(), QStringLiteral("新建失败，请检查该演出是否已经配置过项目").size() + 10) << "the server's reason follows";
}

TEST_F(ProductProjectDataTest, DeleteRemovesOneAssignmentOfThatProjectOnly)
{
    assign(autumn, QStringLiteral("B1"));
    StatementRecorder rec;
    dm.DelProductProject(spring, QStringLiteral("A2"));
    ASSERT_EQ(rec.count(), 1);
    EXPECT_EQ(rec.statements().at(0), QStringLiteral("Delete FROM QEL_PROJECT_PRODUCT WHERE ProjectID=%1 AND ProductCode='A2'").arg(spring));
    EXPECT_EQ(assigned(spring), 5);
    EXPECT_EQ(db.count(QStringLiteral("select count(*) from QEL_PROJECT_PRODUCT where PRODUCTCODE = 'A2'")), 0);

    // Another project's code, an unknown code and an empty one change nothing and say nothing.
    dm.DelProductProject(spring, QStringLiteral("B1"));
    dm.DelProductProject(spring, QStringLiteral("NOPE"));
    dm.DelProductProject(spring, QString());
    EXPECT_EQ(rec.statements().at(3), QStringLiteral("Delete FROM QEL_PROJECT_PRODUCT WHERE ProjectID=%1 AND ProductCode=''").arg(spring));
    EXPECT_EQ(assigned(spring), 5);
    EXPECT_EQ(assigned(autumn), 1);
    EXPECT_EQ(testPresenter().count(), 0);
}

TEST_F(ProductProjectDataTest, FailedLoadKeepsThePreviousList)
{
    dm.GetProductProject(QString());
    ASSERT_EQ(dm.cdsProductProject->RecordCount(), 5);
    db.exec(QStringLiteral("drop table qel_place"));
    EXPECT_FALSE(thrownMessage([&] { dm.GetProductProject(QString()); }).isEmpty());
    EXPECT_EQ(dm.cdsProductProject->RecordCount(), 5);
}

} // namespace
