#include "DBDateEdit.h"
#include "ErrorHandler.h"

namespace {
// The editor's minimum date stands for "no date"; it shows as a blank.
const QDate kNoDate(1900, 1, 1);
} // namespace

TQELDBDateEdit::TQELDBDateEdit(QWidget *parent) : QDateEdit(parent)
{
    setCalendarPopup(true);
    setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    setMinimumDate(kNoDate);
    setSpecialValueText(QStringLiteral(" "));
    setDate(kNoDate);
    connect(this, &QDateEdit::dateChanged, this, Guarded([this](QDate d) {
                if (!m_refreshing)
                    write(d);
            }));
}

void TQELDBDateEdit::SetDataSource(TQELDataSource *source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source) {
        // Any change of content, cursor or state may show another value.
        connect(m_source, &TQELDataSource::DataChange, this, &TQELDBDateEdit::Refresh);
        connect(m_source, &QAbstractItemModel::dataChanged, this, &TQELDBDateEdit::Refresh);
        connect(m_source, &QAbstractItemModel::modelReset, this, &TQELDBDateEdit::Refresh);
    }
    Refresh();
}

void TQELDBDateEdit::SetDataField(const QString &field)
{
    m_field = field;
    Refresh();
}

QDate TQELDBDateEdit::FieldDate() const
{
    const TQELClientDataSet *ds = m_source ? m_source->DataSet() : nullptr;
    if (!ds || !ds->Active() || m_field.isEmpty())
        return QDate();
    const int f = ds->FieldIndex(m_field);
    const int row = ds->currentRow();
    if (f < 0 || row < 0 || ds->isNull(row, f))
        return QDate();
    return ds->dateTime(row, f).date();
}

void TQELDBDateEdit::Refresh()
{
    if (m_writing)
        return;
    const QDate d = FieldDate();
    const QDate shown = d.isValid() && d >= kNoDate ? d : kNoDate;
    if (shown == date())
        return; // keep the operator's cursor where it is
    m_refreshing = true;
    setDate(shown);
    m_refreshing = false;
}

void TQELDBDateEdit::write(const QDate &date)
{
    TQELClientDataSet *ds = m_source ? m_source->DataSet() : nullptr;
    if (!ds || !ds->Active() || m_field.isEmpty()) {
        Refresh(); // nothing to write to: show what is there
        return;
    }
    const TField field = ds->FieldByName(m_field);
    m_writing = true;
    try {
        ds->Edit();
        if (date <= kNoDate)
            field.Clear();
        else
            field.SetAsDateTime(QDateTime(date, QTime(0, 0)));
    } catch (...) {
        m_writing = false;
        Refresh();
        throw;
    }
    m_writing = false;
}
