#pragma once
#include "HostGlobal.h"
#include <QList>
#include <QObject>
#include <QSize>

class QSettings;
class QWidget;
class TQELDBGrid;

// How the operator left a window, kept per desk in the application's
// QSettings (never in the database): the window's size and position, the
// widths of the columns dragged in each of its grids and each grid's sort.
// Not the tab page: a window opens on the page its start sets. Saved when the window closes or hides (and when the
// application quits), put back when it first shows: size, position and
// widths before the window's own show handler runs, the sorts after
// it, since a window's start sets its first page and its lists afresh.
//
// Keys are the objectNames of the window and its grids; columns
// are known by their field, so a layout saved before columns were added or
// removed still fits. Whatever does not fit (a field no longer shown, a
// position off every screen, a value that is not what it should be) is left
// out, and the designed layout stands there.
//
// A grid's 恢复默认布局 puts that grid (widths and the list's own order) and
// the window's size back as designed, and forgets them.
// The host named its organization (QCoreApplication::setOrganizationName):
// the desk's settings have a place of their own. A program that did not
// name itself keeps nothing between runs (a layout, an export folder).
QELHOST_EXPORT bool DeskSettingsKept();

class QELHOST_EXPORT TQELDeskLayout : public QObject {
    Q_OBJECT
public:
    // What is put back on the next start. A window whose size, place and
    // list order its design fixes gets its column widths back only: the
    // operator's drags sit beside that design, a different opening would not.
    enum class Keep { Everything, ColumnWidths };
    // Remembers window's layout from now on (once per window; the window
    // owns it). Call it when the window's grids exist.
    static TQELDeskLayout *Remember(QWidget *window, Keep keep = Keep::Everything);

    void Save() const;
    // The window's designed size (and a dialog's place over its parent).
    void RestoreDefaultWindow();
    QSize DesignedSize() const { return m_designedSize; }
    // The settings group of the window.
    QString Group() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TQELDeskLayout(QWidget *window, Keep keep);
    void restoreGeometry(QSettings &s);
    void restoreWidths(QSettings &s);
    void restoreViews(QSettings &s);
    void saveGeometry(QSettings &s) const;
    void onDefaultLayout();
    QList<TQELDBGrid *> grids() const;
    QString gridGroup(const TQELDBGrid *grid) const;

    QWidget *m_window;
    Keep m_keep;
    QSize m_designedSize;
    bool m_shown = false;
    bool m_viewsDue = false; // sorts, once the first show handler has run
    bool m_savedAtClose = false;
};
