#include "FormSupport.h"
#include <QComboBox>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>
#include <algorithm>

QFont SongFont()
{
    QFont f(QStringLiteral("宋体"));
    f.setPixelSize(15);
    return f;
}

QList<QIcon> ToolbarImages(const QWidget *w)
{
    const QStyle *s = w->style();
    return {
        QIcon::fromTheme(QStringLiteral("document-edit"), s->standardIcon(QStyle::SP_FileDialogDetailedView)),
        QIcon::fromTheme(QStringLiteral("edit-delete"), s->standardIcon(QStyle::SP_TrashIcon)),
        QIcon::fromTheme(QStringLiteral("view-refresh"), s->standardIcon(QStyle::SP_BrowserReload)),
        QIcon::fromTheme(QStringLiteral("edit-find"), s->standardIcon(QStyle::SP_FileDialogContentsView)),
        QIcon::fromTheme(QStringLiteral("window-close"), s->standardIcon(QStyle::SP_DialogCloseButton)),
        QIcon::fromTheme(QStringLiteral("document-new"), s->standardIcon(QStyle::SP_FileIcon)),
    };
}

QToolButton *AddToolButton(QToolBar *bar, const QString &name, const QString &caption, const QIcon &icon)
{
    auto *b = new QToolButton(bar);
    b->setObjectName(name);
    b->setText(caption);
    b->setIcon(icon);
    b->setIconSize(QSize(16, 16));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    b->setFont(SongFont());
    // 67 x 38 as laid out, but never so low that the caption is cut off.
    b->setFixedSize(67, std::max(38, b->sizeHint().height()));
    bar->addWidget(b);
    return b;
}

void AddToolSeparator(QToolBar *bar, const QString &name)
{
    auto *sep = new QWidget(bar);
    sep->setObjectName(name);
    sep->setFixedSize(8, 38);
    bar->addWidget(sep);
}

int ComboItemIndex(const QComboBox *box)
{
    const int i = box->currentIndex();
    if (!box->isEditable())
        return i;
    // Typed text counts only when it names an item exactly.
    if (i >= 0 && box->itemText(i) == box->currentText())
        return i;
    return box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}
