#include "CommaText.h"

namespace {
bool needsQuotes(const QString &s)
{
    if (s.isEmpty())
        return true;
    for (QChar c : s)
        if (c.unicode() <= 0x20 || c == QLatin1Char(',') || c == QLatin1Char('"'))
            return true;
    return false;
}
bool blank(QChar c)
{
    return c.unicode() <= 0x20;
}
} // namespace

QString WriteCommaText(const QStringList &items)
{
    QString out;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i)
            out += QLatin1Char(',');
        const QString &s = items[i];
        if (needsQuotes(s)) {
            out += QLatin1Char('"');
            for (QChar c : s) {
                if (c == QLatin1Char('"'))
                    out += QLatin1Char('"');
                out += c;
            }
            out += QLatin1Char('"');
        } else {
            out += s;
        }
    }
    return out;
}

QStringList ReadCommaText(const QString &text)
{
    QStringList items;
    const qsizetype n = text.size();
    qsizetype p = 0;
    while (p < n && blank(text[p]))
        ++p;
    while (p < n) {
        QString item;
        if (text[p] == QLatin1Char('"')) {
            ++p;
            while (p < n) {
                if (text[p] == QLatin1Char('"')) {
                    if (p + 1 < n && text[p + 1] == QLatin1Char('"')) {
                        item += QLatin1Char('"');
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += text[p++];
            }
        } else {
            const qsizetype start = p;
            while (p < n && !blank(text[p]) && text[p] != QLatin1Char(','))
                ++p;
            item = text.mid(start, p - start);
        }
        items << item;
        while (p < n && blank(text[p]))
            ++p;
        if (p < n && text[p] == QLatin1Char(',')) {
            ++p;
            // A trailing comma stands for one more, empty item.
            if (p == n)
                items << QString();
            while (p < n && blank(text[p]))
                ++p;
        }
    }
    return items;
}

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
