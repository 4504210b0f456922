#include "DataPacket.h"
#include "Gbk.h"
#include "HostError.h"
#include <QStringDecoder>
#include <charconv>
#include <cmath>

namespace {
constexpr qint64 kDayMs = 86400000LL;
}

int DataPacket::columnIndex(const QString &name) const
{
    for (size_t i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].def.name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

QString DataPacket::text(int row, int col) const
{
    const Column &c = m_columns[size_t(col)];
    if (c.nulls[size_t(row)])
        return QString();
    switch (c.def.type) {
    case FieldType::Integer: {
        // The digits QString::number gives, without its locale-aware road.
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, c.ints[size_t(row)]);
        return QString::fromLatin1(digits, qsizetype(r.ptr - digits));
    }
    case FieldType::Float: return QString::number(c.floats[size_t(row)], 'g', 15);
    case FieldType::DateTime: return formatStamp(c.ints[size_t(row)]);
    case FieldType::Text: {
        const auto v = utf8(row, col);
        // fromUtf8 drops a leading byte order mark; stored text keeps it.
        if (v.size() >= 3 && v.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            QStringDecoder keepBom(QStringDecoder::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
            return keepBom(QByteArrayView(v.data(), qsizetype(v.size())));
        }
        return QString::fromUtf8(v.data(), qsizetype(v.size()));
    }
    }
    return QString();
}

qint64 DataPacket::integer(int row, int col) const
{
    const Column &c = m_columns[size_t(col)];
    if (c.nulls[size_t(row)])
        return 0;
    switch (c.def.type) {
    case FieldType::Integer: return c.ints[size_t(row)];
    case FieldType::Float: return qint64(c.floats[size_t(row)]);
    case FieldType::DateTime: return c.ints[size_t(row)];
    case FieldType::Text: {
        const auto v = utf8(row, col);
        bool ok = false;
        const qint64 n = QByteArray(v.data(), qsizetype(v.size())).trimmed().toLongLong(&ok);
        return ok ? n : 0;
    }
    }
    return 0;
}

double DataPacket::real(int row, int col) const
{
    const Column &c = m_columns[size_t(col)];
    if (c.nulls[size_t(row)])
        return 0;
    if (c.def.type == FieldType::Float)
        return c.floats[size_t(row)];
    if (c.def.type == FieldType::Text)
        return text(row, col).trimmed().toDouble();
    return double(c.ints[size_t(row)]);
}

QDateTime DataPacket::dateTime(int row, int col) const
{
    const Column &c = m_columns[size_t(col)];
    if (c.nulls[size_t(row)])
        return QDateTime();
    if (c.def.type == FieldType::DateTime)
        return dateTimeFromStamp(c.ints[size_t(row)]);
    if (c.def.type == FieldType::Text) {
        qint64 st = 0;
        if (parseStamp(utf8(row, col), st))
            return dateTimeFromStamp(st);
    }
    return QDateTime();
}

QVariant DataPacket::value(int row, int col) const
{
    const Column &c = m_columns[size_t(col)];
    if (c.nulls[size_t(row)])
        return QVariant();
    switch (c.def.type) {
    case FieldType::Integer: return QVariant(qlonglong(c.ints[size_t(row)]));
    case FieldType::Float: return QVariant(c.floats[size_t(row)]);
    case FieldType::DateTime: return QVariant(dateTimeFromStamp(c.ints[size_t(row)]));
    case FieldType::Text: return QVariant(text(row, col));
    }
    return QVariant();
}

int DataPacket::addColumn(const ColumnDef &def)
{
    Column c;
    c.def = def;
    if (def.type == FieldType::Text)
        c.offsets.push_back(0);
    m_columns.push_back(std::move(c));
    Column &added = m_columns.back();
    for (int r = 0; r < m_rows; ++r) {
        pad(added);
        added.nulls.push_back(1);
    }
    return int(m_columns.size()) - 1;
}

void DataPacket::reserve(int rows)
{
    for (Column &c : m_columns) {
        c.nulls.reserve(size_t(rows));
        if (c.def.type == FieldType::Text)
            c.offsets.reserve(size_t(rows) + 1);
        else if (c.def.type == FieldType::Float)
            c.floats.reserve(size_t(rows));
        else
            c.ints.reserve(size_t(rows));
    }
}

// Appends the neutral value of a cell so all vectors stay aligned.
void DataPacket::pad(Column &c)
{
    switch (c.def.type) {
    case FieldType::Text: c.offsets.push_back(uint32_t(c.text.size())); break;
    case FieldType::Float: c.floats.push_back(0); break;
    default: c.ints.push_back(0); break;
    }
}

void DataPacket::appendRow()
{
    // Cells start out null; each set* overwrites its column's last slot.
    for (Column &c : m_columns) {
        pad(c);
        c.nulls.push_back(1);
    }
    ++m_rows;
}

void DataPacket::setNull(int col)
{
    Column &c = m_columns[size_t(col)];
    c.nulls.back() = 1;
    if (c.def.type == FieldType::Text) {
        c.text.resize(c.offsets[c.offsets.size() - 2]);
        c.offsets.back() = uint32_t(c.text.size());
    }
}

void DataPacket::setInteger(int col, qint64 v)
{
    Column &c = m_columns[size_t(col)];
    switch (c.def.type) {
    case FieldType::Integer:
    case FieldType::DateTime: c.ints.back() = v; break;
    case FieldType::Float: c.floats.back() = double(v); break;
    case FieldType::Text: setText(col, std::string_view(QByteArray::number(v).constData())); return;
    }
    c.nulls.back() = 0;
}

void DataPacket::setReal(int col, double v)
{
    Column &c = m_columns[size_t(col)];
    switch (c.def.type) {
    case FieldType::Integer:
    case FieldType::DateTime: c.ints.back() = qint64(v); break;
    case FieldType::Float: c.floats.back() = v; break;
    case FieldType::Text: setText(col, QString::number(v, 'g', 15)); return;
    }
    c.nulls.back() = 0;
}

void DataPacket::setText(int col, std::string_view s)
{
    Column &c = m_columns[size_t(col)];
    switch (c.def.type) {
    case FieldType::Text: {
        const uint32_t start = c.offsets[c.offsets.size() - 2];
        c.text.resize(start);
        c.text.append(s.data(), s.size());
        c.offsets.back() = uint32_t(c.text.size());
        break;
    }
    case FieldType::Integer: {
        // SQLite keeps any value in any column: read the whole text as a
        // number or refuse it, never a prefix ("1.0e+19" is not 1).
        const QByteArray t = QByteArray(s.data(), qsizetype(s.size())).trimmed();
        if (t.isEmpty())
            return setNull(col); // no number at all
        bool ok = false;
        qint64 v = t.toLongLong(&ok);
        if (!ok) {
            const double d = t.toDouble(&ok);
            // 2^63 is the first double past the range.
            ok = ok && d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0;
            v = ok ? qint64(d) : 0;
        }
        if (!ok)
            throw EHostError(QStringLiteral("数据库字段“%1”中的值“%2”不是整数，无法读取").arg(c.def.name, QString::fromUtf8(t)));
        c.ints.back() = v;
        break;
    }
    case FieldType::Float: {
        const QByteArray t = QByteArray(s.data(), qsizetype(s.size())).trimmed();
        if (t.isEmpty())
            return setNull(col);
        bool ok = false;
        c.floats.back() = t.toDouble(&ok);
        if (!ok)
            throw EHostError(QStringLiteral("数据库字段“%1”中的值“%2”不是数字，无法读取").arg(c.def.name, QString::fromUtf8(t)));
        break;
    }
    case FieldType::DateTime: {
        qint64 st = 0;
        if (!parseStamp(s, st))
            return; // unreadable time stays null
        c.ints.back() = st;
        break;
    }
    }
    c.nulls.back() = 0;
}

void DataPacket::setText(int col, const QString &s)
{
    // UTF-8 has no form for an unpaired surrogate (toUtf8 would store '?'):
    // refuse it as the pipe refuses any text the database cannot hold.
    if (!QStringView(s).isValidUtf16()) {
        CheckGbkText(s);
        throw EHostError(QStringLiteral("文字中含有无效的字符编码，无法保存。"));
    }
    const QByteArray u = s.toUtf8();
    setText(col, std::string_view(u.constData(), size_t(u.size())));
}

void DataPacket::setDateTime(int col, qint64 stamp)
{
    Column &c = m_columns[size_t(col)];
    if (c.def.type == FieldType::Text) {
        setText(col, formatStamp(stamp));
        return;
    }
    if (c.def.type == FieldType::Float)
        c.floats.back() = double(stamp);
    else
        c.ints.back() = stamp;
    c.nulls.back() = 0;
}

void DataPacket::setValue(int col, const QVariant &v)
{
    if (!v.isValid() || v.isNull()) {
        setNull(col);
        return;
    }
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Bool: setInteger(col, v.toLongLong()); break;
    case QMetaType::Double:
    case QMetaType::Float: setReal(col, v.toDouble()); break;
    case QMetaType::QDateTime: setDateTime(col, stampFromDateTime(v.toDateTime())); break;
    case QMetaType::QDate: setDateTime(col, stampFromDateTime(QDateTime(v.toDate(), QTime(0, 0)))); break;
    default: setText(col, v.toString()); break;
    }
}

namespace {
template <class V>
void shrink(V &v)
{
    // Copying costs about what growing did; only worth it for a real gain.
    if (v.capacity() - v.size() > v.size() / 8 + 64)
        v.shrink_to_fit();
}
} // namespace

void DataPacket::squeeze()
{
    for (Column &c : m_columns) {
        shrink(c.ints);
        shrink(c.floats);
        shrink(c.text);
        shrink(c.offsets);
        shrink(c.nulls);
    }
}

qint64 DataPacket::bytesUsed() const
{
    qint64 n = 0;
    for (const Column &c : m_columns)
        n += qint64(c.ints.capacity() * 8 + c.floats.capacity() * 8 + c.text.capacity() + c.offsets.capacity() * 4 + c.nulls.capacity());
    return n;
}

qint64 DataPacket::stampFromDateTime(const QDateTime &dt)
{
    return dt.date().toJulianDay() * kDayMs + dt.time().msecsSinceStartOfDay();
}

QDateTime DataPacket::dateTimeFromStamp(qint64 stamp)
{
    const qint64 day = stamp >= 0 ? stamp / kDayMs : -((-stamp + kDayMs - 1) / kDayMs);
    return QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(stamp - day * kDayMs)));
}

namespace {
bool digits(std::string_view s, size_t pos, size_t n, int &out)
{
    if (pos + n > s.size())
        return false;
    int v = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
}
} // namespace

bool DataPacket::parseStamp(std::string_view s, qint64 &stamp)
{
    int y, mo, d, h = 0, mi = 0, sec = 0, ms = 0;
    if (!digits(s, 0, 4, y) || s.size() < 10 || s[4] != '-' || !digits(s, 5, 2, mo) || s[7] != '-' || !digits(s, 8, 2, d))
        return false;
    if (s.size() > 10) {
        if ((s[10] != ' ' && s[10] != 'T') || !digits(s, 11, 2, h) || s.size() < 16 || s[13] != ':' || !digits(s, 14, 2, mi))
            return false;
        if (s.size() > 16 && s[16] == ':') {
            if (!digits(s, 17, 2, sec))
                return false;
            if (s.size() > 19 && s[19] == '.') {
                int frac = 0, n = 0;
                for (size_t i = 20; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++n)
                    if (n < 3)
                        frac = frac * 10 + (s[i] - '0');
                for (int k = n; k < 3; ++k)
                    frac *= 10;
                ms = frac;
            }
        }
    }
    if (h > 23 || mi > 59 || sec > 59)
        return false;
    // Loads come ordered or clustered by day: the calendar is asked once per
    // run of equal dates, not once per row.
    thread_local int lastYmd = -1;
    thread_local qint64 lastDay = 0;
    const int ymd = (y * 100 + mo) * 100 + d;
    if (ymd != lastYmd) {
        const QDate date(y, mo, d);
        if (!date.isValid())
            return false;
        lastDay = date.toJulianDay();
        lastYmd = ymd;
    }
    stamp = lastDay * kDayMs + ((h * 60 + mi) * 60 + sec) * 1000LL + ms;
    return true;
}

QString DataPacket::formatStamp(qint64 stamp)
{
    return dateTimeFromStamp(stamp).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}
