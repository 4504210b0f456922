#pragma once
#include "DataSource.h"
#include "HostGlobal.h"
#include <QComboBox>
#include <QPointer>

// A look-up combo box: its items are the rows of a list data source (shown by
// ListField), and picking one writes that row's KeyField into DataField of the
// current record of the bound data source (left pending, the owner posts).
// With an empty entry, the first item stands for "no choice" and writes the
// empty text.
class QELHOST_EXPORT TQELDBLookupComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TQELDBLookupComboBox(QWidget *parent = nullptr);

    void SetDataSource(TQELDataSource *source);
    TQELDataSource *DataSource() const { return m_source; }
    void SetDataField(const QString &field);
    QString DataField() const { return m_field; }

    void SetListSource(TQELDataSource *list);
    TQELDataSource *ListSource() const { return m_list; }
    void SetKeyField(const QString &field);
    QString KeyField() const { return m_keyField; }
    void SetListField(const QString &field);
    QString ListField() const { return m_listField; }

    // Adds (or removes) the leading "no choice" entry.
    void SetEmptyEntry(bool on, const QString &text = QString());
    bool EmptyEntry() const { return m_emptyEntry; }

    // The key of the chosen item; empty for "no choice" or none.
    QString KeyValue() const;
    // Picks the item with this key as the operator would (empty: "no choice").
    // False when no item has that key; nothing is written then.
    bool SelectKey(const QString &key);

    // Refills the items from the list, then shows the bound value again.
    void RebuildList();
    void Refresh();

private:
    void pick(int index);
    QPointer<TQELDataSource> m_source;
    QPointer<TQELDataSource> m_list;
    QString m_field, m_keyField, m_listField;
    bool m_emptyEntry = false;
    QString m_emptyText;
    bool m_updating = false; // items or selection changed here, not by the operator
    bool m_writing = false;
};
