#include "PostgresBackend.h"
#include "DatabaseAddress.h"
#include "HostError.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

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
        throw EHostError(QStringLiteral("数据库拒绝了这次修改（违反约束）：%1").arg(msg), THostErrorCause::Constraint);
    if (code == "40001" || code == "40P01")
        throw EHostError(QStringLiteral("其他操作员正在同时修改相同的数据，本次修改未保存，请重试：%1").arg(msg));
    // lock_timeout: the same words the SQLite desk uses when its busy timeout runs out.
    if (code == "55P03")
        throw EHostError(QStringLiteral("数据库正被其他操作员占用，请稍后再试：%1").arg(msg), THostErrorCause::Busy);
    if (code == "57014")
        throw EHostError(QStringLiteral("数据库语句执行超时，已取消，未保存任何修改：%1").arg(msg));
    if (code == "25006")
        throw EHostError(QStringLiteral("数据库是只读的，无法保存：%1").arg(msg), THostErrorCause::ReadOnly);
    if (code == "53100")
        throw EHostError(QStringLiteral("磁盘已满，无法保存：%1").arg(msg), THostErrorCause::DiskFull);
    // The extended protocol takes one statement per text; nothing ran.
    if (code == "42601" && r && QByteArray(PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY)).contains("multiple commands"))
        throw EHostError(MultipleStatementsText());
    if (code == "25P02")
        throw EHostError(QStringLiteral("本事务中先前的语句已失败，事务必须回滚后重做：%1").arg(msg));
    throw EHostError(QStringLiteral("%1：%2").arg(what, msg));
}

// Statements are sent without blocking (a large script to a server that does
// not read must not hold the desk); the handle is left as it was found.
class NonBlocking {
public:
    explicit NonBlocking(pg_conn *conn) : m_conn(conn), m_was(PQisnonblocking(conn))
    {
        if (!m_was)
            PQsetnonblocking(m_conn, 1);
    }
    ~NonBlocking()
    {
        if (!m_was)
            PQsetnonblocking(m_conn, 0);
    }
    NonBlocking(const NonBlocking &) = delete;
    NonBlocking &operator=(const NonBlocking &) = delete;

private:
    pg_conn *m_conn;
    int m_was;
};

// "kind:project id", as the history triggers raise it; anything else is an
// unnamed change.
TChangeNotice parseNotice(const char *payload)
{
    const QByteArray text(payload ? payload : "");
    const qsizetype colon = text.indexOf(':');
    if (colon <= 0)
        return {};
    const QByteArray kind = text.left(colon);
    const QByteArray id = text.mid(colon + 1);
    qint64 n = 0;
    const auto [end, ec] = std::from_chars(id.constData(), id.constData() + id.size(), n);
    if (ec != std::errc() || end != id.constData() + id.size() || id.isEmpty())
        return {};
    for (const char c : kind)
        if (!((c >= 'a' && c <= 'z') || c == '_'))
            return {};
    return {QString::fromLatin1(kind), n};
}

// What the statements take for granted; empty when all of it holds. QuotedStr
// only doubles quotes: with standard_conforming_strings off a backslash would
// end the literal and the rest of the text would run as SQL. DataPacket reads
// ISO dates and UTF-8 text only.
QString unsafeSetting(const char *scs, const char *dateStyle, const char *encoding)
{
    const auto shown = [](const char *v) { return v ? QString::fromUtf8(v) : QStringLiteral("未知"); };
    if (!scs || std::strcmp(scs, "on") != 0)
        return QStringLiteral("standard_conforming_strings 不是 on（当前为 %1）").arg(shown(scs));
    if (!dateStyle || std::strncmp(dateStyle, "ISO", 3) != 0)
        return QStringLiteral("DateStyle 不是 ISO（当前为 %1）").arg(shown(dateStyle));
    if (!encoding || std::strcmp(encoding, "UTF8") != 0)
        return QStringLiteral("client_encoding 不是 UTF8（当前为 %1）").arg(shown(encoding));
    return QString();
}

// As the server last reported it: it reports each of these whenever it
// changes, so asking costs no round trip.
QString unsafeSetting(pg_conn *conn)
{
    return unsafeSetting(PQparameterStatus(conn, "standard_conforming_strings"), PQparameterStatus(conn, "DateStyle"),
                         PQparameterStatus(conn, "client_encoding"));
}

QString refusal(const QString &why)
{
    return QStringLiteral("数据库会话设置无效：%1，为安全起见拒绝执行语句").arg(why);
}

// Once per session (and again after a reconnect): checks that the pinned
// settings took, sets the tunables nobody else has set, and renews the LISTEN
// (a new session forgets it), all in one round trip.
// The limit list hashes every project; with the server's default work memory
// (4 MB) that hash spills to disk from about 50,000 projects on and the list
// costs more than its size. 32 MB keeps 300,000 projects in memory; a server
// that grants more keeps its own value.
// A lock held elsewhere fails the statement after 5 s, like SQLite's busy
// timeout, and no statement runs longer than 2 minutes (the largest list
// takes half a second at 100,000 projects); a value from the URL, the role,
// the database or the server's configuration wins over these, except 0: that
// turns the limit off, and no setting outside the desk may take it away.
constexpr char kConfigureSession[] =
    "SELECT current_setting('standard_conforming_strings'), current_setting('DateStyle'), current_setting('client_encoding'),"
    " (SELECT count(set_config(s.name, d.value, false)) FROM pg_settings s"
    "  JOIN (VALUES ('work_mem', '32MB'), ('lock_timeout', '5s'), ('statement_timeout', '120s')) d(name, value) USING (name)"
    "  WHERE CASE s.name WHEN 'work_mem' THEN s.setting::bigint < 32768 ELSE s.setting = '0' END)";

// The operator the history triggers record, as parameters: the values never become SQL text.
constexpr char kApplyOperator[] = "SELECT set_config('qel.node', $1, false), set_config('qel.group', $2, false), set_config('qel.user', $3, false)";

// Settings that go into the start-up packet: there they outrank the server's,
// the database's and the role's defaults, and PQreset sends them again.
constexpr char kPinnedOptions[] = "-c standard_conforming_strings=on -c datestyle=ISO";

// libpq-side limits, unless the URL (or the PG* environment) gives its own:
// a server that never answers the connection fails it after 10 s; a peer
// that is gone is noticed within a minute, also while a statement is waiting
// (keepalives while nothing is in flight, tcp_user_timeout while a statement is).
// connect_timeout comes first (the connect error message reads it).
constexpr std::pair<const char *, const char *> kDefaultParams[] = {
    {"connect_timeout", "10"},    {"keepalives", "1"},          {"keepalives_idle", "30"},
    {"keepalives_interval", "10"}, {"keepalives_count", "3"}, {"tcp_user_timeout", "60000"},
};

struct ConnParams {
    std::vector<QByteArray> keys, values;
    int connectTimeout = 0; // seconds; 0 = waits as long as the system does
    QList<QByteArray> hosts, ports; // a list of servers, one port each; empty for one server
};

using Options = std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption *)>;

// A keyword's value in libpq's list, empty when not set.
QByteArray optionValue(const PQconninfoOption *list, const char *key)
{
    for (const PQconninfoOption *o = list; o && o->keyword; ++o)
        if (std::strcmp(o->keyword, key) == 0 && o->val && *o->val)
            return QByteArray(o->val);
    return QByteArray();
}

// The settings of a service the address names (service=…), as libpq finds
// them: the user's service file, else the system's. The environment's own
// service (PGSERVICE) is already in libpq's defaults.
QHash<QByteArray, QByteArray> serviceSettings(const QByteArray &name)
{
    QStringList files;
    files << (qEnvironmentVariableIsEmpty("PGSERVICEFILE") ? QDir::homePath() + QStringLiteral("/.pg_service.conf") : qEnvironmentVariable("PGSERVICEFILE"));
    if (!qEnvironmentVariableIsEmpty("PGSYSCONFDIR"))
        files << qEnvironmentVariable("PGSYSCONFDIR") + QStringLiteral("/pg_service.conf");
    for (const QString &path : files) {
        QFile file(path);
        if (name.isEmpty() || !file.open(QIODevice::ReadOnly))
            continue;
        QHash<QByteArray, QByteArray> settings;
        bool inside = false, found = false;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine().trimmed();
            if (line.startsWith('['))
                inside = line == '[' + name + ']';
            found = found || inside;
            const qsizetype eq = line.indexOf('=');
            if (inside && eq > 0 && !line.startsWith('#'))
                settings.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
        }
        if (found)
            return settings;
    }
    return {};
}

ConnParams connectionParams(const QByteArray &uri)
{
    char *err = nullptr;
    Options url(PQconninfoParse(uri.constData(), &err), PQconninfoFree);
    if (!url) {
        // libpq quotes the piece it could not read, which may be the password.
        const QString why = err ? DatabaseAddress::hidePassword(trimmed(err), QString::fromUtf8(uri)) : QStringLiteral("内存不足");
        PQfreemem(err);
        throw EHostError(QStringLiteral("无法连接数据库服务器：%1").arg(why));
    }
    Options env(PQconndefaults(), PQconninfoFree);
    // The address's own value of a connection keyword, else its service's, else the environment's.
    const QHash<QByteArray, QByteArray> service = serviceSettings(optionValue(url.get(), "service"));
    const auto given = [&](const char *key) {
        QByteArray v = optionValue(url.get(), key);
        if (v.isEmpty())
            v = service.value(key);
        return v.isEmpty() ? optionValue(env.get(), key) : v;
    };

    ConnParams p;
    const auto add = [&p](const char *key, const QByteArray &value) {
        p.keys.emplace_back(key);
        p.values.push_back(value);
    };
    add("dbname", uri);
    // client_encoding goes into the connection parameters, so PQreset keeps it too.
    add("client_encoding", "UTF8");
    // This keyword replaces the URL's options, so those come first and ours
    // last: with -c the last value of a setting wins.
    const QByteArray own = given("options").trimmed();
    add("options", own.isEmpty() ? QByteArray(kPinnedOptions) : own + ' ' + kPinnedOptions);
    // Several servers (a primary and its standbys): one that takes the
    // connection and never answers costs 2 s before the next is tried.
    const QList<QByteArray> hosts = given("host").split(',');
    QList<QByteArray> ports = given("port").split(',');
    const bool several = hosts.size() > 1 && given("hostaddr").isEmpty();
    if (several && (ports.size() == 1 || ports.size() == hosts.size())) {
        while (ports.size() < hosts.size())
            ports.append(ports.first());
        p.hosts = hosts;
        p.ports = ports;
    }
    for (const auto &[key, value] : kDefaultParams)
        if (given(key).isEmpty())
            add(key, std::strcmp(key, "connect_timeout") == 0 && several ? QByteArray("2") : QByteArray(value));
    const QByteArray timeout = given("connect_timeout");
    p.connectTimeout = !timeout.isEmpty() ? std::max(0, timeout.toInt()) : several ? 2 : QByteArray(kDefaultParams[0].second).toInt();
    if (p.connectTimeout == 1)
        p.connectTimeout = 2; // libpq's least
    return p;
}

// The desk's own parameter, how long a statement may wait for its answer, out
// of the URI or keyword=value string (libpq refuses keywords it does not
// know); the rest stays exactly as given.
QByteArray takeResponseTimeout(const QByteArray &uri, std::chrono::milliseconds &timeout)
{
    const auto take = [&timeout](const QByteArray &value) {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (!ok || !(seconds >= 0.1 && seconds <= 86400))
            throw EHostError(QStringLiteral("无法连接数据库服务器：数据库地址中的 response_timeout=%1 无效，应为 0.1 到 86400 之间的秒数")
                                 .arg(QString::fromUtf8(value)));
        timeout = std::chrono::milliseconds(qRound64(seconds * 1000));
    };
    if (!DatabaseAddress::isUri(QString::fromUtf8(uri))) {
        QString text = QString::fromUtf8(uri);
        const QList<DatabaseAddress::Item> items = DatabaseAddress::items(text);
        for (auto i = items.crbegin(); i != items.crend(); ++i) {
            if (i->key == QLatin1String("response_timeout")) {
                take(i->value.toUtf8());
                text.remove(i->from, i->to - i->from);
            }
        }
        return text.toUtf8();
    }
    const qsizetype q = uri.indexOf('?');
    if (q < 0)
        return uri;
    QList<QByteArray> kept;
    for (const QByteArray &item : uri.mid(q + 1).split('&')) {
        if (!item.startsWith("response_timeout=")) {
            kept.append(item);
            continue;
        }
        take(item.mid(int(sizeof "response_timeout=") - 1));
    }
    return kept.isEmpty() ? uri.left(q) : uri.left(q + 1) + kept.join('&');
}

// Asks the server to stop what the session runs. PQcancel opens a connection
// of its own and may wait as long as the system lets a connect wait, so it
// runs apart from the desk, which has already given up.
void cancelInBackground(pg_conn *conn)
{
    PGcancel *cancel = PQgetCancel(conn);
    if (!cancel)
        return;
    try {
        std::thread([cancel] {
            char err[256];
            PQcancel(cancel, err, sizeof err);
            PQfreeCancel(cancel);
        }).detach();
    } catch (const std::system_error &) {
        PQfreeCancel(cancel); // no thread to spare: the dropped session ends the statement anyway
    }
}
// The rows a data-changing statement reports it changed.
int changedRows(const PGresult *r)
{
    if (PQresultStatus(r) != PGRES_COMMAND_OK)
        return 0;
    const char *n = PQcmdTuples(const_cast<PGresult *>(r));
    return n && *n ? std::atoi(n) : 0;
}
// A statement that writes rows (the operator's saves), as opposed to one
// that sets up the database and may not run inside a transaction.
bool changesRows(const QByteArray &sql)
{
    const QByteArray word = sql.trimmed().left(7).toLower();
    return word.startsWith("insert") || word.startsWith("update") || word.startsWith("delete") || word.startsWith("with") || word.startsWith("merge");
}
} // namespace

PostgresBackend::PostgresBackend(const QString &uri) : m_uri(DatabaseAddress::normalized(uri))
{
    const ConnParams params = connectionParams(takeResponseTimeout(m_uri.toUtf8(), m_responseTimeout));
    m_keys = params.keys;
    m_values = params.values;
    m_hosts = params.hosts;
    m_ports = params.ports;
    m_connectTimeout = params.connectTimeout;
    QString why;
    m_conn = openSession(why);
    if (!m_conn)
        throw EHostError(QStringLiteral("无法连接数据库服务器：%1").arg(why));
    try {
        configureSession();
    } catch (const EHostError &e) {
        PQfinish(m_conn);
        m_conn = nullptr;
        throw EHostError(QStringLiteral("无法连接数据库服务器：%1").arg(e.message()));
    }
}

pg_conn *PostgresBackend::openSession(QString &why)
{
    std::vector<const char *> keys, values;
    for (size_t i = 0; i < m_keys.size(); ++i) {
        keys.push_back(m_keys[i].constData());
        values.push_back(m_values[i].constData());
    }
    // The server that took the last session goes first: after a failover the
    // old primary is tried last, not waited for every time.
    const QByteArray hosts = m_hosts.join(','), ports = m_ports.join(',');
    if (!m_hosts.isEmpty()) {
        keys.push_back("host");
        values.push_back(hosts.constData());
        keys.push_back("port");
        values.push_back(ports.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    QElapsedTimer waited;
    waited.start();
    pg_conn *conn = PQconnectdbParams(keys.data(), values.data(), 1);
    if (!conn) {
        why = QStringLiteral("内存不足");
        return nullptr;
    }
    if (PQstatus(conn) != CONNECTION_OK) {
        why = DatabaseAddress::hidePassword(trimmed(PQerrorMessage(conn)), m_uri);
        PQfinish(conn);
        // libpq counts the timeout in whole seconds of the clock, so it may end up to a second early.
        if (m_connectTimeout > 0 && m_hosts.isEmpty() && waited.elapsed() >= std::max(1, m_connectTimeout - 1) * 1000)
            why = QStringLiteral("服务器在 %1 秒内没有应答（%2）").arg(m_connectTimeout).arg(why);
        return nullptr;
    }
    for (qsizetype i = 0; i < m_hosts.size(); ++i) {
        if (m_hosts[i] == PQhost(conn) && m_ports[i] == PQport(conn)) {
            m_hosts.move(i, 0);
            m_ports.move(i, 0);
            break;
        }
    }
    PQsetNoticeProcessor(conn, ignoreNotice, nullptr);
    return conn;
}

void PostgresBackend::reconnect()
{
    QString why;
    pg_conn *fresh = openSession(why);
    if (!fresh) {
        // The old session stays as the dead one it is: the next call tries again.
        PQfinish(m_conn);
        m_conn = nullptr;
        throw EConnectionLost(QStringLiteral("与数据库服务器的连接已断开：%1").arg(why));
    }
    if (m_conn)
        PQfinish(m_conn);
    m_conn = fresh;
    m_configured = false;
}

PostgresBackend::~PostgresBackend()
{
    if (m_conn)
        PQfinish(m_conn);
}

bool PostgresBackend::connected() const
{
    return m_conn && !m_dropped && PQstatus(m_conn) == CONNECTION_OK;
}

void PostgresBackend::ensureConnected()
{
    // One message for the loss, whoever noticed it first; the next call reconnects.
    if (!connected() && std::exchange(m_lostUnreported, false))
        throwLost(m_conn, QString());
    if (!connected()) {
        // Reconnect, never replay: whatever was in flight is reported, not repeated.
        m_dropped = false;
        reconnect();
    }
    if (!m_configured)
        configureSession();
    const QString bad = unsafeSetting(m_conn);
    if (bad.isEmpty()) {
        if (m_hasOperator && !m_operatorApplied)
            applyOperator();
        return;
    }
    // Something changed a pinned setting in this session. Not one more
    // statement here: start over from the connection options (a transaction
    // in progress dies with the session, as on a lost connection).
    PQfinish(m_conn);
    m_conn = nullptr;
    m_configured = false;
    throw EHostError(refusal(bad));
}

void PostgresBackend::configureSession()
{
    // One round trip: the LISTEN, the settings, and the operator when there is one.
    QList<QByteArray> sqls;
    if (m_listening)
        sqls << "LISTEN qel_change";
    sqls << kConfigureSession;
    const char *op[3] = {m_operator[0].constData(), m_operator[1].constData(), m_operator[2].constData()};
    if (m_hasOperator)
        sqls << kApplyOperator;
    QString bad = QStringLiteral("无法读取会话设置");
    int answered = 0;
    const std::exception_ptr failure = pipeline(
        sqls, QStringLiteral("无法设置数据库会话"),
        [&](const pg_result *r) {
            if (answered++ == (m_listening ? 1 : 0) && PQntuples(r) == 1)
                bad = unsafeSetting(PQgetvalue(r, 0, 0), PQgetvalue(r, 0, 1), PQgetvalue(r, 0, 2));
        },
        m_hasOperator ? 3 : 0, m_hasOperator ? op : nullptr);
    if (failure)
        std::rethrow_exception(failure);
    if (!bad.isEmpty())
        throw EHostError(refusal(bad));
    m_configured = true;
    m_operatorApplied = m_hasOperator;
    m_missedChanges = m_listening;
}

PostgresBackend::Result PostgresBackend::run(const QByteArray &sql, const QString &what, int nParams, const char *const *params, bool oneStatement)
{
    pg_conn *conn = m_conn;
    const Clock::time_point deadline = Clock::now() + m_responseTimeout;
    NonBlocking nonBlocking(conn);
    m_inFlight = true;
    struct Landed {
        bool &flag;
        ~Landed() { flag = false; }
    } landed{m_inFlight};

    // The extended protocol, even without parameters, refuses a text of two statements.
    const int sent = nParams > 0 || oneStatement ? PQsendQueryParams(conn, sql.constData(), nParams, nullptr, params, nullptr, nullptr, 0)
                                 : PQsendQuery(conn, sql.constData());
    if (!sent)
        throwFailure(nullptr, conn, what);
    flush(deadline, what);
    // As PQexec: the last result, or the one that found the session dead.
    Result r(nullptr, PQclear);
    bool copy = false;
    for (;;) {
        while (PQisBusy(conn)) {
            waitFor(POLLIN, deadline, what);
            if (!PQconsumeInput(conn))
                throwFailure(nullptr, conn, what);
        }
        PGresult *next = PQgetResult(conn);
        if (!next)
            break;
        const ExecStatusType status = PQresultStatus(next);
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
            // Nothing here speaks COPY: leave it so that the session stays usable.
            PQclear(next);
            copy = true;
            leaveCopy(status == PGRES_COPY_IN, deadline, what);
            continue;
        }
        r.reset(next);
        if (PQstatus(conn) == CONNECTION_BAD)
            break;
    }
    if (copy && PQstatus(conn) != CONNECTION_BAD)
        throw EHostError(QStringLiteral("%1：不支持 COPY 语句").arg(what));
    if (!r)
        throwFailure(nullptr, conn, what);
    switch (PQresultStatus(r.get())) {
    case PGRES_COMMAND_OK:
    case PGRES_TUPLES_OK:
    case PGRES_EMPTY_QUERY: return r;
    default: throwFailure(r.get(), conn, what);
    }
}

void PostgresBackend::flush(Clock::time_point deadline, const QString &what)
{
    // Whatever did not fit the socket at once; the server's answers may have to be read meanwhile.
    for (int left; (left = PQflush(m_conn)) != 0;) {
        if (left < 0 || ((waitFor(POLLIN | POLLOUT, deadline, what) & POLLIN) && !PQconsumeInput(m_conn)))
            throwFailure(nullptr, m_conn, what);
    }
}

void PostgresBackend::leaveCopy(bool in, Clock::time_point deadline, const QString &what)
{
    if (in) {
        while (PQputCopyEnd(m_conn, "COPY is not supported by this client") == 0)
            waitFor(POLLOUT, deadline, what);
        flush(deadline, what);
        return;
    }
    char *buf = nullptr;
    for (int n; (n = PQgetCopyData(m_conn, &buf, 1)) != -1;) {
        if (n > 0) {
            PQfreemem(buf);
        } else if (n == -2) {
            return; // the results that follow say why
        } else {
            waitFor(POLLIN, deadline, what);
            if (!PQconsumeInput(m_conn))
                throwFailure(nullptr, m_conn, what);
        }
    }
}

short PostgresBackend::waitFor(short events, Clock::time_point deadline, const QString &what)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            giveUp(what);
        pollfd p{PQsocket(m_conn), events, 0};
        if (p.fd < 0)
            return POLLIN; // let libpq say what happened to its socket
        const int n = ::poll(&p, 1, int(std::min<long long>(left, INT_MAX)));
        if (n > 0)
            return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) ? short(p.revents | POLLIN) : p.revents;
        if (n < 0 && errno != EINTR)
            return POLLIN;
    }
}

void PostgresBackend::giveUp(const QString &what)
{
    cancelInBackground(m_conn);
    // The session is given up on: the server sees it end, and drops what a
    // transaction held, as soon as it runs again. The next call reconnects.
    const int fd = PQsocket(m_conn);
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    m_dropped = true;
    m_configured = false;
    const QString seconds = QString::number(double(m_responseTimeout.count()) / 1000.0);
    throw EConnectionLost(QStringLiteral("服务器在 %1 秒内没有回应，连接已断开：%2，下次操作时将重新连接").arg(seconds, what),
                          THostErrorCause::Deadline);
}

void PostgresBackend::watchChanges(bool on)
{
    if (on == m_listening)
        return;
    m_listening = on;
    // A session that is not there now listens from its reconnect on (configureSession).
    if (!connected() || !m_configured)
        return;
    if (on) {
        try {
            run("LISTEN qel_change", QStringLiteral("无法接收其他操作员的修改通知"));
        } catch (const EConnectionLost &) {
            throw; // the reconnect listens
        } catch (...) {
            // Refused by the server (a standby, say): reconnects must not keep asking.
            m_listening = false;
            throw;
        }
    } else {
        run("UNLISTEN *", QStringLiteral("无法停止接收修改通知"));
        while (PGnotify *n = PQnotifies(m_conn))
            PQfreemem(n);
        m_missedChanges = false;
    }
}

int PostgresBackend::changeSocket() const
{
    return m_listening && connected() ? PQsocket(m_conn) : -1;
}

QList<TChangeNotice> PostgresBackend::takeChanges()
{
    QList<TChangeNotice> notices;
    if (!m_listening || !m_conn)
        return notices;
    // Reading the socket may find the session gone, which inside a
    // transaction must be found by the transaction's next statement (a silent
    // reconnect would run it outside). Notices that came with our own
    // statements' answers are in libpq's queue already.
    if (!m_inFlight && connected() && PQtransactionStatus(m_conn) == PQTRANS_IDLE) {
        PQconsumeInput(m_conn);
        if (PQstatus(m_conn) == CONNECTION_BAD)
            m_lostUnreported = true;
    }
    const int self = PQbackendPID(m_conn);
    while (PGnotify *n = PQnotifies(m_conn)) {
        if (n->be_pid != self) {
            try {
                notices.append(parseNotice(n->extra));
            } catch (...) {
            }
        }
        PQfreemem(n);
    }
    if (m_missedChanges) {
        m_missedChanges = false;
        notices.append(TChangeNotice{});
    }
    return notices;
}

void PostgresBackend::operatorChanged(const QString &node, const QString &group, const QString &user)
{
    m_operator[0] = node.toUtf8();
    m_operator[1] = group.toUtf8();
    m_operator[2] = user.toUtf8();
    m_hasOperator = true;
    m_operatorApplied = false;
}

void PostgresBackend::applyOperator()
{
    // Parameters, not literals: the values never become SQL text.
    const char *values[3] = {m_operator[0].constData(), m_operator[1].constData(), m_operator[2].constData()};
    run(kApplyOperator, QStringLiteral("无法设置数据库会话的操作员"), 3, values);
    m_operatorApplied = true;
}

int PostgresBackend::exec(const QByteArray &sql)
{
    ensureConnected();
    if (m_beginPending) {
        const BatchOutcome o = withBegin({sql}, false);
        if (o.failure)
            std::rethrow_exception(o.failure);
        return o.changed.value(0);
    }
    if (inTransaction() || !changesRows(sql)) {
        Result r = run(sql, QStringLiteral("数据库执行语句失败"), 0, nullptr, true);
        return changedRows(r.get());
    }
    // An autocommitted write goes in a transaction of its own whose ID is
    // known before its commit is sent, so that a lost answer can be looked up
    // (see commit). Begin, ID and statement share one round trip.
    begin();
    int changed = 0;
    try {
        changed = exec(sql);
    } catch (const EConnectionLost &) {
        m_beginPending = false;
        m_txid.clear();
        throw; // the session is gone, and the transaction with it
    } catch (...) {
        rollback();
        throw;
    }
    commit();
    return changed;
}

DataPacket PostgresBackend::query(const QByteArray &sql)
{
    ensureConnected();
    if (m_beginPending) {
        const BatchOutcome o = withBegin({sql}, true);
        if (o.failure)
            std::rethrow_exception(o.failure);
        return o.rows.value(0);
    }
    Result r = run(sql, QStringLiteral("数据库查询失败"), 0, nullptr, true);
    return packetOf(r.get());
}

BatchOutcome PostgresBackend::withBegin(const QList<QByteArray> &sqls, bool queries)
{
    m_beginPending = false;
    BatchOutcome out;
    int answered = 0;
    try {
        out.failure = pipeline(QList<QByteArray>{"BEGIN", "SELECT txid_current()"} + sqls,
                               queries ? QStringLiteral("数据库查询失败") : QStringLiteral("数据库执行语句失败"), [&](const pg_result *r) {
                                   if (answered == 1)
                                       m_txid = PQntuples(r) == 1 ? QByteArray(PQgetvalue(r, 0, 0)) : QByteArray();
                                   else if (answered > 1 && queries)
                                       out.rows.append(packetOf(r));
                                   else if (answered > 1)
                                       out.changed.append(changedRows(r));
                                   ++answered;
                               });
    } catch (...) {
        out.failure = std::current_exception();
    }
    return out;
}

std::exception_ptr PostgresBackend::pipeline(const QList<QByteArray> &sqls, const QString &what, const std::function<void(const pg_result *)> &take,
                                             int lastParams, const char *const *params)
{
    pg_conn *conn = m_conn;
    // Each answer may take as long as one statement's.
    Clock::time_point deadline = Clock::now() + m_responseTimeout;
    NonBlocking nonBlocking(conn);
    m_inFlight = true;
    struct Landed {
        pg_conn *conn;
        bool &flag;
        ~Landed()
        {
            flag = false;
            if (PQpipelineStatus(conn) != PQ_PIPELINE_OFF && PQstatus(conn) == CONNECTION_OK)
                PQexitPipelineMode(conn);
        }
    } landed{conn, m_inFlight};
    if (!PQenterPipelineMode(conn))
        throwFailure(nullptr, conn, what);
    for (qsizetype i = 0; i < sqls.size(); ++i) {
        const bool last = i + 1 == sqls.size();
        if (!PQsendQueryParams(conn, sqls[i].constData(), last ? lastParams : 0, nullptr, last ? params : nullptr, nullptr, nullptr, 0))
            throwFailure(nullptr, conn, what);
    }
    if (!PQpipelineSync(conn))
        throwFailure(nullptr, conn, what);
    flush(deadline, what);
    const auto next = [&]() -> Result {
        while (PQisBusy(conn)) {
            waitFor(POLLIN, deadline, what);
            if (!PQconsumeInput(conn))
                throwFailure(nullptr, conn, what);
        }
        return Result(PQgetResult(conn), PQclear);
    };
    std::exception_ptr failure;
    // Each statement's result, then a null; then the sync's own.
    for (qsizetype i = 0; i < sqls.size(); ++i) {
        Result r = next();
        if (!r || PQstatus(conn) == CONNECTION_BAD)
            throwFailure(r.get(), conn, what);
        deadline = Clock::now() + m_responseTimeout;
        const ExecStatusType status = PQresultStatus(r.get());
        if (!failure && (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK || status == PGRES_EMPTY_QUERY)) {
            take(r.get());
        } else if (!failure) {
            try {
                throwFailure(r.get(), conn, what);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        while (next())
            ; // the statement's end
    }
    for (Result r = next(); r; r = next())
        if (PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC)
            break;
    return failure;
}

BatchOutcome PostgresBackend::batch(const QList<QByteArray> &sqls, bool queries)
{
    // Outside a transaction the writes of one pipeline would stand or fall
    // together: there each goes by itself. Reads share one snapshot.
    if (sqls.size() < 2 || (!queries && !inTransaction()))
        return Backend::batch(sqls, queries);
    BatchOutcome out;
    try {
        ensureConnected();
        if (m_beginPending)
            return withBegin(sqls, queries);
        out.failure = pipeline(sqls, queries ? QStringLiteral("数据库查询失败") : QStringLiteral("数据库执行语句失败"), [&](const pg_result *r) {
            if (queries)
                out.rows.append(packetOf(r));
            else
                out.changed.append(changedRows(r));
        });
    } catch (...) {
        // Lost on the way: what was read stands, the rest did not happen here.
        out.failure = std::current_exception();
    }
    return out;
}

BatchOutcome PostgresBackend::commitWith(const QList<QByteArray> &writes)
{
    ensureConnected();
    if (!inTransaction())
        throw EHostError(QStringLiteral("无法提交事务：当前没有进行中的事务"));
    const bool begins = std::exchange(m_beginPending, false);
    if (begins && writes.isEmpty())
        return {}; // nothing was sent
    QList<QByteArray> sqls = writes;
    if (begins) {
        m_txid.clear();
        sqls = QList<QByteArray>{"BEGIN", "SELECT txid_current()"} + sqls;
    }
    sqls.append("COMMIT");
    const qsizetype first = begins ? 2 : 0;
    BatchOutcome out;
    bool rolledBack = false;
    qsizetype answered = 0;
    try {
        out.failure = pipeline(sqls, QStringLiteral("数据库执行语句失败"), [&](const pg_result *r) {
            if (begins && answered == 1)
                m_txid = PQntuples(r) == 1 ? QByteArray(PQgetvalue(r, 0, 0)) : QByteArray();
            else if (answered + 1 == sqls.size())
                rolledBack = std::strcmp(PQcmdStatus(const_cast<pg_result *>(r)), "ROLLBACK") == 0;
            else if (answered >= first)
                out.changed.append(changedRows(r));
            ++answered;
        });
    } catch (const EConnectionLost &lost) {
        // The COMMIT went with the writes: ask what became of it.
        settleLostCommit(lost.message());
        return out; // saved; the counts not answered stay unknown
    }
    if (out.failure)
        return out; // the COMMIT did not run; the transaction waits for its rollback
    m_txid.clear();
    if (rolledBack)
        throwRolledBack();
    return out;
}

BatchOutcome PostgresBackend::commitThenBegin(const QList<QByteArray> &queries)
{
    ensureConnected();
    if (m_beginPending || queries.isEmpty()) {
        // Nothing of this transaction was sent: the next simply goes on from here.
        commit();
        begin();
        return queries.isEmpty() ? BatchOutcome() : batch(queries, true);
    }
    if (!inTransaction())
        throw EHostError(QStringLiteral("无法提交事务：当前没有进行中的事务"));
    const QList<QByteArray> sqls = QList<QByteArray>{"COMMIT", "BEGIN", "SELECT txid_current()"} + queries;
    BatchOutcome out;
    QByteArray next;
    bool rolledBack = false;
    qsizetype answered = 0;
    std::exception_ptr failure;
    try {
        failure = pipeline(sqls, QStringLiteral("数据库查询失败"), [&](const pg_result *r) {
            if (answered == 0)
                rolledBack = std::strcmp(PQcmdStatus(const_cast<pg_result *>(r)), "ROLLBACK") == 0;
            else if (answered == 2)
                next = PQntuples(r) == 1 ? QByteArray(PQgetvalue(r, 0, 0)) : QByteArray();
            else if (answered > 2)
                out.rows.append(packetOf(r));
            ++answered;
        });
    } catch (const EConnectionLost &lost) {
        if (answered == 0)
            settleLostCommit(lost.message()); // throws unless it was saved
        m_txid.clear();
        out.failure = std::current_exception(); // the next transaction went with the session
        return out;
    }
    if (answered == 0) {
        // The COMMIT itself failed: the transaction is over, and the rest never ran.
        m_txid.clear();
        m_operatorApplied = false;
        std::rethrow_exception(failure);
    }
    m_txid = next;
    if (rolledBack) {
        // The old transaction had failed; the new one must not stand in for it.
        rollback();
        throwRolledBack();
    }
    out.failure = failure;
    return out;
}

DataPacket PostgresBackend::packetOf(const pg_result *res)
{
    DataPacket p;
    if (PQresultStatus(res) != PGRES_TUPLES_OK)
        return p;
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
    run(std::exchange(m_beginPending, false) ? "BEGIN; " + sql : sql, QStringLiteral("数据库执行脚本失败"));
}

void PostgresBackend::begin()
{
    ensureConnected();
    // Same rule as SQLite: a second BEGIN is a mistake, not a no-op.
    if (inTransaction())
        throw EHostError(QStringLiteral("无法开始事务：已有一个事务正在进行"));
    // Sent with the transaction's first statements, and its ID with it: what
    // a commit whose answer is lost did can then be asked.
    m_beginPending = true;
    m_txid.clear();
}

void PostgresBackend::commit()
{
    if (std::exchange(m_beginPending, false))
        return; // nothing was sent
    if (!connected()) {
        // The transaction died with the session; reconnect for later calls, then report the loss.
        ensureConnected();
        throw EConnectionLost(QStringLiteral("与数据库服务器的连接已断开：事务未能提交，其中的修改已丢失，请重做"));
    }
    if (!inTransaction())
        throw EHostError(QStringLiteral("无法提交事务：当前没有进行中的事务"));
    Result r(nullptr, PQclear);
    try {
        r = run("COMMIT", QStringLiteral("提交事务失败"));
    } catch (const EConnectionLost &lost) {
        settleLostCommit(lost.message());
        return; // saved
    }
    m_txid.clear();
    // The server answers COMMIT of a failed transaction with a rollback, not an error.
    if (std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
        throwRolledBack();
}

void PostgresBackend::throwRolledBack()
{
    // A setting made inside the transaction went back with it.
    m_operatorApplied = false;
    throw EHostError(QStringLiteral("提交事务失败：事务中有语句出错，全部修改已回滚，未保存任何内容"));
}

void PostgresBackend::settleLostCommit(const QString &lost)
{
    const QByteArray txid = std::exchange(m_txid, QByteArray());
    QString why = lost;
    why.remove(QStringLiteral("与数据库服务器的连接已断开："));
    const QString unknown = QStringLiteral("结果未知：连接在服务器确认之前断开，请刷新后核对（%1）").arg(why);
    if (txid.isEmpty())
        throw EConnectionLost(unknown, THostErrorCause::OutcomeUnknown);
    // The answer was lost, perhaps not the commit: a new session asks the
    // server. Its old session may still be finishing the commit for a moment.
    // A failover may take a few seconds to give a desk with a list of
    // servers a primary again; one server is asked once.
    const int tries = m_hosts.isEmpty() ? 1 : 3;
    QByteArray status;
    for (int attempt = 0, unreachable = 0; attempt < 10; ++attempt) {
        try {
            ensureConnected();
            Result r = run("SELECT txid_status(" + txid + ")", QStringLiteral("无法查询事务结果"));
            status = PQntuples(r.get()) == 1 && !PQgetisnull(r.get(), 0, 0) ? QByteArray(PQgetvalue(r.get(), 0, 0)) : QByteArray();
        } catch (const EConnectionLost &) {
            status.clear();
            if (++unreachable == tries)
                break;
        } catch (const EHostError &) {
            status.clear(); // the server cannot tell (an ID it never saw, after a failover)
            break;
        }
        if (!status.isEmpty() && status != "in progress")
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    if (status == "committed")
        return;
    if (status == "aborted")
        throw EConnectionLost(QStringLiteral("与数据库服务器的连接已断开，服务器确认本次修改没有保存，请重做：%1").arg(why));
    throw EConnectionLost(unknown, THostErrorCause::OutcomeUnknown);
}

void PostgresBackend::rollback()
{
    m_txid.clear();
    if (std::exchange(m_beginPending, false))
        return; // nothing was sent
    if (!inTransaction())
        return;
    // A setting made inside the transaction goes back with it.
    m_operatorApplied = false;
    run("ROLLBACK", QStringLiteral("回滚事务失败"));
}

bool PostgresBackend::inTransaction() const
{
    if (m_beginPending)
        return true;
    if (!connected())
        return false;
    const PGTransactionStatusType t = PQtransactionStatus(m_conn);
    return t == PQTRANS_INTRANS || t == PQTRANS_INERROR;
}
