#include "GridPrint.h"
#include "TableExport.h"
#include <QDate>
#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>
#include <algorithm>
#include <cmath>

int PrintTable(const ExportTable &table, const QString &title, const QFont &font, QPagedPaintDevice &device)
{
    const QList<ExportColumn> cols = table.columns();
    const int rows = table.rowCount();
    // Points, not pixels: a pixel size means a dot on the printer.
    QFont face = font;
    if (face.pointSizeF() <= 0)
        face.setPointSizeF(std::max(6.0, face.pixelSize() * 0.75));
    QPainter p(&device);
    p.setFont(face);
    const QFontMetrics fm(p.font(), &device);
    const int width = device.width(), height = device.height();
    const int line = fm.height();
    const int rowHeight = int(std::lround(line * 1.4));
    const int pad = std::max(1, fm.averageCharWidth() / 2);
    QFont bold = face;
    bold.setBold(true);

    // The grid's widths, scaled to fill the page.
    double total = 0;
    for (const ExportColumn &c : cols)
        total += std::max(1, c.widthPixels);
    std::vector<int> x(size_t(cols.size()) + 1, 0);
    for (int c = 0; c < cols.size(); ++c)
        x[size_t(c) + 1] = x[size_t(c)] + int(width * std::max(1, cols[c].widthPixels) / std::max(1.0, total));
    x.back() = width;

    const int top = rowHeight * 2 + rowHeight; // title line, a gap, then the column titles
    const int foot = rowHeight * 2;
    const int perPage = std::max(1, (height - top - foot) / rowHeight);
    const int pages = std::max(1, (rows + perPage - 1) / perPage);
    const QString date = QStringLiteral("打印日期：%1").arg(QDate::currentDate().toString(Qt::ISODate));
    ExportCell cell;
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            device.newPage();
        p.setFont(bold);
        p.drawText(QRect(0, 0, width, rowHeight), Qt::AlignLeft | Qt::AlignVCenter, title);
        p.setFont(face);
        p.drawText(QRect(0, 0, width, rowHeight), Qt::AlignRight | Qt::AlignVCenter, date);
        int y = rowHeight * 2;
        p.setFont(bold);
        for (int c = 0; c < cols.size(); ++c) {
            const QRect r(x[size_t(c)] + pad, y, x[size_t(c) + 1] - x[size_t(c)] - 2 * pad, rowHeight);
            p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, fm.elidedText(cols[c].title, Qt::ElideRight, r.width()));
        }
        p.setFont(face);
        y += rowHeight;
        p.drawLine(0, y, width, y);
        const int first = page * perPage, last = std::min(rows, first + perPage);
        for (int r = first; r < last; ++r) {
            for (int c = 0; c < cols.size(); ++c) {
                table.cell(r, c, cell);
                if (cell.kind == ExportCell::Blank)
                    continue;
                const QRect box(x[size_t(c)] + pad, y, x[size_t(c) + 1] - x[size_t(c)] - 2 * pad, rowHeight);
                const Qt::Alignment align = cols[c].horizontalAlignment ? Qt::Alignment(cols[c].horizontalAlignment)
                                            : cell.kind == ExportCell::Text ? Qt::AlignLeft
                                                                            : Qt::AlignRight;
                p.drawText(box, align | Qt::AlignVCenter, fm.elidedText(QString::fromUtf8(cell.text), Qt::ElideRight, box.width()));
            }
            y += rowHeight;
        }
        p.drawLine(0, y, width, y);
        p.drawText(QRect(0, height - rowHeight, width, rowHeight), Qt::AlignHCenter | Qt::AlignVCenter,
                   QStringLiteral("第 %1 页，共 %2 页").arg(page + 1).arg(pages));
    }
    return pages;
}
