#include "SqlText.h"

QString QuotedStr(const QString &value)
{
    QString out;
    out.reserve(value.size() + 2);
    out += QLatin1Char('\'');
    for (QChar c : value) {
        if (c == QLatin1Char('\''))
            out += QLatin1Char('\'');
        out += c;
    }
    out += QLatin1Char('\'');
    return out;
}

QString LikeOperand(const QString &text)
{
    // Ordinary filters keep the plain statement.
    if (!text.contains(QLatin1Char('\\')))
        return QuotedStr(QLatin1Char('%') + text + QLatin1Char('%'));
    QString body = text;
    body.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return QuotedStr(QLatin1Char('%') + body + QLatin1Char('%')) + QStringLiteral(" ESCAPE '\\'");
}
