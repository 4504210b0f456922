#pragma once
#include "DataPacket.h"
#include "CoreGlobal.h"
#include <QByteArray>
#include <QString>
#include <QStringList>

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
