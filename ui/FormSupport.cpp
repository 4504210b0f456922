#include "FormSupport.h"
#include <QComboBox>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

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
    b->setFixedSize(67, 38);
    // Image and caption must both fit the 38-pixel button.
    b->setStyleSheet(QStringLiteral("QToolButton { padding: 0px; margin: 0px; }"));
    b->setFont(SongFont());
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
