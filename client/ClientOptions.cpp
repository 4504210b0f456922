#include "ClientOptions.h"
#include <HostError.h>

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
        else if (!a.startsWith(QLatin1Char('-')) || a == QLatin1String("-platform") || key.startsWith(QLatin1String("-qt")))
            continue; // Qt's own arguments
        else
            throw EHostError(QStringLiteral("未知参数：%1").arg(a));
    }
    return o;
}
