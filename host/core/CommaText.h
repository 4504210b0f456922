#pragma once
#include "CoreGlobal.h"
#include <QString>
#include <QStringList>
#include <string_view>

// The list format for performance codes: items joined by ","; an item with a
// blank, a control character, a comma or a double quote (or an empty item) is
// written in double quotes with inner double quotes doubled.
QELCORE_EXPORT QString WriteCommaText(const QStringList &items);

// Builds the same text as WriteCommaText one item at a time, so a caller with
// tens of thousands of items never holds them as a list of strings.
class QELCORE_EXPORT CommaTextWriter {
public:
    void reserve(qsizetype chars) { m_out.reserve(chars); }
    void add(QStringView item);
    // Adds an item given as bytes when every byte is ASCII; false (and
    // nothing added) otherwise, so the caller can decode it and use add().
    bool addAscii(std::string_view item);
    // The text so far; the writer is empty afterwards.
    QString take();

private:
    void separate()
    {
        if (m_items++)
            m_out += QLatin1Char(',');
    }
    void addQuoted(QStringView item);
    QString m_out;
    qsizetype m_items = 0;
};
// Reads comma text: an item ends at a comma or, outside double quotes, at a blank.
QELCORE_EXPORT QStringList ReadCommaText(const QString &text);

// The same reading, handing each item to f as a view that lives until f
// returns: twenty thousand codes cost no string each.
template <class F>
void ReadCommaItems(QStringView text, F &&f)
{
    const auto blank = [](QChar c) { return c.unicode() <= 0x20; };
    const qsizetype n = text.size();
    qsizetype p = 0;
    while (p < n && blank(text[p]))
        ++p;
    while (p < n) {
        if (text[p] == QLatin1Char('"')) {
            QString item;
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
            f(QStringView(item));
        } else {
            const qsizetype start = p;
            while (p < n && !blank(text[p]) && text[p] != QLatin1Char(','))
                ++p;
            f(text.mid(start, p - start));
        }
        while (p < n && blank(text[p]))
            ++p;
        if (p < n && text[p] == QLatin1Char(',')) {
            ++p;
            // A trailing comma stands for one more, empty item.
            if (p == n)
                f(QStringView());
            while (p < n && blank(text[p]))
                ++p;
        }
    }
}
