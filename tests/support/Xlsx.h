#pragma once
#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Reads an .xlsx file back through openpyxl (tests/support/xlsx_dump.py):
// {"rows": [[cell…]…], "widths": {"A": w…}, "titleBold": [...]}, a cell being
// null or {"t": "s"|"n"|"d", "v": value, "f": number format of a date-time}.
// An empty object, with error set, when the file cannot be read.
inline QJsonObject readXlsx(const QString &path, QString *error = nullptr)
{
    QProcess p;
    // Debian's own interpreter: the one python3-openpyxl installs into.
    const QString python = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
    p.start(python, {QStringLiteral(QEL_SOURCE_DIR "/tests/support/xlsx_dump.py"), path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        if (error)
            *error = QString::fromUtf8(p.readAllStandardError()) + p.errorString();
        return QJsonObject();
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

// One row of the sheet as readable text: s:… for text, n:… for a number,
// d:…|format for a date-time, - for an empty cell.
inline QStringList xlsxRow(const QJsonObject &sheet, int row)
{
    QStringList out;
    const QJsonArray cells = sheet.value(QStringLiteral("rows")).toArray().at(row).toArray();
    for (const QJsonValue &c : cells) {
        if (c.isNull()) {
            out << QStringLiteral("-");
            continue;
        }
        const QJsonObject o = c.toObject();
        const QString t = o.value(QStringLiteral("t")).toString();
        if (t == QLatin1String("n"))
            out << QStringLiteral("n:") + QString::number(o.value(QStringLiteral("v")).toDouble(), 'g', 17);
        else if (t == QLatin1String("d"))
            out << QStringLiteral("d:") + o.value(QStringLiteral("v")).toString() + QLatin1Char('|') + o.value(QStringLiteral("f")).toString();
        else
            out << t + QLatin1Char(':') + o.value(QStringLiteral("v")).toVariant().toString();
    }
    // openpyxl pads short rows with empty cells up to the sheet's width.
    while (!out.isEmpty() && out.last() == QLatin1String("-"))
        out.removeLast();
    return out;
}

inline int xlsxRowCount(const QJsonObject &sheet) { return int(sheet.value(QStringLiteral("rows")).toArray().size()); }
