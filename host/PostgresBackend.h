#pragma once
#include "Backend.h"

struct pg_conn;

// libpq connection with client_encoding=UTF8 (see Pipe: GBK is checked before
// sending, and a UTF8 client never fails a whole SELECT on one foreign row).
class QELHOST_EXPORT PostgresBackend : public Backend {
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
};
