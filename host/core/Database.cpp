#include "Database.h"
#include "DatabaseAddress.h"
#include "HostError.h"
#include "PostgresBackend.h"
#include "SqliteBackend.h"
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {
struct State {
    QString url;
    std::shared_ptr<Backend> conn;
    Database::TraceHook hook;
    QString refusal;
};
State &state()
{
    static State s;
    return s;
}
} // namespace

std::unique_ptr<Backend> Database::connect(const QString &url)
{
    if (url.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive))
        return std::make_unique<SqliteBackend>(url.mid(7));
    if (DatabaseAddress::isServer(url))
        return std::make_unique<PostgresBackend>(url);
    throw EHostError(QStringLiteral("无法识别的数据库地址“%1”：应为 sqlite:路径、postgresql://… 或 service=服务名 这样的 libpq 连接串").arg(DatabaseAddress::masked(url)));
}

void Database::open(const QString &url)
{
    auto conn = std::shared_ptr<Backend>(connect(url));
    state().conn = std::move(conn);
    state().url = url;
    state().refusal.clear();
}

void Database::close()
{
    state().conn.reset();
    state().url.clear();
    state().refusal.clear();
}

void Database::refuseWrites(const QString &message)
{
    state().refusal = message;
}

QString Database::writeRefusal()
{
    return state().refusal;
}

bool Database::isOpen()
{
    return state().conn != nullptr;
}

QString Database::url()
{
    return state().url;
}

QStringList Database::files()
{
    const QString &url = state().url;
    if (!state().conn || !url.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive))
        return {};
    const QString file = QFileInfo(url.mid(7)).absoluteFilePath();
    return {file, file + QStringLiteral("-wal"), file + QStringLiteral("-shm"), file + QStringLiteral("-journal")};
}

std::shared_ptr<Backend> Database::connection()
{
    if (!state().conn)
        throw EHostError(QStringLiteral("尚未连接数据库"));
    return state().conn;
}

QString Database::resolveUrl(const QString &explicitUrl)
{
    if (!explicitUrl.isEmpty())
        return explicitUrl;
    const QString env = qEnvironmentVariable("QEL_DATABASE");
    if (!env.isEmpty())
        return env;
    // The desk's own address (a desktop entry passes no arguments). The file
    // is plain text for anyone with the account: its password goes in .pgpass.
    const QVariant saved = QSettings().value(QStringLiteral("Database/Address"));
    // An unquoted value with commas (a list of servers) comes back as a list.
    const QString address = (saved.typeId() == QMetaType::QStringList ? saved.toStringList().join(QLatin1Char(',')) : saved.toString()).trimmed();
    if (DatabaseAddress::hasPassword(address))
        throw EHostError(QStringLiteral("设置文件 %1 中的数据库地址（Database/Address）含有密码，不予使用：请删去地址中的密码，"
                                        "把它写入 ~/.pgpass（或 PGPASSFILE 指定的文件，权限 0600）")
                             .arg(QSettings().fileName()));
    if (!address.isEmpty())
        return address;
    return QStringLiteral("sqlite:") + defaultSqlitePath();
}

QString Database::defaultSqlitePath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.local/share");
    dir += QStringLiteral("/qelclient");
    QDir().mkpath(dir);
    return dir + QStringLiteral("/qelproject.db");
}

void Database::setTraceHook(TraceHook hook)
{
    state().hook = std::move(hook);
}

void Database::trace(const QString &context, const QString &sql)
{
    if (state().hook)
        state().hook(context, sql);
}
