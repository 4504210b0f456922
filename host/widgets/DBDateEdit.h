#pragma once
#include "DataSource.h"
#include "HostGlobal.h"
#include <QDateEdit>
#include <QPointer>

// A date editor (date only, calendar pop-up) bound to a time-stamp field of
// the current record of a data source's dataset. The operator's changes put
// the dataset into edit mode and stay pending until the owner posts them;
// an empty field shows as a blank editor (the editor's minimum date).
class QELHOST_EXPORT TQELDBDateEdit : public QDateEdit {
    Q_OBJECT
public:
    explicit TQELDBDateEdit(QWidget *parent = nullptr);

    void SetDataSource(TQELDataSource *source);
    TQELDataSource *DataSource() const { return m_source; }
    void SetDataField(const QString &field);
    QString DataField() const { return m_field; }

    // The field's date; invalid when the field is empty or there is no record.
    QDate FieldDate() const;
    // Shows the field's value again.
    void Refresh();

private:
    void write(const QDate &date);
    QPointer<TQELDataSource> m_source;
    QString m_field;
    bool m_refreshing = false; // showing the field: not the operator's change
    bool m_writing = false;    // writing the operator's change: the editor is already right
};
