#include "ProductShow.h"
#include "Database.h"
#include "Pipe.h"
#include "SqlText.h"
#include <QDate>

namespace {
// The condition's text, empty when the packet has no such column, no row or a null.
QString conditionText(const DataPacket &p, const char *name)
{
    const int c = p.columnIndex(QLatin1String(name));
    if (c < 0 || p.rowCount() == 0 || p.isNull(0, c))
        return QString();
    return p.text(0, c);
}

QDate conditionDay(const DataPacket &p, const char *name)
{
    const int c = p.columnIndex(QLatin1String(name));
    if (c < 0 || p.rowCount() == 0 || p.isNull(0, c))
        return QDate();
    return p.dateTime(0, c).date();
}

// Midnight as the text both engines compare with HAPPENTIME (SQLite keeps it as this very text).
QString midnight(const QDate &day)
{
    return QuotedStr(day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00"));
}
} // namespace

TCAProductShow::TCAProductShow() = default;
TCAProductShow::~TCAProductShow() = default;

DataPacket TCAProductShow::GetProductClassBrief(const QString &context)
{
    TCADBPipe2 pipe;
    return pipe.GetData(context, QStringLiteral("select PRODUCTCLASSCODE, CNAME, ENAME from QEL_PRODUCT_CLASS order by PRODUCTCLASSCODE"));
}

DataPacket TCAProductShow::GetValidPlaceBrief(const QString &context, bool validOnly)
{
    QString sql = QStringLiteral("select PLACECODE, CNAME, ENAME, CITYCODE from qel_place");
    if (validOnly)
        sql += QStringLiteral(" where ISVALID = '1'");
    sql += QStringLiteral(" order by PLACECODE, NODECODE");
    TCADBPipe2 pipe;
    return pipe.GetData(context, sql);
}

QString TCAProductShow::ProductQuery(const DataPacket &conditions, const QString &engine)
{
    QString sql = QStringLiteral(
        "select P.PRODUCTCODE, P.CNAME, P.HAPPENTIME, P.PRODUCTCLASSCODE, P.PLACECODE, P.MAPCODE, P.CREATEGROUP, "
        "P.PLACEGROUP, P.STATUS, P.CREATEUSER, P.PRODUCTOWNERGROUP from QEL_PRODUCT P where 1 = 1");

    // A plain substring search: % and _ typed by the operator are characters, not wildcards.
    const QString name = conditionText(conditions, "ProductName");
    if (!name.isEmpty()) {
        const QString fn = engine == QLatin1String("postgresql") ? QStringLiteral("strpos") : QStringLiteral("instr");
        sql += QStringLiteral(" and %1(P.CNAME, %2) > 0").arg(fn, QuotedStr(name));
    }
    const QString productClass = conditionText(conditions, "ProductClassCode");
    if (!productClass.isEmpty())
        sql += QStringLiteral(" and P.PRODUCTCLASSCODE = ") + QuotedStr(productClass);
    const QString place = conditionText(conditions, "PlaceCODE");
    if (!place.isEmpty())
        sql += QStringLiteral(" and P.PLACECODE = ") + QuotedStr(place);
    const QString city = conditionText(conditions, "CITYCODE");
    if (!city.isEmpty())
        sql += QStringLiteral(" and exists (select 1 from qel_place PL where PL.PLACECODE = P.PLACECODE and PL.NODECODE = P.NODECODE"
                              " and PL.CITYCODE = ") +
               QuotedStr(city) + QLatin1Char(')');
    // Both days count whole, whatever time of day the conditions carry.
    const QDate from = conditionDay(conditions, "BHappenTime");
    if (from.isValid())
        sql += QStringLiteral(" and P.HAPPENTIME >= ") + midnight(from);
    const QDate to = conditionDay(conditions, "EHappenTime");
    if (to.isValid())
        sql += QStringLiteral(" and P.HAPPENTIME < ") + midnight(to.addDays(1));
    const QString status = conditionText(conditions, "StatusCode");
    if (!status.isEmpty())
        sql += QStringLiteral(" and P.STATUS = ") + QuotedStr(status);

    sql += QStringLiteral(" order by P.HAPPENTIME, P.PRODUCTCODE");
    return sql;
}

DataPacket TCAProductShow::GetProduct(const QString &context, const DataPacket &conditions)
{
    TCADBPipe2 pipe;
    return pipe.GetData(context, ProductQuery(conditions, Database::connection()->engine()));
}
