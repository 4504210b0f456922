#pragma once
#include "DataPacket.h"
#include "CoreGlobal.h"
#include <QCollatorSortKey>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

class TQELClientDataSet;

enum class FieldKind { Data, Lookup, Calculated };
enum class DataSetState { Inactive, Browse, Edit, Insert };

struct FieldDef {
    QString name;
    FieldType type = FieldType::Text;
    int size = 0;
    FieldKind kind = FieldKind::Data;
    QString displayLabel;
    int displayWidth = 0;
    bool visible = true;
    bool required = false;
    // Look-up fields: this dataset's keyField matched against lookupKeyField
    // of lookupDataSet; the value is lookupResultField of the row found.
    QString keyField;
    QPointer<TQELClientDataSet> lookupDataSet;
    QString lookupKeyField;
    QString lookupResultField;
};

// A field of the current record, by name: a small handle, cheap to copy.
class QELCORE_EXPORT TField {
public:
    TField(TQELClientDataSet *ds, int index) : m_ds(ds), m_index(index) {}
    QString FieldName() const;
    QString AsString() const;
    qint64 AsInteger() const;
    double AsFloat() const;
    QDateTime AsDateTime() const;
    QVariant Value() const;
    bool IsNull() const;
    // Only while the dataset is being edited or appended to.
    void SetAsString(const QString &v) const;
    void SetAsDateTime(const QDateTime &v) const;
    void SetValue(const QVariant &v) const;
    void Clear() const;
    int Index() const { return m_index; }

private:
    TQELClientDataSet *m_ds;
    int m_index;
};

// The in-memory table that holds a packet's rows. Nothing done to it is ever
// written back to the server. The cursor walks a "view" of row numbers that
// the index (sort) and the filter produce; a bookmark is a row number.
class QELCORE_EXPORT TQELClientDataSet : public QObject {
    Q_OBJECT
public:
    using TBookmark = int;
    // The filter is a predicate over a row's values: values are compared, never spliced into text.
    using FilterFn = std::function<bool(const TQELClientDataSet &ds, int row)>;
    // Computes one calculated field of one row, on demand.
    using CalcFieldFn = std::function<QVariant(const TQELClientDataSet &ds, int row, int field)>;

    explicit TQELClientDataSet(QObject *parent = nullptr);
    ~TQELClientDataSet() override;

    // Design-time fields. Without any, each packet brings its own columns.
    void AddFieldDef(const FieldDef &def);
    void SetOnCalcField(CalcFieldFn fn) { m_calc = std::move(fn); }

    // The packet's columns are taken over as they are, not copied or moved
    // one by one: a view into them stays valid while the dataset holds them.
    void SetData(DataPacket &&packet);
    void SetData(const DataPacket &packet) { SetData(DataPacket(packet)); }
    // Shares rows that stay read-only while others hold them too (a worker
    // thread reading them, say): a write to them (Append) copies them first.
    void SetData(std::shared_ptr<const DataPacket> packet);
    DataPacket GetData() const;
    // Opens with the design-time fields and no rows.
    void CreateDataSet();
    void Close();
    bool Active() const { return m_state != DataSetState::Inactive; }
    DataSetState State() const { return m_state; }

    int FieldCount() const { return int(m_fields.size()); }
    const FieldDef &FieldDefAt(int i) const { return m_fields[size_t(i)]; }
    int FieldIndex(const QString &name) const;
    TField FieldByName(const QString &name) const; // throws EHostError for an unknown field

    // Navigation.
    void First();
    void Next();
    void Prior();
    void Last();
    void MoveTo(int pos);
    bool Eof() const { return m_eof || m_view.empty(); }
    bool Bof() const { return m_pos <= 0; }
    bool IsEmpty() const { return m_view.empty(); }
    int RecordCount() const { return int(m_view.size()); }
    int RecNo() const { return m_view.empty() ? -1 : m_pos; }
    TBookmark GetBookmark() const { return currentRow(); }
    void GotoBookmark(TBookmark b);
    bool BookmarkValid(TBookmark b) const;
    bool Locate(const QString &field, const QVariant &value);
    void Delete();

    // Editing (memory only).
    void Edit();
    void Append();
    void Post();
    void Cancel();
    bool Modified() const { return !m_pending.isEmpty(); }

    // Index and filter.
    void SetIndexFieldNames(const QString &names);
    QString IndexFieldNames() const { return m_indexNames; }
    void SetFilter(FilterFn fn);
    void SetFiltered(bool on);
    bool Filtered() const { return m_filtered; }

    // Row access for models, filters and calculated fields.
    int currentRow() const { return m_view.empty() ? -1 : m_view[size_t(m_pos)]; }
    int rowAt(int pos) const { return m_view[size_t(pos)]; }
    int posOf(TBookmark row) const;
    QVariant value(int row, int field) const;
    QString text(int row, int field) const;
    // The stored UTF-8 of a text cell whose value is exactly that text (a
    // data field, not null, nothing edited): readers that only compare or
    // copy bytes skip making a QString per row. False otherwise: use text().
    bool storedUtf8(int row, int field, std::string_view &out) const
    {
        const int c = m_column[size_t(field)];
        if (c < 0 || row < 0 || !m_pending.isEmpty() || !m_edits.isEmpty() || m_data->column(c).type != FieldType::Text || m_data->isNull(row, c))
            return false;
        out = m_data->utf8(row, c);
        return true;
    }
    qint64 integer(int row, int field) const;
    bool isNull(int row, int field) const;
    QDateTime dateTime(int row, int field) const;
    const DataPacket &packet() const { return *m_data; }
    // Keys for ordering a view of the rows by one field while the dataset
    // keeps its own order: key[row] (by bookmark) orders the values as the
    // index does (text in pinyin order through the same collation, numbers
    // as numbers, times as times); blank[row] is 1 for a null or empty value.
    // Read from the packet in place where nothing is edited.
    void SortKeys(int field, std::vector<qint64> &key, std::vector<uint8_t> &blank) const;
    qint64 bytesUsed() const;

    // Internal: the field handle writes through these.
    void setFieldValue(int field, const QVariant &v);

signals:
    void aboutToReset();
    void reset();
    void rowAboutToBeRemoved(int pos);
    void rowRemoved(int pos);
    void rowAboutToBeInserted(int pos);
    void rowInserted(int pos);
    void rowChanged(int pos);
    void cursorMoved(int pos);
    void stateChanged();

private:
    void rebuildFields();
    void rebuildOrder();
    void rankText(int field, int column, std::vector<qint64> &rank) const;
    void rebuildView();
    void resetLookups();
    int lookupRow(int field, int row) const;
    bool pendingValue(int row, int field, QVariant &out) const;
    void requireEditing() const;
    void install(std::shared_ptr<const DataPacket> packet, std::shared_ptr<DataPacket> own);
    // The rows, copied first when they are shared.
    DataPacket &writablePacket();

    // The rows, read-only; m_own is the same packet while no one else holds
    // it, and null once it is shared, so that it is never written in place.
    std::shared_ptr<DataPacket> m_own = std::make_shared<DataPacket>();
    std::shared_ptr<const DataPacket> m_data = m_own;
    std::vector<FieldDef> m_design;
    std::vector<FieldDef> m_fields;
    std::vector<int> m_column; // packet column of each field, -1 for none
    std::vector<uint8_t> m_deleted;
    std::vector<int> m_order; // live rows in index order
    std::vector<int> m_view;  // m_order narrowed by the filter
    mutable std::vector<int> m_viewPos; // position in m_view of each row, -1 when hidden
    mutable bool m_viewPosValid = false;
    int m_pos = 0;
    bool m_eof = true;
    DataSetState m_state = DataSetState::Inactive;
    QString m_indexNames;
    FilterFn m_filter;
    bool m_filtered = false;
    CalcFieldFn m_calc;
    QHash<quint64, QVariant> m_edits;   // posted in-memory changes: (row << 16 | field)
    QHash<int, QVariant> m_pending;     // the record being edited: field → value
    int m_editRow = -1;
    mutable QHash<int, QHash<QString, int>> m_lookupCache; // field → key text → lookup row
    bool m_resettingLookups = false;
};
