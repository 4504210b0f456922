#pragma once
#include "Backend.h"

struct pg_conn;

// libpq connection with client_encoding=UTF8 (see Pipe: GBK is checked before
// sending, and a UTF8 client never fails a whole SELECT on one foreign row).
// standard_conforming_strings=on and ISO dates are pinned in the connection
// options and checked on every connect; a session without them runs nothing.
// Defaults a URL may override: connect_timeout=10, keepalives (30 s idle,
// 3 probes 10 s apart), tcp_user_timeout=60000; on the server lock_timeout=5s
// and statement_timeout=120s unless the URL, role, database or server sets them.
class QELCORE_EXPORT PostgresBackend : public Backend {
public:
    explicit PostgresBackend(const QString &uri);
    ~PostgresBackend() override;

    int exec(const QByteArray &sql) override;
    DataPacket query(const QByteArray &sql) override;
    void execScript(const QByteArray &sql) override;
    void begin() override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;
    QString engine() const override { return QStringLiteral("postgresql"); }

    pg_conn *handle() const { return m_conn; }

private:
    void ensureConnected();
    pg_conn *m_conn = nullptr;
    QString m_uri;
    // The session's settings were checked and its tunables set (see configureSession).
    bool m_configured = false;
};
