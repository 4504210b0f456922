#include "GuiTest.h"
#include "ClientDataSet.h"
#include "DBGrid.h"
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

void typeInto(QWidget *edit, const QString &text)
{
    edit->setFocus();
    if (auto *le = qobject_cast<QLineEdit *>(edit))
        le->selectAll();
    else if (auto *sb = qobject_cast<QAbstractSpinBox *>(edit))
        sb->selectAll();
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii) {
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Delete);
        else
            QTest::keyClicks(edit, text);
        return;
    }
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(edit, &commit);
}

QStringList gridColumn(const TQELDBGrid *grid, int col)
{
    QStringList out;
    const QAbstractItemModel *m = grid->model();
    for (int r = 0; m && r < m->rowCount(); ++r)
        out << m->index(r, col).data().toString();
    return out;
}

int posOf(const TQELClientDataSet *ds, const QString &field, const QString &value)
{
    const int f = ds->FieldIndex(field);
    for (int pos = 0; pos < ds->RecordCount(); ++pos)
        if (ds->text(ds->rowAt(pos), f) == value)
            return pos;
    return -1;
}

void clickRow(TQELDBGrid *grid, int pos, Qt::KeyboardModifiers mods)
{
    ASSERT_GE(pos, 0);
    const QModelIndex index = grid->model()->index(pos, 0);
    grid->scrollTo(index);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, mods, grid->visualRect(index).center());
}

void clickTab(QTabWidget *tabs, int index)
{
    QTabBar *bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

QStringList comboItems(const QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

void whenModal(std::function<void(QWidget *)> step)
{
    QTimer::singleShot(0, [step] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            ADD_FAILURE() << "no modal window opened";
            return;
        }
        QPointer<QWidget> guard(modal);
        step(modal);
        if (guard && guard->isVisible()) {
            ADD_FAILURE() << "the modal window " << guard->objectName().toStdString() << " was left open";
            guard->close();
        }
    });
}

bool pick(QComboBox *box, const QString &text)
{
    const int target = box->findText(text);
    if (target < 0)
        return false;
    for (int i = 0; i < 50 && box->currentIndex() != target; ++i)
        QTest::keyClick(box, box->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    return box->currentIndex() == target && box->currentText() == text;
}

// Opens the grid's context menu over row as a right click does, and runs
// step on it while it is open; returns the texts it offered.
QStringList withContextMenu(TQELDBGrid &grid, int row, const std::function<void(QMenu *)> &step)
{
    QStringList offered;
    bool opened = false;
    QTimer::singleShot(0, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        opened = true;
        for (QAction *a : menu->actions())
            if (!a->isSeparator())
                offered << a->text();
        step(menu);
        if (menu->isVisible())
            menu->close();
    });
    const QPoint p = grid.visualRect(grid.model()->index(row, 0)).center();
    // The press comes first, then the menu.
    QTest::mouseClick(grid.viewport(), Qt::RightButton, {}, p);
    QContextMenuEvent e(QContextMenuEvent::Mouse, p, grid.viewport()->mapToGlobal(p));
    QApplication::sendEvent(grid.viewport(), &e);
    EXPECT_TRUE(opened) << "no context menu opened";
    return offered;
}

void trigger(QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions()) {
        if (a->text() == text) {
            // As a click on the item does: the menu closes, then the action runs.
            menu->hide();
            a->trigger();
            return;
        }
    }
    ADD_FAILURE() << "no menu item " << text.toStdString();
}
