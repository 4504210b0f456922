#pragma once
#include "Backend.h"
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

struct pg_conn;
struct pg_result;

// libpq connection with client_encoding=UTF8 (see Pipe: GBK is checked before
// sending, and a UTF8 client never fails a whole SELECT on one foreign row).
// standard_conforming_strings=on and ISO dates are pinned in the connection
// options and checked on every connect; a session without them runs nothing.
// Defaults a URL may override: connect_timeout=10, keepalives (30 s idle,
// 3 probes 10 s apart), tcp_user_timeout=60000; on the server lock_timeout=5s
// and statement_timeout=120s unless the URL, role, database or server sets
// them to something other than 0 (a 0 from any of them is replaced: no source
// may take the desk's limits away).
// Every statement waits for its answer at most response_timeout seconds (30;
// the URL's query parameter response_timeout=SECONDS, which libpq never sees):
// then the server is asked to cancel it, the session is dropped and the call
// throws EConnectionLost with cause Deadline; the next call reconnects.
class QELCORE_EXPORT PostgresBackend : public Backend {
public:
    explicit PostgresBackend(const QString &uri);
    ~PostgresBackend() override;

    int exec(const QByteArray &sql) override;
    DataPacket query(const QByteArray &sql) override;
    // Inside a transaction: one pipeline (one round trip), every statement by
    // the extended protocol; the response timeout counts from the last answer.
    BatchOutcome batch(const QList<QByteArray> &sqls, bool queries) override;
    BatchOutcome commitWith(const QList<QByteArray> &writes) override;
    BatchOutcome commitThenBegin(const QList<QByteArray> &queries) override;
    void execScript(const QByteArray &sql) override;
    void begin() override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;
    QString engine() const override { return QStringLiteral("postgresql"); }

    // LISTEN qel_change on this session, renewed after every reconnect.
    void watchChanges(bool on) override;
    int changeSocket() const override;
    QList<TChangeNotice> takeChanges() override;

    pg_conn *handle() const { return m_conn; }

protected:
    // Becomes the session settings qel.node, qel.group and qel.user, which the
    // history triggers read; set before the next statement, and again after a
    // reconnect or a rollback (either may have undone them).
    void operatorChanged(const QString &node, const QString &group, const QString &user) override;

private:
    using Result = std::unique_ptr<pg_result, void (*)(pg_result *)>;
    void ensureConnected();
    // A new session on the first server that takes it (see m_hosts); null
    // with why when none did.
    pg_conn *openSession(QString &why);
    // Replaces the dead session with a new one, or throws EConnectionLost.
    void reconnect();
    static DataPacket packetOf(const pg_result *res);
    // Sends the statements as one pipeline (one round trip) and hands each
    // successful result to take, in order; returns the first statement's
    // failure (those after it do not run). A lost session throws.
    // The last statement may take text parameters.
    std::exception_ptr pipeline(const QList<QByteArray> &sqls, const QString &what, const std::function<void(const pg_result *)> &take,
                                int lastParams = 0, const char *const *params = nullptr);
    // The answer to COMMIT was lost: asks a new session what became of the
    // transaction. Returns when it was saved; throws saying it was not, or
    // that nobody can tell.
    void settleLostCommit(const QString &lost);
    // The server answered COMMIT of a failed transaction with a rollback.
    [[noreturn]] void throwRolledBack();
    // The pending BEGIN, the transaction's ID and these statements in one pipeline.
    BatchOutcome withBegin(const QList<QByteArray> &sqls, bool queries);
    void configureSession();
    void applyOperator();
    // Sends one statement (text parameters when given) and waits for all of
    // its answer within the response timeout; returns a successful result,
    // as PQexec would have, or throws.
    Result run(const QByteArray &sql, const QString &what, int nParams = 0, const char *const *params = nullptr, bool oneStatement = false);
    // Waits until the socket is ready for events or the deadline passes (then gives up).
    short waitFor(short events, std::chrono::steady_clock::time_point deadline, const QString &what);
    void flush(std::chrono::steady_clock::time_point deadline, const QString &what);
    // Ends a COPY the server started (in: it waits for data; else it sends some).
    void leaveCopy(bool in, std::chrono::steady_clock::time_point deadline, const QString &what);
    [[noreturn]] void giveUp(const QString &what);
    bool connected() const;

    pg_conn *m_conn = nullptr;
    QString m_uri;
    // How to open a session: libpq's keywords, and the servers of a list
    // (with their ports), the one that took the last session first.
    std::vector<QByteArray> m_keys, m_values;
    QList<QByteArray> m_hosts, m_ports;
    int m_connectTimeout = 0;
    std::chrono::milliseconds m_responseTimeout{30000};
    // Given up on after a deadline: no more statements on this session.
    bool m_dropped = false;
    // A statement is waiting for its answer (takeChanges leaves the socket alone).
    bool m_inFlight = false;
    bool m_listening = false;
    // A reconnect renewed the LISTEN: changes in between were missed.
    bool m_missedChanges = false;
    // takeChanges found the session gone while the desk was idle: the next
    // statement reports the loss, as it would have on the dead session.
    bool m_lostUnreported = false;
    // The session's settings were checked and its tunables set (see configureSession).
    bool m_configured = false;
    QByteArray m_operator[3];
    // The open transaction's ID (txid_current()), taken with its first statements.
    QByteArray m_txid;
    // begin() was called and nothing sent yet: the BEGIN goes with the next statements.
    bool m_beginPending = false;
    bool m_hasOperator = false;
    bool m_operatorApplied = false;
};
