#include "HistoryReplay.h"
#include <QJsonDocument>
#include <QJsonObject>
#include <limits>

namespace history {

Fields parseValues(const QString &json)
{
    Fields out;
    if (json.isEmpty())
        return out;
    const QJsonObject o = QJsonDocument::fromJson(json.toUtf8()).object();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QJsonValue v = it.value();
        if (v.isNull())
            continue;
        if (v.isDouble()) {
            constexpr qint64 none = std::numeric_limits<qint64>::min();
            const qint64 i = v.toInteger(none);
            out.insert(it.key().toUpper(), i != none ? QString::number(i) : QString::number(v.toDouble()));
        } else {
            out.insert(it.key().toUpper(), v.toString());
        }
    }
    return out;
}

namespace {
// Key of a row: the project ID, the limit's (PID, member class) or the performance code.
QString keyOf(const QString &kind, const Fields &f)
{
    if (kind == QLatin1String("project"))
        return f.value(QStringLiteral("ID"));
    if (kind == QLatin1String("limit"))
        return f.value(QStringLiteral("PID")) + QLatin1Char('/') + f.value(QStringLiteral("MEMBER_CLASS_ID"));
    return f.value(QStringLiteral("PRODUCTCODE"));
}

QString show(const Fields &f)
{
    QStringList parts;
    for (auto it = f.cbegin(); it != f.cend(); ++it)
        parts << it.key() + QLatin1Char('=') + it.value();
    return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}');
}

void readTable(TestDatabase &db, const QString &kind, const QString &sql, QMap<QString, Fields> &out)
{
    const DataPacket p = db.query(sql);
    for (int r = 0; r < p.rowCount(); ++r) {
        Fields f;
        for (int c = 0; c < p.columnCount(); ++c)
            if (!p.isNull(r, c))
                f.insert(p.column(c).name.toUpper(), p.text(r, c));
        out.insert(kind + QLatin1Char(':') + keyOf(kind, f), f);
    }
}
} // namespace

QStringList mismatches(TestDatabase &db)
{
    QStringList bad;
    QMap<QString, Fields> rows;
    const DataPacket h = db.query(QStringLiteral("SELECT ID, ROW_KIND, ACTION, BEFORE_VALUES, AFTER_VALUES FROM QEL_PROJECT_HISTORY ORDER BY ID"));
    for (int r = 0; r < h.rowCount(); ++r) {
        const QString id = h.text(r, 0), kind = h.text(r, 1), action = h.text(r, 2);
        const Fields before = parseValues(h.text(r, 3)), after = parseValues(h.text(r, 4));
        const QString entry = QStringLiteral("entry %1 (%2 %3)").arg(id, kind, action);
        if (action == QLatin1String("insert") || action == QLatin1String("restore")) {
            const QString key = kind + QLatin1Char(':') + keyOf(kind, after);
            if (after.isEmpty() || !before.isEmpty())
                bad << entry + QStringLiteral(": an insert has after values only");
            if (rows.contains(key))
                bad << entry + QStringLiteral(": inserts a row that is there: ") + key;
            rows.insert(key, after);
        } else if (action == QLatin1String("update") || action == QLatin1String("delete")) {
            const QString key = kind + QLatin1Char(':') + keyOf(kind, before);
            if (!rows.contains(key))
                bad << entry + QStringLiteral(": changes a row that is not there: ") + key;
            else if (rows.value(key) != before)
                bad << entry + QStringLiteral(": before values %1, the row was %2").arg(show(before), show(rows.value(key)));
            rows.remove(key);
            if (action == QLatin1String("update")) {
                if (after.isEmpty())
                    bad << entry + QStringLiteral(": an update without after values");
                rows.insert(kind + QLatin1Char(':') + keyOf(kind, after), after);
            } else if (!after.isEmpty()) {
                bad << entry + QStringLiteral(": a delete with after values");
            }
        } else {
            bad << entry + QStringLiteral(": unknown action");
        }
    }
    QMap<QString, Fields> tables;
    readTable(db, QStringLiteral("project"), QStringLiteral("SELECT ID, CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM FROM QEL_PROJECT"), tables);
    readTable(db, QStringLiteral("limit"), QStringLiteral("SELECT PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable FROM qel_project_member_limit"), tables);
    readTable(db, QStringLiteral("product"), QStringLiteral("SELECT PROJECTID, PRODUCTCODE FROM QEL_PROJECT_PRODUCT"), tables);
    for (auto it = tables.cbegin(); it != tables.cend(); ++it) {
        if (!rows.contains(it.key()))
            bad << QStringLiteral("row without its entry: %1 %2").arg(it.key(), show(it.value()));
        else if (rows.value(it.key()) != it.value())
            bad << QStringLiteral("row %1 is %2, its last entry says %3").arg(it.key(), show(it.value()), show(rows.value(it.key())));
    }
    for (auto it = rows.cbegin(); it != rows.cend(); ++it)
        if (!tables.contains(it.key()))
            bad << QStringLiteral("entry without its row: %1 %2").arg(it.key(), show(it.value()));
    return bad;
}

} // namespace history
