#include "Context.h"

void TQELContext::SetAsString(const QString &context)
{
    m_text = context;
    m_fields = context.split(Separator);
}

QString TQELContext::Value(int i) const
{
    return i >= 0 && i < m_fields.size() ? m_fields[i] : QString();
}

QString TQELContext::Compose(const QStringList &fields)
{
    QStringList all = fields.mid(0, FieldCount);
    while (all.size() < FieldCount)
        all << QString();
    return all.join(Separator);
}

TQELCSnapIn::TQELCSnapIn(QObject *parent) : QObject(parent) {}

void TQELCSnapIn::SetContext(const QString &context)
{
    m_context = context;
    emit OnContextChange(this);
}
