#include "FormSupport.h"
#include <QRegularExpression>
#include <ErrorHandler.h>
#include <QComboBox>
#include <QKeySequence>
#include <QLayout>
#include <QLineEdit>
#include <QShortcut>
#include <QProgressDialog>
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

QToolBar *AddFormToolBar(QWidget *panel)
{
    auto *bar = new QToolBar(panel);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setFont(SongFont());
    bar->setMovable(false);
    bar->setContentsMargins(0, 0, 0, 0);
    panel->layout()->addWidget(bar);
    return bar;
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

QShortcut *AddCommandKey(QWidget *window, QToolButton *button, const QKeySequence &key, const QString &keyName, const QString &also)
{
    auto *shortcut = new QShortcut(key, window);
    shortcut->setContext(Qt::WindowShortcut);
    // The button's own click, so the command runs exactly as the button runs it.
    QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled() && button->isVisibleTo(button->window()))
            button->click();
    });
    button->setToolTip(QStringLiteral("%1（%2%3）").arg(button->text(), keyName, also.isEmpty() ? QString() : QStringLiteral("，") + also));
    return shortcut;
}

QShortcut *AddFindKey(QWidget *window, std::function<QLineEdit *()> box)
{
    auto *key = new QShortcut(QKeySequence::Find, window);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, window, [box = std::move(box)] {
        if (QLineEdit *edit = box()) {
            edit->setFocus(Qt::ShortcutFocusReason);
            edit->selectAll();
        }
    });
    return key;
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

BulkProgress::BulkProgress(QWidget *parent, const QString &label, qsizetype total)
    : m_cursor(std::make_unique<WaitCursor>()), m_parent(parent), m_label(label), m_total(total)
{
    m_clock.start();
}

BulkProgress::~BulkProgress() = default;

void BulkProgress::step(qsizetype done)
{
    const qint64 now = m_clock.elapsed();
    if (now < 500 || now - m_shown < 50)
        return;
    m_shown = now;
    if (!m_dialog) {
        m_dialog = std::make_unique<QProgressDialog>(m_label, QString(), 0, int(m_total), m_parent);
        m_dialog->setWindowTitle(QStringLiteral("请稍候"));
        m_dialog->setWindowModality(Qt::WindowModal);
        m_dialog->setCancelButton(nullptr);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
    }
    // A window-modal dialog handles pending events here: the windows repaint.
    m_dialog->setValue(int(done));
}

bool IsLimitCount(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    bool ok = false;
    text.toInt(&ok);
    return ok && digits.match(text).hasMatch();
}
