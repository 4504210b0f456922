#pragma once
#include "CoreGlobal.h"
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <vector>

class QIODevice;

// Writing a table of shown values to a file: CSV (UTF-8 with a byte order
// mark, RFC 4180 quoting, CRLF) or an Excel workbook (.xlsx). Both write to a
// hidden temporary file in the target's folder and rename it over the target
// only once it is complete, so a failure never leaves a partial file under
// the chosen name. A symbolic link is followed to the file it names, which
// is written (the link stays). The open embedded database's files and a file
// the operator may not write are refused. A failure throws EHostError saying
// why, in Chinese.

enum class ExportKind { Text, Number, DateTime };

struct ExportColumn {
    QString title;
    ExportKind kind = ExportKind::Text;
    int widthPixels = 64;
    // Where a printed cell sits across its column, as the grid shows it
    // (Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter); 0: by the cell's kind.
    int horizontalAlignment = 0;
};

// One cell: what it shows (UTF-8) and, for numbers and times, its value.
// A cell may be of another kind than its column (a number too large for a
// spreadsheet's double goes as text).
struct ExportCell {
    enum Kind { Blank, Text, Number, DateTime } kind = Blank;
    QByteArray text;
    double number = 0;
    qint64 stamp = 0; // DataPacket's time stamp: milliseconds since 0001-01-01, local
};

class QELCORE_EXPORT ExportTable {
public:
    virtual ~ExportTable();
    virtual QList<ExportColumn> columns() const = 0;
    virtual int rowCount() const = 0;
    // Fills one cell; out is reused from cell to cell, so set every member that counts.
    virtual void cell(int row, int column, ExportCell &out) const = 0;
};

// A table held in memory, row by row.
class QELCORE_EXPORT ExportRows : public ExportTable {
public:
    QList<ExportColumn> cols;
    std::vector<std::vector<ExportCell>> rows;

    QList<ExportColumn> columns() const override { return cols; }
    int rowCount() const override { return int(rows.size()); }
    void cell(int row, int column, ExportCell &out) const override;
};

// True when a spreadsheet would take a text cell beginning so as a formula
// (=, +, -, @, a tab or a carriage return). CSV and copied text write such a
// cell with a leading apostrophe; numbers are cells of their own kind and
// never get one. CSV writes a text cell of digits that a spreadsheet would
// turn into a number (a leading zero, more than 15 digits) as ="0012".
QELCORE_EXPORT bool StartsLikeFormula(const QByteArray &text);

// Writes a file by the same rules as the exports (a link's file, the open
// database and read-only files refused, a temporary file renamed over the
// target only when write returns): write fills the device; a failure throws.
QELCORE_EXPORT void ExportToFile(const QString &fileName, const std::function<void(QIODevice &)> &write);

// The bytes of the CSV file ExportCsv writes.
QELCORE_EXPORT QByteArray CsvBytes(const ExportTable &table);
QELCORE_EXPORT void ExportCsv(const ExportTable &table, const QString &fileName);
// One sheet: bold titles, text as text, numbers as numbers, times as date-times
// ("yyyy-mm-dd hh:mm"), each column about as wide as its width in pixels.
QELCORE_EXPORT void ExportXlsx(const ExportTable &table, const QString &fileName);
