#pragma once
#include "CoreGlobal.h"
#include <QString>

// What a backup wrote.
struct SqliteBackupResult {
    QString copy;    // absolute path of the copy
    int tables = 0;  // the database's own tables (not SQLite's)
    qint64 rows = 0; // their rows, all together
};

// Copies the SQLite database `source` to `copy` as it stood at one moment,
// while other desks may have it open and write to it (saves still in its WAL
// included), through SQLite's online backup from a connection of its own,
// inside one read transaction of that connection. The copy is written to a
// hidden temporary file in copy's folder and checked (integrity, and every
// table's row count against the source's in the same transaction), synced,
// and only then renamed over `copy`: on any failure the temporary file goes
// and an older copy stays exactly as it was. The source is never created; a
// source without tables, and a copy that is the source or one of its -wal,
// -shm or -journal files, are refused. Throws EHostError saying why, in Chinese.
QELCORE_EXPORT SqliteBackupResult BackupSqliteDatabase(const QString &source, const QString &copy);
