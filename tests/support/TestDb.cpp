#include "TestDb.h"
#include "Database.h"
#include "DemoData.h"
#include "HostError.h"
#include "Schema.h"
#include "SqliteBackend.h"
#include <QCoreApplication>
#include <QDate>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cstdio>
#include <sqlite3.h>

namespace {
bool isPostgresUrl(const QString &url)
{
    return url.startsWith(QLatin1String("postgresql:"), Qt::CaseInsensitive)
        || url.startsWith(QLatin1String("postgres:"), Qt::CaseInsensitive);
}
} // namespace

QString withDatabaseName(const QString &url, const QString &name)
{
    const qsizetype scheme = url.indexOf(QLatin1String("://"));
    const qsizetype authority = scheme < 0 ? 0 : scheme + 3;
    qsizetype query = url.indexOf(QLatin1Char('?'), authority);
    if (query < 0)
        query = url.size();
    const qsizetype slash = url.indexOf(QLatin1Char('/'), authority);
    if (slash < 0 || slash > query)
        return url.left(query) + QLatin1Char('/') + name + url.mid(query);
    return url.left(slash + 1) + name + url.mid(query);
}

bool TestDatabase::postgresSelected()
{
    return isPostgresUrl(qEnvironmentVariable("QEL_DATABASE"));
}

TestDatabase::TestDatabase(bool demoData)
{
    const QString env = qEnvironmentVariable("QEL_DATABASE");
    m_postgres = isPostgresUrl(env);
    try {
        if (m_postgres) {
            m_adminUrl = env;
            m_dbName = QStringLiteral("qeltest_%1_%2")
                           .arg(QCoreApplication::applicationPid())
                           .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
            auto admin = Database::connect(m_adminUrl);
            admin->exec(QStringLiteral("CREATE DATABASE %1 ENCODING 'UTF8' TEMPLATE template0").arg(m_dbName).toUtf8());
            m_url = withDatabaseName(env, m_dbName);
        } else {
            m_dir = std::make_unique<QTemporaryDir>();
            if (!m_dir->isValid())
                throw EHostError(QStringLiteral("无法创建临时目录：%1").arg(m_dir->errorString()));
            m_sqlitePath = m_dir->filePath(QStringLiteral("qeltest.db"));
            m_url = QStringLiteral("sqlite:") + m_sqlitePath;
        }
        Database::open(m_url);
        CreateSchema(*Database::connection());
        if (demoData)
            LoadDemoData(*Database::connection(), QDate::currentDate());
    } catch (...) {
        cleanup();
        throw;
    }
}

TestDatabase::~TestDatabase()
{
    cleanup();
}

void TestDatabase::cleanup() noexcept
{
    if (Database::isOpen() && Database::url() == m_url)
        Database::close();
    m_raw.reset();
    m_unchecked.reset();
    if (m_postgres && !m_dbName.isEmpty()) {
        try {
            auto admin = Database::connect(m_adminUrl);
            admin->exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_dbName).toUtf8());
        } catch (const EHostError &e) {
            std::fprintf(stderr, "warning: test database %s not dropped: %s\n", qPrintable(m_dbName), e.what());
        }
        m_dbName.clear();
    }
    m_dir.reset();
}

QString TestDatabase::tempDir() const
{
    return m_dir ? m_dir->path() : QString();
}

Backend &TestDatabase::raw()
{
    if (!m_raw)
        m_raw = Database::connect(m_url);
    return *m_raw;
}

int TestDatabase::exec(const QString &sql)
{
    return raw().exec(sql.toUtf8());
}

int TestDatabase::execUnchecked(const QString &sql)
{
    if (!m_unchecked) {
        m_unchecked = Database::connect(m_url);
        if (m_postgres) {
            // Triggers of this session only (needs a superuser, as the test cluster has).
            m_unchecked->exec("SET session_replication_role = replica");
        } else {
            sqlite3 *h = static_cast<SqliteBackend &>(*m_unchecked).handle();
            int on = 1;
            if (sqlite3_db_config(h, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, &on) != SQLITE_OK || on != 0)
                throw EHostError(QStringLiteral("无法关闭触发器"));
        }
    }
    return m_unchecked->exec(sql.toUtf8());
}

DataPacket TestDatabase::query(const QString &sql)
{
    return raw().query(sql.toUtf8());
}

QStringList TestDatabase::texts(const QString &sql)
{
    const DataPacket p = query(sql);
    QStringList out;
    for (int r = 0; r < p.rowCount(); ++r)
        out << p.text(r, 0);
    return out;
}

QString TestDatabase::scalar(const QString &sql)
{
    const DataPacket p = query(sql);
    if (p.rowCount() == 0 || p.columnCount() == 0)
        return QString();
    return p.text(0, 0);
}

int TestDatabase::count(const QString &sql)
{
    const DataPacket p = query(sql);
    if (p.rowCount() == 0 || p.columnCount() == 0)
        return 0;
    return int(p.integer(0, 0));
}

StatementRecorder::StatementRecorder()
{
    Database::setTraceHook([this](const QString &context, const QString &sql) {
        m_contexts << context;
        m_statements << sql;
    });
}

StatementRecorder::~StatementRecorder()
{
    Database::setTraceHook({});
}

void StatementRecorder::clear()
{
    m_statements.clear();
    m_contexts.clear();
}

namespace {
bool changeDacOverride(bool enable)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << CAP_DAC_OVERRIDE;
    if (enable) {
        if (!(data[0].permitted & bit))
            return false;
        data[0].effective |= bit;
    } else {
        if (!(data[0].effective & bit))
            return false;
        data[0].effective &= ~bit;
    }
    return syscall(SYS_capset, &header, data) == 0;
}
} // namespace

FilePermissionsEnforced::FilePermissionsEnforced()
{
    if (geteuid() == 0) {
        m_dropped = changeDacOverride(false);
        m_active = m_dropped;
    }
}

FilePermissionsEnforced::~FilePermissionsEnforced()
{
    if (m_dropped)
        changeDacOverride(true);
}
