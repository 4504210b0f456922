#pragma once
#include "Backend.h"
#include <QByteArray>
#include <QDate>
#include <QStringList>
#include <QString>

// Creates every table and index of the module's world on this connection
// (idempotent is NOT required; it runs on an empty database).
void CreateSchema(Backend &db);
// The schema script for "sqlite" or "postgresql".
QByteArray SchemaScript(const QString &engine);
// The module's tables, lower case, as the script for the engine creates them.
QStringList SchemaTables(const QString &engine);
// The part of the schema script that databases made by earlier versions lack
// (the change history table, its indexes and triggers).
QByteArray HistorySchemaScript(const QString &engine);
// Adds that part, in one transaction, to a database that has the module's
// tables but no history; true when it did. No row is touched. A read-only
// connection is left as it is. Throws EHostError (and changes nothing) when
// the database refuses it.
bool UpgradeDatabase(Backend &db);
// Readies an SQLite file for the module: a file with no tables gets the schema
// and the demo data in one transaction; a file with all the module's tables is
// brought up to date (UpgradeDatabase); a file with other tables but not all of
// ours is refused.
void PrepareSqliteDatabase(Backend &db, const QDate &today = QDate::currentDate());
