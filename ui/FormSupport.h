#pragma once
#include <QFont>
#include <QIcon>
#include <QList>
#include <QString>

class QComboBox;
class QToolBar;
class QToolButton;
class QWidget;

// What a form's close handler asks for.
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

// "宋体" at a height of 15 pixels, as the forms ask for it.
QFont SongFont();
// The toolbar images by index: 0 edit, 1 delete, 2 refresh, 3 search, 4 close, 5 new.
QList<QIcon> ToolbarImages(const QWidget *style);
// A flat 67 x 38 toolbar button with its caption under the image.
QToolButton *AddToolButton(QToolBar *bar, const QString &name, const QString &caption, const QIcon &icon);
// An 8-pixel toolbar separator.
void AddToolSeparator(QToolBar *bar, const QString &name);
// The item an editable combo box stands on: the item whose text is shown, -1 for none.
int ComboItemIndex(const QComboBox *box);
