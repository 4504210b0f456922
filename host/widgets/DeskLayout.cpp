#include "DeskLayout.h"
#include "DBGrid.h"
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>
#include <algorithm>
#include <utility>

namespace {

const QString kSortAscending = QStringLiteral("asc");
const QString kSortDescending = QStringLiteral("desc");
constexpr int kMaxWindowSide = 16384;

// The title bar of a window at rect can be reached on some screen: enough of
// its top strip lies inside a screen's available area to grab and drag it.
bool reachable(const QRect &rect)
{
    const QRect strip(rect.topLeft(), QSize(rect.width(), 32));
    const auto screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [&](const QScreen *screen) {
        const QRect seen = strip & screen->availableGeometry();
        return seen.width() >= std::min(rect.width(), 100) && seen.height() >= 16;
    });
}

template <class T>
bool holds(const QVariant &v)
{
    return v.metaType() == QMetaType::fromType<T>();
}

// A column's key in the settings: its field; none for a column without one.
QString columnKey(const GridColumn &c) { return c.field.trimmed(); }

int columnOfKey(const QList<GridColumn> &columns, const QString &key)
{
    for (int i = 0; i < columns.size(); ++i)
        if (!key.isEmpty() && columnKey(columns[i]).compare(key, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// The grids and tab widgets of this window, not of a dialog it has open.
template <class T>
QList<T *> own(QWidget *window)
{
    QList<T *> out;
    for (T *w : window->findChildren<T *>())
        if (w->window() == window)
            out.append(w);
    return out;
}

} // namespace

TQELDeskLayout *TQELDeskLayout::Remember(QWidget *window, Keep keep)
{
    if (auto *has = window->findChild<TQELDeskLayout *>(QString(), Qt::FindDirectChildrenOnly))
        return has;
    return new TQELDeskLayout(window, keep);
}

TQELDeskLayout::TQELDeskLayout(QWidget *window, Keep keep) : QObject(window), m_window(window), m_keep(keep), m_designedSize(window->size())
{
    window->installEventFilter(this);
    for (TQELDBGrid *grid : grids())
        connect(grid, &TQELDBGrid::DefaultLayoutRestored, this, &TQELDeskLayout::onDefaultLayout);
    // A window still open when the program ends never sees its close.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (m_window->isVisible())
            Save();
    });
}

QString TQELDeskLayout::Group() const
{
    const QString name = m_window->objectName();
    return QStringLiteral("Layout/") + (name.isEmpty() ? QString::fromLatin1(m_window->metaObject()->className()) : name);
}

QList<TQELDBGrid *> TQELDeskLayout::grids() const { return own<TQELDBGrid>(m_window); }

QString TQELDeskLayout::gridGroup(const TQELDBGrid *grid) const
{
    if (!grid->objectName().isEmpty())
        return grid->objectName();
    return QStringLiteral("Grid%1").arg(grids().indexOf(const_cast<TQELDBGrid *>(grid)) + 1);
}

bool TQELDeskLayout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::Show: {
        // The first show only: a window shown again keeps what it has and
        // starts its lists afresh, as it always did. Before the window's own
        // show handler: it is not on screen yet.
        if (event->spontaneous() || m_shown)
            break;
        m_designedSize = m_window->size();
        m_shown = true;
        m_viewsDue = DeskSettingsKept() && m_keep == Keep::Everything;
        if (DeskSettingsKept()) {
            QSettings s;
            s.beginGroup(Group());
            if (m_keep == Keep::Everything)
                restoreGeometry(s);
            restoreWidths(s);
        }
        break;
    }
    case QEvent::ShowToParent:
        // After it: its start has set the first page and new lists.
        if (std::exchange(m_viewsDue, false)) {
            QSettings s;
            s.beginGroup(Group());
            restoreViews(s);
        }
        break;
    case QEvent::Close: // before the window's close handler lets its lists go
        Save();
        m_savedAtClose = true;
        break;
    case QEvent::Hide: // the hide that follows a close has nothing new to keep
        if (!std::exchange(m_savedAtClose, false))
            Save();
        break;
    default:
        break;
    }
    return false;
}

bool DeskSettingsKept() { return !QCoreApplication::organizationName().isEmpty(); }

void TQELDeskLayout::Save() const
{
    if (!m_shown || !DeskSettingsKept())
        return;
    QSettings s;
    s.beginGroup(Group());
    saveGeometry(s);
    for (const TQELDBGrid *grid : grids()) {
        s.beginGroup(gridGroup(grid));
        // Only the columns shown: a grid with two column sets keeps the other's.
        const QList<GridColumn> &columns = grid->Columns();
        const QList<int> widths = grid->ColumnWidths();
        for (int i = 0; i < columns.size() && i < widths.size(); ++i) {
            const QString key = QStringLiteral("Widths/") + columnKey(columns[i]);
            if (columnKey(columns[i]).isEmpty())
                continue;
            if (widths[i] != columns[i].width)
                s.setValue(key, widths[i]);
            else
                s.remove(key);
        }
        // A grid without its list (the window is closing) shows no sort: the last one stays.
        if (grid->DataSource()) {
            const int c = grid->SortColumn();
            if (c >= 0 && c < columns.size() && !columnKey(columns[c]).isEmpty()) {
                s.setValue(QStringLiteral("Sort"), columnKey(columns[c]));
                s.setValue(QStringLiteral("Order"), grid->SortOrder() == Qt::DescendingOrder ? kSortDescending : kSortAscending);
            } else {
                s.remove(QStringLiteral("Sort"));
                s.remove(QStringLiteral("Order"));
            }
        }
        s.endGroup();
    }
}

void TQELDeskLayout::saveGeometry(QSettings &s) const
{
    const bool maximized = m_window->isMaximized();
    const QRect normal = maximized || m_window->isMinimized() ? m_window->normalGeometry() : m_window->geometry();
    // The frame's position, as move() takes it.
    const QPoint frame = m_window->geometry().topLeft() - m_window->pos();
    s.setValue(QStringLiteral("pos"), normal.topLeft() - frame);
    s.setValue(QStringLiteral("size"), normal.size());
    s.setValue(QStringLiteral("maximized"), maximized);
}

void TQELDeskLayout::restoreGeometry(QSettings &s)
{
    QSize size = m_designedSize;
    const QVariant savedSize = s.value(QStringLiteral("size"));
    if (holds<QSize>(savedSize)) {
        const QSize saved = savedSize.toSize();
        if (saved.width() > 0 && saved.height() > 0 && saved.width() <= kMaxWindowSide && saved.height() <= kMaxWindowSide)
            size = saved;
    }
    const QVariant savedPos = s.value(QStringLiteral("pos"));
    const bool place = holds<QPoint>(savedPos) && reachable(QRect(savedPos.toPoint(), size));
    // No bigger than the screen it goes to, unless the design is.
    const QScreen *screen = place ? QGuiApplication::screenAt(savedPos.toPoint() + QPoint(std::min(size.width() / 2, 50), 16)) : m_window->screen();
    if (screen)
        size = size.boundedTo(screen->availableGeometry().size().expandedTo(m_designedSize));
    if (size != m_window->size())
        m_window->resize(size);
    if (place)
        m_window->move(savedPos.toPoint());
    if (s.value(QStringLiteral("maximized")).toString() == QLatin1String("true") && m_window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint))
        m_window->setWindowState(m_window->windowState() | Qt::WindowMaximized);
}

void TQELDeskLayout::restoreWidths(QSettings &s)
{
    for (TQELDBGrid *grid : grids()) {
        s.beginGroup(gridGroup(grid) + QStringLiteral("/Widths"));
        const QList<GridColumn> &columns = grid->Columns();
        QList<int> widths(columns.size(), 0);
        for (const QString &key : s.childKeys()) {
            const int c = columnOfKey(columns, key);
            bool ok = false;
            const int w = s.value(key).toInt(&ok);
            if (c >= 0 && ok && w >= TQELDBGrid::MinColumnWidth && w <= TQELDBGrid::MaxColumnWidth)
                widths[c] = w;
        }
        grid->SetColumnWidths(widths);
        s.endGroup();
    }
}

void TQELDeskLayout::restoreViews(QSettings &s)
{
    for (TQELDBGrid *grid : grids()) {
        s.beginGroup(gridGroup(grid));
        const int c = columnOfKey(grid->Columns(), s.value(QStringLiteral("Sort")).toString());
        const QString order = s.value(QStringLiteral("Order")).toString();
        s.endGroup();
        if (c < 0 || (order != kSortAscending && order != kSortDescending))
            continue;
        const Qt::SortOrder o = order == kSortDescending ? Qt::DescendingOrder : Qt::AscendingOrder;
        if (grid->SortColumn() != c || grid->SortOrder() != o)
            grid->SortByColumn(c, o);
    }
}

void TQELDeskLayout::RestoreDefaultWindow()
{
    if (!m_shown)
        return;
    if (m_window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        m_window->setWindowState(m_window->windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
    m_window->resize(m_designedSize);
    // A dialog goes back over its parent, as it first opened; any window back on a screen.
    QRect at(m_window->pos(), m_window->frameGeometry().size());
    if (const QWidget *parent = m_window->parentWidget())
        at.moveCenter(parent->window()->frameGeometry().center());
    if (!reachable(at))
        if (const QScreen *screen = m_window->screen())
            at.moveCenter(screen->availableGeometry().center());
    m_window->move(at.topLeft());
}

void TQELDeskLayout::onDefaultLayout()
{
    RestoreDefaultWindow();
    Save();
}
