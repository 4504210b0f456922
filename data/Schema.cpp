#include "Schema.h"
#include "DemoData.h"
#include "Database.h"
#include "HostError.h"
#include <QMultiHash>
#include <QRegularExpression>
#include <QSet>
#include <QFile>
#include <algorithm>

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
// Where the sections that later versions added begin in both scripts.
const char kRulesSection[] = "-- Rules the module's checks keep";
const char kHistorySection[] = "-- Change history.";
// The version the scripts stamp (PRAGMA user_version, QEL_SCHEMA_VERSION).
constexpr int kSchemaVersion = 3;

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

int SchemaVersion()
{
    return kSchemaVersion;
}

namespace {
// One object of the rules' or the history's section: how the catalogue shows
// it, and the statements that make it again.
struct HistoryObject {
    QString kind;     // "column", "index", "function" or "trigger"
    QString name;     // as the script spells it
    QString expected; // what the catalogue must hold (a trigger's text on SQLite, its function on PostgreSQL, a function's body); empty: being there is enough
    QByteArray make;
};

// The rules' section: the first release had none of its triggers.
QByteArray RulesSchemaScript(const QString &engine)
{
    const QByteArray script = SchemaScript(engine);
    const qsizetype from = script.indexOf(kRulesSection), to = script.indexOf(kHistorySection);
    if (from < 0 || to < from)
        throw EHostError(QStringLiteral("建表脚本中没有规则部分：%1").arg(engine));
    return script.mid(from, to - from);
}

QList<HistoryObject> ExpectedObjects(const QString &engine, const QByteArray &script, bool history)
{
    const QString section = QString::fromUtf8(script);
    const auto matches = [&section](const char *pattern) {
        return QRegularExpression(QString::fromLatin1(pattern), QRegularExpression::MultilineOption).globalMatch(section);
    };
    QList<HistoryObject> out;
    // Columns the table gained after its first version.
    for (const char *column : {"DELETED_LIMITS", "DELETED_PRODUCTS"})
        if (history)
            out.append({QStringLiteral("column"), QString::fromLatin1(column), QString(),
                        QByteArray("ALTER TABLE QEL_PROJECT_HISTORY ADD COLUMN ") + column + " integer"});
    for (auto it = matches(R"(^CREATE INDEX (\w+) ON QEL_PROJECT_HISTORY[^;]*;)"); it.hasNext();) {
        const auto m = it.next();
        out.append({QStringLiteral("index"), m.captured(1), QString(), m.captured(0).toUtf8()});
    }
    if (engine == QLatin1String("sqlite")) {
        for (auto it = matches(R"(^CREATE TRIGGER (\w+)[\s\S]*?^END;)"); it.hasNext();) {
            const auto m = it.next();
            const QString text = m.captured(0);
            out.append({QStringLiteral("trigger"), m.captured(1), text.left(text.size() - 1),
                        ("DROP TRIGGER IF EXISTS " + m.captured(1) + QStringLiteral(";\n") + text).toUtf8()});
        }
        return out;
    }
    for (auto it = matches(R"(^CREATE OR REPLACE FUNCTION (\w+)\([\s\S]*?\$\$([\s\S]*?)\$\$;)"); it.hasNext();) {
        const auto m = it.next();
        out.append({QStringLiteral("function"), m.captured(1), m.captured(2), m.captured(0).toUtf8()});
    }
    for (auto it = matches(R"(^CREATE TRIGGER (\w+) [\s\S]*? ON (\w+)\s[\s\S]*?EXECUTE FUNCTION (\w+)\(\);)"); it.hasNext();) {
        const auto m = it.next();
        out.append({QStringLiteral("trigger"), m.captured(1), m.captured(3).toLower(),
                    ("DROP TRIGGER IF EXISTS " + m.captured(1) + QStringLiteral(" ON ") + m.captured(2) + QStringLiteral(";\n") + m.captured(0)).toUtf8()});
    }
    return out;
}

QList<HistoryObject> ExpectedHistoryObjects(const QString &engine)
{
    return ExpectedObjects(engine, HistorySchemaScript(engine), true);
}

// The objects that are missing, or differ from the script (a
// trigger disabled on PostgreSQL differs too): one catalogue read.
QList<HistoryObject> MissingObjects(Backend &db, const QList<HistoryObject> &expected)
{
    const bool sqlite = db.engine() == QLatin1String("sqlite");
    const QByteArray sql =
        sqlite ? QByteArray("SELECT 'column', lower(name), NULL FROM pragma_table_info('QEL_PROJECT_HISTORY')"
                            " UNION ALL SELECT type, lower(name), sql FROM sqlite_master WHERE type IN ('index', 'trigger')")
               : QByteArray("SELECT 'column', lower(a.attname), NULL FROM pg_catalog.pg_attribute a"
                            " WHERE a.attrelid = to_regclass('qel_project_history') AND a.attnum > 0 AND NOT a.attisdropped"
                            " UNION ALL SELECT 'index', lower(c.relname), NULL FROM pg_catalog.pg_class c"
                            " WHERE c.relkind = 'i' AND c.relnamespace = to_regnamespace(current_schema())"
                            " UNION ALL SELECT 'function', lower(p.proname), p.prosrc FROM pg_catalog.pg_proc p"
                            " WHERE p.pronamespace = to_regnamespace(current_schema()) AND p.proname ILIKE 'qel!_%' ESCAPE '!'"
                            " UNION ALL SELECT 'trigger', lower(t.tgname), CASE WHEN t.tgenabled = 'D' THEN 'disabled' ELSE lower(p.proname) END"
                            " FROM pg_catalog.pg_trigger t JOIN pg_catalog.pg_class c ON c.oid = t.tgrelid JOIN pg_catalog.pg_proc p ON p.oid = t.tgfoid"
                            " WHERE c.relnamespace = to_regnamespace(current_schema()) AND NOT t.tgisinternal");
    const DataPacket p = db.query(sql);
    QMultiHash<QString, QString> present;
    for (int r = 0; r < p.rowCount(); ++r)
        present.insert(p.text(r, 0) + QLatin1Char(':') + p.text(r, 1), p.text(r, 2));
    QList<HistoryObject> missing;
    for (const HistoryObject &o : expected) {
        const QStringList found = present.values(o.kind + QLatin1Char(':') + o.name.toLower());
        if (found.isEmpty() || (!o.expected.isEmpty() && !found.contains(o.expected)))
            missing << o;
    }
    return missing;
}

QList<HistoryObject> MissingHistoryObjects(Backend &db)
{
    return MissingObjects(db, ExpectedHistoryObjects(db.engine()));
}

// Writes through the process's connection stop, with this message; another
// connection (a tool's) is left to its caller.
void RefuseWrites(Backend &db, const QList<HistoryObject> &missing, const QString &cause)
{
    QStringList names;
    for (const HistoryObject &o : missing)
        names << (o.kind == QLatin1String("column") ? QStringLiteral("QEL_PROJECT_HISTORY.") + o.name : o.name);
    const QString what = QStringLiteral("修改历史的触发器、函数、索引或字段缺失或已被改动（%1），本机无法补上").arg(names.join(QStringLiteral("、")));
    const QString why = QStringLiteral("为免删除的项目无法恢复，本机暂停保存任何修改，查询不受影响；请联系系统管理员。");
    const QString message = db.readOnly() ? QStringLiteral("数据库是只读的，无法保存：%1。%2").arg(what, why)
                                          : QStringLiteral("无法保存：%1（%2）。%3").arg(what, cause, why);
    if (Database::isOpen() && Database::connection().get() == &db)
        Database::refuseWrites(message);
}
} // namespace

namespace {
// The version stamped in the database; 0 for one made before the stamp.
int StampedVersion(Backend &db)
{
    if (db.engine() == QLatin1String("sqlite"))
        return int(db.query("PRAGMA user_version").integer(0, 0));
    if (!HasTable(db, "qel_schema_version"))
        return 0;
    return int(db.query("SELECT coalesce(max(VERSION), 0) FROM QEL_SCHEMA_VERSION").integer(0, 0));
}

// A newer client's changes would be lost or undone by this one.
void RefuseNewer(int stamped)
{
    if (stamped > kSchemaVersion)
        throw EHostError(QStringLiteral("数据库结构版本为 %1，比本程序支持的版本 %2 新，请升级客户端后再连接。").arg(stamped).arg(kSchemaVersion));
}

// An unstamped database is known by what it holds: no history (1), a
// history without the delete counts (2), or what this version makes (3).
int RecognisedVersion(Backend &db)
{
    if (!HasTable(db, "qel_project_history"))
        return 1;
    const QByteArray sql = db.engine() == QLatin1String("sqlite")
                               ? QByteArray("SELECT count(*) FROM pragma_table_info('QEL_PROJECT_HISTORY') WHERE lower(name) = 'deleted_limits'")
                               : QByteArray("SELECT count(*) FROM pg_catalog.pg_attribute WHERE attrelid = to_regclass('qel_project_history')"
                                            " AND attname = 'deleted_limits' AND NOT attisdropped");
    return db.query(sql).integer(0, 0) > 0 ? 3 : 2;
}

void Stamp(Backend &db, int version)
{
    const QByteArray v = QByteArray::number(version);
    if (db.engine() == QLatin1String("sqlite"))
        db.exec("PRAGMA user_version = " + v);
    else
        db.execScript("CREATE TABLE IF NOT EXISTS QEL_SCHEMA_VERSION (VERSION integer NOT NULL);\n"
                      "DELETE FROM QEL_SCHEMA_VERSION;\nINSERT INTO QEL_SCHEMA_VERSION (VERSION) VALUES (" + v + ");");
}

// Brings the database from `from` to from + 1.
void Migrate(Backend &db, int from)
{
    if (from == 1) {
        // The rules' triggers, which the first release lacked, then the history.
        for (const HistoryObject &o : MissingObjects(db, ExpectedObjects(db.engine(), RulesSchemaScript(db.engine()), false)))
            db.execScript(o.make);
        db.execScript(HistorySchemaScript(db.engine()));
        return;
    }
    // 2 to 3: the delete counts, the append-only triggers, and every
    // trigger and function of the history as this version writes it.
    for (const HistoryObject &o : MissingHistoryObjects(db))
        db.execScript(o.make);
}

// Runs every step the database lacks, each in a transaction of its own that
// also stamps the version it reaches; an unstamped current one is stamped.
// True when it changed the database. A step 2 to 3 or a stamp it could not
// make is left to the history's check that follows (which refuses writes
// where it cannot make what is missing); a step 1 to 2 throws.
bool MigrateToCurrent(Backend &db)
{
    const bool pg = db.engine() == QLatin1String("postgresql");
    bool changed = false;
    for (;;) {
        int from = 0;
        try {
            BackendTransaction tx(db);
            // Two desks starting at once: the second waits, then finds the work done.
            if (pg)
                db.query("SELECT pg_advisory_xact_lock(7411300013)");
            const int stamped = StampedVersion(db);
            RefuseNewer(stamped);
            from = stamped > 0 ? stamped : RecognisedVersion(db);
            if (from == kSchemaVersion && stamped == from)
                return changed;
            if (from < kSchemaVersion)
                Migrate(db, from);
            Stamp(db, std::min(from + 1, kSchemaVersion));
            tx.commit();
            changed = true;
        } catch (const EHostError &e) {
            if (from >= 2)
                return changed;
            if (from == 0)
                throw;
            throw EHostError(QStringLiteral("无法将数据库结构从版本 %1 升级到版本 %2（加入修改历史：表 QEL_PROJECT_HISTORY 及其触发器），"
                                            "这一步未作任何修改：%3")
                                 .arg(from)
                                 .arg(from + 1)
                                 .arg(e.message()));
        }
    }
}
} // namespace

bool UpgradeDatabase(Backend &db)
{
    // Nothing to do costs three catalogue reads per start (four on PostgreSQL).
    if (!HasTable(db, "qel_project"))
        return false;
    const int stamped = StampedVersion(db);
    RefuseNewer(stamped);
    // A file this desk can only read takes no change to record: one made
    // before the history is used as it stands.
    if (db.readOnly() && (stamped > 0 ? stamped : RecognisedVersion(db)) < 2)
        return false;
    bool changed = false;
    if (stamped != kSchemaVersion && !db.readOnly())
        changed = MigrateToCurrent(db);
    // Every start: the history's objects as the script makes them.
    QList<HistoryObject> missing = MissingHistoryObjects(db);
    if (missing.isEmpty())
        return changed;
    if (db.readOnly()) {
        RefuseWrites(db, missing, QString());
        return changed;
    }
    try {
        BackendTransaction tx(db);
        if (db.engine() == QLatin1String("postgresql"))
            db.query("SELECT pg_advisory_xact_lock(7411300013)");
        missing = MissingHistoryObjects(db);
        if (missing.isEmpty())
            return changed;
        for (const HistoryObject &o : std::as_const(missing))
            db.execScript(o.make);
        tx.commit();
    } catch (const EHostError &e) {
        RefuseWrites(db, missing, e.message());
        return changed;
    }
    return true;
}

void PrepareSqliteDatabase(Backend &db, const QDate &today, SqliteFill fill)
{
    // Decided by what the file holds, not by whether it exists: a first start
    // that failed leaves an empty file behind, and the next one completes it.
    const DataPacket p = db.query("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!'");
    QSet<QString> present;
    for (int r = 0; r < p.rowCount(); ++r)
        present.insert(p.text(r, 0).toLower());
    // A newer client's file is refused before its tables are judged.
    if (present.contains(QStringLiteral("qel_project")))
        RefuseNewer(StampedVersion(db));
    if (present.isEmpty()) {
        // An empty file may also be what a path on a share that is not mounted left behind.
        if (fill == SqliteFill::Nothing)
            throw EHostError(QStringLiteral("文件中还没有任何数据表（可能是一次失败的首次启动留下的）。要在其中建立数据库请加 --create（空数据库）或 --demo"
                                            "（带演示数据）；若数据库应在网络共享上，请先确认共享已挂载"));
        const QByteArray schema = SchemaScript(db.engine());
        const QByteArray demo = fill == SqliteFill::Schema ? QByteArray() : DemoDataScript(today);
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
    if (fill != SqliteFill::Demo)
        return;
    // Demo projects mixed into real ones could be sold from.
    const QByteArray demo = DemoDataScript(today);
    BackendTransaction tx(db);
    if (const qint64 projects = db.query("SELECT count(*) FROM QEL_PROJECT").integer(0, 0); projects > 0)
        throw EHostError(QStringLiteral("数据库中已有 %1 个演出项目，不能再加入演示数据（--demo 只用于新的或还没有项目的数据库）；要使用已有数据请去掉 --demo")
                             .arg(projects));
    db.execScript(demo);
    tx.commit();
}
