#include "DBLookupComboBox.h"
#include "ErrorHandler.h"

TQELDBLookupComboBox::TQELDBLookupComboBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(false);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // activated: only the operator's picks write; changes made here do not.
    connect(this, &QComboBox::activated, this, Guarded([this](int index) { pick(index); }));
}

void TQELDBLookupComboBox::SetDataSource(TQELDataSource *source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source) {
        connect(m_source, &TQELDataSource::DataChange, this, &TQELDBLookupComboBox::Refresh);
        connect(m_source, &QAbstractItemModel::dataChanged, this, &TQELDBLookupComboBox::Refresh);
        connect(m_source, &QAbstractItemModel::modelReset, this, &TQELDBLookupComboBox::Refresh);
    }
    Refresh();
}

void TQELDBLookupComboBox::SetDataField(const QString &field)
{
    m_field = field;
    Refresh();
}

void TQELDBLookupComboBox::SetListSource(TQELDataSource *list)
{
    if (m_list)
        disconnect(m_list, nullptr, this, nullptr);
    m_list = list;
    if (m_list) {
        connect(m_list, &QAbstractItemModel::modelReset, this, &TQELDBLookupComboBox::RebuildList);
        connect(m_list, &QAbstractItemModel::rowsRemoved, this, &TQELDBLookupComboBox::RebuildList);
        connect(m_list, &QAbstractItemModel::rowsInserted, this, &TQELDBLookupComboBox::RebuildList);
        connect(m_list, &QAbstractItemModel::dataChanged, this, &TQELDBLookupComboBox::RebuildList);
    }
    RebuildList();
}

void TQELDBLookupComboBox::SetKeyField(const QString &field)
{
    m_keyField = field;
    RebuildList();
}

void TQELDBLookupComboBox::SetListField(const QString &field)
{
    m_listField = field;
    RebuildList();
}

void TQELDBLookupComboBox::SetEmptyEntry(bool on, const QString &text)
{
    m_emptyEntry = on;
    m_emptyText = text;
    RebuildList();
}

void TQELDBLookupComboBox::RebuildList()
{
    m_updating = true;
    clear();
    if (m_emptyEntry)
        addItem(m_emptyText, QString());
    const TQELClientDataSet *ds = m_list ? m_list->DataSet() : nullptr;
    if (ds && ds->Active()) {
        const int key = ds->FieldIndex(m_keyField);
        const int shown = ds->FieldIndex(m_listField);
        if (key >= 0 && shown >= 0) {
            for (int pos = 0; pos < ds->RecordCount(); ++pos) {
                const int row = ds->rowAt(pos);
                addItem(ds->text(row, shown), ds->text(row, key));
            }
        }
    }
    m_updating = false;
    Refresh();
}

void TQELDBLookupComboBox::Refresh()
{
    if (m_updating || m_writing)
        return;
    QString value;
    const TQELClientDataSet *ds = m_source ? m_source->DataSet() : nullptr;
    if (ds && ds->Active() && !m_field.isEmpty()) {
        const int f = ds->FieldIndex(m_field);
        const int row = ds->currentRow();
        if (f >= 0 && row >= 0)
            value = ds->text(row, f);
    }
    int index = -1;
    if (!value.isEmpty())
        index = findData(value);
    else if (m_emptyEntry)
        index = 0;
    m_updating = true;
    setCurrentIndex(index);
    m_updating = false;
}

QString TQELDBLookupComboBox::KeyValue() const
{
    const int i = currentIndex();
    return i < 0 ? QString() : itemData(i).toString();
}

bool TQELDBLookupComboBox::SelectKey(const QString &key)
{
    const int index = key.isEmpty() && m_emptyEntry ? 0 : findData(key);
    if (index < 0)
        return false;
    setCurrentIndex(index);
    pick(index);
    return true;
}

void TQELDBLookupComboBox::pick(int index)
{
    TQELClientDataSet *ds = m_source ? m_source->DataSet() : nullptr;
    if (m_updating || index < 0 || !ds || !ds->Active() || m_field.isEmpty()) {
        Refresh();
        return;
    }
    const TField field = ds->FieldByName(m_field);
    const QString key = itemData(index).toString();
    m_writing = true;
    try {
        ds->Edit();
        field.SetAsString(key);
    } catch (...) {
        m_writing = false;
        Refresh();
        throw;
    }
    m_writing = false;
}
