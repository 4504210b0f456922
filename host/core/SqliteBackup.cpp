#include "SqliteBackup.h"
#include "HostError.h"
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>
#include <sqlite3.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TableCounts = QList<std::pair<QString, qint64>>;

struct Connection {
    sqlite3 *db = nullptr;
    ~Connection() { sqlite3_close_v2(db); }
};

QString why(sqlite3 *db, int rc)
{
    const QString detail = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
    switch (rc & 0xff) {
    case SQLITE_NOTADB:
        return QStringLiteral("不是 SQLite 数据库文件（%1）").arg(detail);
    case SQLITE_CORRUPT:
        return QStringLiteral("数据库文件已损坏（%1）").arg(detail);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("数据库正被其他程序锁住，请稍后再试（%1）").arg(detail);
    case SQLITE_FULL:
        return QStringLiteral("磁盘已满（%1）").arg(detail);
    case SQLITE_CANTOPEN:
        return QStringLiteral("无法打开文件（%1）").arg(detail);
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return QStringLiteral("没有写入权限（%1）").arg(detail);
    case SQLITE_IOERR:
        return QStringLiteral("读写文件出错（%1）").arg(detail);
    default:
        return QStringLiteral("SQLite 错误（%1）").arg(detail);
    }
}

// The rows of one statement, each column as text; SQLITE_OK or the failure's code.
int query(sqlite3 *db, const QByteArray &sql, QList<QStringList> &out)
{
    sqlite3_stmt *st = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &st, nullptr);
    while (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < sqlite3_column_count(st); ++c)
            row << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, c)));
        out << row;
        rc = SQLITE_OK;
    }
    sqlite3_finalize(st);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Every table of the database's own with its row count, by name.
int countRows(sqlite3 *db, TableCounts &out)
{
    QList<QStringList> names;
    int rc = query(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!'"
                       " AND sql NOT LIKE 'CREATE VIRTUAL%' ORDER BY name",
                   names);
    for (const QStringList &n : std::as_const(names)) {
        if (rc != SQLITE_OK)
            break;
        QList<QStringList> count;
        QString quoted = n[0];
        quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        rc = query(db, "SELECT count(*) FROM \"" + quoted.toUtf8() + '"', count);
        if (rc == SQLITE_OK)
            out.append({n[0], count.value(0).value(0).toLongLong()});
    }
    return rc;
}

// A hidden temporary file in the copy's folder; it and whatever SQLite left
// beside it go unless kept.
struct TempCopy {
    QByteArray path;
    bool kept = false;
    ~TempCopy()
    {
        if (kept || path.isEmpty())
            return;
        for (const char *suffix : {"", "-journal", "-wal", "-shm"})
            ::unlink((path + suffix).constData());
    }
};

bool syncPath(const QByteArray &path, int flags)
{
    const int fd = ::open(path.constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    return ::close(fd) == 0 && ok;
}

} // namespace

SqliteBackupResult BackupSqliteDatabase(const QString &source, const QString &copy)
{
    const auto fail = [&](const QString &reason) {
        throw EHostError(QStringLiteral("备份失败：无法把数据库“%1”备份到“%2”：%3。原有的备份文件（如有）保持不变。").arg(source, copy, reason));
    };
    const QFileInfo src(source);
    if (source.trimmed().isEmpty() || copy.trimmed().isEmpty())
        fail(QStringLiteral("没有给出文件路径"));
    // Opening a missing file would create an empty database there.
    if (!src.exists())
        fail(QStringLiteral("数据库文件不存在"));
    if (!src.isFile())
        fail(QStringLiteral("数据库路径不是一个普通文件"));
    const QString srcPath = src.canonicalFilePath();
    const QFileInfo dst(copy);
    if (dst.isDir())
        fail(QStringLiteral("备份路径是一个文件夹，请给出备份文件的文件名"));
    const QString folder = QFileInfo(dst.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        fail(QStringLiteral("备份文件所在的文件夹不存在"));
    const QString target = folder + QLatin1Char('/') + dst.fileName();
    for (const char *suffix : {"", "-wal", "-shm", "-journal"}) {
        const QString own = srcPath + QLatin1String(suffix);
        if (target == own || (dst.exists() && dst.canonicalFilePath() == own))
            fail(QStringLiteral("备份文件不能是数据库文件本身，也不能是它旁边的 -wal、-shm、-journal 文件"));
    }

    // A connection of the backup's own: the desks' connections are left alone.
    Connection from;
    int rc = sqlite3_open_v2(srcPath.toUtf8().constData(), &from.db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK)
        fail(why(from.db, rc));
    sqlite3_busy_timeout(from.db, 5000);
    // One read transaction: the counts and the pages copied are of the same moment.
    TableCounts counts;
    rc = sqlite3_exec(from.db, "BEGIN", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = countRows(from.db, counts);
    if (rc != SQLITE_OK)
        fail(why(from.db, rc));
    if (counts.isEmpty())
        fail(QStringLiteral("数据库中没有任何数据表，没有可备份的内容"));

    TempCopy temp;
    // A short name whatever the copy's, so a copy's name of any legal length works.
    QByteArray name = QFile::encodeName(folder + QStringLiteral("/.qel-backup-XXXXXX"));
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    temp.path = name;
    // The copy may be read by whoever may read the database.
    struct stat st;
    ::fchmod(fd, ::stat(QFile::encodeName(srcPath).constData(), &st) == 0 ? (st.st_mode & 0666) : 0600);
    ::close(fd);

    Connection to;
    rc = sqlite3_open_v2(name.constData(), &to.db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK)
        fail(why(to.db, rc));
    sqlite3_backup *backup = sqlite3_backup_init(to.db, "main", from.db, "main");
    if (!backup)
        fail(why(to.db, sqlite3_errcode(to.db)));
    // Every page in one step, inside the source's open read transaction.
    rc = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE)
        fail(why(to.db, finished != SQLITE_OK ? finished : rc));

    QList<QStringList> integrity;
    rc = query(to.db, "PRAGMA integrity_check", integrity);
    if (rc != SQLITE_OK)
        fail(why(to.db, rc));
    if (integrity != QList<QStringList>{{QStringLiteral("ok")}})
        fail(QStringLiteral("复制出的文件未通过完整性检查（%1）").arg(integrity.value(0).value(0)));
    TableCounts copied;
    rc = countRows(to.db, copied);
    if (rc != SQLITE_OK)
        fail(why(to.db, rc));
    if (copied != counts)
        fail(QStringLiteral("复制出的文件与数据库的表或行数不一致"));
    // Closed, so that nothing of it is left in a -wal beside it.
    rc = sqlite3_close(to.db);
    if (rc != SQLITE_OK)
        fail(why(to.db, rc));
    to.db = nullptr;
    sqlite3_exec(from.db, "COMMIT", nullptr, nullptr, nullptr);

    // On disk before it takes the name, and the name on disk after.
    if (!syncPath(name, O_RDONLY))
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (::rename(name.constData(), QFile::encodeName(target).constData()) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    temp.kept = true;
    syncPath(QFile::encodeName(folder), O_RDONLY | O_DIRECTORY);

    SqliteBackupResult result;
    result.copy = target;
    result.tables = int(counts.size());
    for (const auto &c : std::as_const(counts))
        result.rows += c.second;
    return result;
}
