// Big selections: the grid's selection list keeps the order of selecting at
// any size, and reading it moves neither the cursor nor the view.
#include "ClientDataSet.h"
#include "DBGrid.h"
#include "DataSource.h"
#include "CodeGrid.h"
#include "Context.h"
#include "GuiTest.h"
#include "ProjectRows.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "uCDProductProject.h"
#include "uCDProject.h"
#include "uUIProductProject.h"
#include <QToolButton>
#include <QComboBox>
#include "HostError.h"
#include "Database.h"
#include "Dialogs.h"
#include "ErrorHandler.h"
#include "Pipe.h"
#include <QFile>
#include <optional>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// n rows with codes C00000.. in their own order, shown in a multi-select grid.
QStringList numberedCodes(int n)
{
    QStringList codes;
    for (int i = 0; i < n; ++i)
        codes << QStringLiteral("C%1").arg(i, 5, 10, QLatin1Char('0'));
    return codes;
}

struct BigGrid : CodeGrid {
    explicit BigGrid(int n) : CodeGrid(numberedCodes(n)) {}
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

// The limit dialog's pick lists at size: the same items in the same order,
// each name's ID at the same index, and the same current item.
TEST(BigPickList, ProjectsAndTheirIdsStayParallelAtThousandsOfRows)
{
    TestDatabase db;
    BackendTransaction tx(db.raw());
    for (int i = 0; i < 3000; ++i)
        db.raw().exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('项目%1')").arg(2999 - i).toUtf8());
    tx.commit();
    db.exec(QStringLiteral("insert into um_member_class values ('M1', '金卡会员')"));
    // The statement the module sends, in the order the engine gives.
    const DataPacket want = db.query(QStringLiteral("select * from qel_project "));
    const int idCol = want.columnIndex(QStringLiteral("ID")), nameCol = want.columnIndex(QStringLiteral("CNAME"));

    TCDProject m;
    m.Context = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")});
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        QComboBox projects, classes;
        projects.setEditable(true);
        QStringList projectIds, classIds;
        m.getpromemberinfo(&projects, &classes, projectIds, classIds);
        ASSERT_EQ(projects.count(), 3000);
        ASSERT_EQ(projectIds.size(), 3000);
        for (int i = 0; i < want.rowCount(); ++i) {
            ASSERT_EQ(projects.itemText(i), want.text(i, nameCol)) << i;
            ASSERT_EQ(projectIds[i], want.text(i, idCol)) << i;
        }
        EXPECT_EQ(projects.currentIndex(), 0);
        EXPECT_EQ(projects.currentText(), want.text(0, nameCol));
        EXPECT_EQ(comboItems(&classes), QStringList{QStringLiteral("金卡会员")});
        EXPECT_EQ(classIds, QStringList{QStringLiteral("M1")});
        EXPECT_EQ(projects.itemText(projects.findText(QStringLiteral("项目1234"))), QStringLiteral("项目1234"));
    }
}

// Adding and deleting many performances: in transactions of several hundred,
// and still each performance with its own outcome.
class BulkPerformances : public ::testing::Test {
protected:
    void SetUp() override
    {
        spring = addProject(db, QStringLiteral("春季项目"));
        autumn = addProject(db, QStringLiteral("秋季项目"));
        db.exec(QStringLiteral("insert into qel_place (PLACECODE, NODECODE, CNAME, CITYCODE) values ('P01', '01', '北京音乐厅', '010')"));
        BackendTransaction tx(db.raw());
        for (int i = 0; i < kCount; ++i)
            db.raw().exec(QStringLiteral("insert into QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, STATUS) "
                                         "values ('%1', '演出%1', '2026-12-24 19:30:00', 'C01', 'P01', '01', '5')")
                              .arg(code(i))
                              .toUtf8());
        tx.commit();
        // K0007 is taken by the other project; K0600 the database refuses.
        db.exec(QStringLiteral("insert into QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) values (%1, 'K0007')").arg(autumn));
        refuse(QStringLiteral("insert"), QStringLiteral("K0600"));
        w.Context = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")});
        w.ProjectID = spring;
        w.show();
        testPresenter().clear();
    }
    static QString code(int i) { return QStringLiteral("K%1").arg(i, 4, 10, QLatin1Char('0')); }
    // Every performance but two added and listed; returns the pick.
    QStringList addAllButTwo()
    {
        QStringList pick;
        for (int i = 0; i < kCount; ++i)
            if (i != 7 && i != 600)
                pick << code(i);
        w.AddProducts(pick);
        w.ToolButton4->click();
        return pick;
    }
    // The database refuses the insert or delete of this performance, as a rule of its own would.
    void refuse(const QString &op, const QString &code)
    {
        const QString name = QStringLiteral("refuse_%1_%2").arg(op, code), row = op == QLatin1String("insert") ? "new" : "old";
        if (db.isPostgres()) {
            db.exec(QStringLiteral("create function %1() returns trigger language plpgsql as $$ begin "
                                   "if %2.PRODUCTCODE = '%3' then raise exception '拒绝 %3'; end if; return %2; end $$")
                        .arg(name, row, code));
            db.exec(QStringLiteral("create trigger %1 before %2 on QEL_PROJECT_PRODUCT for each row execute function %1()").arg(name, op));
        } else {
            db.exec(QStringLiteral("create trigger %1 before %2 on QEL_PROJECT_PRODUCT when %3.PRODUCTCODE = '%4' begin select raise(abort, '拒绝 %4'); end")
                        .arg(name, op, row, code));
        }
    }
    QStringList listed() const
    {
        QStringList out = gridColumn(w.dgrproduct, 1);
        out.sort();
        return out;
    }
    QStringList assigned(const QString &project)
    {
        QStringList out = db.texts(QStringLiteral("select PRODUCTCODE from QEL_PROJECT_PRODUCT where PROJECTID = %1").arg(project));
        out.sort();
        return out;
    }

    static constexpr int kCount = 1200;
    TestDatabase db;
    QString spring, autumn;
    TFrmProductProject w;
};

TEST_F(BulkPerformances, AMixedPickWarnsReportsAndAddsTheRestInPickOrder)
{
    QStringList pick, want;
    for (int i = 0; i < kCount; ++i) {
        pick << code(i);
        if (i != 7 && i != 600)
            want << code(i);
    }
    w.AddProducts(pick);
    EXPECT_EQ(assigned(spring), want);
    EXPECT_EQ(assigned(autumn), QStringList{QStringLiteral("K0007")});
    // One warning for the taken performance, then the refused insert's own report.
    ASSERT_EQ(testPresenter().count(), 2) << testPresenter().texts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(testPresenter().calls()[0].kind, MessageKind::Warning);
    EXPECT_EQ(testPresenter().calls()[0].text, QStringLiteral("演出: 演出K0007已被其他项目使用！"));
    EXPECT_EQ(testPresenter().calls()[1].kind, MessageKind::Plain);
    // The fixed text, the performance and the database's reason, each on its own line.
    EXPECT_TRUE(testPresenter().calls()[1].text.startsWith(QStringLiteral("新建失败，请检查该演出是否已经配置过项目\n演出编码：K0600\n")));
    EXPECT_TRUE(testPresenter().calls()[1].text.endsWith(QStringLiteral("拒绝 K0600"))) << testPresenter().calls()[1].text.toStdString();
}

TEST_F(BulkPerformances, ACheckThatFailsEndsTheAddThereAndKeepsWhatCameBefore)
{
    // A code the database cannot take ends the command at that performance.
    const QStringList pick = {code(1), code(2), QStringLiteral("K😀"), code(3)};
    EXPECT_THROW(w.AddProducts(pick), EHostError);
    EXPECT_EQ(assigned(spring), (QStringList{code(1), code(2)}));
}

TEST_F(BulkPerformances, DeletingTheSelectedRowsRemovesExactlyThemWhateverTheCurrentRow)
{
    const QStringList pick = addAllButTwo();
    ASSERT_EQ(w.dgrproduct->model()->rowCount(), pick.size());
    testPresenter().clear();

    // Everything but the first ten rows, by Ctrl+A and then Ctrl+click; the current row among the kept.
    clickRow(w.dgrproduct, 5);
    QTest::keyClick(w.dgrproduct, Qt::Key_A, Qt::ControlModifier);
    const TQELClientDataSet *ds = cdProductProject->cdsProductProject;
    QStringList kept;
    for (int pos = 0; pos < 10; ++pos) {
        w.dgrproduct->selectionModel()->select(w.dgrproduct->model()->index(pos, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        kept << ds->text(ds->rowAt(pos), ds->FieldIndex(QStringLiteral("PRODUCTCODE")));
    }
    kept.sort();
    w.ToolButton2->click(); // confirmed by the presenter's default Yes
    EXPECT_EQ(assigned(spring), kept);
    EXPECT_EQ(testPresenter().count(MessageKind::Confirm), 1);
    EXPECT_EQ(testPresenter().count(), 1);
    EXPECT_EQ(w.dgrproduct->model()->rowCount(), 10);
    EXPECT_EQ(cdProductProject->cdsProductProject->RecNo(), 0) << "after the reload the first row is current";
}

TEST_F(BulkPerformances, ADeleteRefusedInItsSecondBatchLeavesTheListAsTheDatabaseHoldsIt)
{
    const QStringList pick = addAllButTwo();
    const TQELClientDataSet *ds = cdProductProject->cdsProductProject;
    ASSERT_EQ(ds->RecordCount(), pick.size());
    refuse(QStringLiteral("delete"), ds->text(ds->rowAt(700), ds->FieldIndex(QStringLiteral("PRODUCTCODE"))));
    QTest::keyClick(w.dgrproduct, Qt::Key_A, Qt::ControlModifier);
    testPresenter().clear();
    w.ToolButton2->click();
    ASSERT_EQ(testPresenter().count(MessageKind::Error), 1) << testPresenter().texts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(testPresenter().last().text.endsWith(QStringLiteral("\n删除演出未完成：已删除 500 个演出，未删除 698 个。")))
        << testPresenter().last().text.toStdString();
    EXPECT_EQ(assigned(spring).size(), 698) << "the first batch went, the refused one came back";
    EXPECT_EQ(listed(), assigned(spring));
}

// A cause that hits every remaining performance ends the add with one box: why,
// then how many went in and how many did not. The list then shows the database.
class BulkStop;
struct StopCase {
    const char *name;
    bool postgresOnly;
    int picked; // K0000 on, without K0600; past one batch, the cause comes as K0007's warning shows
    void (BulkStop::*act)();
    const char *why;
    int added, kept; // rows of the project afterwards
};
void PrintTo(const StopCase &c, std::ostream *os)
{
    *os << c.name;
}

class BulkStop : public BulkPerformances, public ::testing::WithParamInterface<StopCase>, public MessagePresenter {
public:
    void deleteProject() // as another desk deletes it: the row, then its assignments
    {
        BackendTransaction tx(db.raw());
        db.raw().exec(QStringLiteral("delete from QEL_PROJECT where ID = %1").arg(spring).toUtf8());
        db.raw().exec(QStringLiteral("delete from QEL_PROJECT_PRODUCT where PROJECTID = %1").arg(spring).toUtf8());
        tx.commit();
    }
    void cutSession()
    {
        const qint64 pid = TCADBPipe2().GetData(w.Context, QStringLiteral("select pg_backend_pid() as pid")).integer(0, 0);
        db.exec(QStringLiteral("select pg_terminate_backend(%1, 5000)").arg(pid));
    }
    void readOnly() // the desk starts on a database that takes no writes
    {
        Database::close();
        if (db.isPostgres())
            db.exec(QStringLiteral("alter database %1 set default_transaction_read_only = on").arg(db.databaseName()));
        else if (!enforced.emplace().active())
            GTEST_SKIP() << "running as root without a way to give up root's write access";
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::setPermissions(db.sqlitePath() + QLatin1String(suffix), QFile::ReadOwner);
        Database::open(db.url());
        w.FormDestroy(&w);
        w.FormShow(&w);
    }
    void holdLock()
    {
        other = Database::connect(db.url());
        other->begin();
        other->exec(db.isPostgres() ? "lock table QEL_PROJECT_PRODUCT in access exclusive mode" : "insert into um_member_class values ('M9', '临时')");
    }
    // The first warning is K0007's, once the first batch is in and no transaction is open.
    int present(MessageKind kind, const QString &text, const QString &caption, int flags) override
    {
        if (kind == MessageKind::Warning && std::exchange(atWarning, false))
            (this->*GetParam().act)();
        return testPresenter().present(kind, text, caption, flags);
    }
    bool atWarning = false;
    std::optional<FilePermissionsEnforced> enforced;
    std::unique_ptr<Backend> other;
};

TEST_P(BulkStop, OneBoxSaysWhyAndHowManyWentIn)
{
    const StopCase &c = GetParam();
    if (c.postgresOnly && !db.isPostgres())
        GTEST_SKIP() << "PostgreSQL only";
    QStringList pick;
    for (int i = 0; pick.size() < c.picked; ++i)
        if (i != 600)
            pick << code(i);
    atWarning = c.picked > 500;
    if (!atWarning)
        (this->*c.act)();
    if (IsSkipped())
        return;
    SetMessagePresenter(this);
    Guarded([&] { w.AddProducts(pick); })(); // as the add button runs it
    SetMessagePresenter(&testPresenter());
    other.reset();

    const QStringList boxes = testPresenter().texts();
    ASSERT_EQ(testPresenter().count(MessageKind::Error), 1) << boxes.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(testPresenter().count(), c.picked > 500 ? 2 : 1) << "K0007's warning, then the one box";
    EXPECT_TRUE(boxes.last().startsWith(QString::fromUtf8(c.why))) << boxes.last().toStdString();
    EXPECT_TRUE(boxes.last().endsWith(QStringLiteral("\n添加演出未完成：已添加 %1 个演出，未添加 %2 个。").arg(c.added).arg(c.picked - c.added)))
        << boxes.last().toStdString();
    EXPECT_EQ(assigned(spring).size(), c.kept);
    EXPECT_EQ(listed(), assigned(spring));
}

INSTANTIATE_TEST_SUITE_P(Causes, BulkStop,
                         ::testing::Values(StopCase{"ProjectDeleted", false, 899, &BulkStop::deleteProject, "项目（编号“", 499, 0},
                                           StopCase{"ConnectionLost", true, 899, &BulkStop::cutSession, "与数据库服务器的连接已断开", 499, 499},
                                           StopCase{"ReadOnly", false, 3, &BulkStop::readOnly, "数据库是只读的", 0, 0},
                                           StopCase{"LockHeld", false, 3, &BulkStop::holdLock, "数据库正被其他操作员占用", 0, 0}),
                         [](const ::testing::TestParamInfo<StopCase> &p) { return std::string(p.param.name); });

} // namespace
