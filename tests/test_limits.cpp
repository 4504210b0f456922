// The limit tab of the project window and the limit dialog (TFormprojectinfo),
// opened offscreen over a real database.
#include "DBGrid.h"
#include "Dialogs.h"
#include "ProjectWindow.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "Unitprojectinfo.h"
#include "uCDProject.h"
#include "uUIProject.h"
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include "GuiTest.h"

namespace {

const QString kCtx = QStringLiteral("02\rG02\r李四\rG\r\r\r\r");
const QString kLimitListStart = QStringLiteral("Select a.id as projectid,b.MEMBER_CLASS_ID, a.cname,c.member_class_name,b.enable ");

const QString kSpring = QStringLiteral("春季音乐节");      // member-class limits M01, M02
const QString kDrama = QStringLiteral("话剧展演");         // identity-card limit
const QString kDance = QStringLiteral("舞蹈专场");         // no limit
const QString kChildren = QStringLiteral("儿童剧场");      // one member-class limit M03
const QString kSpringWeek = QStringLiteral("春季 音乐周"); // member-class limits M01, M02

QStringList sorted(QStringList l)
{
    l.sort();
    return l;
}

QStringList messages(const QString &kind = QString())
{
    QStringList out;
    for (const TestPresenter::Call &c : testPresenter().calls())
        if (kind.isEmpty() || kind == QLatin1String(messageKindName(c.kind)))
            out << c.text;
    return out;
}

bool anyLimitListLoad(const StatementRecorder &rec)
{
    for (const QString &s : rec.statements())
        if (s.startsWith(kLimitListStart))
            return true;
    return false;
}

// What a limit dialog shows, taken while it is open.
struct DialogState {
    QString caption, project, limitType, memberClass, quantity;
    int projectIndex = -9, memberIndex = -9;
    bool projectEnabled = false, memberEnabled = false, enabledTicked = false;
    QStringList projects, types, classes;
};

DialogState stateOf(TFormprojectinfo *d)
{
    DialogState s;
    s.caption = d->windowTitle();
    s.project = d->cbbproject->currentText();
    s.projectIndex = d->cbbproject->currentIndex();
    s.projectEnabled = d->cbbproject->isEnabled();
    s.limitType = d->cbblimit_type->currentText();
    s.memberClass = d->cbbmemberclassname->currentText();
    s.memberIndex = d->cbbmemberclassname->currentIndex();
    s.memberEnabled = d->cbbmemberclassname->isEnabled();
    s.quantity = d->edtlimitcount->text();
    s.enabledTicked = d->ckbenable->isChecked();
    s.projects = comboItems(d->cbbproject);
    s.types = comboItems(d->cbblimit_type);
    s.classes = comboItems(d->cbbmemberclassname);
    return s;
}

class LimitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const QString &p : {kSpring, kDrama, kDance, kChildren, kSpringWeek})
            db.exec(QStringLiteral("INSERT INTO QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) VALUES ('%1', 0, 0, 0)").arg(p));
        db.exec(QStringLiteral("INSERT INTO um_member_class VALUES ('M01', '钻石会员')"));
        db.exec(QStringLiteral("INSERT INTO um_member_class VALUES ('M02', '白金会员')"));
        db.exec(QStringLiteral("INSERT INTO um_member_class VALUES ('M03', '金卡会员')"));
        addLimit(kSpring, QStringLiteral("M01"), 4, QStringLiteral("1"), QStringLiteral("1"));
        addLimit(kSpring, QStringLiteral("M02"), 2, QStringLiteral("1"), QStringLiteral("0"));
        addLimit(kDrama, QString(), 6, QStringLiteral("2"), QStringLiteral("1"));
        addLimit(kChildren, QStringLiteral("M03"), 3, QStringLiteral("1"), QStringLiteral("1"));
        addLimit(kSpringWeek, QStringLiteral("M01"), 5, QStringLiteral("1"), QStringLiteral("1"));
        addLimit(kSpringWeek, QStringLiteral("M02"), 7, QStringLiteral("1"), QStringLiteral("1"));
    }
    void TearDown() override
    {
        disposeWindow(win);
        delete CDProject.data();
    }

    int idOf(const QString &name)
    {
        return db.count(QStringLiteral("SELECT ID FROM QEL_PROJECT WHERE CNAME = '%1'").arg(name));
    }
    void addLimit(const QString &project, const QString &member, int max, const QString &type, const QString &enable)
    {
        db.exec(QStringLiteral("INSERT INTO qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) "
                               "VALUES (%1, '%2', %3, '%4', '%5')")
                    .arg(idOf(project))
                    .arg(member)
                    .arg(max)
                    .arg(type, enable));
    }
    int limits() { return db.count(QStringLiteral("SELECT count(*) FROM qel_project_member_limit")); }
    // The stored limit of a project and member class, as "max/type/enable"; empty when there is none.
    QString limit(const QString &project, const QString &member)
    {
        const DataPacket p = db.query(QStringLiteral("SELECT MAX_NUM, limit_type, enable FROM qel_project_member_limit "
                                                     "WHERE PID = %1 AND MEMBER_CLASS_ID = '%2'")
                                          .arg(idOf(project))
                                          .arg(member));
        if (p.rowCount() != 1)
            return p.rowCount() == 0 ? QString() : QStringLiteral("%1 rows").arg(p.rowCount());
        return QStringLiteral("%1/%2/%3").arg(p.text(0, 0), p.text(0, 1), p.text(0, 2));
    }

    // Opens the window and switches to the limit tab as the operator does.
    TFrmProject *openOnLimitTab()
    {
        auto *w = openProjectWindow(kCtx);
        win = w;
        clickTab(1);
        return w;
    }
    void clickTab(int index) { ::clickTab(win->Pgproject, index); }
    QStringList column(int col) const { return gridColumn(win->QELDBGrid2, col); }
    // Grid rows as "project|class|max|type|enabled".
    QStringList gridRows() const
    {
        QStringList out;
        const QAbstractItemModel *m = win->QELDBGrid2->model();
        for (int r = 0; m && r < m->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < m->columnCount(); ++c)
                cells << m->index(r, c).data().toString();
            out << cells.join(QLatin1Char('|'));
        }
        out.sort();
        return out;
    }
    int rowOf(const QString &project, const QString &memberClassName) const
    {
        const QStringList p = column(0), m = column(1);
        for (int r = 0; r < p.size(); ++r)
            if (p[r] == project && m[r] == memberClassName)
                return r;
        return -1;
    }
    // Makes a limit the current row by clicking it.
    bool selectLimit(const QString &project, const QString &memberClassName)
    {
        const int r = rowOf(project, memberClassName);
        if (r < 0)
            return false;
        TQELDBGrid *g = win->QELDBGrid2;
        const QModelIndex idx = g->model()->index(r, 1);
        g->scrollTo(idx);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(idx).center());
        return CDProject->cdsprojectmember->RecNo() == r && g->currentIndex().row() == r;
    }
    void search(const QString &text)
    {
        typeInto(win->edtprolimit, text);
        QTest::mouseClick(win->Button1, Qt::LeftButton);
    }

    TestDatabase db;
    QPointer<TFrmProject> win;
};

TEST_F(LimitTest, SearchSendsTheBoxUntrimmedAndEnterSearchesToo)
{
    TFrmProject *w = openOnLimitTab();
    EXPECT_EQ(column(0).size(), 6);
    StatementRecorder rec;
    search(QStringLiteral("春季 "));
    ASSERT_EQ(rec.count(), 1);
    EXPECT_TRUE(rec.statements()[0].startsWith(kLimitListStart));
    EXPECT_TRUE(rec.statements()[0].endsWith(QStringLiteral(" WHERE CNAME like '%春季 %'"))) << rec.statements()[0].toStdString();
    EXPECT_EQ(column(0), (QStringList{kSpringWeek, kSpringWeek}));

    rec.clear();
    typeInto(w->edtprolimit, QStringLiteral(" 话剧"));
    QTest::keyClick(w->edtprolimit, Qt::Key_Return);
    ASSERT_EQ(rec.count(), 1);
    EXPECT_TRUE(rec.statements()[0].endsWith(QStringLiteral(" WHERE CNAME like '% 话剧%'"))) << rec.statements()[0].toStdString();
    EXPECT_EQ(column(0), QStringList()) << "the leading blank is part of the pattern";

    // Selecting the tab again uses the trimmed box.
    clickTab(0);
    clickTab(1);
    EXPECT_EQ(column(0), QStringList{kDrama});

    // A quote and the wildcards.
    search(QStringLiteral("'"));
    EXPECT_EQ(column(0), QStringList());
    search(QStringLiteral("春_音"));
    EXPECT_EQ(column(0), (QStringList{kSpring, kSpring}));
    EXPECT_EQ(testPresenter().count(), 0) << messages().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(rec.contexts().count(kCtx), rec.count());
}

TEST_F(LimitTest, NewMemberClassLimitIsStoredAndTheListReloadsUnfiltered)
{
    TFrmProject *w = openOnLimitTab();
    search(QStringLiteral("话剧"));
    ASSERT_EQ(column(0), QStringList{kDrama});

    StatementRecorder rec;
    DialogState shown;
    bool picked = false;
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        shown = stateOf(d);
        picked = pick(d->cbbproject, kDance) && pick(d->cbbmemberclassname, QStringLiteral("金卡会员"));
        typeInto(d->edtlimitcount, QStringLiteral("8"));
        QTest::mouseClick(d->btnok, Qt::LeftButton);
    });
    QTest::mouseClick(w->ToolButton1, Qt::LeftButton);
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_TRUE(picked);

    EXPECT_EQ(shown.caption, QStringLiteral("新增项目限购"));
    EXPECT_EQ(sorted(shown.projects), sorted({kSpring, kDrama, kDance, kChildren, kSpringWeek}));
    EXPECT_EQ(shown.projectIndex, -1);
    EXPECT_EQ(shown.project, QString());
    EXPECT_TRUE(shown.projectEnabled);
    EXPECT_EQ(shown.types, (QStringList{QStringLiteral("会员类别"), QStringLiteral("身份证")}));
    EXPECT_EQ(shown.limitType, QStringLiteral("会员类别"));
    EXPECT_EQ(sorted(shown.classes), sorted({QStringLiteral("钻石会员"), QStringLiteral("白金会员"), QStringLiteral("金卡会员")}));
    EXPECT_EQ(shown.memberIndex, -1);
    EXPECT_EQ(shown.memberClass, QString());
    EXPECT_TRUE(shown.memberEnabled);
    EXPECT_EQ(shown.quantity, QString());
    EXPECT_TRUE(shown.enabledTicked);

    ASSERT_EQ(testPresenter().count(), 1) << messages().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Box);
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("添加成功！"));
    EXPECT_EQ(testPresenter().last().caption, QStringLiteral("信息提示"));
    EXPECT_EQ(testPresenter().last().flags, 64);

    EXPECT_EQ(limit(kDance, QStringLiteral("M03")), QStringLiteral("8/1/1"));
    EXPECT_EQ(limits(), 7);
    // The whole list, while the box keeps its text.
    ASSERT_FALSE(rec.statements().isEmpty());
    EXPECT_TRUE(rec.statements().last().startsWith(kLimitListStart));
    EXPECT_FALSE(rec.statements().last().contains(QStringLiteral("WHERE")));
    EXPECT_EQ(column(0).size(), 7);
    EXPECT_TRUE(gridRows().contains(kDance + QStringLiteral("|金卡会员|8|会员类别|是")));
    EXPECT_EQ(w->edtprolimit->text(), QStringLiteral("话剧"));
    EXPECT_EQ(rec.contexts().count(kCtx), rec.count());
}

TEST_F(LimitTest, NewIdentityCardLimitHasNoMemberClass)
{
    TFrmProject *w = openOnLimitTab();
    bool memberEnabledAfter = true;
    int memberIndexAfter = -9;
    QString memberTextAfter = QStringLiteral("?");
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        pick(d->cbbproject, kDance);
        pick(d->cbbmemberclassname, QStringLiteral("钻石会员"));
        pick(d->cbblimit_type, QStringLiteral("身份证"));
        memberEnabledAfter = d->cbbmemberclassname->isEnabled();
        memberIndexAfter = d->cbbmemberclassname->currentIndex();
        memberTextAfter = d->cbbmemberclassname->currentText();
        typeInto(d->edtlimitcount, QStringLiteral("6"));
        QTest::mouseClick(d->btnok, Qt::LeftButton);
    });
    w->ToolButton1->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_FALSE(memberEnabledAfter);
    EXPECT_EQ(memberIndexAfter, -1);
    EXPECT_EQ(memberTextAfter, QString());
    EXPECT_EQ(messages(), QStringList{QStringLiteral("添加成功！")});
    EXPECT_EQ(limit(kDance, QString()), QStringLiteral("6/2/1"));
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM qel_project_member_limit WHERE PID = %1").arg(idOf(kDance))), 1);
    EXPECT_TRUE(gridRows().contains(kDance + QStringLiteral("||6|身份证|是"))) << gridRows().join(QLatin1Char('\n')).toStdString();
}

TEST_F(LimitTest, NewLimitStoresTheEnabledTick)
{
    TFrmProject *w = openOnLimitTab();
    for (bool ticked : {false, true}) {
        SCOPED_TRACE(ticked ? "ticked" : "not ticked");
        const QString member = ticked ? QStringLiteral("钻石会员") : QStringLiteral("白金会员");
        ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
            pick(d->cbbproject, kChildren);
            pick(d->cbbmemberclassname, member);
            typeInto(d->edtlimitcount, QStringLiteral("2"));
            if (d->ckbenable->isChecked() != ticked)
                QTest::mouseClick(d->ckbenable, Qt::LeftButton, {}, QPoint(6, d->ckbenable->height() / 2));
            QTest::mouseClick(d->btnok, Qt::LeftButton);
        });
        w->ToolButton1->click();
        ASSERT_TRUE(answer.seen());
        EXPECT_FALSE(answer.leftOpen());
    }
    EXPECT_EQ(limit(kChildren, QStringLiteral("M02")), QStringLiteral("2/1/0"));
    EXPECT_EQ(limit(kChildren, QStringLiteral("M01")), QStringLiteral("2/1/1"));
    EXPECT_TRUE(gridRows().contains(kChildren + QStringLiteral("|白金会员|2|会员类别|否")));
    EXPECT_TRUE(gridRows().contains(kChildren + QStringLiteral("|钻石会员|2|会员类别|是")));
}

TEST_F(LimitTest, NewLimitConflictsAreRefusedWithErrorBoxes)
{
    TFrmProject *w = openOnLimitTab();
    struct Case {
        QString project, type, member, message;
    };
    const QString otherType = QStringLiteral("该项目有其他的限购类型!");
    const QString sameClass = QStringLiteral("已经存在该项目和会员类别了!");
    const QList<Case> cases = {
        {kSpring, QStringLiteral("身份证"), QString(), otherType},
        {kDrama, QStringLiteral("身份证"), QString(), sameClass},
        {kDrama, QStringLiteral("会员类别"), QStringLiteral("钻石会员"), otherType},
        {kSpring, QStringLiteral("会员类别"), QStringLiteral("白金会员"), sameClass},
    };
    const QStringList before = gridRows();
    for (const Case &c : cases) {
        SCOPED_TRACE((c.project + QLatin1Char(' ') + c.type + QLatin1Char(' ') + c.member).toStdString());
        testPresenter().clear();
        StatementRecorder rec;
        ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
            pick(d->cbbproject, c.project);
            if (c.type != d->cbblimit_type->currentText())
                pick(d->cbblimit_type, c.type);
            if (!c.member.isEmpty())
                pick(d->cbbmemberclassname, c.member);
            typeInto(d->edtlimitcount, QStringLiteral("9"));
            d->btnok->click();
        });
        QTest::mouseClick(w->ToolButton1, Qt::LeftButton);
        ASSERT_TRUE(answer.seen());
        EXPECT_FALSE(answer.leftOpen());
        ASSERT_EQ(testPresenter().count(), 1) << messages().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(testPresenter().last().kind, MessageKind::Box);
        EXPECT_EQ(testPresenter().last().text, c.message);
        EXPECT_EQ(testPresenter().last().caption, QStringLiteral("错误提示"));
        EXPECT_EQ(testPresenter().last().flags, 16);
        EXPECT_EQ(limits(), 6);
        EXPECT_FALSE(anyLimitListLoad(rec)) << "not reloaded";
        for (const QString &s : rec.statements())
            EXPECT_FALSE(s.startsWith(QLatin1String("INSERT"), Qt::CaseInsensitive)) << s.toStdString();
    }
    EXPECT_EQ(limit(kSpring, QStringLiteral("M02")), QStringLiteral("2/1/0"));
    EXPECT_EQ(limit(kDrama, QString()), QStringLiteral("6/2/1"));
    EXPECT_EQ(gridRows(), before);
}

TEST_F(LimitTest, DialogRefusesIncompleteInputAndStaysOpen)
{
    TFrmProject *w = openOnLimitTab();
    StatementRecorder rec;
    QList<bool> open;
    int statementsWhileOpen = -1;
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        rec.clear();
        auto ok = [&] {
            QTest::mouseClick(d->btnok, Qt::LeftButton);
            open << d->isVisible();
        };
        ok(); // no project
        typeInto(d->cbbproject->lineEdit(), QStringLiteral("不存在的项目"));
        ok(); // typed text that is no project
        pick(d->cbbproject, kDance);
        ok(); // member class missing
        pick(d->cbbmemberclassname, QStringLiteral("金卡会员"));
        ok(); // quantity empty
        typeInto(d->edtlimitcount, QStringLiteral("   "));
        ok();
        for (const QString &bad : {QStringLiteral("abc"), QStringLiteral("1.5"), QStringLiteral("12a"), QStringLiteral("1 2")}) {
            typeInto(d->edtlimitcount, bad);
            ok();
        }
        statementsWhileOpen = rec.count();
        typeInto(d->edtlimitcount, QStringLiteral(" 12 "));
        ok();
    });
    w->ToolButton1->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(open, (QList<bool>{true, true, true, true, true, true, true, true, true, false}));
    EXPECT_EQ(statementsWhileOpen, 0) << "the dialog itself sends nothing";
    const QString whole = QStringLiteral("限购数量必须是整数！");
    EXPECT_EQ(messages(), (QStringList{QStringLiteral("请选择项目"), QStringLiteral("请选择项目"), QStringLiteral("请选择会员类别！"),
                                       QStringLiteral("请输入限购数量！"), QStringLiteral("请输入限购数量！"), whole, whole, whole,
                                       whole, QStringLiteral("添加成功！")}));
    for (int i = 0; i < 9 && i < testPresenter().count(); ++i) {
        EXPECT_EQ(testPresenter().calls()[i].kind, MessageKind::Plain);
        EXPECT_EQ(testPresenter().calls()[i].caption, QString());
    }
    // Stored trimmed: sent as 12, not left to the database to convert.
    QString insert;
    for (const QString &s : rec.statements())
        if (s.startsWith(QLatin1String("INSERT INTO qel_project_member_limit"), Qt::CaseInsensitive))
            insert = s;
    EXPECT_TRUE(insert.contains(QStringLiteral("'12'"))) << insert.toStdString();
    EXPECT_FALSE(insert.contains(QStringLiteral(" 12 "))) << insert.toStdString();
    EXPECT_EQ(limit(kDance, QStringLiteral("M03")), QStringLiteral("12/1/1"));
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT MAX_NUM FROM qel_project_member_limit WHERE PID = %1").arg(idOf(kDance))),
              QStringLiteral("12"));
}

TEST_F(LimitTest, SwitchingToIdentityCardClearsTheMemberClassForGood)
{
    TFrmProject *w = openOnLimitTab();
    QStringList trace;
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        auto note = [&] {
            trace << QStringLiteral("%1:%2:%3")
                         .arg(d->cbbmemberclassname->isEnabled())
                         .arg(d->cbbmemberclassname->currentIndex())
                         .arg(d->cbbmemberclassname->currentText());
        };
        pick(d->cbbproject, kDance);
        pick(d->cbbmemberclassname, QStringLiteral("白金会员"));
        note();
        pick(d->cbblimit_type, QStringLiteral("身份证"));
        note();
        pick(d->cbblimit_type, QStringLiteral("会员类别"));
        note();
        typeInto(d->edtlimitcount, QStringLiteral("3"));
        QTest::mouseClick(d->btnok, Qt::LeftButton);
        trace << QString::number(d->isVisible());
        QTest::mouseClick(d->btnCancel, Qt::LeftButton);
    });
    StatementRecorder rec;
    w->ToolButton1->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    ASSERT_EQ(trace.size(), 4);
    EXPECT_TRUE(trace[0].startsWith(QStringLiteral("1:"))) << trace[0].toStdString();
    EXPECT_TRUE(trace[0].endsWith(QStringLiteral(":白金会员")));
    EXPECT_EQ(trace[1], QStringLiteral("0:-1:"));
    EXPECT_EQ(trace[2], QStringLiteral("1:-1:"));
    EXPECT_EQ(trace[3], QStringLiteral("1")) << "still open after OK";
    EXPECT_EQ(messages(), QStringList{QStringLiteral("请选择会员类别！")});
    // Cancelled: nothing written, nothing reloaded.
    EXPECT_EQ(limits(), 6);
    EXPECT_FALSE(anyLimitListLoad(rec));
    for (const QString &s : rec.statements())
        EXPECT_TRUE(s.startsWith(QLatin1String("select"), Qt::CaseInsensitive)) << s.toStdString();
}

TEST_F(LimitTest, TypedOtherTypeTextCountsAsIdentityCard)
{
    TFrmProject *w = openOnLimitTab();
    bool memberEnabled = true;
    QString memberText = QStringLiteral("?");
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        pick(d->cbbproject, kDance);
        pick(d->cbbmemberclassname, QStringLiteral("钻石会员"));
        typeInto(d->cbblimit_type->lineEdit(), QStringLiteral("其他"));
        memberEnabled = d->cbbmemberclassname->isEnabled();
        memberText = d->cbbmemberclassname->currentText();
        typeInto(d->edtlimitcount, QStringLiteral("4"));
        d->btnok->click();
    });
    w->ToolButton1->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_FALSE(memberEnabled);
    EXPECT_EQ(memberText, QString());
    EXPECT_EQ(messages(), QStringList{QStringLiteral("添加成功！")});
    EXPECT_EQ(limit(kDance, QString()), QStringLiteral("4/2/1"));
}

TEST_F(LimitTest, TypeChangeHandlerRunsOnlyOnTheOperatorsPicksAndTyping)
{
    TFormprojectinfo d;
    d.cbbmemberclassname->addItems({QStringLiteral("钻石会员"), QStringLiteral("白金会员")});
    d.show();
    d.cbbmemberclassname->setCurrentIndex(1);

    // Changes made by code leave the member class box alone.
    d.cbblimit_type->setCurrentIndex(1);
    EXPECT_TRUE(d.cbbmemberclassname->isEnabled());
    EXPECT_EQ(d.cbbmemberclassname->currentIndex(), 1);
    d.cbblimit_type->setEditText(QStringLiteral("其他"));
    EXPECT_TRUE(d.cbbmemberclassname->isEnabled());
    EXPECT_EQ(d.cbbmemberclassname->currentIndex(), 1);

    // The operator's pick does not.
    d.cbblimit_type->setCurrentIndex(0);
    ASSERT_TRUE(pick(d.cbblimit_type, QStringLiteral("身份证")));
    EXPECT_FALSE(d.cbbmemberclassname->isEnabled());
    EXPECT_EQ(d.cbbmemberclassname->currentIndex(), -1);
    ASSERT_TRUE(pick(d.cbblimit_type, QStringLiteral("会员类别")));
    EXPECT_TRUE(d.cbbmemberclassname->isEnabled());
    EXPECT_EQ(d.cbbmemberclassname->currentIndex(), -1);

    // Typing: only the exact text 会员类别 enables the box.
    d.cbbmemberclassname->setCurrentIndex(0);
    typeInto(d.cbblimit_type->lineEdit(), QStringLiteral("会员"));
    EXPECT_FALSE(d.cbbmemberclassname->isEnabled());
    EXPECT_EQ(d.cbbmemberclassname->currentIndex(), -1);
    typeInto(d.cbblimit_type->lineEdit(), QStringLiteral("会员类别"));
    EXPECT_TRUE(d.cbbmemberclassname->isEnabled());

    // Typed a character at a time, too.
    d.cbbmemberclassname->setCurrentIndex(0);
    d.cbblimit_type->lineEdit()->setFocus();
    d.cbblimit_type->lineEdit()->end(false);
    QTest::keyClick(d.cbblimit_type->lineEdit(), Qt::Key_X);
    EXPECT_FALSE(d.cbbmemberclassname->isEnabled());
    QTest::keyClick(d.cbblimit_type->lineEdit(), Qt::Key_Backspace);
    EXPECT_TRUE(d.cbbmemberclassname->isEnabled());
    EXPECT_EQ(testPresenter().count(), 0);
}

TEST_F(LimitTest, EditShowsTheCurrentLimitAndWritesIt)
{
    TFrmProject *w = openOnLimitTab();
    search(QStringLiteral("春季音乐"));
    ASSERT_TRUE(selectLimit(kSpring, QStringLiteral("白金会员")));

    StatementRecorder rec;
    DialogState shown;
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        shown = stateOf(d);
        typeInto(d->edtlimitcount, QStringLiteral(" 9 "));
        QTest::mouseClick(d->ckbenable, Qt::LeftButton, {}, QPoint(6, d->ckbenable->height() / 2));
        QTest::mouseClick(d->btnok, Qt::LeftButton);
    });
    QTest::mouseClick(w->ToolButton2, Qt::LeftButton);
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(shown.caption, QStringLiteral("编辑项目限购"));
    EXPECT_EQ(shown.project, kSpring);
    EXPECT_GE(shown.projectIndex, 0);
    EXPECT_FALSE(shown.projectEnabled);
    EXPECT_EQ(shown.memberClass, QStringLiteral("白金会员"));
    EXPECT_GE(shown.memberIndex, 0);
    EXPECT_TRUE(shown.memberEnabled);
    EXPECT_EQ(shown.quantity, QStringLiteral("2"));
    EXPECT_EQ(shown.limitType, QStringLiteral("会员类别"));
    EXPECT_FALSE(shown.enabledTicked);

    ASSERT_EQ(testPresenter().count(), 1) << messages().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Box);
    EXPECT_EQ(testPresenter().last().text, QStringLiteral("修改成功！"));
    EXPECT_EQ(testPresenter().last().caption, QStringLiteral("信息提示"));
    EXPECT_EQ(testPresenter().last().flags, 64);
    EXPECT_EQ(limit(kSpring, QStringLiteral("M02")), QStringLiteral("9/1/1"));
    EXPECT_EQ(limit(kSpring, QStringLiteral("M01")), QStringLiteral("4/1/1"));
    bool updateSent = false;
    for (const QString &s : rec.statements())
        if (s.startsWith(QLatin1String("update qel_project_member_limit"), Qt::CaseInsensitive)) {
            updateSent = true;
            EXPECT_TRUE(s.contains(QStringLiteral("MAX_NUM='9'"))) << "the quantity goes trimmed: " << s.toStdString();
        }
    EXPECT_TRUE(updateSent);
    EXPECT_EQ(limit(kSpringWeek, QStringLiteral("M02")), QStringLiteral("7/1/1"));
    EXPECT_EQ(limits(), 6);
    // Reloaded without the filter.
    ASSERT_FALSE(rec.statements().isEmpty());
    EXPECT_TRUE(rec.statements().last().startsWith(kLimitListStart));
    EXPECT_FALSE(rec.statements().last().contains(QStringLiteral("WHERE")));
    EXPECT_EQ(column(0).size(), 6);
    EXPECT_TRUE(gridRows().contains(kSpring + QStringLiteral("|白金会员|9|会员类别|是")));
    EXPECT_EQ(w->edtprolimit->text(), QStringLiteral("春季音乐"));
}

TEST_F(LimitTest, EditOfAnIdentityCardLimitShowsNoMemberClass)
{
    TFrmProject *w = openOnLimitTab();
    ASSERT_TRUE(selectLimit(kDrama, QString()));
    DialogState shown;
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        shown = stateOf(d);
        typeInto(d->edtlimitcount, QStringLiteral("1"));
        d->btnok->click();
    });
    w->ToolButton2->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(shown.project, kDrama);
    EXPECT_FALSE(shown.projectEnabled);
    EXPECT_EQ(shown.limitType, QStringLiteral("身份证"));
    EXPECT_FALSE(shown.memberEnabled);
    EXPECT_EQ(shown.memberIndex, -1);
    EXPECT_EQ(shown.memberClass, QString());
    EXPECT_EQ(shown.quantity, QStringLiteral("6"));
    EXPECT_TRUE(shown.enabledTicked);
    EXPECT_EQ(messages(), QStringList{QStringLiteral("修改成功！")});
    EXPECT_EQ(limit(kDrama, QString()), QStringLiteral("1/2/1"));
}

TEST_F(LimitTest, EditConflictsAreRefusedAndNothingIsWritten)
{
    TFrmProject *w = openOnLimitTab();
    struct Case {
        QString member, pickMember, pickType, message;
    };
    const QList<Case> cases = {
        // Another limit of the project has the class.
        {QStringLiteral("白金会员"), QStringLiteral("钻石会员"), QString(), QStringLiteral("已经存在该项目和会员类别了!")},
        // One of two member-class limits turned into an identity-card limit.
        {QStringLiteral("钻石会员"), QString(), QStringLiteral("身份证"), QStringLiteral("该项目存在其他的限购类型了!")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        testPresenter().clear();
        ASSERT_TRUE(selectLimit(kSpring, c.member));
        StatementRecorder rec;
        ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
            if (!c.pickMember.isEmpty())
                pick(d->cbbmemberclassname, c.pickMember);
            if (!c.pickType.isEmpty())
                pick(d->cbblimit_type, c.pickType);
            typeInto(d->edtlimitcount, QStringLiteral("11"));
            d->btnok->click();
        });
        w->ToolButton2->click();
        ASSERT_TRUE(answer.seen());
        EXPECT_FALSE(answer.leftOpen());
        ASSERT_EQ(testPresenter().count(), 1) << messages().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(testPresenter().last().text, c.message);
        EXPECT_EQ(testPresenter().last().caption, QStringLiteral("错误提示"));
        EXPECT_EQ(testPresenter().last().flags, 16);
        EXPECT_FALSE(anyLimitListLoad(rec));
        for (const QString &s : rec.statements())
            EXPECT_FALSE(s.startsWith(QLatin1String("update"), Qt::CaseInsensitive)) << s.toStdString();
    }
    EXPECT_EQ(limit(kSpring, QStringLiteral("M01")), QStringLiteral("4/1/1"));
    EXPECT_EQ(limit(kSpring, QStringLiteral("M02")), QStringLiteral("2/1/0"));
    EXPECT_EQ(limits(), 6);
}

TEST_F(LimitTest, EditOfTheOnlyLimitMayChangeItsType)
{
    TFrmProject *w = openOnLimitTab();
    ASSERT_TRUE(selectLimit(kChildren, QStringLiteral("金卡会员")));
    QString memberAfter = QStringLiteral("?");
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        pick(d->cbblimit_type, QStringLiteral("身份证"));
        memberAfter = d->cbbmemberclassname->currentText();
        d->btnok->click();
    });
    w->ToolButton2->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(memberAfter, QString());
    EXPECT_EQ(messages(), QStringList{QStringLiteral("修改成功！")});
    EXPECT_EQ(limit(kChildren, QString()), QStringLiteral("3/2/1"));
    EXPECT_EQ(limit(kChildren, QStringLiteral("M03")), QString());
    EXPECT_TRUE(gridRows().contains(kChildren + QStringLiteral("||3|身份证|是")));
}

TEST_F(LimitTest, EditOfALimitAnotherDeskDeletedSaysItFailed)
{
    TFrmProject *w = openOnLimitTab();
    ASSERT_TRUE(selectLimit(kSpring, QStringLiteral("白金会员")));
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        db.exec(QStringLiteral("DELETE FROM qel_project_member_limit WHERE PID = %1 AND MEMBER_CLASS_ID = 'M02'").arg(idOf(kSpring)));
        typeInto(d->edtlimitcount, QStringLiteral("5"));
        d->btnok->click();
    });
    w->ToolButton2->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    ASSERT_EQ(testPresenter().count(), 1) << messages().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Box);
    EXPECT_TRUE(testPresenter().last().text.startsWith(QStringLiteral("修改失败"))) << testPresenter().last().text.toStdString();
    EXPECT_EQ(testPresenter().last().flags, 16);
    EXPECT_EQ(limit(kSpring, QStringLiteral("M02")), QString()) << "not brought back";
    EXPECT_EQ(limits(), 5);
}

// Another desk raised the quantity while this desk only unticked 是否可用.
TEST_F(LimitTest, ASaveOrDeleteOverAnotherDesksChangeShowsTheFieldsAndTheOperatorChooses)
{
    TFrmProject *w = openOnLimitTab();
    const QString other = QStringLiteral("UPDATE qel_project_member_limit SET MAX_NUM = %1 WHERE PID = %2 AND MEMBER_CLASS_ID = 'M01'");
    for (const bool overwrite : {false, true}) {
        SCOPED_TRACE(overwrite ? "overwrite" : "keep theirs");
        db.exec(other.arg(4).arg(idOf(kSpring)));
        QTest::mouseClick(w->ToolButton5, Qt::LeftButton);
        testPresenter().clear();
        ASSERT_TRUE(selectLimit(kSpring, QStringLiteral("钻石会员")));
        DialogState reopened;
        std::unique_ptr<ModalAnswer<TFormprojectinfo>> again;
        ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
            QTest::mouseClick(d->ckbenable, Qt::LeftButton, {}, QPoint(6, d->ckbenable->height() / 2));
            db.exec(other.arg(10).arg(idOf(kSpring)));
            again = std::make_unique<ModalAnswer<TFormprojectinfo>>([&](TFormprojectinfo *d2) { reopened = stateOf(d2); });
            d->btnok->click();
        });
        testPresenter().pushAnswer(overwrite ? mrYes : mrNo);
        w->ToolButton2->click();
        ASSERT_GE(testPresenter().count(), 1);
        EXPECT_TRUE(testPresenter().calls()[0].text.contains(QStringLiteral("\n限购数量\t10\t4\n"))) << testPresenter().calls()[0].text.toStdString();
        EXPECT_EQ(limit(kSpring, QStringLiteral("M01")), overwrite ? QStringLiteral("4/1/0") : QStringLiteral("10/1/1"));
        EXPECT_EQ(again->seen(), !overwrite);
        if (!overwrite) {
            EXPECT_EQ(reopened.quantity, QStringLiteral("10"));
            EXPECT_TRUE(reopened.enabledTicked);
            EXPECT_EQ(reopened.memberClass, QStringLiteral("钻石会员"));
        }
        EXPECT_TRUE(gridRows().contains(kSpring + (overwrite ? QStringLiteral("|钻石会员|4|会员类别|否") : QStringLiteral("|钻石会员|10|会员类别|是"))));
    }

    // A delete of a limit changed elsewhere since the list was loaded asks first.
    for (const int answer : {mrNo, mrYes}) {
        ASSERT_TRUE(selectLimit(kSpring, QStringLiteral("钻石会员")));
        db.exec(other.arg(answer == mrNo ? 12 : 13).arg(idOf(kSpring)));
        testPresenter().clear();
        testPresenter().pushAnswer(mrYes); // 确认要删除吗?
        testPresenter().pushAnswer(answer);
        w->ToolButton4->click();
        ASSERT_EQ(testPresenter().count(), 2) << messages().join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(testPresenter().last().text.contains(answer == mrNo ? QStringLiteral("限购数量\t4\t12") : QStringLiteral("限购数量\t12\t13")));
        EXPECT_EQ(limit(kSpring, QStringLiteral("M01")), answer == mrNo ? QStringLiteral("12/1/0") : QString());
    }
}

TEST_F(LimitTest, EditOfALimitWhoseProjectIsGoneCanOnlyBeCancelled)
{
    TFrmProject *w = openOnLimitTab();
    ASSERT_TRUE(selectLimit(kChildren, QStringLiteral("金卡会员")));
    db.exec(QStringLiteral("DELETE FROM QEL_PROJECT WHERE CNAME = '%1'").arg(kChildren));
    StatementRecorder rec;
    DialogState shown;
    bool openAfterOk = false;
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        shown = stateOf(d);
        d->btnok->click();
        openAfterOk = d->isVisible();
        d->btnCancel->click();
    });
    w->ToolButton2->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(shown.projectIndex, -1);
    EXPECT_EQ(shown.project, QString());
    EXPECT_FALSE(shown.projectEnabled);
    EXPECT_TRUE(openAfterOk);
    EXPECT_EQ(messages(), QStringList{QStringLiteral("请选择项目")});
    for (const QString &s : rec.statements())
        EXPECT_TRUE(s.startsWith(QLatin1String("select"), Qt::CaseInsensitive)) << s.toStdString();
    EXPECT_EQ(limits(), 6);
}

TEST_F(LimitTest, DeleteAsksThenRemovesOnlyThatLimitAndReloadsWithTheUntrimmedBox)
{
    TFrmProject *w = openOnLimitTab();
    search(QStringLiteral("春季 "));
    ASSERT_EQ(column(0), (QStringList{kSpringWeek, kSpringWeek}));
    ASSERT_TRUE(selectLimit(kSpringWeek, QStringLiteral("白金会员")));

    // Declined: nothing sent.
    {
        StatementRecorder rec;
        testPresenter().pushAnswer(mrNo);
        QTest::mouseClick(w->ToolButton4, Qt::LeftButton);
        ASSERT_EQ(testPresenter().count(), 1);
        EXPECT_EQ(testPresenter().last().kind, MessageKind::Confirm);
        EXPECT_EQ(testPresenter().last().text, QStringLiteral("确认要删除吗?"));
        EXPECT_EQ(testPresenter().last().caption, QStringLiteral("请确认"));
        EXPECT_EQ(rec.count(), 0);
        EXPECT_EQ(limits(), 6);
        EXPECT_EQ(column(0).size(), 2);
    }
    // Confirmed.
    testPresenter().clear();
    StatementRecorder rec;
    testPresenter().pushAnswer(mrYes);
    QTest::mouseClick(w->ToolButton4, Qt::LeftButton);
    EXPECT_EQ(messages(), QStringList{QStringLiteral("确认要删除吗?")}) << "no message after a delete";
    EXPECT_EQ(limit(kSpringWeek, QStringLiteral("M02")), QString());
    EXPECT_EQ(limit(kSpringWeek, QStringLiteral("M01")), QStringLiteral("5/1/1"));
    EXPECT_EQ(limit(kSpring, QStringLiteral("M02")), QStringLiteral("2/1/0"));
    EXPECT_EQ(limits(), 5);
    ASSERT_FALSE(rec.statements().isEmpty());
    EXPECT_TRUE(rec.statements().last().endsWith(QStringLiteral(" WHERE CNAME like '%春季 %'"))) << rec.statements().last().toStdString();
    EXPECT_EQ(gridRows(), QStringList{kSpringWeek + QStringLiteral("|钻石会员|5|会员类别|是")}) << "a trimmed reload would list 春季音乐节";
}

TEST_F(LimitTest, DeleteOfAnIdentityCardLimit)
{
    TFrmProject *w = openOnLimitTab();
    ASSERT_TRUE(selectLimit(kDrama, QString()));
    StatementRecorder rec;
    testPresenter().pushAnswer(mrYes);
    w->ToolButton4->click();
    EXPECT_EQ(db.count(QStringLiteral("SELECT count(*) FROM qel_project_member_limit WHERE PID = %1").arg(idOf(kDrama))), 0);
    EXPECT_EQ(limits(), 5);
    EXPECT_FALSE(column(0).contains(kDrama));
    EXPECT_EQ(column(0).size(), 5);
}

TEST_F(LimitTest, ADatabaseErrorEndsTheCommandWithAnErrorBoxAndTheWindowStaysUsable)
{
    TFrmProject *w = openOnLimitTab();
    ASSERT_TRUE(selectLimit(kSpring, QStringLiteral("白金会员")));
    QPointer<TFormprojectinfo> dialog;
    ModalAnswer<TFormprojectinfo> answer([&](TFormprojectinfo *d) {
        dialog = d;
        db.exec(QStringLiteral("DROP TABLE qel_project_member_limit"));
        typeInto(d->edtlimitcount, QStringLiteral("5"));
        d->btnok->click();
    });
    w->ToolButton2->click();
    ASSERT_TRUE(answer.seen());
    EXPECT_FALSE(answer.leftOpen());
    EXPECT_EQ(dialog, nullptr) << "the dialog is freed";
    ASSERT_EQ(testPresenter().count(), 1) << messages().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Error);
    EXPECT_EQ(column(0).size(), 6) << "the list keeps its rows";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // The window goes on: the project tab works, and New on the limit tab
    // fails cleanly before any dialog opens.
    testPresenter().clear();
    clickTab(0);
    EXPECT_EQ(testPresenter().count(), 0);
    EXPECT_EQ(win->QELDBGrid1->model()->rowCount(), 5);
    clickTab(1);
    EXPECT_EQ(testPresenter().count(), 1);
    db.exec(QStringLiteral("DROP TABLE um_member_class"));
    testPresenter().clear();
    w->ToolButton1->click();
    ASSERT_EQ(testPresenter().count(), 1);
    EXPECT_EQ(testPresenter().last().kind, MessageKind::Error);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
