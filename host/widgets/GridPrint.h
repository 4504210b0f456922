#pragma once
#include "HostGlobal.h"
#include <QString>

class ExportTable;
class QFont;
class QPagedPaintDevice;

// Draws a table on the pages of a printer or PDF writer as a list is shown:
// on every page the title and the date, the column titles, then the rows;
// "第 N 页，共 M 页" at the foot. The columns keep the proportions of the
// grid's widths, scaled to the page's width; a cell too long for its column
// is cut with an ellipsis. A cell sits as its column does in the grid (a
// table from elsewhere: numbers and times right, text left). Returns the
// number of pages.
QELHOST_EXPORT int PrintTable(const ExportTable &table, const QString &title, const QFont &font, QPagedPaintDevice &device);
