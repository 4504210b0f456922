#include "Schema.h"
#include "DemoData.h"
#include "HostError.h"
#include <QRegularExpression>
#include <QSet>
#include <QFile>

// A static library's resources are dropped by the linker unless something
// registers them explicitly; this must sit outside any namespace.
static void initSchemaResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(schema);
        return true;
    }();
    Q_UNUSED(done);
}

QByteArray SchemaScript(const QString &engine)
{
    initSchemaResources();
    QString name;
    if (engine == QLatin1String("sqlite"))
        name = QStringLiteral(":/qel/schema/sqlite.sql");
    else if (engine == QLatin1String("postgresql"))
        name = QStringLiteral(":/qel/schema/postgres.sql");
    else
        throw EHostError(QStringLiteral("不支持的数据库类型：%1").arg(engine));

    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        throw EHostError(QStringLiteral("找不到建表脚本：%1").arg(name));
    return file.readAll();
}

void CreateSchema(Backend &db)
{
    const QByteArray script = SchemaScript(db.engine());
    // All or nothing: a half-built schema would make the next attempt fail on
    // tables that already exist.
    BackendTransaction tx(db);
    db.execScript(script);
    tx.commit();
}

namespace {
// Where the section that later versions added begins in both scripts.
const char kHistorySection[] = "-- Change history.";

// The tables a script creates, lower case, in its order.
QStringList CreatedTables(const QByteArray &script)
{
    static const QRegularExpression create(QStringLiteral("^\\s*CREATE\\s+TABLE\\s+(\\w+)"),
                                           QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
    QStringList names;
    const QString text = QString::fromUtf8(script);
    for (auto it = create.globalMatch(text); it.hasNext();)
        names << it.next().captured(1).toLower();
    return names;
}

bool HasTable(Backend &db, const char *lowerName)
{
    const QByteArray sql = db.engine() == QLatin1String("sqlite")
                               ? QByteArray("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND lower(name) = '") + lowerName + "'"
                               : QByteArray("SELECT count(*) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
                                            " WHERE c.relname = '") +
                                     lowerName + "' AND n.nspname = current_schema() AND c.relkind IN ('r', 'p')";
    const DataPacket p = db.query(sql);
    return p.rowCount() > 0 && p.integer(0, 0) > 0;
}
} // namespace

QStringList SchemaTables(const QString &engine)
{
    return CreatedTables(SchemaScript(engine));
}

QByteArray HistorySchemaScript(const QString &engine)
{
    const QByteArray script = SchemaScript(engine);
    const qsizetype at = script.indexOf(kHistorySection);
    if (at < 0)
        throw EHostError(QStringLiteral("建表脚本中没有修改历史部分：%1").arg(engine));
    return script.mid(at);
}

namespace {
// SQLite history triggers that still insert their entries themselves (made by
// an earlier version): each of them is compiled into every statement that
// fires it.
int OldHistoryTriggers(Backend &db)
{
    const DataPacket p = db.query("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name LIKE 'TR!_%!_HISTORY!_%' ESCAPE '!'"
                                  " AND sql NOT LIKE '%qel!_history(%' ESCAPE '!'");
    return p.rowCount() > 0 ? int(p.integer(0, 0)) : 0;
}

// Replaces them with the script's, in one transaction: same entries, same text.
bool ReplaceHistoryTriggers(Backend &db)
{
    const QByteArray section = HistorySchemaScript(db.engine());
    const qsizetype first = section.indexOf("CREATE TRIGGER");
    if (first < 0)
        return false;
    const QByteArray triggers = section.mid(first);
    static const QRegularExpression name(QStringLiteral("^CREATE TRIGGER (\\w+)"), QRegularExpression::MultilineOption);
    try {
        BackendTransaction tx(db);
        // Two desks starting at once: the second finds the work done.
        if (OldHistoryTriggers(db) == 0)
            return false;
        for (auto it = name.globalMatch(QString::fromUtf8(triggers)); it.hasNext();)
            db.exec("DROP TRIGGER IF EXISTS " + it.next().captured(1).toUtf8());
        db.execScript(triggers);
        tx.commit();
    } catch (const EHostError &e) {
        throw EHostError(QStringLiteral("无法更新修改历史的触发器，数据库未作任何修改：%1").arg(e.message()));
    }
    return true;
}
} // namespace

bool UpgradeDatabase(Backend &db)
{
    // A file this desk can only read takes no change to record: it is used
    // as it stands, and its history (if any) read as it is.
    if (db.readOnly())
        return false;
    // Nothing to do costs two catalogue reads per start (three on SQLite).
    if (!HasTable(db, "qel_project"))
        return false;
    if (HasTable(db, "qel_project_history"))
        return db.engine() == QLatin1String("sqlite") && OldHistoryTriggers(db) > 0 && ReplaceHistoryTriggers(db);
    const QByteArray script = HistorySchemaScript(db.engine());
    try {
        BackendTransaction tx(db);
        // Two desks starting at once: the second waits, then finds the table made.
        if (db.engine() == QLatin1String("postgresql"))
            db.query("SELECT pg_advisory_xact_lock(7411300013)");
        if (HasTable(db, "qel_project_history"))
            return false;
        db.execScript(script);
        tx.commit();
    } catch (const EHostError &e) {
        throw EHostError(QStringLiteral("无法为数据库添加修改历史（表 QEL_PROJECT_HISTORY 及其触发器），数据库未作任何修改：%1").arg(e.message()));
    }
    return true;
}

void PrepareSqliteDatabase(Backend &db, const QDate &today)
{
    // Decided by what the file holds, not by whether it exists: a first start
    // that failed leaves an empty file behind, and the next one completes it.
    const DataPacket p = db.query("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!'");
    QSet<QString> present;
    for (int r = 0; r < p.rowCount(); ++r)
        present.insert(p.text(r, 0).toLower());
    if (present.isEmpty()) {
        const QByteArray schema = SchemaScript(db.engine());
        const QByteArray demo = DemoDataScript(today);
        BackendTransaction tx(db);
        db.execScript(schema);
        db.execScript(demo);
        tx.commit();
        return;
    }
    // Tables that later versions added are brought in below, not missed.
    const QStringList later = CreatedTables(HistorySchemaScript(db.engine()));
    QStringList missing;
    for (const QString &t : SchemaTables(db.engine()))
        if (!present.contains(t) && !later.contains(t))
            missing << t;
    if (!missing.isEmpty())
        throw EHostError(QStringLiteral("这个数据库文件中已有其他数据表，但没有本模块的数据表（缺少 %1），不能使用；请另选一个数据库文件")
                             .arg(missing.join(QStringLiteral("、"))));
    UpgradeDatabase(db);
}
