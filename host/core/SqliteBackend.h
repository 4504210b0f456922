#pragma once
#include "Backend.h"
#include <QHash>
#include <memory>
#include <vector>

struct sqlite3;
struct SqliteSession;

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
    bool readOnly() const override;
    // Other connections' commits to the file, seen through PRAGMA data_version:
    // one notice with no table per change since the last call.
    void watchChanges(bool on) override;
    QList<TChangeNotice> takeChanges() override;

    sqlite3 *handle() const { return m_db; }

protected:
    // The operator qel_history writes into each entry (and qel_operator(0..2) gives).
    void operatorChanged(const QString &node, const QString &group, const QString &user) override;

private:
    [[noreturn]] void fail(const char *what, int rc) const;
    // For the set-up calls of the constructor: closes the file, then fails.
    [[noreturn]] void closeAndFail(const char *what, int rc);
    void open(int flags, bool immutable = false);
    void configure(bool writable);
    // False when even a read of the schema fails (e.g. no -shm can be made).
    bool readable() const;
    bool readDataVersion(qint64 &version);
    // Registers qel_history, which the history triggers call, and qel_operator
    // and qel_txid, which triggers of older files called.
    void registerHistoryFunctions();
    sqlite3 *m_db = nullptr;
    QString m_path;
    // The size of the last result of each recent statement: the row count,
    // then the text bytes of each column. A list read again (a refresh) is
    // loaded into room made once instead of grown twenty times.
    QHash<QByteArray, std::vector<size_t>> m_sizeHints;
    std::unique_ptr<SqliteSession> m_session;
};
