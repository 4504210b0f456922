#include "SpinEdit.h"

TQELSpinEdit::TQELSpinEdit(QWidget *parent) : QSpinBox(parent)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

QValidator::State TQELSpinEdit::validate(QString &input, int &pos) const
{
    const QValidator::State s = QSpinBox::validate(input, pos);
    if (s != QValidator::Invalid)
        return s;
    // Digits beyond a bound are allowed while typing; fixup brings them back.
    static const QRegularExpression number(QStringLiteral("^\\s*[-+]?[0-9]{1,12}\\s*$"));
    return number.match(input).hasMatch() ? QValidator::Intermediate : QValidator::Invalid;
}

void TQELSpinEdit::fixup(QString &input) const
{
    bool ok = false;
    const qlonglong v = input.trimmed().toLongLong(&ok);
    const qlonglong bounded = ok ? std::clamp<qlonglong>(v, minimum(), maximum()) : minimum();
    input = QString::number(bounded);
}
