#pragma once
#include "HostGlobal.h"
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <string>
#include <vector>

enum class FieldType { Integer, Float, Text, DateTime };

struct ColumnDef {
    QString name;
    FieldType type = FieldType::Text;
    int size = 0; // text width where the source gives one; 0 = unknown
};

// Result rows in a flat, column-wise store: one vector per column, text kept as
// UTF-8 in one buffer with offsets, so loading costs no allocation per cell.
// Time stamps are held as milliseconds since 0001-01-01 local (no time zone).
class QELHOST_EXPORT DataPacket {
public:
    struct Column {
        ColumnDef def;
        std::vector<int64_t> ints;     // Integer and DateTime
        std::vector<double> floats;    // Float
        std::string text;              // Text: all cells back to back
        std::vector<uint32_t> offsets; // Text only: start of cell i; end is offsets[i+1]
        std::vector<uint8_t> nulls;
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
    std::string_view utf8(int row, int col) const
    {
        const Column &c = m_columns[size_t(col)];
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
