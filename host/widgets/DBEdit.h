#pragma once
#include "DataSource.h"
#include "HostGlobal.h"
#include <QLineEdit>
#include <QPointer>

// A one-line text box bound to a text field of the current record of a data
// source's dataset. What the operator types puts the dataset into edit mode
// and stays pending until the owner posts it; a change of the record from
// code (a reset, another row) shows in the box.
class QELHOST_EXPORT TQELDBEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TQELDBEdit(QWidget *parent = nullptr);

    void SetDataSource(TQELDataSource *source);
    TQELDataSource *DataSource() const { return m_source; }
    void SetDataField(const QString &field);
    QString DataField() const { return m_field; }

    // The field's text; empty when there is no record.
    QString FieldText() const;
    // Shows the field's value again.
    void Refresh();

private:
    void write(const QString &text);
    QPointer<TQELDataSource> m_source;
    QString m_field;
    bool m_writing = false; // writing the operator's change: the box is already right
};
