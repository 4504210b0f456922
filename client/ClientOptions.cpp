#include "ClientOptions.h"
#include <HostError.h>
#include <QFileInfo>

QStringList DefaultOperator()
{
    return {QStringLiteral("01"), QStringLiteral("G01"), QStringLiteral("admin"), QStringLiteral("A")};
}

ClientOptions ParseClientOptions(const QStringList &args)
{
    ClientOptions o;
    o.operatorFields = DefaultOperator();
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto next = [&]() -> QString {
            const qsizetype eq = a.indexOf(QLatin1Char('='));
            if (eq > 0)
                return a.mid(eq + 1);
            if (i + 1 >= args.size())
                throw EHostError(QStringLiteral("参数 %1 缺少取值").arg(a));
            return args[++i];
        };
        const QString key = a.section(QLatin1Char('='), 0, 0);
        if (key == QLatin1String("--database"))
            o.database = next();
        else if (key == QLatin1String("--operator")) {
            const QStringList f = next().split(QLatin1Char(','));
            if (f.size() != 4)
                throw EHostError(QStringLiteral("--operator 应为 节点,组,用户,类别 四项，以逗号分隔"));
            o.operatorFields = f;
        } else if (key == QLatin1String("--screenshot"))
            o.screenshotDir = next();
        else if (key == QLatin1String("--package"))
            o.package = next();
        else if (a == QLatin1String("--create"))
            o.create = true;
        else if (a == QLatin1String("--demo"))
            o.demo = true;
        else if (key == QLatin1String("--backup"))
            o.backupCopy = next();
        else if (!a.startsWith(QLatin1Char('-')) || a == QLatin1String("-platform") || key.startsWith(QLatin1String("-qt")))
            continue; // Qt's own arguments
        else
            throw EHostError(QStringLiteral("未知参数：%1").arg(a));
    }
    if (o.create && o.demo)
        throw EHostError(QStringLiteral("--create 与 --demo 只能选一个：--create 建立空数据库，--demo 建立带演示数据的数据库"));
    if (!o.backupCopy.isEmpty() && (o.create || o.demo))
        throw EHostError(QStringLiteral("--backup 只复制已有的数据库，不能与 --create 或 --demo 同用"));
    return o;
}

void CheckSqliteFileName(const QString &path)
{
    // SQLite decides by the name as given, before any file is looked at.
    if (path.startsWith(QLatin1Char(':')) || path.startsWith(QLatin1String("file:")))
        throw EHostError(QStringLiteral("“%1”不是数据库文件的路径：SQLite 会把它当作临时的内存数据库或特殊地址，退出时丢失全部修改。"
                                        "请用 sqlite:路径 指定一个数据库文件（文件名确实以此开头时，请在前面加 ./）")
                             .arg(path));
    if (QFileInfo(path).isDir())
        throw EHostError(QStringLiteral("“%1”是一个文件夹，不是数据库文件：请用 sqlite:路径 指定文件夹中的数据库文件").arg(path));
}
