#include "DatabaseAddress.h"
#include <QRegularExpression>

namespace DatabaseAddress {
namespace {

// A password as written in the address, and as libpq reads it.
struct Secret {
    qsizetype from, to;
    QString read;
};

QList<Secret> secrets(const QString &a)
{
    QList<Secret> found;
    if (a.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive))
        return found;
    // keyword=value; else any scheme://user:password@… (also one this program does not know) by the URI's rules.
    const qsizetype scheme = a.indexOf(QLatin1String("://")), eq = a.indexOf(QLatin1Char('='));
    if (scheme < 0 || (eq >= 0 && eq < scheme)) {
        for (const Item &i : items(a))
            if (i.key == QLatin1String("password") && i.valueFrom < i.to)
                found.append({i.valueFrom, i.to, i.value});
        return found;
    }
    const auto decoded = [&a](qsizetype from, qsizetype to) { return QString::fromUtf8(QByteArray::fromPercentEncoding(a.mid(from, to - from).toUtf8())); };
    // User info as libpq finds it: up to the first '@' before any '/'.
    const qsizetype start = scheme + 3;
    qsizetype at = start;
    while (at < a.size() && a[at] != QLatin1Char('@') && a[at] != QLatin1Char('/'))
        ++at;
    qsizetype rest = start;
    if (at < a.size() && a[at] == QLatin1Char('@')) {
        const qsizetype colon = a.indexOf(QLatin1Char(':'), start);
        if (colon >= 0 && colon + 1 < at)
            found.append({colon + 1, at, decoded(colon + 1, at)});
        rest = at + 1;
    }
    const qsizetype q = a.indexOf(QLatin1Char('?'), rest);
    for (qsizetype from = q + 1; q >= 0 && from <= a.size();) {
        qsizetype end = a.indexOf(QLatin1Char('&'), from);
        if (end < 0)
            end = a.size();
        const qsizetype sep = a.indexOf(QLatin1Char('='), from);
        if (sep >= 0 && sep < end && a.mid(from, sep - from) == QLatin1String("password") && sep + 1 < end)
            found.append({sep + 1, end, decoded(sep + 1, end)});
        from = end + 1;
    }
    return found;
}

bool isSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\f') || c == QLatin1Char('\v');
}

} // namespace

bool isUri(const QString &address)
{
    return address.startsWith(QLatin1String("postgresql://")) || address.startsWith(QLatin1String("postgres://"));
}

QString normalized(const QString &address)
{
    if (address.compare(QLatin1String("postgresql:"), Qt::CaseInsensitive) == 0 || address.compare(QLatin1String("postgres:"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("postgresql://");
    return address;
}

bool isServer(const QString &address)
{
    if (address.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive))
        return false;
    return address.startsWith(QLatin1String("postgresql:"), Qt::CaseInsensitive) || address.startsWith(QLatin1String("postgres:"), Qt::CaseInsensitive)
        || address.contains(QLatin1Char('='));
}

bool hasPassword(const QString &address)
{
    return !secrets(address).isEmpty();
}

QString masked(const QString &address)
{
    QString out = address;
    const QList<Secret> found = secrets(address);
    for (auto s = found.crbegin(); s != found.crend(); ++s)
        out.replace(s->from, s->to - s->from, QStringLiteral("***"));
    return out;
}

QString hidePassword(const QString &text, const QString &address)
{
    const QList<Secret> found = secrets(address);
    if (found.isEmpty())
        return text;
    QString out = text;
    out.replace(address, masked(address));
    // Only where it stands apart from letters and digits: a short password
    // must not eat into the words of the message.
    for (const Secret &s : found)
        for (const QString &piece : {address.mid(s.from, s.to - s.from), s.read})
            if (!piece.isEmpty())
                out.replace(QRegularExpression(QStringLiteral("(?<![[:alnum:]])%1(?![[:alnum:]])").arg(QRegularExpression::escape(piece))), QStringLiteral("***"));
    return out;
}

QList<Item> items(const QString &s)
{
    QList<Item> list;
    qsizetype p = 0;
    const qsizetype n = s.size();
    while (true) {
        while (p < n && isSpace(s[p]))
            ++p;
        if (p >= n)
            return list;
        Item item;
        item.from = p;
        while (p < n && s[p] != QLatin1Char('=') && !isSpace(s[p]))
            ++p;
        item.key = s.mid(item.from, p - item.from);
        while (p < n && isSpace(s[p]))
            ++p;
        if (p >= n || s[p] != QLatin1Char('='))
            return list;
        ++p;
        while (p < n && isSpace(s[p]))
            ++p;
        item.valueFrom = p;
        if (p < n && s[p] == QLatin1Char('\'')) {
            for (++p;; ++p) {
                if (p >= n)
                    return list; // unterminated
                if (s[p] == QLatin1Char('\\') && p + 1 < n)
                    item.value += s[++p];
                else if (s[p] == QLatin1Char('\''))
                    break;
                else
                    item.value += s[p];
            }
            ++p;
        } else {
            for (; p < n && !isSpace(s[p]); ++p) {
                if (s[p] == QLatin1Char('\\') && p + 1 < n)
                    ++p;
                item.value += s[p];
            }
        }
        item.to = p;
        list.append(item);
    }
}

} // namespace DatabaseAddress
