#pragma once
#include <QFont>
#include <QIcon>
#include <QList>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QComboBox;
class QKeySequence;
class QLineEdit;
class QShortcut;
class QProgressDialog;
class WaitCursor;
class QToolBar;
class QToolButton;
class QWidget;

// What a form's close handler asks for.
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

// "宋体" at a height of 15 pixels, as the forms ask for it.
QFont SongFont();
// The toolbar images by index: 0 edit, 1 delete, 2 refresh, 3 search, 4 close, 5 new.
QList<QIcon> ToolbarImages(const QWidget *style);
// The form's toolbar "ToolBar1", fixed and without margins, in panel's layout.
QToolBar *AddFormToolBar(QWidget *panel);
// A flat 67 x 38 toolbar button with its caption under the image.
QToolButton *AddToolButton(QToolBar *bar, const QString &name, const QString &caption, const QIcon &icon);
// An 8-pixel toolbar separator.
void AddToolSeparator(QToolBar *bar, const QString &name);
// A key for a toolbar command anywhere in window: it clicks the button while
// the button is enabled (the key of a disabled command does nothing), and the
// button's tooltip names it, with how else to reach the command if given.
QShortcut *AddCommandKey(QWidget *window, QToolButton *button, const QKeySequence &key, const QString &keyName, const QString &also = QString());
// Ctrl+F: the filter box box() names (the active tab's) takes the focus with its text selected.
QShortcut *AddFindKey(QWidget *window, std::function<QLineEdit *()> box);
// The item an editable combo box stands on: the item whose text is shown, -1 for none.
int ComboItemIndex(const QComboBox *box);
// A limit quantity is a count of tickets: whole, non-negative, and small enough to store.
bool IsLimitCount(const QString &text);

// A busy cursor at once and, once a bulk command has run for half a second, a
// progress dialog that keeps the window painted. step() costs a clock read;
// the dialog is updated at most every 50 ms.
class BulkProgress {
public:
    BulkProgress(QWidget *parent, const QString &label, qsizetype total);
    ~BulkProgress();
    BulkProgress(const BulkProgress &) = delete;
    BulkProgress &operator=(const BulkProgress &) = delete;
    void step(qsizetype done);

private:
    std::unique_ptr<WaitCursor> m_cursor;
    QPointer<QWidget> m_parent;
    QString m_label;
    qsizetype m_total;
    QElapsedTimer m_clock;
    qint64 m_shown = 0;
    std::unique_ptr<QProgressDialog> m_dialog;
};
