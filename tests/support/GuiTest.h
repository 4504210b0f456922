#pragma once
#include <QApplication>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>

class QComboBox;
class QMenu;
class QTabWidget;
class TQELClientDataSet;
class TQELDBGrid;

// Answers the modal dialog of type D that the next command opens: create it
// before the click; fill runs once the dialog shows. A dialog that fill leaves
// open is cancelled (with 2) so that the test can go on.
template <class D>
class ModalAnswer {
public:
    explicit ModalAnswer(std::function<void(D *)> fill) : m_fill(std::move(fill)) { poll(0); }
    bool seen() const { return m_seen; }
    bool leftOpen() const { return m_leftOpen; }

private:
    void poll(int attempt)
    {
        QTimer::singleShot(attempt == 0 ? 0 : 10, &m_ctx, [this, attempt] {
            auto *d = qobject_cast<D *>(QApplication::activeModalWidget());
            if (!d) {
                if (attempt < 300)
                    poll(attempt + 1);
                return;
            }
            m_seen = true;
            QPointer<D> guard(d);
            m_fill(d);
            if (guard && guard->isVisible()) {
                m_leftOpen = true;
                guard->done(2);
            }
        });
    }
    QObject m_ctx;
    std::function<void(D *)> m_fill;
    bool m_seen = false;
    bool m_leftOpen = false;
};

// Closes a window the test opened, lets the deletions it deferred run, and
// frees it (unless it already went).
template <class W>
void disposeWindow(QPointer<W> &win)
{
    if (win)
        win->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete win.data();
}

// Types text the way an operator does: replaces what the box (line edit or
// spin box) holds. Chinese arrives through the input method, as on a real desk.
void typeInto(QWidget *edit, const QString &text);

// One column of a grid as the operator sees it, top to bottom.
QStringList gridColumn(const TQELDBGrid *grid, int col);
// The position, in the dataset's shown order, of the first row whose field
// reads value; -1 when there is none.
int posOf(const TQELClientDataSet *ds, const QString &field, const QString &value);
// Clicks the grid row at pos with the mouse (a test failure when pos < 0).
void clickRow(TQELDBGrid *grid, int pos, Qt::KeyboardModifiers mods = Qt::NoModifier);
// Runs step with the active modal window once the click that opens it has
// opened it (call before the click); a window the step leaves open is a
// failure and is closed.
void whenModal(std::function<void(QWidget *)> step);
// Picks an item of a combo box with the arrow keys, as an operator does.
bool pick(QComboBox *box, const QString &text);
// Clicks a tab of the tab widget with the mouse.
void clickTab(QTabWidget *tabs, int index);
// Opens the grid's context menu over row as a right click does, and runs
// step on it while it is open; returns the texts it offered.
QStringList withContextMenu(TQELDBGrid &grid, int row, const std::function<void(QMenu *)> &step);
// Chooses the menu item with this text, as a click on it does (a test failure when there is none).
void trigger(QMenu *menu, const QString &text);
// The texts a combo box offers, in order.
QStringList comboItems(const QComboBox *box);
