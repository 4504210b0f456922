#pragma once
#include "Backend.h"
#include "DataPacket.h"
#include "QtPrint.h"
#include <QString>
#include <QStringList>
#include <memory>

class QTemporaryDir;

// A fresh database of its own for one test, opened as the process database
// (Database::open), with the schema (CreateSchema) and optionally the demo data.
// QEL_DATABASE unset or sqlite:… → a new SQLite file in a temporary folder.
// QEL_DATABASE=postgresql://… → a new database created on that server
// (qeltest_<pid>_<random>), dropped WITH (FORCE) afterwards.
class TestDatabase {
public:
    explicit TestDatabase(bool demoData = false);
    ~TestDatabase(); // Database::close(), then removes the file / drops the database
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    QString url() const { return m_url; }
    bool isPostgres() const { return m_postgres; }
    // The database created on the server; empty on SQLite.
    QString databaseName() const { return m_dbName; }
    // The SQLite file; empty on PostgreSQL.
    QString sqlitePath() const { return m_sqlitePath; }
    // A folder that lives as long as this object (SQLite only; empty on PostgreSQL).
    QString tempDir() const;

    // An independent second connection (Database::connect) for checking effects.
    Backend &raw();
    // Forgets the checking connections (after the server was restarted).
    void dropConnections()
    {
        m_raw.reset();
        m_unchecked.reset();
    }
    int exec(const QString &sql);
    // Runs sql on a connection of its own with the database's triggers off, to
    // lay down rows the rules would now refuse (data from before the rules or
    // from other programs): mixed limit types, limits of a missing project.
    int execUnchecked(const QString &sql);
    DataPacket query(const QString &sql);
    // First cell as text; empty when there is no row.
    QString scalar(const QString &sql);
    // The first column of every row, as text.
    QStringList texts(const QString &sql);
    // First cell as an integer; 0 when there is no row.
    int count(const QString &sql);

    // The engine QEL_DATABASE selects, without creating anything.
    static bool postgresSelected();

private:
    void cleanup() noexcept;

    bool m_postgres = false;
    QString m_url;
    QString m_adminUrl;
    QString m_dbName;
    QString m_sqlitePath;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Backend> m_raw;
    std::unique_ptr<Backend> m_unchecked;
};

// Records each (context, statement) that pipes send (Database::setTraceHook);
// removes the hook again on destruction.
class StatementRecorder {
public:
    StatementRecorder();
    ~StatementRecorder();
    StatementRecorder(const StatementRecorder &) = delete;
    StatementRecorder &operator=(const StatementRecorder &) = delete;

    QStringList statements() const { return m_statements; }
    QStringList contexts() const { return m_contexts; }
    int count() const { return int(m_statements.size()); }
    void clear();

private:
    QStringList m_statements;
    QStringList m_contexts;
};

// While alive, the calling thread obeys file permissions even when run as root
// (CAP_DAC_OVERRIDE leaves its effective set), so a read-only file stays read-only.
class FilePermissionsEnforced {
public:
    FilePermissionsEnforced();
    ~FilePermissionsEnforced();
    FilePermissionsEnforced(const FilePermissionsEnforced &) = delete;
    FilePermissionsEnforced &operator=(const FilePermissionsEnforced &) = delete;
    // False when running as root and the override could not be dropped.
    bool active() const { return m_active; }

private:
    bool m_dropped = false;
    bool m_active = true;
};

// The URL with its database name replaced (libpq URI form).
QString withDatabaseName(const QString &url, const QString &name);
