#pragma once
#include "CoreGlobal.h"
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// A growable array of plain values in one malloc block. Growing and the
// final trim go through realloc, which moves or extends large blocks in
// place (mremap, the heap's top) where std::vector and std::string copy
// every byte loaded so far; loading 300,000 rows grows each column ~20 times.
template <class T>
class PodBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodBuffer() = default;
    PodBuffer(const PodBuffer &o)
    {
        if (o.m_size) {
            setCapacity(o.m_size);
            std::memcpy(m_p, o.m_p, o.m_size * sizeof(T));
        }
        m_size = o.m_size;
    }
    PodBuffer(PodBuffer &&o) noexcept
        : m_p(std::exchange(o.m_p, nullptr)), m_size(std::exchange(o.m_size, 0)), m_cap(std::exchange(o.m_cap, 0))
    {
    }
    PodBuffer &operator=(PodBuffer o) noexcept
    {
        std::swap(m_p, o.m_p);
        std::swap(m_size, o.m_size);
        std::swap(m_cap, o.m_cap);
        return *this;
    }
    ~PodBuffer() { std::free(m_p); }

    size_t size() const { return m_size; }
    size_t capacity() const { return m_cap; }
    bool empty() const { return m_size == 0; }
    T *data() { return m_p; }
    const T *data() const { return m_p; }
    T &operator[](size_t i) { return m_p[i]; }
    const T &operator[](size_t i) const { return m_p[i]; }
    T &back() { return m_p[m_size - 1]; }
    const T &back() const { return m_p[m_size - 1]; }

    void push_back(T v)
    {
        if (m_size == m_cap)
            grow(m_size + 1);
        m_p[m_size++] = v;
    }
    void append(const T *src, size_t n)
    {
        if (m_size + n > m_cap)
            grow(m_size + n);
        if (n)
            std::memcpy(m_p + m_size, src, n * sizeof(T));
        m_size += n;
    }
    void resize(size_t n)
    {
        reserve(n);
        if (n > m_size)
            std::fill(m_p + m_size, m_p + n, T());
        m_size = n;
    }
    void assign(size_t n, T v)
    {
        m_size = 0;
        reserve(n);
        std::fill(m_p, m_p + n, v);
        m_size = n;
    }
    void reserve(size_t n)
    {
        if (n > m_cap)
            setCapacity(n);
    }
    void shrink_to_fit()
    {
        if (m_cap > m_size)
            setCapacity(m_size);
    }

private:
    void grow(size_t need) { setCapacity(std::max({need, m_cap * 2, size_t(64 / sizeof(T) + 1)})); }
    void setCapacity(size_t n)
    {
        if (n == 0) {
            std::free(m_p);
            m_p = nullptr;
            m_cap = 0;
            return;
        }
        void *p = std::realloc(m_p, n * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        m_p = static_cast<T *>(p);
        m_cap = n;
    }
    T *m_p = nullptr;
    size_t m_size = 0, m_cap = 0;
};

enum class FieldType { Integer, Float, Text, DateTime };

struct ColumnDef {
    QString name;
    FieldType type = FieldType::Text;
    int size = 0; // text width where the source gives one; 0 = unknown
};

// Result rows in a flat, column-wise store: one vector per column, text kept as
// UTF-8 in one buffer with offsets, so loading costs no allocation per cell.
// Time stamps are held as milliseconds since 0001-01-01 local (no time zone).
class QELCORE_EXPORT DataPacket {
public:
    struct Column {
        ColumnDef def;
        PodBuffer<int64_t> ints;     // Integer and DateTime
        PodBuffer<double> floats;    // Float
        PodBuffer<char> text;        // Text: all cells back to back
        PodBuffer<uint32_t> offsets; // Text only: start of cell i; end is offsets[i+1]
        PodBuffer<uint8_t> nulls;
    };

    DataPacket() = default;

    int columnCount() const { return int(m_columns.size()); }
    int rowCount() const { return m_rows; }
    const ColumnDef &column(int c) const { return m_columns[size_t(c)].def; }
    const Column &columnData(int c) const { return m_columns[size_t(c)]; }
    // Case-insensitive lookup; -1 when absent.
    int columnIndex(const QString &name) const;

    bool isNull(int row, int col) const { return m_columns[size_t(col)].nulls[size_t(row)] != 0; }
    QString text(int row, int col) const;
    qint64 integer(int row, int col) const;
    double real(int row, int col) const;
    QDateTime dateTime(int row, int col) const;
    QVariant value(int row, int col) const;
    // Raw UTF-8 of a text cell (no copy).
    std::string_view utf8(int row, int col) const { return utf8(m_columns[size_t(col)], row); }
    static std::string_view utf8(const Column &c, int row)
    {
        const uint32_t b = c.offsets[size_t(row)], e = c.offsets[size_t(row) + 1];
        return std::string_view(c.text.data() + b, e - b);
    }

    // Building, row by row: appendRow(), then one set* per column (unset stays null).
    int addColumn(const ColumnDef &def);
    // Only while the packet has no rows.
    void setColumnType(int col, FieldType type)
    {
        Column &c = m_columns[size_t(col)];
        c.def.type = type;
        // Text cells need their start offset; other types keep none.
        c.offsets.assign(type == FieldType::Text ? 1 : 0, 0);
    }
    void reserve(int rows);
    // Room for this many bytes of a text column's cells.
    void reserveText(int col, size_t bytes) { m_columns[size_t(col)].text.reserve(bytes); }
    void appendRow();
    void setNull(int col);
    void setInteger(int col, qint64 v);
    void setReal(int col, double v);
    void setText(int col, std::string_view utf8);
    void setText(int col, const QString &s);
    void setDateTime(int col, qint64 stamp);
    void setValue(int col, const QVariant &v);

    // Loading straight from an engine, cheaper than appendRow + set*: startRow(),
    // then exactly one put* for every column, in column order.
    void startRow() { ++m_rows; }
    void putNull(int col)
    {
        Column &c = m_columns[size_t(col)];
        pad(c);
        c.nulls.push_back(1);
    }
    void putInteger(int col, qint64 v)
    {
        Column &c = m_columns[size_t(col)];
        if (c.def.type != FieldType::Integer)
            return putConverted(col, [&] { setInteger(col, v); });
        c.ints.push_back(v);
        c.nulls.push_back(0);
    }
    void putReal(int col, double v)
    {
        Column &c = m_columns[size_t(col)];
        if (c.def.type != FieldType::Float)
            return putConverted(col, [&] { setReal(col, v); });
        c.floats.push_back(v);
        c.nulls.push_back(0);
    }
    void putText(int col, std::string_view utf8)
    {
        Column &c = m_columns[size_t(col)];
        if (c.def.type != FieldType::Text)
            return putConverted(col, [&] { setText(col, utf8); });
        c.text.append(utf8.data(), utf8.size());
        c.offsets.push_back(uint32_t(c.text.size()));
        c.nulls.push_back(0);
    }
    // Gives back what growing left unused, once loading is done.
    void squeeze();
    // Rewrites every non-null stamp of a DateTime column in place: f(stamp).
    template <class F>
    void mapStamps(int col, F f)
    {
        Column &c = m_columns[size_t(col)];
        if (c.def.type != FieldType::DateTime)
            return;
        for (size_t r = 0; r < c.ints.size(); ++r)
            if (!c.nulls[r])
                c.ints[r] = f(c.ints[r]);
    }

    qint64 bytesUsed() const;

    static qint64 stampFromDateTime(const QDateTime &dt);
    static QDateTime dateTimeFromStamp(qint64 stamp);
    // Parses "yyyy-MM-dd[ T]hh:mm[:ss[.zzz...]]" or "yyyy-MM-dd"; false if not a time stamp.
    static bool parseStamp(std::string_view s, qint64 &stamp);
    static QString formatStamp(qint64 stamp);

private:
    template <class F>
    void putConverted(int col, F set)
    {
        putNull(col);
        set();
    }
    void pad(Column &c);
    std::vector<Column> m_columns;
    int m_rows = 0;
};
