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

protected:
    // Becomes the session settings qel.node, qel.group and qel.user, which the
    // history triggers read; set before the next statement, and again after a
    // reconnect or a rollback (either may have undone them).
    void operatorChanged(const QString &node, const QString &group, const QString &user) override;

private:
    void ensureConnected();
    void applyOperator();
    pg_conn *m_conn = nullptr;
    QString m_uri;
    // The session's settings were checked and its tunables set (see configureSession).
    bool m_configured = false;
    QByteArray m_operator[3];
    bool m_hasOperator = false;
    bool m_operatorApplied = false;
};
