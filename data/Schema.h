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
// The schema version this program makes and works with: the scripts stamp
// it (PRAGMA user_version on SQLite, the table QEL_SCHEMA_VERSION on
// PostgreSQL), and UpgradeDatabase brings older databases up to it.
int SchemaVersion();
// Start-up: a database stamped with a newer version is refused (EHostError,
// nothing written, also when it is read-only). An older one, or one made
// before the stamp (known by what it holds: 1 without the history, 2 with a
// history without the delete counts), is brought up a version at a time,
// each step with its stamp in one transaction; a step 1 to 2 (the rules'
// triggers where missing, and the history) that the database refuses throws
// EHostError, that step changing nothing. Then, on every start, every
// trigger, function, index and column of the history that is missing or
// differs from the script is made again, in one transaction. True when it
// changed the database. No row is touched. Where that cannot be done (a
// read-only file, a role without the rights) and db is the process's
// connection, Database::refuseWrites stops every write with a message saying
// why; reads go on. A read-only file without a history is used as it stands.
bool UpgradeDatabase(Backend &db);
// What PrepareSqliteDatabase may add to the file besides bringing the
// module's tables up to date.
enum class SqliteFill {
    Nothing,       // a file with no tables yet is refused
    Schema,        // a file with no tables gets the schema
    Demo,          // the schema where missing, then the demo data; a file with projects is refused
    DemoWhenEmpty, // only a file with no tables gets the schema and the demo data (a fresh test file)
};
// Readies an SQLite file for the module: a file with no tables gets what
// `fill` asks for (schema and demo data in one transaction) or is refused; a
// file with all the module's tables is brought up to date (UpgradeDatabase);
// a file with other tables but not all of ours is refused.
void PrepareSqliteDatabase(Backend &db, const QDate &today = QDate::currentDate(), SqliteFill fill = SqliteFill::DemoWhenEmpty);
