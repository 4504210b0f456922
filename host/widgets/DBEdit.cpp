#include "DBEdit.h"
#include "ErrorHandler.h"

TQELDBEdit::TQELDBEdit(QWidget *parent) : QLineEdit(parent)
{
    // The operator's typing only: text set from code is the field's already.
    connect(this, &QLineEdit::textEdited, this, Guarded([this](const QString &t) { write(t); }));
}

void TQELDBEdit::SetDataSource(TQELDataSource *source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source) {
        connect(m_source, &TQELDataSource::DataChange, this, &TQELDBEdit::Refresh);
        connect(m_source, &QAbstractItemModel::dataChanged, this, &TQELDBEdit::Refresh);
        connect(m_source, &QAbstractItemModel::modelReset, this, &TQELDBEdit::Refresh);
    }
    Refresh();
}

void TQELDBEdit::SetDataField(const QString &field)
{
    m_field = field;
    Refresh();
}

QString TQELDBEdit::FieldText() const
{
    const TQELClientDataSet *ds = m_source ? m_source->DataSet() : nullptr;
    if (!ds || !ds->Active() || m_field.isEmpty())
        return QString();
    const int f = ds->FieldIndex(m_field);
    const int row = ds->currentRow();
    if (f < 0 || (row < 0 && ds->State() != DataSetState::Insert))
        return QString();
    return ds->text(row, f);
}

void TQELDBEdit::Refresh()
{
    if (m_writing)
        return;
    const QString t = FieldText();
    if (t != text())
        setText(t); // only when it differs: the operator's cursor stays put
}

void TQELDBEdit::write(const QString &t)
{
    TQELClientDataSet *ds = m_source ? m_source->DataSet() : nullptr;
    if (!ds || !ds->Active() || m_field.isEmpty()) {
        Refresh();
        return;
    }
    const TField field = ds->FieldByName(m_field);
    m_writing = true;
    try {
        ds->Edit();
        field.SetAsString(t);
    } catch (...) {
        m_writing = false;
        Refresh();
        throw;
    }
    m_writing = false;
}
