#pragma once
#include "Backend.h"

struct sqlite3;

class QELHOST_EXPORT SqliteBackend : public Backend {
public:
    // Opens (and creates) the file; WAL, synchronous=NORMAL, busy_timeout=5000.
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
    sqlite3 *m_db = nullptr;
    QString m_path;
};
