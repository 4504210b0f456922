// The performance search dialog, opened offscreen and driven through its controls.
#include "Context.h"
#include "DBDateEdit.h"
#include "DBGrid.h"
#include "DBLookupComboBox.h"
#include "GuiTest.h"
#include "TestDb.h"
#include "TestPresenter.h"
#include "uCDSearchproduct_pro.h"
#include "uUISearchProduct_pro.h"
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const QString kCtx = TQELContext::Compose({QStringLiteral("01"), QStringLiteral("G1"), QStringLiteral("u1"), QStringLiteral("A")});

class SearchDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db.exec(QStringLiteral("insert into qel_place (PLACECODE, NODECODE, CNAME, CITYCODE) values "
                               "('P01', '01', '北京音乐厅', '010'), ('P02', '01', '天津大剧院', '022')"));
        db.exec(QStringLiteral("insert into QEL_PRODUCT_CLASS values ('C01', '音乐会', 'Concert'), ('C02', '话剧', 'Drama')"));
        db.exec(QStringLiteral("insert into QEL_PLACE_CITY values ('01', '010', '北京'), ('01', '022', '天津'), ('02', '021', '上海')"));
        add(QStringLiteral("T1"), QStringLiteral("安魂曲音乐会"), 2, QStringLiteral("C01"), QStringLiteral("P01"), QStringLiteral("5"));
        add(QStringLiteral("T2"), QStringLiteral("北京人艺话剧"), 3, QStringLiteral("C02"), QStringLiteral("P01"), QStringLiteral("6"));
        add(QStringLiteral("T3"), QStringLiteral("茶花女"), 4, QStringLiteral("C01"), QStringLiteral("P02"), QStringLiteral("5"));
        add(QStringLiteral("T4"), QStringLiteral("大剧院开放日"), 5, QStringLiteral("C02"), QStringLiteral("P02"), QStringLiteral("1"));
        add(QStringLiteral("T5"), QStringLiteral("远期演出"), 120, QStringLiteral("C01"), QStringLiteral("P01"), QStringLiteral("5"));
    }

    void add(const QString &code, const QString &name, int day, const QString &cls, const QString &place, const QString &status)
    {
        const QString when = QDate::currentDate().addDays(day).toString(QStringLiteral("yyyy-MM-dd 19:30:00"));
        db.exec(QStringLiteral("insert into QEL_PRODUCT (PRODUCTCODE, CNAME, HAPPENTIME, PRODUCTCLASSCODE, PLACECODE, NODECODE, MAPCODE, "
                               "CREATEGROUP, PLACEGROUP, STATUS, CREATEUSER, PRODUCTOWNERGROUP) "
                               "values ('%1', '%2', '%3', '%4', '%5', '01', 'M', 'G1', 'PG', '%6', 'u1', 'OG')")
                    .arg(code, name, when, cls, place, status));
    }

    // The dialog as the add command sets it up.
    std::unique_ptr<TUISearchProduct_pro> open(bool allStatus, const QString &exclude = QString())
    {
        auto d = std::make_unique<TUISearchProduct_pro>();
        d->SnapIn->SetContext(kCtx);
        d->AllStatus = allStatus;
        d->ExcludeProducts = exclude;
        return d;
    }

    static QStringList shown(const TUISearchProduct_pro &d)
    {
        QStringList out;
        const TQELClientDataSet *ds = d.DataModule()->cdsProduct;
        if (!ds->Active())
            return out;
        const int code = ds->FieldIndex(QStringLiteral("PRODUCTCODE"));
        for (int pos = 0; pos < ds->RecordCount(); ++pos)
            out << ds->text(ds->rowAt(pos), code);
        return out;
    }

    static void clickCode(TUISearchProduct_pro &d, const QString &code, Qt::KeyboardModifiers mods = Qt::ControlModifier, bool twice = false)
    {
        const int pos = int(shown(d).indexOf(code));
        ASSERT_GE(pos, 0) << "not listed: " << code.toStdString();
        const QModelIndex index = d.dgrd_Product->model()->index(pos, 0);
        d.dgrd_Product->scrollTo(index);
        const QPoint at = d.dgrd_Product->visualRect(index).center();
        QTest::mouseClick(d.dgrd_Product->viewport(), Qt::LeftButton, mods, at);
        if (twice) {
            // What a platform sends for a double-click: press, release, double-click, release.
            QTest::mouseDClick(d.dgrd_Product->viewport(), Qt::LeftButton, mods, at);
            QTest::mouseRelease(d.dgrd_Product->viewport(), Qt::LeftButton, mods, at);
        }
    }

    // Picks an item with the keyboard, as the operator would.
    static void choose(QComboBox *box, const QString &text)
    {
        const int target = box->findText(text);
        ASSERT_GE(target, 0) << text.toStdString();
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < target; ++i)
            QTest::keyClick(box, Qt::Key_Down);
        ASSERT_EQ(box->currentIndex(), target);
    }

    TestDatabase db;
};

TEST_F(SearchDialogTest, LayoutCaptionsBindingsAndTabOrder)
{
    TUISearchProduct_pro d;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("查询演出"));
    EXPECT_EQ(d.size(), QSize(863, 541));
    EXPECT_TRUE(d.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(d.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(CDSearchProduct_pro.data(), d.DataModule());

    const QList<QPair<const char *, const char *>> labels = {
        {"QELDBLabel3", "上演时间"}, {"QELLabel2", "～"}, {"QELDBLabel4", "分  类"}, {"QELDBLabel1", "所属城市"}, {"QELDBLabel5", "所属剧场"}};
    for (const auto &l : labels) {
        const auto *label = d.findChild<QLabel *>(QLatin1String(l.first));
        ASSERT_NE(label, nullptr) << l.first;
        EXPECT_EQ(label->text(), QString::fromUtf8(l.second)) << l.first;
    }
    const QList<QPair<const char *, const char *>> buttons = {
        {"BitBtn1", "查询"}, {"btn_ProductReset", "重置"}, {"btn_ProductActOk", "确定(&O)"}, {"btn_ProductActCancel", "关闭"}};
    for (const auto &b : buttons) {
        const auto *button = d.findChild<QPushButton *>(QLatin1String(b.first));
        ASSERT_NE(button, nullptr) << b.first;
        EXPECT_EQ(button->text(), QString::fromUtf8(b.second)) << b.first;
    }
    EXPECT_EQ(d.dbox_BTime->width(), 126);
    EXPECT_EQ(d.dbox_ETime->width(), 121);
    EXPECT_TRUE(d.dbox_BTime->calendarPopup());
    EXPECT_EQ(d.dbox_BTime->DataField(), QStringLiteral("BHappenTime"));
    EXPECT_EQ(d.dbox_ETime->DataField(), QStringLiteral("EHappenTime"));
    EXPECT_EQ(d.dbox_ProductClass->DataField(), QStringLiteral("ProductClassCode"));
    EXPECT_EQ(d.DBComb_CityCode->DataField(), QStringLiteral("CITYCODE"));
    EXPECT_EQ(d.DBComb_PlaceCode->DataField(), QStringLiteral("PlaceCODE"));
    EXPECT_EQ(d.QELPanel2->height(), 91);
    EXPECT_EQ(d.QELPanel2->font().family(), QStringLiteral("宋体"));
    EXPECT_EQ(d.dgrd_Product->font().pixelSize(), 15);
    EXPECT_EQ(d.dgrd_Product->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_NE(d.findChild<TQELCSnapIn *>(QStringLiteral("QELCSnapIn1")), nullptr);

    QStringList titles;
    for (int c = 0; c < d.dsProduct->columnCount(); ++c)
        titles << d.dsProduct->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(titles, QStringList({"名称(中文)", "上演剧场", "上演时间", "星期", "演出类别", "所属项目"}));

    // Tab order: class, venue, start date, end date, city, search, reset.
    const QList<QWidget *> stops = {d.dbox_ProductClass, d.DBComb_PlaceCode, d.dbox_BTime, d.dbox_ETime, d.DBComb_CityCode, d.BitBtn1,
                                    d.btn_ProductReset};
    QStringList order;
    QWidget *w = d.dbox_ProductClass;
    for (int guard = 0; guard < 200 && order.size() < stops.size(); ++guard, w = w->nextInFocusChain())
        if (stops.contains(w) && !order.contains(w->objectName()))
            order << w->objectName();
    EXPECT_EQ(order, QStringList({"dbox_ProductClass", "DBComb_PlaceCode", "dbox_BTime", "dbox_ETime", "DBComb_CityCode", "BitBtn1",
                                  "btn_ProductReset"}));
}

TEST_F(SearchDialogTest, FirstShowLoadsResetsAndSearchesLaterShowsOnlyCopyTheSettings)
{
    auto d = open(false, QStringLiteral("T3"));
    EXPECT_EQ(d->Context, kCtx);
    EXPECT_EQ(d->DataModule()->Context, kCtx);
    // Whichever snap-in announces, the context is taken from SnapIn.
    d->QELCSnapIn1->SetContext(QStringLiteral("other"));
    EXPECT_EQ(d->Context, kCtx);
    EXPECT_FALSE(d->btn_ProductActOk->isEnabled()) << "nothing listed yet";

    d->show();
    EXPECT_EQ(shown(*d), QStringList({"T1", "T2"})) << "status 5/6, within 90 days, T3 excluded";
    EXPECT_EQ(d->dgrd_Product->model()->rowCount(), 2);
    EXPECT_EQ(d->dsProduct->index(0, 3).data().toString(), TCDSearchProduct_pro::WeekdayName(QDate::currentDate().addDays(2)));
    EXPECT_EQ(d->dsProduct->index(0, 1).data().toString(), QStringLiteral("北京音乐厅"));
    EXPECT_EQ(d->dsProduct->index(1, 4).data().toString(), QStringLiteral("话剧"));
    EXPECT_TRUE(d->btn_ProductActOk->isEnabled());
    EXPECT_EQ(comboItems(d->dbox_ProductClass), QStringList({"", "话剧", "音乐会"}));
    EXPECT_EQ(comboItems(d->DBComb_CityCode), QStringList({"", "北京", "天津"})) << "the operator's node only";
    EXPECT_EQ(comboItems(d->DBComb_PlaceCode), QStringList({"", "北京音乐厅", "天津大剧院"}));
    EXPECT_EQ(d->dbox_BTime->date(), QDate::currentDate());
    EXPECT_EQ(d->dbox_ETime->date(), QDate::currentDate().addDays(90));

    d->hide();
    d->AllStatus = true;
    d->ExcludeProducts = QStringLiteral("T1");
    StatementRecorder rec;
    d->show();
    EXPECT_EQ(rec.count(), 0) << "a later show neither loads nor searches";
    EXPECT_TRUE(d->DataModule()->AllStatus);
    EXPECT_EQ(d->DataModule()->ExcludeProducts, QStringLiteral("T1"));
    EXPECT_EQ(shown(*d), QStringList({"T1", "T2"}));
    // The next search applies them.
    QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
    EXPECT_EQ(shown(*d), QStringList({"T2", "T3", "T4"}));
}

TEST_F(SearchDialogTest, ConfirmReturnsTheSelectedCodesInSelectionOrder)
{
    auto d = open(true);
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ran = true;
        auto *dlg = qobject_cast<TUISearchProduct_pro *>(QApplication::activeModalWidget());
        if (!dlg) {
            ADD_FAILURE() << "the dialog is not the active modal window";
            if (QApplication::activeModalWidget())
                QApplication::activeModalWidget()->close();
            return;
        }
        clickCode(*dlg, QStringLiteral("T4"));
        clickCode(*dlg, QStringLiteral("T1"));
        clickCode(*dlg, QStringLiteral("T3"));
        QTest::mouseClick(dlg->btn_ProductActOk, Qt::LeftButton);
        if (dlg->isVisible())
            dlg->done(0);
    });
    const int result = d->exec();
    EXPECT_TRUE(ran);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(d->SelectedProducts, QStringLiteral("T4,T1,T3"));
}

TEST_F(SearchDialogTest, CloseAndCloseBoxGiveCancelAndNothingSelected)
{
    auto d = open(true);
    QTimer::singleShot(0, [&] {
        auto *dlg = qobject_cast<TUISearchProduct_pro *>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        clickCode(*dlg, QStringLiteral("T1"));
        clickCode(*dlg, QStringLiteral("T2"));
        QTest::mouseClick(dlg->btn_ProductActCancel, Qt::LeftButton);
        if (dlg->isVisible()) {
            ADD_FAILURE() << "Cancel left the dialog open";
            dlg->done(0);
        }
    });
    EXPECT_EQ(d->exec(), 2);
    EXPECT_EQ(d->SelectedProducts, QString());

    QTimer::singleShot(0, [&] {
        auto *dlg = qobject_cast<TUISearchProduct_pro *>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        dlg->close();
        if (dlg->isVisible()) {
            ADD_FAILURE() << "the close box left the dialog open";
            dlg->done(0);
        }
    });
    EXPECT_EQ(d->exec(), 2);
    EXPECT_EQ(d->SelectedProducts, QString());

    // Confirming with nothing selected closes with OK and an empty result.
    auto fresh = open(true);
    fresh->show();
    ASSERT_TRUE(fresh->btn_ProductActOk->isEnabled());
    QTest::mouseClick(fresh->btn_ProductActOk, Qt::LeftButton);
    EXPECT_FALSE(fresh->isVisible());
    EXPECT_EQ(fresh->result(), 1);
    EXPECT_EQ(fresh->SelectedProducts, QString());
}

TEST_F(SearchDialogTest, DoubleClickPicksThatRowAloneAndDoesNothingOnAnEmptyList)
{
    auto d = open(true);
    d->show();
    clickCode(*d, QStringLiteral("T1"));
    clickCode(*d, QStringLiteral("T2"));
    clickCode(*d, QStringLiteral("T3"), Qt::NoModifier, true);
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->result(), 1);
    EXPECT_EQ(d->SelectedProducts, QStringLiteral("T3"));

    auto empty = open(true);
    empty->show();
    testPresenter().pushAnswer(mrYes);
    QTest::mouseClick(empty->btn_ProductReset, Qt::LeftButton);
    ASSERT_EQ(empty->dgrd_Product->model()->rowCount(), 0);
    QTest::mouseDClick(empty->dgrd_Product->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
    empty->dgrd_ProductDblClick(empty->dgrd_Product);
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->SelectedProducts, QString());
}

TEST_F(SearchDialogTest, ResetEmptiesTheListAndDisablesConfirmUntilTheNextSearch)
{
    auto d = open(true);
    d->show();
    choose(d->dbox_ProductClass, QStringLiteral("话剧"));
    QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
    ASSERT_EQ(shown(*d), QStringList({"T2", "T4"}));

    testPresenter().pushAnswer(mrNo);
    QTest::mouseClick(d->btn_ProductReset, Qt::LeftButton);
    EXPECT_EQ(d->dgrd_Product->model()->rowCount(), 2) << "refused: nothing changes";
    EXPECT_EQ(d->dbox_ProductClass->currentText(), QStringLiteral("话剧"));

    testPresenter().pushAnswer(mrYes);
    QTest::mouseClick(d->btn_ProductReset, Qt::LeftButton);
    EXPECT_EQ(testPresenter().count(MessageKind::Confirm), 2);
    EXPECT_EQ(d->dgrd_Product->model()->rowCount(), 0);
    EXPECT_FALSE(d->btn_ProductActOk->isEnabled());
    EXPECT_FALSE(d->actOk->isEnabled());
    EXPECT_EQ(d->dbox_ProductClass->currentIndex(), 0) << "the controls show the cleared conditions";

    QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
    EXPECT_EQ(shown(*d), QStringList({"T1", "T2", "T3", "T4"}));
    EXPECT_TRUE(d->btn_ProductActOk->isEnabled());
}

TEST_F(SearchDialogTest, ConditionControlsNarrowTheSearchAndCanGoBackToAny)
{
    auto d = open(true);
    d->show();
    ASSERT_EQ(shown(*d), QStringList({"T1", "T2", "T3", "T4"}));

    choose(d->DBComb_CityCode, QStringLiteral("天津"));
    EXPECT_EQ(d->DataModule()->cdsCondition->FieldByName(QStringLiteral("CITYCODE")).AsString(), QStringLiteral("022"));
    QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
    EXPECT_EQ(shown(*d), QStringList({"T3", "T4"}));

    choose(d->DBComb_CityCode, QString());
    choose(d->DBComb_PlaceCode, QStringLiteral("北京音乐厅"));
    choose(d->dbox_ProductClass, QStringLiteral("音乐会"));
    QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
    EXPECT_EQ(shown(*d), QStringList{"T1"});

    choose(d->DBComb_PlaceCode, QString());
    choose(d->dbox_ProductClass, QString());
    EXPECT_EQ(d->DataModule()->cdsCondition->FieldByName(QStringLiteral("ProductClassCode")).AsString(), QString());
    d->dbox_BTime->setDate(QDate::currentDate().addDays(4));
    d->dbox_ETime->setDate(QDate::currentDate().addDays(200));
    QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
    EXPECT_EQ(shown(*d), QStringList({"T3", "T4", "T5"}));
    EXPECT_EQ(d->DataModule()->cdsCondition->FieldByName(QStringLiteral("BHappenTime")).AsDateTime(),
              QDateTime(QDate::currentDate().addDays(4), QTime(0, 0)));

    // The blank date (the editor's minimum) means no bound.
    d->dbox_BTime->setDate(d->dbox_BTime->minimumDate());
    EXPECT_TRUE(d->DataModule()->cdsCondition->FieldByName(QStringLiteral("BHappenTime")).IsNull());
    QTest::mouseClick(d->BitBtn1, Qt::LeftButton);
    EXPECT_EQ(shown(*d), QStringList({"T1", "T2", "T3", "T4", "T5"}));
    EXPECT_EQ(testPresenter().count(), 0) << testPresenter().texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(SearchDialogTest, HolderColumnUnassignedTickAndEnterInTheNameBox)
{
    db.exec(QStringLiteral("insert into QEL_PROJECT (CNAME) values ('春季音乐节')"));
    const QString holds = QStringLiteral("insert into QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) select ID, '%1' from QEL_PROJECT");
    db.exec(holds.arg(QStringLiteral("T2")));
    auto d = open(true);
    d->show();
    ASSERT_EQ(shown(*d), QStringList({"T1", "T2", "T3", "T4"}));
    const int holder = d->dsProduct->columnCount() - 1;
    EXPECT_EQ(d->dsProduct->index(1, holder).data().toString(), QStringLiteral("春季音乐节"));
    EXPECT_EQ(d->dsProduct->index(0, holder).data().toString(), QString()) << "free";

    StatementRecorder rec;
    QTest::mouseClick(d->ckb_Unassigned, Qt::LeftButton);
    EXPECT_EQ(shown(*d), QStringList({"T1", "T3", "T4"}));
    EXPECT_EQ(rec.count(), 0) << "the rows found are narrowed in memory";

    // Enter searches by name, and the tick narrows the new rows too.
    db.exec(holds.arg(QStringLiteral("T4")));
    typeInto(d->edt_ProductName, QStringLiteral("剧"));
    QTest::keyClick(d->edt_ProductName, Qt::Key_Return);
    EXPECT_EQ(shown(*d), QStringList());
    QTest::mouseClick(d->ckb_Unassigned, Qt::LeftButton);
    EXPECT_EQ(shown(*d), QStringList({"T2", "T4"}));
    EXPECT_EQ(d->dsProduct->index(1, holder).data().toString(), QStringLiteral("春季音乐节"));
}

TEST_F(SearchDialogTest, SortClickShowsTheTopOfTheSortedList)
{
    for (int i = 0; i < 60; ++i)
        add(QStringLiteral("N%1").arg(i), QStringLiteral("新年音乐会"), 3 + i, QStringLiteral("C01"), QStringLiteral("P01"), QStringLiteral("5"));
    auto d = open(true);
    d->show();
    ASSERT_EQ(d->DataModule()->cdsProduct->FieldByName(QStringLiteral("PRODUCTCODE")).AsString(), QStringLiteral("T1"));
    QHeaderView *titles = d->dgrd_Product->horizontalHeader();
    const QPoint time(titles->sectionViewportPosition(2) + 10, titles->height() / 2);
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, time);
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, time);
    // Latest first: T1, the current record before, is now last.
    ASSERT_EQ(d->dgrd_Product->SortOrder(), Qt::DescendingOrder);
    EXPECT_EQ(d->dgrd_Product->verticalScrollBar()->value(), 0);
    EXPECT_EQ(d->dgrd_Product->currentIndex().row(), 0);
    EXPECT_EQ(d->dgrd_Product->model()->index(0, 0).data().toString(), QStringLiteral("新年音乐会"));
}

TEST_F(SearchDialogTest, FreeingTheDialogFreesItsModuleAndClearsTheGlobals)
{
    auto d = open(true);
    UISearchProduct_pro = d.get();
    QPointer<TCDSearchProduct_pro> module = d->DataModule();
    ASSERT_FALSE(module.isNull());
    d->show();
    d.reset();
    EXPECT_TRUE(module.isNull());
    EXPECT_EQ(CDSearchProduct_pro.data(), nullptr);
    EXPECT_EQ(UISearchProduct_pro.data(), nullptr);
}

} // namespace
