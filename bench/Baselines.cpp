#include "Baselines.h"
#include <HostError.h>
#include <PostgresBackend.h>
#include <SqliteBackend.h>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QUrl>
#include <QUrlQuery>
#include <charconv>
#include <map>
#include <libpq-fe.h>
#include <sqlite3.h>

namespace {

class RawSqlite : public RawEngine {
public:
    // A connection of its own, opened with the host's settings (pragmas), then used through the C API only.
    explicit RawSqlite(const QString &path) : m_conn(path), m_db(m_conn.handle()) {}
    ~RawSqlite() override
    {
        for (auto &[sql, st] : m_prepared)
            sqlite3_finalize(st);
    }

    qsizetype query(const QByteArray &sql, std::vector<QVariant> &out) override
    {
        out.clear();
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK)
            fail();
        const int n = sqlite3_column_count(st);
        qsizetype rows = 0;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            ++rows;
            for (int c = 0; c < n; ++c) {
                switch (sqlite3_column_type(st, c)) {
                case SQLITE_INTEGER: out.emplace_back(qlonglong(sqlite3_column_int64(st, c))); break;
                case SQLITE_FLOAT: out.emplace_back(sqlite3_column_double(st, c)); break;
                case SQLITE_NULL: out.emplace_back(); break;
                case SQLITE_BLOB:
                    out.emplace_back(QByteArray(static_cast<const char *>(sqlite3_column_blob(st, c)), sqlite3_column_bytes(st, c)));
                    break;
                default: {
                    const auto *t = reinterpret_cast<const char *>(sqlite3_column_text(st, c));
                    out.emplace_back(QString::fromUtf8(t, sqlite3_column_bytes(st, c)));
                }
                }
            }
        }
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE)
            fail();
        return rows;
    }

    void exec(const QByteArray &sql) override
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK)
            fail();
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        }
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE)
            fail();
    }

    void transaction(const std::vector<QByteArray> &sqls, const QByteArray &repeated, qsizetype times) override
    {
        exec("BEGIN IMMEDIATE");
        try {
            for (const QByteArray &q : sqls)
                exec(q);
            sqlite3_stmt *&st = m_prepared[repeated];
            if (times > 0 && !st &&
                sqlite3_prepare_v3(m_db, repeated.constData(), int(repeated.size()), SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK)
                fail();
            for (qsizetype i = 0; i < times; ++i) {
                const int rc = sqlite3_step(st);
                sqlite3_reset(st);
                if (rc != SQLITE_DONE && rc != SQLITE_ROW)
                    fail();
            }
            exec("COMMIT");
        } catch (...) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    qsizetype touch(const QByteArray &sql) override
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK)
            fail();
        const int n = sqlite3_column_count(st);
        qsizetype rows = 0, sum = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            ++rows;
            for (int c = 0; c < n; ++c) {
                sqlite3_value *v = sqlite3_column_value(st, c);
                if (sqlite3_value_type(v) == SQLITE_TEXT)
                    sum += sqlite3_value_text(v)[0];
                else
                    sum += sqlite3_value_int(v);
            }
        }
        sqlite3_finalize(st);
        return rows + (sum & 0);
    }

    qint64 textBytes(const QByteArray &sql) override
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK)
            fail();
        const int n = sqlite3_column_count(st);
        qint64 bytes = 0;
        while (sqlite3_step(st) == SQLITE_ROW)
            for (int c = 0; c < n; ++c)
                if (sqlite3_column_type(st, c) != SQLITE_NULL) {
                    sqlite3_column_text(st, c);
                    bytes += sqlite3_column_bytes(st, c);
                }
        sqlite3_finalize(st);
        return bytes;
    }

private:
    [[noreturn]] void fail() { throw EHostError(QStringLiteral("raw sqlite: %1").arg(QString::fromUtf8(sqlite3_errmsg(m_db)))); }
    SqliteBackend m_conn;
    sqlite3 *m_db;
    std::map<QByteArray, sqlite3_stmt *> m_prepared;
};

class RawPg : public RawEngine {
public:
    // A session of its own with the host's settings (UTF8, ISO dates), then libpq only.
    explicit RawPg(const QString &uri) : m_backend(uri), m_conn(m_backend.handle()) {}

    qsizetype query(const QByteArray &sql, std::vector<QVariant> &out) override
    {
        out.clear();
        PGresult *r = PQexec(m_conn, sql.constData());
        if (PQresultStatus(r) != PGRES_TUPLES_OK)
            fail(r);
        const int rows = PQntuples(r), n = PQnfields(r);
        out.reserve(size_t(rows) * size_t(n));
        std::vector<Oid> types(static_cast<size_t>(n));
        for (int c = 0; c < n; ++c)
            types[size_t(c)] = PQftype(r, c);
        for (int row = 0; row < rows; ++row) {
            for (int c = 0; c < n; ++c) {
                if (PQgetisnull(r, row, c)) {
                    out.emplace_back();
                    continue;
                }
                const char *v = PQgetvalue(r, row, c);
                const int len = PQgetlength(r, row, c);
                switch (types[size_t(c)]) {
                case 20: // int8, int2, int4
                case 21:
                case 23: {
                    qlonglong x = 0;
                    std::from_chars(v, v + len, x);
                    out.emplace_back(x);
                    break;
                }
                case 700: // float4, float8, numeric
                case 701:
                case 1700: {
                    double x = 0;
                    std::from_chars(v, v + len, x);
                    out.emplace_back(x);
                    break;
                }
                default: out.emplace_back(QString::fromUtf8(v, len));
                }
            }
        }
        PQclear(r);
        return rows;
    }

    void exec(const QByteArray &sql) override
    {
        PGresult *r = PQexec(m_conn, sql.constData());
        const ExecStatusType s = PQresultStatus(r);
        if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK)
            fail(r);
        PQclear(r);
    }

    void transaction(const std::vector<QByteArray> &sqls, const QByteArray &repeated, qsizetype times) override
    {
        QByteArray text = "BEGIN;\n";
        for (const QByteArray &q : sqls)
            text += q + ";\n";
        if (times > 0) {
            auto it = m_prepared.find(repeated);
            if (it == m_prepared.end()) {
                const QByteArray name = "qelbench_" + QByteArray::number(qulonglong(m_prepared.size()));
                exec("PREPARE " + name + " AS " + repeated);
                it = m_prepared.emplace(repeated, name).first;
            }
            const QByteArray call = "EXECUTE " + it->second + ";\n";
            text.reserve(text.size() + call.size() * times);
            for (qsizetype i = 0; i < times; ++i)
                text += call;
        }
        text += "COMMIT";
        PGresult *r = PQexec(m_conn, text.constData());
        const ExecStatusType s = PQresultStatus(r);
        if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) {
            PQclear(PQexec(m_conn, "ROLLBACK"));
            fail(r);
        }
        PQclear(r);
    }

    qsizetype touch(const QByteArray &sql) override
    {
        PGresult *r = PQexec(m_conn, sql.constData());
        if (PQresultStatus(r) != PGRES_TUPLES_OK)
            fail(r);
        const int rows = PQntuples(r), n = PQnfields(r);
        qsizetype sum = 0;
        for (int row = 0; row < rows; ++row)
            for (int c = 0; c < n; ++c)
                sum += PQgetisnull(r, row, c) ? 0 : PQgetvalue(r, row, c)[0];
        PQclear(r);
        return rows + (sum & 0);
    }

    qint64 textBytes(const QByteArray &sql) override
    {
        PGresult *r = PQexec(m_conn, sql.constData());
        if (PQresultStatus(r) != PGRES_TUPLES_OK)
            fail(r);
        qint64 bytes = 0;
        for (int row = 0; row < PQntuples(r); ++row)
            for (int c = 0; c < PQnfields(r); ++c)
                bytes += PQgetlength(r, row, c);
        PQclear(r);
        return bytes;
    }

private:
    [[noreturn]] void fail(PGresult *r)
    {
        const QString msg = QString::fromUtf8(PQresultErrorMessage(r));
        PQclear(r);
        throw EHostError(QStringLiteral("raw libpq: %1").arg(msg));
    }
    PostgresBackend m_backend;
    PGconn *m_conn;
    std::map<QByteArray, QByteArray> m_prepared; // statement -> its PREPAREd name
};

bool isPostgres(const QString &url)
{
    return url.startsWith(QLatin1String("postgres"), Qt::CaseInsensitive);
}

} // namespace

std::unique_ptr<RawEngine> RawEngine::open(const QString &url)
{
    if (isPostgres(url))
        return std::make_unique<RawPg>(url);
    return std::make_unique<RawSqlite>(url.mid(int(qstrlen("sqlite:"))));
}

struct QtSqlPeer::Impl {
    QString name;
    QSqlQueryModel model;
};

QtSqlPeer::QtSqlPeer(const QString &url) : d(std::make_unique<Impl>())
{
    static int serial = 0;
    d->name = QStringLiteral("qelbench_peer_%1").arg(++serial);
    const bool pg = isPostgres(url);
    const QString driver = pg ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        m_why = QStringLiteral("Qt SQL driver %1 not installed (%2)").arg(driver, pg ? QStringLiteral("libqt6sql6-psql") : QStringLiteral("libqt6sql6-sqlite"));
        return;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, d->name);
    if (pg) {
        const QUrl u(url);
        db.setHostName(u.host());
        if (u.port() > 0)
            db.setPort(u.port());
        db.setUserName(u.userName());
        db.setPassword(u.password());
        db.setDatabaseName(u.path().mid(1));
    } else {
        db.setDatabaseName(url.mid(int(qstrlen("sqlite:"))));
    }
    if (!db.open()) {
        m_why = db.lastError().text();
        return;
    }
    // The host's session settings, so that only the code differs.
    if (pg)
        QSqlQuery(QStringLiteral("SET client_encoding TO 'UTF8'"), db);
    else
        QSqlQuery(QStringLiteral("PRAGMA cache_size=-65536"), db);
    m_ok = true;
}

QtSqlPeer::~QtSqlPeer()
{
    d->model.clear();
    const QString name = d->name;
    d.reset();
    QSqlDatabase::removeDatabase(name);
}

qsizetype QtSqlPeer::load(const QString &sql)
{
    QSqlDatabase db = QSqlDatabase::database(d->name, false);
    d->model.setQuery(sql, db);
    if (d->model.lastError().isValid())
        throw EHostError(QStringLiteral("QSqlQueryModel: %1").arg(d->model.lastError().text()));
    while (d->model.canFetchMore())
        d->model.fetchMore();
    const int rows = d->model.rowCount(), cols = d->model.columnCount();
    qsizetype touched = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            touched += d->model.data(d->model.index(r, c)).isValid();
    return touched >= 0 ? rows : 0;
}
