#include "CommaText.h"
#include <utility>

namespace {
bool special(char16_t c)
{
    return c <= 0x20 || c == u',' || c == u'"';
}
bool needsQuotes(QStringView s)
{
    if (s.isEmpty())
        return true;
    for (QChar c : s)
        if (special(c.unicode()))
            return true;
    return false;
}
} // namespace

void CommaTextWriter::addQuoted(QStringView s)
{
    m_out += QLatin1Char('"');
    qsizetype from = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('"')) {
            m_out.append(s.mid(from, i + 1 - from));
            m_out += QLatin1Char('"');
            from = i + 1;
        }
    }
    m_out.append(s.mid(from));
    m_out += QLatin1Char('"');
}

void CommaTextWriter::add(QStringView item)
{
    separate();
    if (needsQuotes(item))
        addQuoted(item);
    else
        m_out.append(item);
}

bool CommaTextWriter::addAscii(std::string_view item)
{
    bool plain = !item.empty();
    for (const char c : item) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80)
            return false;
        plain = plain && !special(u);
    }
    separate();
    const QLatin1String latin(item.data(), qsizetype(item.size()));
    if (plain) {
        m_out.append(latin);
    } else {
        // Rare: quoting is easier on the decoded item.
        addQuoted(QString(latin));
    }
    return true;
}

QString CommaTextWriter::take()
{
    m_items = 0;
    return std::exchange(m_out, QString());
}

QString WriteCommaText(const QStringList &items)
{
    CommaTextWriter w;
    qsizetype chars = 0;
    for (const QString &s : items)
        chars += s.size() + 1;
    if (chars > 0)
        w.reserve(chars);
    for (const QString &s : items)
        w.add(s);
    return w.take();
}

QStringList ReadCommaText(const QString &text)
{
    QStringList items;
    ReadCommaItems(text, [&items](QStringView item) { items << item.toString(); });
    return items;
}
