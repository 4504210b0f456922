#include "Schema.h"
#include "HostError.h"
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
    db.begin();
    try {
        db.execScript(script);
        db.commit();
    } catch (...) {
        // The first error is the one worth showing; a failing rollback must not hide it.
        try {
            db.rollback();
        } catch (...) {
        }
        throw;
    }
}
