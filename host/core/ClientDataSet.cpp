#include "ClientDataSet.h"
#include "ByteKeyTable.h"
#include "HostError.h"
#include <QScopedValueRollback>
#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <bit>
#include <limits>
#include <numeric>
#include <utility>
#include <string_view>

namespace {
quint64 editKey(int row, int field)
{
    return (quint64(uint32_t(row)) << 16) | quint64(uint16_t(field));
}

QCollator &chineseCollator()
{
    thread_local QCollator c(QLocale(QLocale::Chinese, QLocale::China));
    return c;
}
} // namespace

// ---- TField ---------------------------------------------------------------

QString TField::FieldName() const { return m_ds->FieldDefAt(m_index).name; }

QString TField::AsString() const
{
    const int row = m_ds->currentRow();
    return row < 0 && m_ds->State() != DataSetState::Insert ? QString() : m_ds->text(row, m_index);
}

qint64 TField::AsInteger() const
{
    const int row = m_ds->currentRow();
    return row < 0 && m_ds->State() != DataSetState::Insert ? 0 : m_ds->integer(row, m_index);
}

double TField::AsFloat() const
{
    const QVariant v = Value();
    return v.isValid() ? v.toString().trimmed().toDouble() : 0.0;
}

QDateTime TField::AsDateTime() const
{
    const int row = m_ds->currentRow();
    return row < 0 ? QDateTime() : m_ds->dateTime(row, m_index);
}

QVariant TField::Value() const
{
    const int row = m_ds->currentRow();
    return row < 0 ? QVariant() : m_ds->value(row, m_index);
}

bool TField::IsNull() const
{
    const int row = m_ds->currentRow();
    return row < 0 || m_ds->isNull(row, m_index);
}

void TField::SetAsString(const QString &v) const { m_ds->setFieldValue(m_index, v); }
void TField::SetAsDateTime(const QDateTime &v) const { m_ds->setFieldValue(m_index, v); }
void TField::SetValue(const QVariant &v) const { m_ds->setFieldValue(m_index, v); }
void TField::Clear() const { m_ds->setFieldValue(m_index, QVariant()); }

// ---- TQELClientDataSet ----------------------------------------------------

TQELClientDataSet::TQELClientDataSet(QObject *parent) : QObject(parent) {}
TQELClientDataSet::~TQELClientDataSet() = default;

void TQELClientDataSet::AddFieldDef(const FieldDef &def)
{
    m_design.push_back(def);
    if (def.kind == FieldKind::Lookup && def.lookupDataSet) {
        connect(def.lookupDataSet, &TQELClientDataSet::reset, this, &TQELClientDataSet::resetLookups);
        connect(def.lookupDataSet, &TQELClientDataSet::rowRemoved, this, &TQELClientDataSet::resetLookups);
        connect(def.lookupDataSet, &TQELClientDataSet::rowInserted, this, &TQELClientDataSet::resetLookups);
        connect(def.lookupDataSet, &TQELClientDataSet::rowChanged, this, &TQELClientDataSet::resetLookups);
    }
}

void TQELClientDataSet::resetLookups()
{
    // A dataset that looks itself up (or two that look each other up) would
    // otherwise bounce rowChanged between them for ever.
    if (m_resettingLookups)
        return;
    const QScopedValueRollback<bool> busy(m_resettingLookups, true);
    m_lookupCache.clear();
    if (!m_view.empty())
        emit rowChanged(-1);
}

void TQELClientDataSet::rebuildFields()
{
    m_fields.clear();
    m_column.clear();
    if (m_design.empty()) {
        for (int c = 0; c < m_data->columnCount(); ++c) {
            FieldDef f;
            f.name = m_data->column(c).name;
            f.type = m_data->column(c).type;
            f.size = m_data->column(c).size;
            m_fields.push_back(f);
            m_column.push_back(c);
        }
    } else {
        for (const FieldDef &d : m_design) {
            m_fields.push_back(d);
            m_column.push_back(d.kind == FieldKind::Data ? m_data->columnIndex(d.name) : -1);
        }
    }
    m_lookupCache.clear();
}

void TQELClientDataSet::SetData(DataPacket &&packet)
{
    auto own = std::make_shared<DataPacket>(std::move(packet));
    install(own, own);
}

void TQELClientDataSet::SetData(std::shared_ptr<const DataPacket> packet)
{
    install(packet ? std::move(packet) : std::make_shared<const DataPacket>(), nullptr);
}

void TQELClientDataSet::install(std::shared_ptr<const DataPacket> packet, std::shared_ptr<DataPacket> own)
{
    emit aboutToReset();
    m_data = std::move(packet);
    m_own = std::move(own);
    m_edits.clear();
    m_pending.clear();
    m_editRow = -1;
    m_deleted.assign(size_t(m_data->rowCount()), 0);
    rebuildFields();
    m_state = DataSetState::Browse;
    rebuildOrder();
    rebuildView();
    m_pos = 0;
    m_eof = m_view.empty();
    emit reset();
    emit stateChanged();
    emit cursorMoved(RecNo());
}

void TQELClientDataSet::CreateDataSet()
{
    DataPacket p;
    for (const FieldDef &d : m_design)
        if (d.kind == FieldKind::Data)
            p.addColumn(ColumnDef{d.name, d.type, d.size});
    SetData(std::move(p));
}

DataPacket TQELClientDataSet::GetData() const
{
    DataPacket p;
    std::vector<int> fields;
    for (int f = 0; f < FieldCount(); ++f) {
        if (m_fields[size_t(f)].kind != FieldKind::Data)
            continue;
        p.addColumn(ColumnDef{m_fields[size_t(f)].name, m_fields[size_t(f)].type, m_fields[size_t(f)].size});
        fields.push_back(f);
    }
    for (int row = 0; row < m_data->rowCount(); ++row) {
        if (m_deleted[size_t(row)])
            continue;
        p.appendRow();
        for (size_t i = 0; i < fields.size(); ++i)
            p.setValue(int(i), value(row, fields[i]));
    }
    return p;
}

void TQELClientDataSet::Close()
{
    if (m_state == DataSetState::Inactive)
        return;
    emit aboutToReset();
    m_own = std::make_shared<DataPacket>();
    m_data = m_own;
    m_deleted.clear();
    m_order.clear();
    m_view.clear();
    m_viewPosValid = false;
    m_edits.clear();
    m_pending.clear();
    m_editRow = -1;
    m_lookupCache.clear();
    m_pos = 0;
    m_eof = true;
    m_state = DataSetState::Inactive;
    emit reset();
    emit stateChanged();
}

int TQELClientDataSet::FieldIndex(const QString &name) const
{
    const auto &fields = m_state == DataSetState::Inactive && m_fields.empty() ? m_design : m_fields;
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

TField TQELClientDataSet::FieldByName(const QString &name) const
{
    const int i = FieldIndex(name);
    if (i < 0 || (m_fields.empty() && m_state == DataSetState::Inactive))
        throw EHostError(QStringLiteral("数据集中没有字段“%1”").arg(name));
    return TField(const_cast<TQELClientDataSet *>(this), i);
}

// ---- navigation -------------------------------------------------------------

void TQELClientDataSet::MoveTo(int pos)
{
    if (m_view.empty())
        return;
    pos = std::clamp(pos, 0, int(m_view.size()) - 1);
    m_eof = false;
    if (pos == m_pos)
        return;
    m_pos = pos;
    emit cursorMoved(m_pos);
}

void TQELClientDataSet::First()
{
    MoveTo(0);
    m_eof = m_view.empty();
}

void TQELClientDataSet::Last() { MoveTo(int(m_view.size()) - 1); }

void TQELClientDataSet::Next()
{
    if (m_pos + 1 >= int(m_view.size())) {
        m_eof = true;
        return;
    }
    MoveTo(m_pos + 1);
}

void TQELClientDataSet::Prior() { MoveTo(m_pos - 1); }

int TQELClientDataSet::posOf(TBookmark row) const
{
    if (row < 0 || row >= m_data->rowCount())
        return -1;
    // Rebuilt once per change of the view, so walking a selection of n rows
    // costs O(n), not O(n) per row.
    if (!m_viewPosValid) {
        m_viewPos.assign(size_t(m_data->rowCount()), -1);
        for (size_t i = 0; i < m_view.size(); ++i)
            m_viewPos[size_t(m_view[i])] = int(i);
        m_viewPosValid = true;
    }
    return m_viewPos[size_t(row)];
}

bool TQELClientDataSet::BookmarkValid(TBookmark b) const
{
    return b >= 0 && b < m_data->rowCount() && !m_deleted[size_t(b)] && posOf(b) >= 0;
}

void TQELClientDataSet::GotoBookmark(TBookmark b)
{
    const int pos = posOf(b);
    if (pos < 0)
        throw EHostError(QStringLiteral("找不到该记录（可能已被删除）"));
    MoveTo(pos);
}

bool TQELClientDataSet::Locate(const QString &field, const QVariant &v)
{
    const int f = FieldIndex(field);
    if (f < 0)
        throw EHostError(QStringLiteral("数据集中没有字段“%1”").arg(field));
    const FieldType type = m_fields[size_t(f)].type;
    // The value in the field's own form, once: the scan may cover every row.
    qint64 wantedNumber = 0;
    QString wantedText;
    bool comparable = true;
    if (type == FieldType::DateTime) {
        QDateTime wanted = v.toDateTime();
        if (!wanted.isValid() && v.typeId() == QMetaType::QDate)
            wanted = QDateTime(v.toDate(), QTime(0, 0));
        comparable = wanted.isValid();
        if (comparable)
            wantedNumber = DataPacket::stampFromDateTime(wanted);
    } else if (type == FieldType::Integer) {
        wantedNumber = v.toString().trimmed().toLongLong(&comparable);
    } else {
        wantedText = v.toString();
    }
    if (!comparable)
        return false;
    auto matches = [&](int row) {
        if (isNull(row, f))
            return false;
        if (type == FieldType::DateTime)
            return DataPacket::stampFromDateTime(dateTime(row, f)) == wantedNumber;
        if (type == FieldType::Integer)
            return integer(row, f) == wantedNumber;
        return text(row, f) == wantedText;
    };
    for (size_t pos = 0; pos < m_view.size(); ++pos) {
        if (matches(m_view[pos])) {
            MoveTo(int(pos));
            return true;
        }
    }
    return false;
}

void TQELClientDataSet::Delete()
{
    if (m_view.empty())
        throw EHostError(QStringLiteral("数据集为空，无法删除"));
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert) {
        // The record being edited goes away: so does its edit.
        m_pending.clear();
        m_editRow = -1;
        m_state = DataSetState::Browse;
        emit stateChanged();
    }
    const int pos = m_pos;
    const int row = m_view[size_t(pos)];
    emit rowAboutToBeRemoved(pos);
    m_deleted[size_t(row)] = 1;
    m_view.erase(m_view.begin() + pos);
    m_viewPosValid = false;
    m_order.erase(std::find(m_order.begin(), m_order.end(), row));
    if (m_pos >= int(m_view.size()))
        m_pos = std::max(0, int(m_view.size()) - 1);
    m_eof = m_view.empty();
    emit rowRemoved(pos);
    emit cursorMoved(RecNo());
}

// ---- editing ----------------------------------------------------------------

void TQELClientDataSet::requireEditing() const
{
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        throw EHostError(QStringLiteral("数据集不在编辑状态"));
}

void TQELClientDataSet::Edit()
{
    if (m_state == DataSetState::Inactive)
        throw EHostError(QStringLiteral("数据集未打开"));
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert)
        return;
    if (m_view.empty()) {
        // Editing an empty dataset starts its first record.
        Append();
        return;
    }
    m_editRow = currentRow();
    m_pending.clear();
    m_state = DataSetState::Edit;
    emit stateChanged();
}

DataPacket &TQELClientDataSet::writablePacket()
{
    // Shared rows are never written: another thread may be reading them.
    if (!m_own) {
        m_own = std::make_shared<DataPacket>(*m_data);
        m_data = m_own;
    }
    return *m_own;
}

void TQELClientDataSet::Append()
{
    if (m_state == DataSetState::Inactive)
        throw EHostError(QStringLiteral("数据集未打开"));
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert)
        Post();
    const int pos = int(m_view.size());
    emit rowAboutToBeInserted(pos);
    writablePacket().appendRow();
    const int row = m_data->rowCount() - 1;
    m_deleted.push_back(0);
    m_order.push_back(row);
    m_view.push_back(row);
    m_viewPosValid = false;
    m_pos = pos;
    m_eof = false;
    m_editRow = row;
    m_pending.clear();
    m_state = DataSetState::Insert;
    emit rowInserted(pos);
    emit stateChanged();
    emit cursorMoved(pos);
}

void TQELClientDataSet::Post()
{
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        return;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
        m_edits.insert(editKey(m_editRow, it.key()), it.value());
    m_pending.clear();
    const int pos = posOf(m_editRow);
    m_editRow = -1;
    m_state = DataSetState::Browse;
    m_lookupCache.clear();
    if (pos >= 0)
        emit rowChanged(pos);
    emit stateChanged();
}

void TQELClientDataSet::Cancel()
{
    if (m_state == DataSetState::Insert) {
        m_pending.clear();
        m_state = DataSetState::Browse;
        Delete();
        emit stateChanged();
        return;
    }
    if (m_state == DataSetState::Edit) {
        m_pending.clear();
        m_state = DataSetState::Browse;
        const int pos = posOf(m_editRow);
        m_editRow = -1;
        if (pos >= 0)
            emit rowChanged(pos);
        emit stateChanged();
    }
}

void TQELClientDataSet::setFieldValue(int field, const QVariant &v)
{
    requireEditing();
    if (m_fields[size_t(field)].kind != FieldKind::Data)
        throw EHostError(QStringLiteral("字段“%1”不可修改").arg(m_fields[size_t(field)].name));
    m_pending.insert(field, v);
    const int pos = posOf(m_editRow);
    if (pos >= 0)
        emit rowChanged(pos);
}

bool TQELClientDataSet::pendingValue(int row, int field, QVariant &out) const
{
    if (!m_pending.isEmpty() && row == m_editRow) {
        const auto it = m_pending.constFind(field);
        if (it != m_pending.constEnd()) {
            out = *it;
            return true;
        }
    }
    if (!m_edits.isEmpty()) {
        const auto it = m_edits.constFind(editKey(row, field));
        if (it != m_edits.constEnd()) {
            out = *it;
            return true;
        }
    }
    return false;
}

// ---- values -----------------------------------------------------------------

int TQELClientDataSet::lookupRow(int field, int row) const
{
    const FieldDef &f = m_fields[size_t(field)];
    const TQELClientDataSet *lk = f.lookupDataSet;
    if (!lk || !lk->Active())
        return -1;
    const int keyField = FieldIndex(f.keyField);
    const int lkKey = lk->FieldIndex(f.lookupKeyField);
    if (keyField < 0 || lkKey < 0 || isNull(row, keyField))
        return -1;
    auto it = m_lookupCache.find(field);
    if (it == m_lookupCache.end()) {
        QHash<QString, int> map;
        for (int p = lk->RecordCount() - 1; p >= 0; --p) // first match wins
            map.insert(lk->text(lk->rowAt(p), lkKey), lk->rowAt(p));
        it = m_lookupCache.insert(field, map);
    }
    return it->value(text(row, keyField), -1);
}

QVariant TQELClientDataSet::value(int row, int field) const
{
    const FieldDef &f = m_fields[size_t(field)];
    switch (f.kind) {
    case FieldKind::Data: {
        QVariant v;
        if (pendingValue(row, field, v))
            return v;
        const int c = m_column[size_t(field)];
        return c < 0 || row < 0 ? QVariant() : m_data->value(row, c);
    }
    case FieldKind::Lookup: {
        const int lr = lookupRow(field, row);
        if (lr < 0)
            return QVariant();
        const TQELClientDataSet *lk = f.lookupDataSet;
        const int rf = lk->FieldIndex(f.lookupResultField);
        return rf < 0 ? QVariant() : lk->value(lr, rf);
    }
    case FieldKind::Calculated:
        return m_calc ? m_calc(*this, row, field) : QVariant();
    }
    return QVariant();
}

QString TQELClientDataSet::text(int row, int field) const
{
    const int c = m_column[size_t(field)];
    if (c >= 0 && row >= 0 && m_pending.isEmpty() && m_edits.isEmpty())
        return m_data->text(row, c);
    const QVariant v = value(row, field);
    if (v.typeId() == QMetaType::QDateTime)
        return DataPacket::formatStamp(DataPacket::stampFromDateTime(v.toDateTime()));
    return v.toString();
}

qint64 TQELClientDataSet::integer(int row, int field) const
{
    const int c = m_column[size_t(field)];
    if (c >= 0 && row >= 0 && m_pending.isEmpty() && m_edits.isEmpty())
        return m_data->integer(row, c);
    const QVariant v = value(row, field);
    bool ok = false;
    const qint64 n = v.toString().trimmed().toLongLong(&ok);
    return ok ? n : 0;
}

bool TQELClientDataSet::isNull(int row, int field) const
{
    const int c = m_column[size_t(field)];
    if (c >= 0 && row >= 0 && m_pending.isEmpty() && m_edits.isEmpty())
        return m_data->isNull(row, c);
    const QVariant v = value(row, field);
    return !v.isValid() || v.isNull();
}

QDateTime TQELClientDataSet::dateTime(int row, int field) const
{
    const int c = m_column[size_t(field)];
    if (c >= 0 && row >= 0 && m_pending.isEmpty() && m_edits.isEmpty())
        return m_data->dateTime(row, c);
    const QVariant v = value(row, field);
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime();
    if (v.typeId() == QMetaType::QDate)
        return QDateTime(v.toDate(), QTime(0, 0));
    qint64 st = 0;
    const QByteArray u = v.toString().toUtf8();
    return DataPacket::parseStamp(std::string_view(u.constData(), size_t(u.size())), st) ? DataPacket::dateTimeFromStamp(st) : QDateTime();
}

qint64 TQELClientDataSet::bytesUsed() const
{
    return m_data->bytesUsed() + qint64(m_deleted.capacity() + (m_order.capacity() + m_view.capacity()) * sizeof(int));
}

// ---- index and filter ---------------------------------------------------------

void TQELClientDataSet::SetIndexFieldNames(const QString &names)
{
    if (Active()) {
        for (const QString &n : names.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            if (FieldIndex(n.trimmed()) < 0)
                throw EHostError(QStringLiteral("索引字段“%1”不存在").arg(n.trimmed()));
    }
    m_indexNames = names;
    if (!Active())
        return;
    emit aboutToReset();
    const int keep = currentRow();
    rebuildOrder();
    rebuildView();
    m_pos = std::max(0, posOf(keep));
    m_eof = m_view.empty();
    emit reset();
    emit cursorMoved(RecNo());
}

void TQELClientDataSet::SetFilter(FilterFn fn)
{
    m_filter = std::move(fn);
    if (m_filtered && Active())
        SetFiltered(true);
}

void TQELClientDataSet::SetFiltered(bool on)
{
    m_filtered = on;
    if (!Active())
        return;
    emit aboutToReset();
    rebuildView();
    m_pos = 0;
    m_eof = m_view.empty();
    emit reset();
    emit cursorMoved(RecNo());
}

void TQELClientDataSet::rebuildOrder()
{
    m_order.clear();
    m_order.reserve(size_t(m_data->rowCount()));
    for (int r = 0; r < m_data->rowCount(); ++r)
        if (!m_deleted[size_t(r)])
            m_order.push_back(r);
    if (m_indexNames.isEmpty() || m_order.size() < 2)
        return;
    std::vector<int> keys;
    for (const QString &n : m_indexNames.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        // A packet without an index field keeps its own order for that key.
        const int f = FieldIndex(n.trimmed());
        if (f >= 0)
            keys.push_back(f);
    }
    // Every key becomes one number per row, computed once, as the grid's
    // sort reads it (SortKeys): text its rank in collation order (pinyin),
    // numbers and times as numbers; nulls first.
    constexpr qint64 nullKey = std::numeric_limits<qint64>::min();
    std::vector<std::vector<qint64>> prepared(keys.size());
    std::vector<uint8_t> blank;
    for (size_t k = 0; k < keys.size(); ++k) {
        SortKeys(keys[k], prepared[k], blank);
        // A text's null already ranks below every text; an empty text is a value.
        if (m_fields[size_t(keys[k])].type != FieldType::Text)
            for (int r : m_order)
                if (blank[size_t(r)])
                    prepared[k][size_t(r)] = nullKey;
    }
    // One or two whole-number keys (the usual index): sort them side by side
    // with the row, in one block, instead of chasing two arrays per compare.
    // The row as the last key keeps equal rows in their order, as stable_sort does.
    if (!prepared.empty() && prepared.size() <= 2) {
        const std::vector<qint64> &first = prepared[0];
        const bool two = prepared.size() == 2;
        // A first key of small whole numbers (a text's rank, nulls below):
        // a stable counting sort by it, then each run of equal values by the
        // second key, which is often in order already (the statement's order).
        const qint64 limit = qint64(m_order.size()) + 1;
        const bool small = std::all_of(m_order.begin(), m_order.end(), [&](int r) {
            const qint64 v = first[size_t(r)];
            return v == nullKey || (v >= 0 && v < limit);
        });
        if (small) {
            const auto bucket = [&](int r) { return first[size_t(r)] == nullKey ? size_t(0) : size_t(first[size_t(r)]) + 1; };
            std::vector<int> next(size_t(limit) + 1, 0);
            for (int r : m_order)
                ++next[bucket(r)];
            int at = 0;
            for (int &slot : next)
                at += std::exchange(slot, at);
            std::vector<int> sorted(m_order.size());
            for (int r : m_order)
                sorted[size_t(next[bucket(r)]++)] = r;
            if (two) {
                const std::vector<qint64> &second = prepared[1];
                const auto bySecond = [&](int x, int y) { return second[size_t(x)] < second[size_t(y)]; };
                for (auto run = sorted.begin(); run != sorted.end();) {
                    const qint64 v = first[size_t(*run)];
                    const auto end = std::find_if(run, sorted.end(), [&](int r) { return first[size_t(r)] != v; });
                    if (end - run > 1 && !std::is_sorted(run, end, bySecond))
                        std::stable_sort(run, end, bySecond);
                    run = end;
                }
            }
            m_order.swap(sorted);
            return;
        }
        struct Item {
            qint64 a, b;
            int row;
        };
        std::vector<Item> items;
        items.reserve(m_order.size());
        for (int r : m_order)
            items.push_back({first[size_t(r)], two ? prepared[1][size_t(r)] : 0, r});
        std::sort(items.begin(), items.end(), [](const Item &x, const Item &y) {
            if (x.a != y.a)
                return x.a < y.a;
            if (x.b != y.b)
                return x.b < y.b;
            return x.row < y.row;
        });
        for (size_t i = 0; i < items.size(); ++i)
            m_order[i] = items[i].row;
        return;
    }
    std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) {
        for (const std::vector<qint64> &key : prepared) {
            const qint64 x = key[size_t(a)], y = key[size_t(b)];
            if (x != y)
                return x < y;
        }
        return false;
    });
}

// Ranks the text of field f over the live rows: equal collation, equal rank;
// null below every text. col >= 0: read the packet's UTF-8 in place.
void TQELClientDataSet::rankText(int f, int col, std::vector<qint64> &rank) const
{
    const int n = m_data->rowCount();
    rank.assign(size_t(n), std::numeric_limits<qint64>::min());
    std::vector<int> idOf(size_t(n), -1);
    QStringList distinct;
    if (col >= 0) {
        ByteKeyTable ids(1024);
        for (int r : m_order) {
            if (m_data->isNull(r, col))
                continue;
            const std::string_view v = m_data->utf8(r, col);
            const auto [id, added] = ids.insert(v, int(distinct.size()));
            if (added)
                distinct << QString::fromUtf8(v.data(), qsizetype(v.size()));
            idOf[size_t(r)] = id;
        }
    } else {
        QHash<QString, int> ids;
        for (int r : m_order) {
            if (isNull(r, f))
                continue;
            const QString v = text(r, f);
            auto it = ids.constFind(v);
            if (it == ids.constEnd()) {
                it = ids.insert(v, int(distinct.size()));
                distinct << v;
            }
            idOf[size_t(r)] = *it;
        }
    }
    QCollator &coll = chineseCollator();
    std::vector<QCollatorSortKey> sortKeys;
    sortKeys.reserve(size_t(distinct.size()));
    for (const QString &v : distinct)
        sortKeys.push_back(coll.sortKey(v));
    std::vector<int> byKey(size_t(distinct.size()));
    std::iota(byKey.begin(), byKey.end(), 0);
    std::sort(byKey.begin(), byKey.end(), [&](int a, int b) { return sortKeys[size_t(a)].compare(sortKeys[size_t(b)]) < 0; });
    std::vector<qint64> rankOf(byKey.size());
    qint64 current = 0;
    for (size_t i = 0; i < byKey.size(); ++i) {
        if (i > 0 && sortKeys[size_t(byKey[i])].compare(sortKeys[size_t(byKey[i - 1])]) != 0)
            ++current;
        rankOf[size_t(byKey[i])] = current;
    }
    for (int r : m_order)
        if (idOf[size_t(r)] >= 0)
            rank[size_t(r)] = rankOf[size_t(idOf[size_t(r)])];
}

void TQELClientDataSet::SortKeys(int f, std::vector<qint64> &key, std::vector<uint8_t> &blank) const
{
    const size_t n = size_t(m_data->rowCount());
    key.assign(n, 0);
    blank.assign(n, 1);
    if (f < 0 || f >= FieldCount())
        return;
    const FieldType t = m_fields[size_t(f)].type;
    const bool plain = m_pending.isEmpty() && m_edits.isEmpty();
    const int col = plain ? m_column[size_t(f)] : -1;
    const DataPacket::Column *data = col >= 0 && m_data->column(col).type == t ? &m_data->columnData(col) : nullptr;
    if (t == FieldType::Text) {
        rankText(f, data ? col : -1, key);
        // Null ranks below everything; empty text is blank as well.
        for (int r : m_order) {
            const bool isBlank = key[size_t(r)] == std::numeric_limits<qint64>::min()
                || (data ? data->offsets[size_t(r)] == data->offsets[size_t(r) + 1] : text(r, f).isEmpty());
            blank[size_t(r)] = isBlank;
        }
        return;
    }
    if (t == FieldType::Float) {
        for (int r : m_order) {
            if (data ? data->nulls[size_t(r)] != 0 : isNull(r, f))
                continue;
            const double d = data ? data->floats[size_t(r)] : value(r, f).toDouble();
            // The bits of a double, made to compare as signed integers do.
            const qint64 bits = std::bit_cast<qint64>(d == 0.0 ? 0.0 : d);
            key[size_t(r)] = bits < 0 ? bits ^ std::numeric_limits<qint64>::max() : bits;
            blank[size_t(r)] = 0;
        }
        return;
    }
    if (data) {
        for (int r : m_order) {
            if (data->nulls[size_t(r)])
                continue;
            key[size_t(r)] = data->ints[size_t(r)];
            blank[size_t(r)] = 0;
        }
        return;
    }
    for (int r : m_order) {
        if (isNull(r, f))
            continue;
        if (t == FieldType::DateTime) {
            const QDateTime dt = dateTime(r, f);
            if (!dt.isValid())
                continue;
            key[size_t(r)] = DataPacket::stampFromDateTime(dt);
        } else {
            key[size_t(r)] = integer(r, f);
        }
        blank[size_t(r)] = 0;
    }
}

void TQELClientDataSet::rebuildView()
{
    m_viewPosValid = false;
    if (!m_filtered || !m_filter) {
        m_view = m_order;
        return;
    }
    m_view.clear();
    for (int r : m_order)
        if (m_filter(*this, r))
            m_view.push_back(r);
    m_viewPosValid = false; // in case the filter asked for a position meanwhile
}
