#include "Gbk.h"
#include "HostError.h"
#include <QStringEncoder>
#include <optional>

namespace {
// One encoder per thread, dropped after any failure: Qt 6.4's ICU encoder
// keeps its error flag (and misreports) after resetState() or reassignment.
std::optional<QStringEncoder> &slot()
{
    thread_local std::optional<QStringEncoder> enc;
    return enc;
}

QStringEncoder &encoder()
{
    auto &enc = slot();
    if (!enc)
        enc.emplace("GBK", QStringConverter::Flag::Stateless);
    if (!enc->isValid())
        throw EHostError(QStringLiteral("本机缺少 GBK 编码支持，无法与数据库交换中文文字"));
    return *enc;
}

bool encodes(QStringEncoder &enc, QStringView s, QByteArray *out)
{
    QByteArray b = enc.encode(s);
    const bool ok = !enc.hasError();
    if (!ok)
        slot().reset();
    if (out)
        *out = std::move(b);
    return ok;
}

bool isAscii(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() >= 0x80 || c.unicode() == 0)
            return false;
    return true;
}

QString nulCharacter()
{
    return QStringLiteral("空字符（NUL）");
}

[[noreturn]] void refuse(const QString &text)
{
    const QString what = NonGbkCharacter(text);
    if (what.isEmpty())
        throw EHostError(QStringLiteral("文字无法转换为 GBK 编码。"));
    if (what == nulCharacter())
        throw EHostError(QStringLiteral("文字中含有%1，无法保存。请删除后重试。").arg(what));
    throw EHostError(QStringLiteral("文字中含有 GBK 编码无法表示的字符%1，无法保存。请删除或换用其他字符。").arg(what));
}
} // namespace

QString NonGbkCharacter(const QString &text)
{
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
        const QStringView ch = QStringView(text).mid(i, len);
        const char32_t cp = len == 2 ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1)) : text.at(i).unicode();
        if (cp == 0)
            return nulCharacter();
        if (!encodes(encoder(), ch, nullptr)) {
            const bool printable = len == 2 ? QChar::isPrint(cp) : text.at(i).isPrint();
            const QString code = QString::number(uint(cp), 16).toUpper().rightJustified(4, QLatin1Char('0'));
            return QStringLiteral("“%1”（U+%2）").arg(printable ? ch.toString() : QStringLiteral("?"), code);
        }
        i += len;
    }
    return QString();
}

bool IsGbkText(const QString &text)
{
    if (isAscii(text))
        return true;
    if (text.contains(QChar(0)))
        return false;
    return encodes(encoder(), text, nullptr);
}

void CheckGbkText(const QString &text)
{
    if (!IsGbkText(text))
        refuse(text);
}

QByteArray ToGbk(const QString &text)
{
    QByteArray out;
    if (!encodes(encoder(), text, &out) || text.contains(QChar(0)))
        refuse(text);
    return out;
}
