#pragma once
#include "DataPacket.h"
#include "CoreGlobal.h"
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <exception>

// What a batch of statements did: the packet (queries) or the count of rows
// changed (writes) of each statement that ran, in order; when one failed,
// failure holds its error, it is statement done.size(), and none after it ran.
struct BatchOutcome {
    QList<DataPacket> rows;
    QList<int> changed;
    std::exception_ptr failure;
    qsizetype done() const { return rows.size() + changed.size(); }
};

// A change another connection committed. Table is the changed table's name in
// lower case and ProjectID its project; an empty Table means "something in the
// database changed" (all an engine without notifications can tell).
struct TChangeNotice {
    QString Table;
    qint64 ProjectID = 0;
};

// One live connection to one database. Statements arrive as UTF-8 text that
// has already passed the GBK check. Failures throw EHostError; a lost
// connection throws EConnectionLost and is repaired on the next call, never
// by repeating the failed statement.
class QELCORE_EXPORT Backend {
public:
    virtual ~Backend();

    // Runs one data-changing statement; returns the rows it changed.
    virtual int exec(const QByteArray &sql) = 0;
    // Runs one query; the packet's columns carry the select list's names.
    virtual DataPacket query(const QByteArray &sql) = 0;
    // Runs statements one after the other, each as exec (or query, when
    // queries) would, stopping at the first that fails. A server gets them
    // together and answers in one round trip (the statements after a failing
    // one reach it but do not run): queries always, writes inside a
    // transaction. Elsewhere, and on SQLite, one call each.
    virtual BatchOutcome batch(const QList<QByteArray> &sqls, bool queries);
    // Inside a transaction: runs writes as batch does, then commits when all
    // of them ran. A server gets the writes and the COMMIT together, so an
    // all-or-nothing change costs one round trip. A statement's failure comes
    // back in the outcome with the transaction still open (roll it back);
    // a failed commit throws as commit() does.
    virtual BatchOutcome commitWith(const QList<QByteArray> &writes);
    // Commits the open transaction, begins the next and runs queries in it,
    // as batch does. A server gets the COMMIT and the queries together. A
    // failed commit throws as commit() does (no new transaction is open);
    // a query's failure comes back in the outcome after a commit that held.
    virtual BatchOutcome commitThenBegin(const QList<QByteArray> &queries);
    // Runs a script of several statements (schema set-up); no result.
    virtual void execScript(const QByteArray &sql) = 0;

    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual bool inTransaction() const = 0;

    // "sqlite" or "postgresql".
    virtual QString engine() const = 0;
    // True when this connection can only read (a file on read-only media).
    virtual bool readOnly() const { return false; }

    // Other desks' changes. Off until a window that shows lists asks for them
    // (watching costs a listening session on PostgreSQL). Never includes this
    // connection's own writes.
    virtual void watchChanges(bool on) { (void)on; }
    // A socket that becomes readable when notices may have come (-1: none;
    // poll takeChanges on a timer). It may change after a reconnect.
    virtual int changeSocket() const { return -1; }
    // The changes committed elsewhere since the last call; never blocks and
    // never throws (a failure to read simply reports nothing).
    virtual QList<TChangeNotice> takeChanges() { return {}; }

    // The operator the change history records: node, group and user, the
    // first three fields of the session context. The database's triggers read
    // it from the connection, so the statements themselves stay as they are.
    // Cheap to call before every statement: only a change reaches the engine.
    void setOperator(const QString &context)
    {
        if (context == m_operatorContext)
            return;
        m_operatorContext = context;
        const QStringList f = context.split(QChar(13));
        operatorChanged(f.value(0), f.value(1), f.value(2));
    }

protected:
    // Empty fields are recorded as no value.
    virtual void operatorChanged(const QString &node, const QString &group, const QString &user) = 0;

private:
    QString m_operatorContext;
};

// Statements that go together on one connection: begun here, rolled back when
// the guard goes out of scope without commit(). A failing rollback never hides
// the error that led to it.
class BackendTransaction {
public:
    explicit BackendTransaction(Backend &db) : m_db(db) { m_db.begin(); }
    ~BackendTransaction()
    {
        if (m_done)
            return;
        try {
            m_db.rollback();
        } catch (...) {
        }
    }
    BackendTransaction(const BackendTransaction &) = delete;
    BackendTransaction &operator=(const BackendTransaction &) = delete;
    void commit()
    {
        m_db.commit();
        m_done = true;
    }

private:
    Backend &m_db;
    bool m_done = false;
};
