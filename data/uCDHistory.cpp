#include "uCDHistory.h"
#include "FieldTitles.h"
#include <SqlText.h>
#include <Gbk.h>
#include <Database.h>
#include <HostError.h>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QTimeZone>
#include <limits>

namespace {
const char kColumns[] = "ID, CHANGED_AT, TXID, NODECODE, USERGROUP, USERNAME, ROW_KIND, ACTION, PROJECT_ID, PROJECT_NAME, ROW_KEY, BEFORE_VALUES, "
                        "AFTER_VALUES";

// Statements with long IN lists are cut into pieces of this many values.
constexpr int kInChunk = 500;

// Stored time stamps are UTC; the operator reads and filters in local time.
QDateTime LocalFromStored(const QDateTime &stored)
{
    if (!stored.isValid())
        return stored;
    return QDateTime(stored.date(), stored.time(), QTimeZone::utc()).toLocalTime();
}

QString StoredFromLocal(const QDateTime &local)
{
    return local.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString InList(const QStringList &values)
{
    QStringList quoted;
    quoted.reserve(values.size());
    for (const QString &v : values)
        quoted << QuotedStr(v);
    return QLatin1Char('(') + quoted.join(QLatin1Char(',')) + QLatin1Char(')');
}

// The column order each kind of row is shown in; unknown fields follow, sorted.
QStringList ColumnOrder(const QString &rowKind)
{
    if (rowKind == QLatin1String("project"))
        return {QStringLiteral("ID"), QStringLiteral("CNAME"), QStringLiteral("CROSSDISCOUNT"), QStringLiteral("CROSTNUM"), QStringLiteral("CROSSPNUM")};
    if (rowKind == QLatin1String("limit"))
        return {QStringLiteral("PID"), QStringLiteral("MEMBER_CLASS_ID"), QStringLiteral("MAX_NUM"), QStringLiteral("limit_type"), QStringLiteral("enable")};
    if (rowKind == QLatin1String("product"))
        return {QStringLiteral("PROJECTID"), QStringLiteral("PRODUCTCODE")};
    return {};
}

QJsonObject ParseValues(const QString &text)
{
    if (text.isEmpty())
        return {};
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        throw EHostError(QStringLiteral("修改历史中的字段值无法读取（%1）：%2").arg(err.errorString(), text.left(200)));
    return doc.object();
}

// A value as the operator reads it; false for none (NULL).
bool ValueText(const QJsonValue &v, QString &out)
{
    switch (v.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined: return false;
    case QJsonValue::String: out = v.toString(); return true;
    case QJsonValue::Bool: out = v.toBool() ? QStringLiteral("1") : QStringLiteral("0"); return true;
    case QJsonValue::Double: {
        // Integers stay exact up to 64 bits; anything else prints in full.
        constexpr qint64 none = std::numeric_limits<qint64>::min();
        const qint64 i = v.toInteger(none);
        out = i != none ? QString::number(i) : QString::number(v.toDouble(), 'g', 17);
        return true;
    }
    default: {
        const QJsonDocument doc = v.isArray() ? QJsonDocument(v.toArray()) : QJsonDocument(v.toObject());
        out = QString::fromUtf8(doc.toJson(QJsonDocument::Compact));
        return true;
    }
    }
}

// A value as it goes back into a statement.
QString SqlLiteral(const QJsonValue &v)
{
    QString text;
    if (!ValueText(v, text))
        return QStringLiteral("NULL");
    if (v.isDouble())
        return text;
    return QuotedStr(text);
}

qint64 IntegerOf(const QJsonObject &o, const QString &field)
{
    const QJsonValue v = o.value(field);
    QString text;
    bool ok = ValueText(v, text);
    const qint64 n = ok ? text.toLongLong(&ok) : 0;
    if (!ok)
        throw EHostError(QStringLiteral("修改历史中的字段“%1”不是整数，无法恢复").arg(field));
    return n;
}

THistoryEntry EntryFromRow(const DataPacket &p, int r, bool storedTime)
{
    THistoryEntry e;
    e.ID = p.integer(r, 0);
    e.ChangedAt = storedTime ? LocalFromStored(p.dateTime(r, 1)) : p.dateTime(r, 1);
    e.TxID = p.integer(r, 2);
    e.NodeCode = p.text(r, 3);
    e.Group = p.text(r, 4);
    e.UserName = p.text(r, 5);
    e.RowKind = p.text(r, 6);
    e.Action = p.text(r, 7);
    e.ProjectID = p.integer(r, 8);
    e.ProjectName = p.text(r, 9);
    e.RowKey = p.text(r, 10);
    e.BeforeValues = p.text(r, 11);
    e.AfterValues = p.text(r, 12);
    return e;
}

// The packet with CHANGED_AT (column 1) turned into local time, for the grid.
// The zone's offset is looked up once per quarter hour of the stamps (zones
// change their offset on such a boundary), not once per row.
DataPacket WithLocalTimes(DataPacket p)
{
    if (p.columnCount() < 2 || p.column(1).type != FieldType::DateTime)
        return p;
    constexpr qint64 kQuarter = 15 * 60 * 1000;
    QHash<qint64, qint64> offsets;
    p.mapStamps(1, [&](qint64 stamp) {
        const qint64 quarter = stamp / kQuarter;
        auto it = offsets.constFind(quarter);
        if (it == offsets.constEnd()) {
            const QDateTime utc = DataPacket::dateTimeFromStamp(quarter * kQuarter);
            const QDateTime local = LocalFromStored(utc);
            it = offsets.insert(quarter, DataPacket::stampFromDateTime(local) - quarter * kQuarter);
        }
        return stamp + *it;
    });
    return p;
}
} // namespace

TCDHistory::TCDHistory(QObject *owner) : QObject(owner), cdsHistory(new TQELClientDataSet(this)), DSHistory(new TQELDataSource(this))
{
    setObjectName(QStringLiteral("CDHistory"));
    cdsHistory->setObjectName(QStringLiteral("cdsHistory"));
    DSHistory->setObjectName(QStringLiteral("DSHistory"));
    DSHistory->SetDataSet(cdsHistory);
    const auto field = [this](const char *name, FieldType type, const QString &label, int width, FieldKind kind = FieldKind::Data) {
        FieldDef f;
        f.name = QLatin1String(name);
        f.type = type;
        f.kind = kind;
        f.displayLabel = label;
        f.displayWidth = width;
        cdsHistory->AddFieldDef(f);
    };
    field("ID", FieldType::Integer, QStringLiteral("记录号"), 10);
    field("CHANGED_AT", FieldType::DateTime, QStringLiteral("时间"), 20);
    field("TXID", FieldType::Integer, QString(), 10);
    field("NODECODE", FieldType::Text, QString(), 10);
    field("USERGROUP", FieldType::Text, QString(), 10);
    field("USERNAME", FieldType::Text, QString(), 10);
    field("ROW_KIND", FieldType::Text, QString(), 10);
    field("ACTION", FieldType::Text, QString(), 10);
    field("PROJECT_ID", FieldType::Integer, FieldTitles::OwnerProjectId(), 10);
    field("PROJECT_NAME", FieldType::Text, FieldTitles::ProjectName(), 30);
    field("ROW_KEY", FieldType::Text, FieldTitles::MemberClass() + QLatin1Char('/') + FieldTitles::ProductCode(), 16);
    field("BEFORE_VALUES", FieldType::Text, QString(), 40);
    field("AFTER_VALUES", FieldType::Text, QString(), 40);
    field("DELETED_LIMITS", FieldType::Integer, QStringLiteral("限购(条)"), 8);
    field("DELETED_PRODUCTS", FieldType::Integer, QStringLiteral("演出(场)"), 8);
    field("OPERATOR", FieldType::Text, QStringLiteral("操作员"), 20, FieldKind::Calculated);
    field("ACTIONNAME", FieldType::Text, QStringLiteral("操作"), 6, FieldKind::Calculated);
    field("KINDNAME", FieldType::Text, QStringLiteral("对象"), 6, FieldKind::Calculated);
    field("CHANGES", FieldType::Text, QStringLiteral("变更内容"), 60, FieldKind::Calculated);
    field("ROW_NAME", FieldType::Text, QStringLiteral("名称"), 30, FieldKind::Calculated);
    field("ROW_TIME", FieldType::DateTime, QStringLiteral("演出时间"), 16, FieldKind::Calculated);
    m_nodeField = cdsHistory->FieldIndex(QStringLiteral("NODECODE"));
    m_groupField = cdsHistory->FieldIndex(QStringLiteral("USERGROUP"));
    m_userField = cdsHistory->FieldIndex(QStringLiteral("USERNAME"));
    m_rowActionField = cdsHistory->FieldIndex(QStringLiteral("ACTION"));
    m_rowKindField = cdsHistory->FieldIndex(QStringLiteral("ROW_KIND"));
    m_beforeField = cdsHistory->FieldIndex(QStringLiteral("BEFORE_VALUES"));
    m_afterField = cdsHistory->FieldIndex(QStringLiteral("AFTER_VALUES"));
    m_rowKeyField = cdsHistory->FieldIndex(QStringLiteral("ROW_KEY"));
    m_operatorField = cdsHistory->FieldIndex(QStringLiteral("OPERATOR"));
    m_actionField = cdsHistory->FieldIndex(QStringLiteral("ACTIONNAME"));
    m_kindField = cdsHistory->FieldIndex(QStringLiteral("KINDNAME"));
    m_changesField = cdsHistory->FieldIndex(QStringLiteral("CHANGES"));
    m_nameField = cdsHistory->FieldIndex(QStringLiteral("ROW_NAME"));
    m_timeField = cdsHistory->FieldIndex(QStringLiteral("ROW_TIME"));
    cdsHistory->SetOnCalcField([this](const TQELClientDataSet &ds, int row, int f) { return cdsHistoryCalcFields(ds, row, f); });
    DataModuleCreate(this);
}

// Computed for the rows the list shows, when it shows them.
QVariant TCDHistory::cdsHistoryCalcFields(const TQELClientDataSet &ds, int row, int field) const
{
    if (row < 0)
        return QVariant();
    if (field == m_operatorField) {
        QStringList parts;
        for (int f : {m_nodeField, m_groupField, m_userField}) {
            const QString v = ds.text(row, f);
            if (!v.isEmpty())
                parts << v;
        }
        // Rows written outside the module (the first start's demo data) name no one.
        return parts.isEmpty() ? QStringLiteral("（未记录）") : parts.join(QLatin1Char('/'));
    }
    if (field == m_actionField)
        return ActionName(ds.text(row, m_rowActionField));
    if (field == m_kindField)
        return RowKindName(ds.text(row, m_rowKindField));
    if (field == m_changesField)
        return ChangesText(entryAt(row));
    if (field == m_nameField)
        return RowName(ds.text(row, m_rowKindField), ds.text(row, m_rowKeyField));
    if (field == m_timeField) {
        const QDateTime at = RowTime(ds.text(row, m_rowKindField), ds.text(row, m_rowKeyField));
        return at.isValid() ? QVariant(at) : QVariant();
    }
    return QVariant();
}

THistoryEntry TCDHistory::entryAt(int row) const
{
    THistoryEntry e;
    e.RowKind = cdsHistory->text(row, m_rowKindField);
    e.Action = cdsHistory->text(row, m_rowActionField);
    e.BeforeValues = cdsHistory->text(row, m_beforeField);
    e.AfterValues = cdsHistory->text(row, m_afterField);
    return e;
}

TCDHistory::~TCDHistory()
{
    DataModuleDestroy(this);
}

void TCDHistory::DataModuleCreate(QObject *)
{
    DBPipe = std::make_unique<TCADBPipe2>();
}

void TCDHistory::DataModuleDestroy(QObject *)
{
    DBPipe.reset();
}

// ---- reading ---------------------------------------------------------------------

namespace {
// The filter's conditions; the project, actions and kinds only when asked.
QStringList Conditions(const THistoryFilter &f, bool projectAndKinds)
{
    QStringList where;
    // One project as a range of one value, ordered by (PROJECT_ID, ID): with
    // "=" PostgreSQL drops PROJECT_ID from the order and may walk every entry
    // backwards by ID looking for the project's (70 ms on two million entries
    // where the project's are old); this order only its index gives.
    if (f.ProjectID && projectAndKinds)
        where << QStringLiteral("PROJECT_ID >= %1 AND PROJECT_ID <= %1").arg(*f.ProjectID);
    if (!f.NodeCode.isEmpty())
        where << QStringLiteral("NODECODE = ") + QuotedStr(f.NodeCode);
    if (!f.Group.isEmpty())
        where << QStringLiteral("USERGROUP = ") + QuotedStr(f.Group);
    if (!f.UserName.isEmpty())
        where << QStringLiteral("USERNAME = ") + QuotedStr(f.UserName);
    if (!f.Actions.isEmpty() && projectAndKinds)
        where << QStringLiteral("ACTION IN ") + InList(f.Actions);
    if (!f.RowKinds.isEmpty() && projectAndKinds)
        where << QStringLiteral("ROW_KIND IN ") + InList(f.RowKinds);
    // Compared as the UTC text both engines order correctly; that text has
    // four-digit years, and a bound past year 9999 leaves nothing out.
    const auto inCalendar = [](const QDateTime &t) { return t.isValid() && t.toUTC().date().year() <= 9999; };
    if (inCalendar(f.From))
        where << QStringLiteral("CHANGED_AT >= ") + QuotedStr(StoredFromLocal(f.From));
    else if (f.From.isValid())
        where << QStringLiteral("1 = 0");
    if (inCalendar(f.To))
        where << QStringLiteral("CHANGED_AT < ") + QuotedStr(StoredFromLocal(f.To));
    return where;
}
} // namespace

QString TCDHistory::HistorySql(const THistoryFilter &f)
{
    const QStringList where = Conditions(f, true);
    QString sql = QStringLiteral("SELECT %1 FROM QEL_PROJECT_HISTORY").arg(QLatin1String(kColumns));
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    // Entry IDs grow with every write: the newest entry has the largest.
    sql += f.ProjectID ? QStringLiteral(" ORDER BY PROJECT_ID DESC, ID DESC") : QStringLiteral(" ORDER BY ID DESC");
    if (f.Limit > 0)
        sql += QStringLiteral(" LIMIT ") + QString::number(f.Limit);
    return sql;
}

DataPacket TCDHistory::readEntries(const QString &sql)
{
    try {
        return DBPipe->GetData(Context, sql);
    } catch (...) {
        throwReadFailure(std::current_exception());
    }
}

void TCDHistory::throwReadFailure(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const EHostError &e) {
        // A file made before the history, which this desk may only read, has none.
        const QString m = e.message();
        if (m.contains(QLatin1String("no such table"), Qt::CaseInsensitive) && m.contains(QLatin1String("QEL_PROJECT_HISTORY"), Qt::CaseInsensitive))
            throw EHostError(QStringLiteral("这个数据库还没有修改历史：它是只读的，本机无法为它添加修改历史表（可写的数据库在启动时自动添加）。"));
        throw;
    }
}

void TCDHistory::GetHistory(const THistoryFilter &filter, bool keepNames)
{
    DataPacket rows = WithLocalTimes(readEntries(HistorySql(filter)));
    TNames classes, products;
    if (keepNames) {
        classes = m_classNames;
        products = m_productNames;
    }
    readNames(rows, classes, products);
    m_classNames.swap(classes);
    m_productNames.swap(products);
    cdsHistory->SetData(std::move(rows));
}

// One batch for every entry (one round trip on a server), not a look-up per
// row: a list of 5,000 performance entries costs ten short statements.
void TCDHistory::readNames(const DataPacket &entries, TNames &classes, TNames &products)
{
    if (entries.columnCount() <= 10 || entries.column(6).type != FieldType::Text)
        return;
    QSet<QString> classKeys, productKeys;
    for (int r = 0; r < entries.rowCount(); ++r) {
        const std::string_view kind = entries.utf8(r, 6);
        const bool limit = kind == "limit";
        if (!limit && kind != "product")
            continue;
        // Identity-card limits have no class. A key GBK cannot hold came from
        // another tool; no statement can carry it, so it shows as it is.
        const QString key = entries.text(r, 10);
        if (!key.isEmpty() && !(limit ? classes : products).contains(key) && IsGbkText(key))
            (limit ? classKeys : productKeys).insert(key);
    }
    const auto chunks = [](const QSet<QString> &keys, const QString &select) {
        QStringList sorted(keys.begin(), keys.end());
        sorted.sort();
        QStringList out;
        for (qsizetype at = 0; at < sorted.size(); at += kInChunk)
            out << select + InList(sorted.mid(at, kInChunk));
        return out;
    };
    QStringList sqls = chunks(classKeys, QStringLiteral("SELECT MEMBER_CLASS_ID, MEMBER_CLASS_NAME FROM um_member_class WHERE MEMBER_CLASS_ID IN "));
    const qsizetype firstProducts = sqls.size();
    sqls += chunks(productKeys, QStringLiteral("SELECT PRODUCTCODE, CNAME, HAPPENTIME FROM QEL_PRODUCT WHERE PRODUCTCODE IN "));
    if (sqls.isEmpty())
        return;
    const BatchOutcome read = DBPipe->GetDataBatch(Context, sqls);
    if (read.failure)
        std::rethrow_exception(read.failure);
    classes.reserve(classes.size() + classKeys.size());
    products.reserve(products.size() + productKeys.size());
    for (const QString &key : std::as_const(classKeys))
        classes.insert(key, {});
    for (const QString &key : std::as_const(productKeys))
        products.insert(key, {});
    for (qsizetype i = 0; i < read.rows.size(); ++i) {
        const DataPacket &p = read.rows[i];
        const bool product = i >= firstProducts;
        const bool stamps = product && p.column(2).type == FieldType::DateTime;
        for (int r = 0; r < p.rowCount(); ++r) {
            TRowName n{p.text(r, 1), std::nullopt};
            qint64 stamp = 0;
            if (product && !p.isNull(r, 2) && (stamps || DataPacket::parseStamp(p.utf8(r, 2), stamp)))
                n.Time = stamps ? p.integer(r, 2) : stamp;
            (product ? products : classes).insert(p.text(r, 0), n);
        }
    }
}

QString TCDHistory::RowName(const QString &rowKind, const QString &rowKey) const
{
    if (rowKind == QLatin1String("limit"))
        return m_classNames.value(rowKey).Name;
    if (rowKind == QLatin1String("product"))
        return m_productNames.value(rowKey).Name;
    return QString();
}

QDateTime TCDHistory::RowTime(const QString &rowKind, const QString &rowKey) const
{
    if (rowKind != QLatin1String("product"))
        return QDateTime();
    const auto it = m_productNames.constFind(rowKey);
    return it != m_productNames.constEnd() && it->Time ? DataPacket::dateTimeFromStamp(*it->Time) : QDateTime();
}

QList<THistoryEntry> TCDHistory::ReadHistory(const THistoryFilter &filter)
{
    const DataPacket p = readEntries(HistorySql(filter));
    QList<THistoryEntry> out;
    out.reserve(p.rowCount());
    for (int r = 0; r < p.rowCount(); ++r)
        out << EntryFromRow(p, r, true);
    return out;
}

namespace {
// Project deletes and restores are read off their own (partial) index; the
// statements repeat its condition so that both engines see they may use it.
const char kDeletesAndRestores[] = "ROW_KIND = 'project' AND ACTION IN ('delete', 'restore')";

// The project row a delete entry removed, or a restore entry put back,
// without its ID (a restore may have had to take a new one).
QJsonObject RowWithoutId(const QString &values)
{
    QJsonObject o = QJsonDocument::fromJson(values.toUtf8()).object();
    o.remove(QStringLiteral("ID"));
    return o;
}
} // namespace

void TCDHistory::GetDeletedProjects(const THistoryFilter &filter)
{
    QStringList where = Conditions(filter, false);
    where.prepend(QStringLiteral("%1 AND ACTION = 'delete'").arg(QLatin1String(kDeletesAndRestores)));
    // The deletes and the restores in one round trip. A delete stays listed
    // until a later restore put back the same row under the same name (the
    // rule RestoreProject keeps).
    const BatchOutcome read = DBPipe->GetDataBatch(
        Context, {QStringLiteral("SELECT %1, DELETED_LIMITS, DELETED_PRODUCTS FROM QEL_PROJECT_HISTORY WHERE %2 ORDER BY ID DESC")
                      .arg(QLatin1String(kColumns), where.join(QStringLiteral(" AND "))),
                  QStringLiteral("SELECT ID, PROJECT_NAME, AFTER_VALUES FROM QEL_PROJECT_HISTORY WHERE %1 AND ACTION = 'restore'")
                      .arg(QLatin1String(kDeletesAndRestores))});
    if (read.failure && read.done() == 0)
        throwReadFailure(read.failure);
    if (read.failure)
        std::rethrow_exception(read.failure);
    const DataPacket &deletes = read.rows[0];
    const DataPacket &restores = read.rows[1];
    QMultiHash<QString, std::pair<qint64, QJsonObject>> restored;
    for (int r = 0; r < restores.rowCount(); ++r)
        restored.insert(restores.text(r, 1), {restores.integer(r, 0), RowWithoutId(restores.text(r, 2))});
    DataPacket kept;
    for (int c = 0; c < deletes.columnCount(); ++c)
        kept.addColumn(deletes.column(c));
    for (int r = 0; r < deletes.rowCount(); ++r) {
        const qint64 id = deletes.integer(r, 0);
        const QJsonObject row = RowWithoutId(deletes.text(r, 11));
        const QString name = row.value(QStringLiteral("CNAME")).toString();
        bool undone = false;
        for (auto it = restored.constFind(name); it != restored.constEnd() && it.key() == name && !undone; ++it)
            undone = it->first > id && it->second == row;
        if (undone)
            continue;
        kept.appendRow();
        for (int c = 0; c < deletes.columnCount(); ++c)
            kept.setValue(c, deletes.value(r, c));
    }
    // Project deletes only: no member class or performance to name.
    m_classNames.clear();
    m_productNames.clear();
    cdsHistory->SetData(WithLocalTimes(std::move(kept)));
}

THistoryEntry TCDHistory::CurrentEntry() const
{
    THistoryEntry e;
    if (!cdsHistory->Active() || cdsHistory->IsEmpty())
        return e;
    const auto s = [this](const char *f) { return cdsHistory->FieldByName(QLatin1String(f)).AsString(); };
    const auto i = [this](const char *f) { return cdsHistory->FieldByName(QLatin1String(f)).AsInteger(); };
    e.ID = i("ID");
    e.ChangedAt = cdsHistory->FieldByName(QStringLiteral("CHANGED_AT")).AsDateTime();
    e.TxID = i("TXID");
    e.NodeCode = s("NODECODE");
    e.Group = s("USERGROUP");
    e.UserName = s("USERNAME");
    e.RowKind = s("ROW_KIND");
    e.Action = s("ACTION");
    e.ProjectID = i("PROJECT_ID");
    e.ProjectName = s("PROJECT_NAME");
    e.RowKey = s("ROW_KEY");
    e.BeforeValues = s("BEFORE_VALUES");
    e.AfterValues = s("AFTER_VALUES");
    return e;
}

// ---- showing an entry ------------------------------------------------------------

QList<THistoryChange> TCDHistory::ChangedFields(const THistoryEntry &entry)
{
    const QJsonObject before = ParseValues(entry.BeforeValues);
    const QJsonObject after = ParseValues(entry.AfterValues);
    QStringList fields = ColumnOrder(entry.RowKind);
    QStringList extra;
    for (const QJsonObject *o : {&before, &after})
        for (auto it = o->begin(); it != o->end(); ++it)
            if (!fields.contains(it.key()) && !extra.contains(it.key()))
                extra << it.key();
    extra.sort();
    fields += extra;

    const bool both = !entry.BeforeValues.isEmpty() && !entry.AfterValues.isEmpty();
    QList<THistoryChange> out;
    for (const QString &f : std::as_const(fields)) {
        if (!before.contains(f) && !after.contains(f))
            continue;
        THistoryChange c;
        c.Field = f;
        c.HadOld = ValueText(before.value(f), c.OldValue);
        c.HasNew = ValueText(after.value(f), c.NewValue);
        // An update shows what it changed; an insert or a delete shows the whole row.
        if (both && c.HadOld == c.HasNew && c.OldValue == c.NewValue)
            continue;
        out << c;
    }
    return out;
}

QString TCDHistory::ChangeText(const THistoryChange &c)
{
    const QString none = QStringLiteral("（无）");
    return (c.HadOld ? c.OldValue : none) + QStringLiteral(" → ") + (c.HasNew ? c.NewValue : none);
}

QString TCDHistory::FieldTitle(const QString &rowKind, const QString &field)
{
    using namespace FieldTitles;
    static const QHash<QString, QString> project = {
        {QStringLiteral("ID"), ProjectId()},
        {QStringLiteral("CNAME"), ProjectName()},
        {QStringLiteral("CROSSDISCOUNT"), CrossDiscount()},
        {QStringLiteral("CROSTNUM"), CrossTickets()},
        {QStringLiteral("CROSSPNUM"), CrossPerformances()},
    };
    static const QHash<QString, QString> limit = {
        {QStringLiteral("PID"), OwnerProjectId()},
        {QStringLiteral("MEMBER_CLASS_ID"), MemberClass()},
        {QStringLiteral("MAX_NUM"), MaxNum()},
        {QStringLiteral("LIMIT_TYPE"), LimitType()},
        {QStringLiteral("ENABLE"), Enable()},
    };
    static const QHash<QString, QString> product = {
        {QStringLiteral("PROJECTID"), OwnerProjectId()},
        {QStringLiteral("PRODUCTCODE"), ProductCode()},
    };
    const QHash<QString, QString> *titles = rowKind == QLatin1String("project") ? &project
                                            : rowKind == QLatin1String("limit") ? &limit
                                            : rowKind == QLatin1String("product") ? &product
                                                                                   : nullptr;
    return titles ? titles->value(field.toUpper(), field) : field;
}

QString TCDHistory::ChangesText(const THistoryEntry &entry)
{
    QList<THistoryChange> changes;
    try {
        changes = ChangedFields(entry);
    } catch (const EHostError &) {
        // Shown as stored rather than not at all.
        return entry.BeforeValues + QStringLiteral(" → ") + entry.AfterValues;
    }
    // The words the limit list shows for its codes.
    const auto shown = [&](const QString &field, bool has, QString value) {
        if (has && entry.RowKind == QLatin1String("limit")) {
            const QString f = field.toUpper();
            if (f == QLatin1String("LIMIT_TYPE"))
                value = value == QLatin1String("1") ? QStringLiteral("会员类别") : value == QLatin1String("2") ? QStringLiteral("身份证") : value;
            else if (f == QLatin1String("ENABLE"))
                value = value == QLatin1String("1") ? QStringLiteral("是") : value == QLatin1String("0") ? QStringLiteral("否") : value;
        }
        return value;
    };
    // The project's own key has a column of its own in the list; it is shown
    // here only when an update changed it.
    const bool update = !entry.BeforeValues.isEmpty() && !entry.AfterValues.isEmpty();
    QStringList parts;
    for (THistoryChange c : std::as_const(changes)) {
        const QString f = c.Field.toUpper();
        if (!update && (f == QLatin1String("ID") || f == QLatin1String("PID") || f == QLatin1String("PROJECTID")))
            continue;
        c.OldValue = shown(c.Field, c.HadOld, c.OldValue);
        c.NewValue = shown(c.Field, c.HasNew, c.NewValue);
        parts << FieldTitle(entry.RowKind, c.Field) + QStringLiteral("：") + ChangeText(c);
    }
    return parts.join(QStringLiteral("；"));
}

QString TCDHistory::ActionName(const QString &action)
{
    if (action == QLatin1String("insert"))
        return QStringLiteral("新增");
    if (action == QLatin1String("update"))
        return QStringLiteral("修改");
    if (action == QLatin1String("delete"))
        return QStringLiteral("删除");
    if (action == QLatin1String("restore"))
        return QStringLiteral("恢复");
    return action;
}

QString TCDHistory::RowKindName(const QString &rowKind)
{
    if (rowKind == QLatin1String("project"))
        return QStringLiteral("项目");
    if (rowKind == QLatin1String("limit"))
        return QStringLiteral("限购");
    if (rowKind == QLatin1String("product"))
        return QStringLiteral("演出");
    return rowKind;
}

// ---- undoing a project delete ---------------------------------------------------------

TRestoreResult TCDHistory::RestoreProject(qint64 deleteEntryId)
{
    TRestoreResult result;
    const auto refuse = [&result](const QString &why) {
        result.Blockers << why;
        result.Message = why;
        return result;
    };

    // Checks and writes in one transaction: on SQLite no other desk writes in
    // between; on PostgreSQL one that does meets a unique key and nothing stays.
    PipeTransaction tx(*DBPipe);
    // The entry and what its transaction deleted with it, in the order it
    // went: after the project row (this client), or before it (a writer that
    // deletes the rows that hang on a project first). One round trip.
    const QString entryOf = QStringLiteral("(SELECT %2 FROM QEL_PROJECT_HISTORY WHERE ID = %1)").arg(deleteEntryId);
    const BatchOutcome read = DBPipe->GetDataBatch(
        Context, {QStringLiteral("SELECT %1, DELETED_LIMITS, DELETED_PRODUCTS FROM QEL_PROJECT_HISTORY WHERE ID = %2").arg(QLatin1String(kColumns)).arg(deleteEntryId),
                  QStringLiteral("SELECT ROW_KIND, ROW_KEY, BEFORE_VALUES FROM QEL_PROJECT_HISTORY WHERE TXID = %1 AND PROJECT_ID = %2 "
                                 "AND ACTION = 'delete' AND ROW_KIND IN ('limit', 'product') ORDER BY ID")
                      .arg(entryOf.arg(QStringLiteral("TXID")), entryOf.arg(QStringLiteral("PROJECT_ID")))});
    if (read.failure)
        std::rethrow_exception(read.failure);
    const DataPacket &head = read.rows[0];
    if (head.rowCount() == 0)
        return refuse(QStringLiteral("找不到编号为 %1 的修改历史记录，无法恢复。").arg(deleteEntryId));
    const THistoryEntry del = EntryFromRow(head, 0, true);
    if (del.RowKind != QLatin1String("project") || del.Action != QLatin1String("delete"))
        return refuse(QStringLiteral("编号为 %1 的修改历史记录不是删除项目的记录，无法恢复。").arg(deleteEntryId));
    const QJsonObject project = ParseValues(del.BeforeValues);
    const qint64 oldId = IntegerOf(project, QStringLiteral("ID"));
    QString name;
    ValueText(project.value(QStringLiteral("CNAME")), name);
    const DataPacket &rows = read.rows[1];
    QList<QJsonObject> limits;
    QStringList codes, classes;
    for (int r = 0; r < rows.rowCount(); ++r) {
        const QJsonObject values = ParseValues(rows.text(r, 2));
        if (rows.text(r, 0) == QLatin1String("limit")) {
            limits << values;
            QString mc;
            // Identity-card limits carry no member class.
            if (ValueText(values.value(QStringLiteral("MEMBER_CLASS_ID")), mc) && !mc.isEmpty() && !classes.contains(mc))
                classes << mc;
        } else {
            QString code;
            ValueText(values.value(QStringLiteral("PRODUCTCODE")), code);
            codes << code;
        }
    }

    // Every blocker, not just the first. The rows the delete counted must all
    // be in the history (an entry that a missing trigger never wrote cannot
    // be restored, and a restore without it would pass for whole).
    const auto counted = [&](int column, qsizetype found, const char *format) {
        if (head.isNull(0, column) || head.integer(0, column) <= found)
            return;
        const qint64 total = head.integer(0, column);
        result.Blockers << QString::fromUtf8(format).arg(total).arg(found).arg(total - found);
    };
    counted(13, limits.size(), "删除时该项目有限购 %1 条，修改历史中只记录了 %2 条，其余 %3 条无法恢复");
    counted(14, codes.size(), "删除时该项目有演出 %1 场，修改历史中只记录了 %2 场，其余 %3 场无法恢复");
    // Text another tool wrote that this system cannot write back blocks, and
    // is not looked up either.
    const auto writable = [&result](const QString &what, const QString &text) {
        const QString bad = NonGbkCharacter(text);
        if (!bad.isEmpty())
            result.Blockers << QStringLiteral("%1“%2”含有 GBK 无法表示的字符 %3，本系统无法写回").arg(what, text, bad);
        return bad.isEmpty();
    };
    const bool nameWritable = writable(QStringLiteral("项目名称"), name);
    QStringList lookupCodes, lookupClasses;
    for (const QString &mc : std::as_const(classes))
        if (writable(FieldTitles::MemberClass(), mc))
            lookupClasses << mc;
    for (const QString &code : std::as_const(codes))
        if (writable(FieldTitles::ProductCode(), code))
            lookupCodes << code;

    // The look-ups need nothing but what was read above: one round trip, in
    // their order.
    QStringList checks;
    if (nameWritable) {
        checks << QStringLiteral("SELECT CHANGED_AT, PROJECT_ID, AFTER_VALUES FROM QEL_PROJECT_HISTORY WHERE %1 AND ACTION = 'restore' AND ID > %2 "
                                 "AND PROJECT_NAME = %3 ORDER BY ID")
                      .arg(QLatin1String(kDeletesAndRestores))
                      .arg(del.ID)
                      .arg(QuotedStr(name));
        checks << QStringLiteral("SELECT ID FROM QEL_PROJECT WHERE CNAME = ") + QuotedStr(name);
    }
    for (qsizetype at = 0; at < lookupCodes.size(); at += kInChunk)
        checks << QStringLiteral("SELECT B.PRODUCTCODE, B.PROJECTID, C.CNAME FROM QEL_PROJECT_PRODUCT B LEFT JOIN QEL_PROJECT C ON C.ID = B.PROJECTID "
                                 "WHERE B.PRODUCTCODE IN ") +
                      InList(lookupCodes.mid(at, kInChunk)) + QStringLiteral(" ORDER BY B.PRODUCTCODE");
    for (qsizetype at = 0; at < lookupClasses.size(); at += kInChunk)
        checks << QStringLiteral("SELECT MEMBER_CLASS_ID FROM um_member_class WHERE MEMBER_CLASS_ID IN ") + InList(lookupClasses.mid(at, kInChunk));
    // Whether the old ID is free, and the mark that has the triggers record
    // the inserts as this restore (it ends with the transaction, so a restore
    // refused below leaves nothing of it).
    checks << QStringLiteral("SELECT ID FROM QEL_PROJECT WHERE ID = ") + QString::number(oldId)
           << (Database::connection()->engine() == QLatin1String("postgresql") ? QStringLiteral("SELECT set_config('qel.action', 'restore', true)")
                                                                               : QStringLiteral("SELECT qel_action('restore')"));
    const BatchOutcome seen = DBPipe->GetDataBatch(Context, checks);
    if (seen.failure)
        std::rethrow_exception(seen.failure);
    qsizetype next = 0;

    // A delete restored before stays restored, even when the restored
    // project has been renamed since: its restore entry carries this delete's
    // values under its name.
    qint64 restoredAs = 0;
    if (nameWritable) {
        const DataPacket &restores = seen.rows[next++];
        const QJsonObject deleted = RowWithoutId(del.BeforeValues);
        for (int r = 0; r < restores.rowCount() && restoredAs == 0; ++r) {
            if (RowWithoutId(restores.text(r, 2)) != deleted)
                continue;
            restoredAs = restores.integer(r, 1);
            result.Blockers << QStringLiteral("这次删除已于 %1 恢复过（恢复为项目 %2），不能再恢复一次")
                                   .arg(LocalFromStored(restores.dateTime(r, 0)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                                   .arg(restoredAs);
        }
        const DataPacket &holder = seen.rows[next++];
        if (holder.rowCount() > 0 && holder.integer(0, 0) != restoredAs) {
            const qint64 holderId = holder.integer(0, 0);
            if (holderId == oldId)
                result.Blockers << QStringLiteral("项目“%1”（编号 %2）已经存在，可能已经恢复过").arg(name).arg(oldId);
            else
                result.Blockers << QStringLiteral("项目名称“%1”已被项目 %2 使用").arg(name).arg(holderId);
        }
    }
    for (qsizetype at = 0; at < lookupCodes.size(); at += kInChunk) {
        const DataPacket &taken = seen.rows[next++];
        for (int r = 0; r < taken.rowCount(); ++r)
            result.Blockers << QStringLiteral("演出 %1 已属于项目 %2（%3）").arg(taken.text(r, 0), taken.text(r, 1), taken.text(r, 2));
    }
    QSet<QString> known;
    for (qsizetype at = 0; at < lookupClasses.size(); at += kInChunk) {
        const DataPacket &found = seen.rows[next++];
        for (int r = 0; r < found.rowCount(); ++r)
            known.insert(found.text(r, 0));
    }
    for (const QString &mc : std::as_const(lookupClasses))
        if (!known.contains(mc))
            result.Blockers << QStringLiteral("会员类别 %1 已不存在（该项目有此类别的限购）").arg(mc);
    if (!result.Blockers.isEmpty()) {
        QStringList lines;
        for (qsizetype i = 0; i < result.Blockers.size(); ++i)
            lines << QStringLiteral("%1. %2").arg(i + 1).arg(result.Blockers[i]);
        result.Message = QStringLiteral("无法恢复项目“%1”，没有恢复任何内容，原因如下：\n").arg(name) + lines.join(QLatin1Char('\n'));
        return result;
    }

    // The old ID is kept when it is free, else the project gets a new one.
    result.KeptID = seen.rows[next++].rowCount() == 0;
    const QString values = SqlLiteral(project.value(QStringLiteral("CNAME"))) + QLatin1Char(',') +
                           SqlLiteral(project.value(QStringLiteral("CROSSDISCOUNT"))) + QLatin1Char(',') +
                           SqlLiteral(project.value(QStringLiteral("CROSTNUM"))) + QLatin1Char(',') +
                           SqlLiteral(project.value(QStringLiteral("CROSSPNUM"))) + QLatin1Char(')');
    QStringList inserts;
    if (result.KeptID) {
        inserts << QStringLiteral("INSERT INTO QEL_PROJECT (ID, CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) VALUES (") + QString::number(oldId) +
                       QLatin1Char(',') + values;
        result.ProjectID = oldId;
    } else {
        // A new ID must be read back before its rows can name it.
        DBPipe->ExecSQL(Context, QStringLiteral("INSERT INTO QEL_PROJECT (CNAME, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) VALUES (") + values);
        // The name is unique, so it finds the new row.
        const DataPacket made = DBPipe->GetData(Context, QStringLiteral("SELECT ID FROM QEL_PROJECT WHERE CNAME = ") + QuotedStr(name));
        if (made.rowCount() != 1)
            throw EHostError(QStringLiteral("恢复项目“%1”失败：插入后找不到该项目，没有恢复任何内容。").arg(name));
        result.ProjectID = made.integer(0, 0);
    }
    const QString pid = QString::number(result.ProjectID);

    // The limits, then the performances (several rows per statement: a
    // project may hold thousands), and the commit: one round trip.
    for (const QJsonObject &l : std::as_const(limits))
        inserts << QStringLiteral("INSERT INTO qel_project_member_limit (PID, MEMBER_CLASS_ID, MAX_NUM, limit_type, enable) VALUES (") + pid +
                       QLatin1Char(',') + SqlLiteral(l.value(QStringLiteral("MEMBER_CLASS_ID"))) + QLatin1Char(',') +
                       SqlLiteral(l.value(QStringLiteral("MAX_NUM"))) + QLatin1Char(',') + SqlLiteral(l.value(QStringLiteral("limit_type"))) +
                       QLatin1Char(',') + SqlLiteral(l.value(QStringLiteral("enable"))) + QLatin1Char(')');
    const qsizetype firstProducts = inserts.size();
    for (qsizetype at = 0; at < codes.size(); at += kInChunk) {
        QStringList tuples;
        for (const QString &code : codes.mid(at, kInChunk))
            tuples << QLatin1Char('(') + pid + QLatin1Char(',') + QuotedStr(code) + QLatin1Char(')');
        inserts << QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID, PRODUCTCODE) VALUES ") + tuples.join(QLatin1Char(','));
    }
    const BatchOutcome wrote = tx.commitWith(Context, inserts);
    if (wrote.failure)
        std::rethrow_exception(wrote.failure);
    result.Limits = int(limits.size());
    // A commit whose answer was lost but that the server confirmed leaves
    // the counts unanswered: every row went in or none did.
    if (wrote.changed.size() == inserts.size()) {
        for (qsizetype i = firstProducts; i < wrote.changed.size(); ++i)
            result.Performances += wrote.changed[i];
    } else {
        result.Performances = int(codes.size());
    }
    result.Restored = true;
    result.Message = QStringLiteral("已恢复项目“%1”（编号 %2），限购 %3 条，演出 %4 场。").arg(name).arg(result.ProjectID).arg(result.Limits).arg(result.Performances);
    if (!result.KeptID)
        result.Message += QStringLiteral("原编号 %1 已被其他项目占用，已使用新编号。").arg(oldId);
    return result;
}
