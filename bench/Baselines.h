#pragma once
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

// The raw engine: one open connection of its own; a query reads every column
// of every row into one vector of QVariant, nothing more.
class RawEngine {
public:
    virtual ~RawEngine() = default;
    // Returns the number of rows; out is cleared first (its capacity kept).
    virtual qsizetype query(const QByteArray &sql, std::vector<QVariant> &out) = 0;
    virtual void exec(const QByteArray &sql) = 0;
    // One write transaction as a client that knows its engine sends it: the
    // statements (queries stepped to the end, nothing kept), then `repeated`
    // `times` times through a statement prepared once per connection, then
    // COMMIT. SQLite steps them one by one; PostgreSQL gets them in one round
    // trip. On an error it rolls back and throws.
    virtual void transaction(const std::vector<QByteArray> &sqls, const QByteArray &repeated, qsizetype times) = 0;
    // The engine alone: every row stepped, every cell's value fetched, nothing kept.
    virtual qsizetype touch(const QByteArray &sql) = 0;
    // Sum of the bytes of every cell as text (the engine's own text form).
    virtual qint64 textBytes(const QByteArray &sql) = 0;

    // sqlite:PATH (WAL, synchronous=NORMAL, as the host opens it) or postgresql://...
    static std::unique_ptr<RawEngine> open(const QString &url);
};

// The Qt SQL peer: QSqlQueryModel on the same statement, fetched completely,
// data() read for every cell.
class QtSqlPeer {
public:
    explicit QtSqlPeer(const QString &url);
    ~QtSqlPeer();
    bool available() const { return m_ok; }
    QString why() const { return m_why; }
    // Returns the number of rows.
    qsizetype load(const QString &sql);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    bool m_ok = false;
    QString m_why;
};
