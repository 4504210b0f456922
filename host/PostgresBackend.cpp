#include "PostgresBackend.h"
#include "HostError.h"
#include <libpq-fe.h>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {
struct ResultDeleter {
    void operator()(PGresult *r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// Type OIDs from the server catalog (fixed across server versions).
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26;
constexpr Oid kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;
constexpr Oid kBpchar = 1042, kVarchar = 1043;
constexpr Oid kDate = 1082, kTimestamp = 1114, kTimestampTz = 1184;

FieldType typeFromOid(Oid oid)
{
    switch (oid) {
    case kBool:
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid: return FieldType::Integer;
    case kFloat4:
    case kFloat8:
    case kNumeric: return FieldType::Float;
    case kDate:
    case kTimestamp:
    case kTimestampTz: return FieldType::DateTime;
    default: return FieldType::Text;
    }
}

QString trimmed(const char *s)
{
    return QString::fromUtf8(s ? s : "").trimmed();
}

// Keeps server notices (e.g. "there is no transaction in progress") off stderr.
void ignoreNotice(void *, const char *) {}

// The server's own words: primary message, plus the detail when it gives one.
QString serverText(const PGresult *r, pg_conn *conn)
{
    const char *primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (!primary) {
        // No server error report: libpq's own message says what went wrong.
        const char *msg = r ? PQresultErrorMessage(r) : nullptr;
        return trimmed(msg && *msg ? msg : PQerrorMessage(conn));
    }
    QString text = trimmed(primary);
    const char *detail = PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL);
    if (detail && *detail)
        text += QStringLiteral("（%1）").arg(trimmed(detail));
    return text;
}

[[noreturn]] void throwLost(pg_conn *conn, const QString &why)
{
    QString msg = why.isEmpty() ? trimmed(PQerrorMessage(conn)) : why;
    if (msg.isEmpty())
        msg = QStringLiteral("服务器无响应");
    throw EConnectionLost(QStringLiteral("与数据库服务器的连接已断开：%1").arg(msg));
}

[[noreturn]] void throwFailure(const PGresult *r, pg_conn *conn, const QString &what)
{
    const QString msg = serverText(r, conn);
    // A dead session also fails the statement; say so rather than blame the SQL.
    if (PQstatus(conn) == CONNECTION_BAD)
        throwLost(conn, msg);
    const char *state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const QByteArray code(state ? state : "");
    if (code.startsWith("23"))
        throw EHostError(QStringLiteral("数据库拒绝了这次修改（违反约束）：%1").arg(msg));
    if (code == "40001" || code == "40P01")
        throw EHostError(QStringLiteral("其他操作员正在同时修改相同的数据，本次修改未保存，请重试：%1").arg(msg));
    if (code == "25P02")
        throw EHostError(QStringLiteral("本事务中先前的语句已失败，事务必须回滚后重做：%1").arg(msg));
    throw EHostError(QStringLiteral("%1：%2").arg(what, msg));
}

// Leaves a COPY the server started (nothing here speaks COPY) so the session stays usable.
void abandonCopy(pg_conn *conn, ExecStatusType status)
{
    if (status == PGRES_COPY_IN) {
        PQputCopyEnd(conn, "COPY is not supported by this client");
    } else if (status == PGRES_COPY_OUT) {
        char *buf = nullptr;
        while (PQgetCopyData(conn, &buf, 0) > 0)
            PQfreemem(buf);
    }
    while (PGresult *rest = PQgetResult(conn))
        PQclear(rest);
}

// Runs sql and returns a successful result; every failure becomes an exception.
Result run(pg_conn *conn, const QByteArray &sql, const QString &what)
{
    Result r(PQexec(conn, sql.constData()));
    if (!r)
        throwFailure(nullptr, conn, what);
    const ExecStatusType status = PQresultStatus(r.get());
    switch (status) {
    case PGRES_COMMAND_OK:
    case PGRES_TUPLES_OK:
    case PGRES_EMPTY_QUERY: return r;
    case PGRES_COPY_IN:
    case PGRES_COPY_OUT:
    case PGRES_COPY_BOTH:
        abandonCopy(conn, status);
        throw EHostError(QStringLiteral("%1：不支持 COPY 语句").arg(what));
    default: throwFailure(r.get(), conn, what);
    }
}

// Session settings the packet relies on: ISO dates parse with DataPacket::parseStamp.
// The limit list hashes every project; with the server's default work memory
// (4 MB) that hash spills to disk from about 50,000 projects on and the list
// costs more than its size. 32 MB keeps 300,000 projects in memory; a server
// that grants more keeps its own value.
void configureSession(pg_conn *conn)
{
    run(conn, "SET datestyle TO ISO", QStringLiteral("无法设置数据库会话"));
    run(conn, "SELECT set_config('work_mem', '32MB', false) FROM pg_settings WHERE name = 'work_mem' AND setting::bigint < 32768",
        QStringLiteral("无法设置数据库会话"));
}
} // namespace

PostgresBackend::PostgresBackend(const QString &uri) : m_uri(uri)
{
    const QByteArray u = uri.toUtf8();
    // client_encoding goes into the connection parameters, so PQreset keeps it too.
    const char *keys[] = {"dbname", "client_encoding", nullptr};
    const char *values[] = {u.constData(), "UTF8", nullptr};
    m_conn = PQconnectdbParams(keys, values, 1);
    if (!m_conn)
        throw EHostError(QStringLiteral("无法连接数据库服务器：内存不足"));
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const QString msg = trimmed(PQerrorMessage(m_conn));
        PQfinish(m_conn);
        m_conn = nullptr;
        throw EHostError(QStringLiteral("无法连接数据库服务器：%1").arg(msg));
    }
    // The hook lives in the connection object, so it survives PQreset.
    PQsetNoticeProcessor(m_conn, ignoreNotice, nullptr);
    try {
        configureSession(m_conn);
    } catch (const EHostError &e) {
        PQfinish(m_conn);
        m_conn = nullptr;
        throw EHostError(QStringLiteral("无法连接数据库服务器：%1").arg(e.message()));
    }
}

PostgresBackend::~PostgresBackend()
{
    if (m_conn)
        PQfinish(m_conn);
}

void PostgresBackend::ensureConnected()
{
    if (PQstatus(m_conn) == CONNECTION_OK)
        return;
    // Reconnect, never replay: whatever was in flight is reported, not repeated.
    PQreset(m_conn);
    if (PQstatus(m_conn) != CONNECTION_OK)
        throwLost(m_conn, QString());
    configureSession(m_conn);
}

int PostgresBackend::exec(const QByteArray &sql)
{
    ensureConnected();
    Result r = run(m_conn, sql, QStringLiteral("数据库执行语句失败"));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK)
        return 0;
    const char *n = PQcmdTuples(r.get());
    return n && *n ? std::atoi(n) : 0;
}

DataPacket PostgresBackend::query(const QByteArray &sql)
{
    ensureConnected();
    Result r = run(m_conn, sql, QStringLiteral("数据库查询失败"));
    DataPacket p;
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
        return p;
    const PGresult *res = r.get();
    const int cols = PQnfields(res);
    const int rows = PQntuples(res);
    std::vector<FieldType> types(static_cast<size_t>(cols));
    std::vector<bool> isBool(static_cast<size_t>(cols));
    for (int c = 0; c < cols; ++c) {
        const Oid oid = PQftype(res, c);
        types[size_t(c)] = typeFromOid(oid);
        isBool[size_t(c)] = oid == kBool;
        int size = 0;
        if (oid == kVarchar || oid == kBpchar) {
            const int mod = PQfmod(res, c);
            size = mod >= 4 ? mod - 4 : 0;
        }
        p.addColumn(ColumnDef{QString::fromUtf8(PQfname(res, c)), types[size_t(c)], size});
    }
    p.reserve(rows);
    // Room for the text, judged from the first 256 rows (a pass over every row
    // would cost a cache miss per cell); what is left over goes back at the end.
    const int sample = std::min(rows, 256);
    for (int c = 0; c < cols && sample > 0; ++c) {
        if (types[size_t(c)] != FieldType::Text)
            continue;
        size_t bytes = 0;
        for (int row = 0; row < sample; ++row)
            bytes += size_t(PQgetlength(res, row, c));
        p.reserveText(c, bytes * size_t(rows) / size_t(sample) + bytes / 8);
    }
    for (int row = 0; row < rows; ++row) {
        p.startRow();
        for (int c = 0; c < cols; ++c) {
            // Only an empty value can be a null.
            const int len = PQgetlength(res, row, c);
            if (len == 0 && PQgetisnull(res, row, c)) {
                p.putNull(c);
                continue;
            }
            const char *v = PQgetvalue(res, row, c);
            switch (types[size_t(c)]) {
            case FieldType::Integer: {
                if (isBool[size_t(c)]) {
                    p.putInteger(c, len > 0 && v[0] == 't' ? 1 : 0);
                    break;
                }
                int64_t n = 0;
                const auto res2 = std::from_chars(v, v + len, n);
                if (res2.ec == std::errc())
                    p.putInteger(c, n);
                else
                    p.putText(c, std::string_view(v, size_t(len)));
                break;
            }
            case FieldType::Float: {
                // from_chars ignores the C locale, which QCoreApplication sets from the environment.
                double d = 0;
                const auto res2 = std::from_chars(v, v + len, d);
                if (res2.ec == std::errc())
                    p.putReal(c, d);
                else
                    p.putText(c, std::string_view(v, size_t(len)));
                break;
            }
            case FieldType::Text:
            case FieldType::DateTime: p.putText(c, std::string_view(v, size_t(len))); break;
            }
        }
    }
    p.squeeze();
    return p;
}

void PostgresBackend::execScript(const QByteArray &sql)
{
    ensureConnected();
    run(m_conn, sql, QStringLiteral("数据库执行脚本失败"));
}

void PostgresBackend::begin()
{
    ensureConnected();
    // Same rule as SQLite: a second BEGIN is a mistake, not a no-op.
    if (inTransaction())
        throw EHostError(QStringLiteral("无法开始事务：已有一个事务正在进行"));
    run(m_conn, "BEGIN", QStringLiteral("无法开始事务"));
}

void PostgresBackend::commit()
{
    if (PQstatus(m_conn) != CONNECTION_OK) {
        // The transaction died with the session; reconnect for later calls, then report the loss.
        ensureConnected();
        throw EConnectionLost(QStringLiteral("与数据库服务器的连接已断开：事务未能提交，其中的修改已丢失，请重做"));
    }
    if (!inTransaction())
        throw EHostError(QStringLiteral("无法提交事务：当前没有进行中的事务"));
    Result r = run(m_conn, "COMMIT", QStringLiteral("提交事务失败"));
    // The server answers COMMIT of a failed transaction with a rollback, not an error.
    if (std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
        throw EHostError(QStringLiteral("提交事务失败：事务中有语句出错，全部修改已回滚，未保存任何内容"));
}

void PostgresBackend::rollback()
{
    if (!inTransaction())
        return;
    run(m_conn, "ROLLBACK", QStringLiteral("回滚事务失败"));
}

bool PostgresBackend::inTransaction() const
{
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        return false;
    const PGTransactionStatusType t = PQtransactionStatus(m_conn);
    return t == PQTRANS_INTRANS || t == PQTRANS_INERROR;
}
