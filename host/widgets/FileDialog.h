#pragma once
#include "HostGlobal.h"
#include <QString>

class QWidget;

// Asks where to save a file, in Qt's own dialog with an icon provider that
// judges files by their names only. A platform dialog, or Qt's default
// provider guessing a type from a file's first bytes, opens and closes every
// file of the folder shown; on Linux that drops every POSIX lock the process
// holds on a file, SQLite's included, when the folder holds the open
// database. The name returned ends in .suffix (a bare name gets it, a name
// ending in another table format's suffix has it replaced) and the dialog
// asks before replacing that file. Empty when cancelled.
QELHOST_EXPORT QString AskSaveFileName(QWidget *parent, const QString &caption, const QString &suggested, const QString &filter, const QString &suffix);

// fileName with .suffix: appended to a bare name or one with some other
// suffix; a table format's suffix (.xlsx, .xls, .csv) is replaced.
QELHOST_EXPORT QString WithSuffix(const QString &fileName, const QString &suffix);

// The folder the next export dialog opens in: the one last saved to on this
// desk (kept in its settings, see DeskSettingsKept; else for this run), else
// the operator's documents folder, else home.
QELHOST_EXPORT QString ExportFolder();
QELHOST_EXPORT void RememberExportFolder(const QString &folder);
