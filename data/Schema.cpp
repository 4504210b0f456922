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

QStringList SchemaTables(const QString &engine)
{
    static const QRegularExpression create(QStringLiteral("^\\s*CREATE\\s+TABLE\\s+(\\w+)"),
                                           QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
    QStringList names;
    const QString script = QString::fromUtf8(SchemaScript(engine));
    for (auto it = create.globalMatch(script); it.hasNext();)
        names << it.next().captured(1).toLower();
    return names;
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
    QStringList missing;
    for (const QString &t : SchemaTables(db.engine()))
        if (!present.contains(t))
            missing << t;
    if (!missing.isEmpty())
        throw EHostError(QStringLiteral("这个数据库文件中已有其他数据表，但没有本模块的数据表（缺少 %1），不能使用；请另选一个数据库文件")
                             .arg(missing.join(QStringLiteral("、"))));
}
