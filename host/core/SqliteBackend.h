#pragma once
#include "Backend.h"

struct sqlite3;

class QELCORE_EXPORT SqliteBackend : public Backend {
public:
    // Opens (and creates) the file; WAL, synchronous=NORMAL, busy_timeout=5000.
    // A file it may not write opens read-only; an empty path is refused.
    explicit SqliteBackend(const QString &path);
    ~SqliteBackend() override;

    int exec(const QByteArray &sql) override;
    DataPacket query(const QByteArray &sql) override;
    void execScript(const QByteArray &sql) override;
    void begin() override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;
    QString engine() const override { return QStringLiteral("sqlite"); }

    sqlite3 *handle() const { return m_db; }

private:
    [[noreturn]] void fail(const char *what, int rc) const;
    void open(int flags, bool immutable = false);
    void configure(bool writable);
    // False when even a read of the schema fails (e.g. no -shm can be made).
    bool readable() const;
    sqlite3 *m_db = nullptr;
    QString m_path;
};
