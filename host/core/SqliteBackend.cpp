#include "SqliteBackend.h"
#include <algorithm>
#include "HostError.h"
#include <QUrl>
#include <sqlite3.h>
#include <memory>

Backend::~Backend() = default;

BatchOutcome Backend::batch(const QList<QByteArray> &sqls, bool queries)
{
    BatchOutcome out;
    for (const QByteArray &sql : sqls) {
        try {
            if (queries)
                out.rows.append(query(sql));
            else
                out.changed.append(exec(sql));
        } catch (...) {
            out.failure = std::current_exception();
            break;
        }
    }
    return out;
}

BatchOutcome Backend::commitWith(const QList<QByteArray> &writes)
{
    BatchOutcome out = batch(writes, false);
    if (!out.failure)
        commit();
    return out;
}

BatchOutcome Backend::commitThenBegin(const QList<QByteArray> &queries)
{
    commit();
    BatchOutcome out;
    try {
        begin();
    } catch (...) {
        out.failure = std::current_exception();
        return out;
    }
    return queries.isEmpty() ? out : batch(queries, true);
}

// What the history triggers read on this connection.
struct SqliteSession {
    QByteArray op[3];   // node, group, user (UTF-8); empty = none
    sqlite3_int64 txid = 0; // the current transaction's group number; 0 = none yet
    bool restoring = false; // qel_action('restore'): inserts are recorded as restores until the transaction ends
    sqlite3_stmt *historyInsert = nullptr; // qel_history's statement, prepared on first use
    sqlite3_stmt *nextEntryId = nullptr;   // the ID after the largest entry's, for a transaction's first entry
    sqlite3_stmt *deletedCounts = nullptr; // what a project's delete takes, prepared on the first
    sqlite3_stmt *dataVersion = nullptr;   // PRAGMA data_version, for takeChanges
    bool watching = false;
    qint64 seenVersion = 0;

    // What lasts only as long as a transaction.
    void endTransaction()
    {
        txid = 0;
        restoring = false;
    }
    void finalize()
    {
        sqlite3_finalize(historyInsert);
        historyInsert = nullptr;
        sqlite3_finalize(nextEntryId);
        nextEntryId = nullptr;
        sqlite3_finalize(deletedCounts);
        deletedCounts = nullptr;
        sqlite3_finalize(dataVersion);
        dataVersion = nullptr;
    }
};

namespace {
struct StmtDeleter {
    void operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

// Holds a connection's mutex for a scope (none on a connection without one).
struct MutexHold {
    explicit MutexHold(sqlite3_mutex *m) : m_mutex(m) { sqlite3_mutex_enter(m_mutex); }
    ~MutexHold() { sqlite3_mutex_leave(m_mutex); }
    MutexHold(const MutexHold &) = delete;
    MutexHold &operator=(const MutexHold &) = delete;
    sqlite3_mutex *m_mutex;
};

FieldType typeFromDecl(const char *decl)
{
    if (!decl)
        return FieldType::Text;
    const QByteArray d = QByteArray(decl).toUpper();
    if (d.contains("INT"))
        return FieldType::Integer;
    if (d.contains("TIMESTAMP") || d.contains("DATETIME") || d == "DATE")
        return FieldType::DateTime;
    if (d.contains("REAL") || d.contains("FLOA") || d.contains("DOUB") || d.contains("NUMERIC") || d.contains("DECIMAL"))
        return FieldType::Float;
    return FieldType::Text;
}

std::string_view valueText(sqlite3_value *v)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(v));
    return std::string_view(text ? text : "", size_t(sqlite3_value_bytes(v)));
}

int sizeFromDecl(const char *decl)
{
    if (!decl)
        return 0;
    const QByteArray d(decl);
    const int open = d.indexOf('('), close = d.indexOf(')');
    if (open < 0 || close < open)
        return 0;
    return d.mid(open + 1, close - open - 1).trimmed().toInt();
}
// qel_operator(i): field i (0 node, 1 group, 2 user) of the operator, NULL when unset.
void operatorFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    const auto *session = static_cast<const SqliteSession *>(sqlite3_user_data(ctx));
    const int i = sqlite3_value_int(argv[0]);
    if (i < 0 || i > 2 || session->op[i].isEmpty()) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_text(ctx, session->op[i].constData(), int(session->op[i].size()), SQLITE_TRANSIENT);
}

// qel_txid(candidate): the first candidate of the transaction, for all its
// entries. The trigger passes one more than the largest entry ID, which no
// earlier transaction's entries can carry.
void txidFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    auto *session = static_cast<SqliteSession *>(sqlite3_user_data(ctx));
    if (session->txid == 0)
        session->txid = sqlite3_value_int64(argv[0]);
    sqlite3_result_int64(ctx, session->txid);
}

// qel_history(kind, action, project, name, key, before, after) writes one
// entry through a statement prepared once per connection. A trigger that
// inserted the entry itself was compiled again into every statement that
// fires it, which cost a one-row write more than the write. The entry's name
// is the one given, else the project's row, else its latest entry; its time
// is the statement's; its transaction and operator come from the session,
// as qel_txid and qel_operator give them.
const char kHistoryInsert[] =
    "INSERT INTO QEL_PROJECT_HISTORY (CHANGED_AT, TXID, NODECODE, USERGROUP, USERNAME, ROW_KIND, ACTION, PROJECT_ID, PROJECT_NAME,"
    " ROW_KEY, BEFORE_VALUES, AFTER_VALUES, DELETED_LIMITS, DELETED_PRODUCTS)"
    " VALUES (strftime('%Y-%m-%d %H:%M:%f', 'now'), ?8, ?9, ?10, ?11, ?1, ?2, ?3,"
    " coalesce(?4, (SELECT CNAME FROM QEL_PROJECT WHERE ID = ?3),"
    " (SELECT PROJECT_NAME FROM QEL_PROJECT_HISTORY WHERE PROJECT_ID = ?3 ORDER BY ID DESC LIMIT 1)), ?5, ?6, ?7, ?12, ?13)";
// What a project's delete takes: the limits and performances still there,
// and those its transaction deleted before it (their entries lie at or after
// the transaction's number). A statement of its own, taken for that entry
// alone: the other entries neither pay for it nor need these tables. Where
// one of the tables is gone the delete is not counted (as one from before the
// counts): a delete that goes on to its rows fails there anyway.
const char kDeletedCounts[] =
    "SELECT (SELECT count(*) FROM qel_project_member_limit WHERE PID = ?1)"
    " + (SELECT count(*) FROM QEL_PROJECT_HISTORY WHERE PROJECT_ID = ?1 AND ID >= ?2 AND TXID = ?2 AND ROW_KIND = 'limit' AND ACTION = 'delete'),"
    " (SELECT count(*) FROM QEL_PROJECT_PRODUCT WHERE PROJECTID = ?1)"
    " + (SELECT count(*) FROM QEL_PROJECT_HISTORY WHERE PROJECT_ID = ?1 AND ID >= ?2 AND TXID = ?2 AND ROW_KIND = 'product' AND ACTION = 'delete')";
const char kNextEntryId[] = "SELECT coalesce(max(ID), 0) + 1 FROM QEL_PROJECT_HISTORY";

// Fails the calling statement with the connection's error: the entry's
// change is not kept either.
void historyFailed(sqlite3_context *ctx, sqlite3 *db, int rc)
{
    const QByteArray message = sqlite3_errmsg(db);
    sqlite3_result_error(ctx, message.constData(), int(message.size()));
    sqlite3_result_error_code(ctx, rc);
}

bool prepareOnce(sqlite3 *db, const char *sql, sqlite3_stmt **st)
{
    return *st || sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, st, nullptr) == SQLITE_OK;
}

void historyFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    auto *session = static_cast<SqliteSession *>(sqlite3_user_data(ctx));
    sqlite3 *db = sqlite3_context_db_handle(ctx);
    if (!prepareOnce(db, kHistoryInsert, &session->historyInsert) || !prepareOnce(db, kNextEntryId, &session->nextEntryId))
        return historyFailed(ctx, db, sqlite3_errcode(db));
    // The transaction's number: one more than the largest entry ID when its
    // first entry is written, which no earlier transaction's entries carry.
    if (session->txid == 0) {
        sqlite3_stmt *next = session->nextEntryId;
        const int rc = sqlite3_step(next);
        const sqlite3_int64 id = rc == SQLITE_ROW ? sqlite3_column_int64(next, 0) : 0;
        sqlite3_reset(next);
        if (rc != SQLITE_ROW)
            return historyFailed(ctx, db, rc);
        session->txid = id;
    }
    sqlite3_stmt *insert = session->historyInsert;
    for (int i = 0; i < argc; ++i)
        sqlite3_bind_value(insert, i + 1, argv[i]);
    sqlite3_bind_int64(insert, 8, session->txid);
    const std::string_view kind = valueText(argv[0]), action = valueText(argv[1]);
    if (session->restoring && action == "insert")
        sqlite3_bind_text(insert, 2, "restore", -1, SQLITE_STATIC);
    if (kind == "project" && action == "delete" && prepareOnce(db, kDeletedCounts, &session->deletedCounts)) {
        sqlite3_stmt *counts = session->deletedCounts;
        sqlite3_bind_value(counts, 1, argv[2]);
        sqlite3_bind_int64(counts, 2, session->txid);
        const int rc = sqlite3_step(counts);
        if (rc == SQLITE_ROW) {
            sqlite3_bind_int64(insert, 12, sqlite3_column_int64(counts, 0));
            sqlite3_bind_int64(insert, 13, sqlite3_column_int64(counts, 1));
        }
        sqlite3_reset(counts);
        if (rc != SQLITE_ROW) {
            sqlite3_clear_bindings(insert);
            return historyFailed(ctx, db, rc);
        }
    }
    for (int i = 0; i < 3; ++i) {
        // Bound until the reset below, while the session cannot change.
        const QByteArray &op = session->op[i];
        if (!op.isEmpty())
            sqlite3_bind_text(insert, 9 + i, op.constData(), int(op.size()), SQLITE_STATIC);
    }
    const int rc = sqlite3_step(insert);
    if (rc != SQLITE_DONE) {
        // The failing entry fails the change that fired it: neither is kept.
        historyFailed(ctx, db, rc);
        sqlite3_reset(insert);
        sqlite3_clear_bindings(insert);
        return;
    }
    sqlite3_reset(insert);
    sqlite3_clear_bindings(insert);
    sqlite3_result_null(ctx);
}

// qel_action('restore'): the inserts of the current transaction are
// restores; qel_action(NULL) ends that. Only inside a transaction, whose end
// forgets it: no later write can be recorded under it by mistake.
void actionFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    auto *session = static_cast<SqliteSession *>(sqlite3_user_data(ctx));
    if (sqlite3_get_autocommit(sqlite3_context_db_handle(ctx)))
        return sqlite3_result_error(ctx, "qel_action: only inside a transaction", -1);
    const bool none = sqlite3_value_type(argv[0]) == SQLITE_NULL;
    if (!none && valueText(argv[0]) != "restore")
        return sqlite3_result_error(ctx, "qel_action: unknown action", -1);
    session->restoring = !none;
    sqlite3_result_null(ctx);
}

int txidEndsOnCommit(void *session)
{
    static_cast<SqliteSession *>(session)->endTransaction();
    return 0; // let the commit go on
}

void txidEndsOnRollback(void *session)
{
    static_cast<SqliteSession *>(session)->endTransaction();
}
} // namespace

SqliteBackend::SqliteBackend(const QString &path) : m_path(path), m_session(std::make_unique<SqliteSession>())
{
    // An empty name makes SQLite use a private temporary database that vanishes
    // at exit with every change in it.
    if (path.trimmed().isEmpty())
        throw EHostError(QStringLiteral("数据库地址中没有文件路径：请用 sqlite:路径 指定数据库文件（空路径会使用临时数据库，退出时丢失全部修改）"));
    open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // A file on read-only media (or that this desk may only read) opens read-only.
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        configure(false);
        if (!readable()) {
            // A WAL file needs its -shm beside it; where none can be made,
            // read the file as it stands: nothing on read-only media changes it.
            m_session->finalize();
            sqlite3_close_v2(m_db);
            m_db = nullptr;
            open(SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, true);
            configure(false);
        }
        return;
    }
    configure(true);
}

void SqliteBackend::open(int flags, bool immutable)
{
    QByteArray name = m_path.toUtf8();
    if (immutable)
        name = "file:" + QUrl::toPercentEncoding(m_path, "/") + "?immutable=1";
    const int rc = sqlite3_open_v2(name.constData(), &m_db, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(m_db);
        m_db = nullptr;
        throw EHostError(QStringLiteral("无法打开数据库文件“%1”：%2").arg(m_path, msg));
    }
    sqlite3_busy_timeout(m_db, 5000);
    sqlite3_extended_result_codes(m_db, 1);
    registerHistoryFunctions();
}

void SqliteBackend::registerHistoryFunctions()
{
    // Innocuous: triggers may call them even where the schema is not trusted.
    const int flags = SQLITE_UTF8 | SQLITE_INNOCUOUS;
    // Without them no change could be recorded: the connection is refused.
    const auto made = [this](int rc) {
        if (rc != SQLITE_OK)
            closeAndFail("create_function", rc);
    };
    made(sqlite3_create_function_v2(m_db, "qel_operator", 1, flags, m_session.get(), operatorFunction, nullptr, nullptr, nullptr));
    made(sqlite3_create_function_v2(m_db, "qel_txid", 1, flags, m_session.get(), txidFunction, nullptr, nullptr, nullptr));
    // qel_history writes, but only an entry into this file's own history:
    // innocuous too, or a build that distrusts schemas would refuse every write.
    made(sqlite3_create_function_v2(m_db, "qel_history", 7, flags, m_session.get(), historyFunction, nullptr, nullptr, nullptr));
    // Called by the module's statements, never by a trigger.
    made(sqlite3_create_function_v2(m_db, "qel_action", 1, SQLITE_UTF8 | SQLITE_DIRECTONLY, m_session.get(), actionFunction, nullptr, nullptr, nullptr));
    sqlite3_commit_hook(m_db, txidEndsOnCommit, m_session.get());
    sqlite3_rollback_hook(m_db, txidEndsOnRollback, m_session.get());
}

bool SqliteBackend::readOnly() const
{
    return m_db && sqlite3_db_readonly(m_db, "main") == 1;
}

void SqliteBackend::operatorChanged(const QString &node, const QString &group, const QString &user)
{
    m_session->op[0] = node.toUtf8();
    m_session->op[1] = group.toUtf8();
    m_session->op[2] = user.toUtf8();
}

void SqliteBackend::configure(bool writable)
{
    // LIKE matches letters exactly as typed, as PostgreSQL's does, so a name
    // filter finds the same rows on both engines. A page cache of up to 64 MiB
    // (default 2 MiB) keeps lists of 100,000 rows in memory between loads.
    // WAL lets readers on other desks go on while one desk writes; a file this
    // desk cannot write keeps the journal mode it has.
    // Most of these read the file's header. What the file itself refuses
    // (no database, unreadable, busy) the first statement that reads it
    // reports in the operator's words, and a folder that takes no -wal keeps
    // the file's journal mode; anything else refuses the connection.
    const auto set = [this](const char *pragma) {
        const int rc = sqlite3_exec(m_db, pragma, nullptr, nullptr, nullptr);
        switch (rc & 0xff) {
        case SQLITE_OK:
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return;
        default:
            closeAndFail(pragma, rc);
        }
    };
    set("PRAGMA case_sensitive_like=ON");
    set("PRAGMA cache_size=-65536");
    if (writable) {
        set("PRAGMA journal_mode=WAL");
        set("PRAGMA synchronous=NORMAL");
    }
}

void SqliteBackend::closeAndFail(const char *what, int rc)
{
    // The constructor does not finish, so nothing else would close the file.
    try {
        fail(what, rc);
    } catch (...) {
        m_session->finalize();
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw;
    }
}

bool SqliteBackend::readable() const
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT count(*) FROM sqlite_master", -1, &raw, nullptr) != SQLITE_OK)
        return false;
    Stmt stmt(raw);
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

SqliteBackend::~SqliteBackend()
{
    m_session->finalize();
    sqlite3_close_v2(m_db);
}

void SqliteBackend::fail(const char *what, int rc) const
{
    QString msg = QString::fromUtf8(sqlite3_errmsg(m_db));
    const int primary = rc & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        throw EHostError(QStringLiteral("数据库正被其他操作员占用，请稍后再试：%1").arg(msg), THostErrorCause::Busy);
    if (primary == SQLITE_READONLY)
        throw EHostError(QStringLiteral("数据库是只读的，无法保存：%1").arg(msg), THostErrorCause::ReadOnly);
    if (primary == SQLITE_FULL)
        throw EHostError(QStringLiteral("磁盘已满，无法保存：%1").arg(msg), THostErrorCause::DiskFull);
    if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
        throw EHostError(QStringLiteral("文件“%1”不是本系统的数据库文件，或已损坏：%2").arg(m_path, msg));
    if (primary == SQLITE_CONSTRAINT)
        throw EHostError(QStringLiteral("数据库拒绝了这次修改（违反约束）：%1").arg(msg), THostErrorCause::Constraint);
    throw EHostError(QStringLiteral("数据库错误（%1）：%2").arg(QString::fromLatin1(what), msg));
}

namespace {
// SQLite runs the first statement of a text and leaves the rest unread: a
// second one would be dropped while the call reports success. The text after
// the first may hold blanks and comments only, which compile to no statement.
void refuseSecondStatement(sqlite3 *db, const QByteArray &sql, const char *tail)
{
    const char *end = sql.constData() + sql.size();
    if (!tail || std::all_of(tail, end, [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';'; }))
        return;
    sqlite3_stmt *next = nullptr;
    const int rc = sqlite3_prepare_v2(db, tail, int(end - tail), &next, nullptr);
    sqlite3_finalize(next);
    if (rc != SQLITE_OK || next)
        throw EHostError(MultipleStatementsText());
}
} // namespace

int SqliteBackend::exec(const QByteArray &sql)
{
    sqlite3_stmt *raw = nullptr;
    const char *tail = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &raw, &tail);
    Stmt stmt(raw);
    if (rc != SQLITE_OK)
        fail("prepare", rc);
    refuseSecondStatement(m_db, sql, tail);
    if (!stmt)
        return 0;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        fail("step", rc);
    return sqlite3_stmt_readonly(stmt.get()) ? 0 : sqlite3_changes(m_db);
}

DataPacket SqliteBackend::query(const QByteArray &sql)
{
    sqlite3_stmt *raw = nullptr;
    const char *tail = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &raw, &tail);
    Stmt stmt(raw);
    if (rc != SQLITE_OK)
        fail("prepare", rc);
    refuseSecondStatement(m_db, sql, tail);
    DataPacket p;
    if (!stmt)
        return p;
    const int n = sqlite3_column_count(stmt.get());
    std::vector<FieldType> types(static_cast<size_t>(n));
    std::vector<bool> known(static_cast<size_t>(n));
    for (int c = 0; c < n; ++c) {
        const char *decl = sqlite3_column_decltype(stmt.get(), c);
        types[size_t(c)] = typeFromDecl(decl);
        known[size_t(c)] = decl != nullptr;
        p.addColumn(ColumnDef{QString::fromUtf8(sqlite3_column_name(stmt.get(), c)), types[size_t(c)], sizeFromDecl(decl)});
    }
    const auto hint = m_sizeHints.find(sql);
    if (hint != m_sizeHints.end() && hint->size() == size_t(n) + 1) {
        p.reserve(int((*hint)[0]));
        for (int c = 0; c < n; ++c)
            if (types[size_t(c)] == FieldType::Text)
                p.reserveText(c, (*hint)[size_t(c) + 1]);
    }
    // Held for the whole read: every per-cell call below takes the same
    // (recursive) mutex again, which for its holder is a counter bump, not
    // two atomic operations per cell.
    const MutexHold hold(sqlite3_db_mutex(m_db));
    bool first = true;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        if (first) {
            // Expressions have no declared type: take the first row's storage class.
            for (int c = 0; c < n; ++c) {
                if (known[size_t(c)])
                    continue;
                const int t = sqlite3_column_type(stmt.get(), c);
                FieldType ft = FieldType::Text;
                if (t == SQLITE_INTEGER)
                    ft = FieldType::Integer;
                else if (t == SQLITE_FLOAT)
                    ft = FieldType::Float;
                if (ft != FieldType::Text) {
                    p.setColumnType(c, ft);
                    types[size_t(c)] = ft;
                }
            }
            first = false;
        }
        p.startRow();
        for (int c = 0; c < n; ++c) {
            // One call into the connection per cell; the value accessors
            // below take no mutex.
            sqlite3_value *v = sqlite3_column_value(stmt.get(), c);
            const FieldType ft = types[size_t(c)];
            if (ft == FieldType::Text || ft == FieldType::DateTime) {
                // A text pointer means a value: the type is asked only when
                // there is none (a null, or a value SQLite gave no text for).
                const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(v));
                if (text)
                    p.putText(c, std::string_view(text, size_t(sqlite3_value_bytes(v))));
                else if (sqlite3_value_type(v) == SQLITE_NULL)
                    p.putNull(c);
                else
                    p.putText(c, std::string_view());
                continue;
            }
            const int t = sqlite3_value_type(v);
            if (t == SQLITE_NULL) {
                p.putNull(c);
                continue;
            }
            switch (ft) {
            case FieldType::Integer:
                if (t == SQLITE_INTEGER)
                    p.putInteger(c, sqlite3_value_int64(v));
                else
                    p.putText(c, valueText(v));
                break;
            case FieldType::Float: p.putReal(c, sqlite3_value_double(v)); break;
            case FieldType::Text:
            case FieldType::DateTime: break; // read above
            }
        }
    }
    if (rc != SQLITE_DONE)
        fail("step", rc);
    // Only results worth the room are remembered, and only a few statements.
    if (p.rowCount() >= 1024) {
        if (m_sizeHints.size() >= 32 && !m_sizeHints.contains(sql))
            m_sizeHints.clear();
        std::vector<size_t> &sizes = m_sizeHints[sql];
        sizes.assign(size_t(n) + 1, 0);
        sizes[0] = size_t(p.rowCount());
        for (int c = 0; c < n; ++c)
            sizes[size_t(c) + 1] = p.columnData(c).text.size();
    }
    // The row count was unknown while loading: hand back the growth reserve.
    p.squeeze();
    return p;
}

void SqliteBackend::execScript(const QByteArray &sql)
{
    char *err = nullptr;
    const int rc = sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK)
        fail("script", rc);
}

void SqliteBackend::begin()
{
    // IMMEDIATE takes the write lock up front, so two desks never deadlock on upgrade.
    exec("BEGIN IMMEDIATE");
}

void SqliteBackend::commit()
{
    exec("COMMIT");
    m_session->endTransaction();
}

void SqliteBackend::rollback()
{
    m_session->restoring = false;
    if (inTransaction())
        exec("ROLLBACK");
}

// PRAGMA data_version changes when another connection commits to the file,
// never for this one's own commits.
void SqliteBackend::watchChanges(bool on)
{
    m_session->watching = on;
    if (on)
        readDataVersion(m_session->seenVersion);
}

bool SqliteBackend::readDataVersion(qint64 &version)
{
    if (!prepareOnce(m_db, "PRAGMA data_version", &m_session->dataVersion))
        return false;
    sqlite3_stmt *st = m_session->dataVersion;
    const bool ok = sqlite3_step(st) == SQLITE_ROW;
    if (ok)
        version = sqlite3_column_int64(st, 0);
    sqlite3_reset(st);
    return ok;
}

QList<TChangeNotice> SqliteBackend::takeChanges()
{
    qint64 now = 0;
    if (!m_session->watching || !readDataVersion(now) || now == m_session->seenVersion)
        return {};
    m_session->seenVersion = now;
    return {TChangeNotice{}};
}

bool SqliteBackend::inTransaction() const
{
    return sqlite3_get_autocommit(m_db) == 0;
}
