// The project list as a grid shows it, exported and printed to PDF.
#include "BenchCommon.h"
#include "BenchUi.h"
#include <DBGrid.h>
#include <DataSource.h>
#include <QDir>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <algorithm>
#include <cmath>
#include <QFileInfo>
#include <QTemporaryDir>

namespace bench {

namespace {

// The project list's columns as the main window's grid has them.
QList<GridColumn> projectColumns()
{
    return {{QStringLiteral("ID"), QStringLiteral("编   号"), 130},
            {QStringLiteral("CNAME"), QStringLiteral("演出项目"), 302},
            {QStringLiteral("CROSSDISCOUNT"), QStringLiteral("跨场折扣率(%)\r\n"), 132},
            {QStringLiteral("CROSTNUM"), QStringLiteral("跨场打折满足张数"), 181},
            {QStringLiteral("CROSSPNUM"), QStringLiteral("跨场打折满足场次数"), 170}};
}

// What a Qt programmer would write to print such a list: QPrinter writing a
// PDF, one QPainter, and on every page the title, the column titles, the
// page's rows as the dataset holds their text, and the page number. The same
// page, margins and font as the grid's export; no eliding, no alignment by kind.
int printPlain(const QList<GridColumn> &cols, const TQELClientDataSet &ds, const QString &title, const QFont &font, const QString &file)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
    QFont face = font;
    if (face.pointSizeF() <= 0)
        face.setPointSizeF(std::max(6.0, face.pixelSize() * 0.75));
    QPainter p(&printer);
    p.setFont(face);
    const QFontMetrics fm(face, &printer);
    const int width = printer.width(), height = printer.height();
    const int rowHeight = int(std::lround(fm.height() * 1.4));
    std::vector<int> field, x{0};
    int total = 0;
    for (const GridColumn &c : cols) {
        field.push_back(ds.FieldIndex(c.field));
        total += c.width;
    }
    for (const GridColumn &c : cols)
        x.push_back(x.back() + width * c.width / total);
    const int rows = ds.RecordCount();
    const int perPage = std::max(1, (height - 5 * rowHeight) / rowHeight);
    const int pages = std::max(1, (rows + perPage - 1) / perPage);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            printer.newPage();
        p.drawText(QRect(0, 0, width, rowHeight), Qt::AlignLeft | Qt::AlignVCenter, title);
        int y = 2 * rowHeight;
        for (int c = 0; c < cols.size(); ++c)
            p.drawText(QRect(x[size_t(c)], y, x[size_t(c) + 1] - x[size_t(c)], rowHeight), Qt::AlignLeft | Qt::AlignVCenter, cols[c].title);
        y += rowHeight;
        for (int r = page * perPage; r < std::min(rows, (page + 1) * perPage); ++r, y += rowHeight)
            for (int c = 0; c < cols.size(); ++c)
                p.drawText(QRect(x[size_t(c)], y, x[size_t(c) + 1] - x[size_t(c)], rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                           ds.text(ds.rowAt(r), field[size_t(c)]));
        p.drawText(QRect(0, height - rowHeight, width, rowHeight), Qt::AlignCenter, QStringLiteral("第 %1 页，共 %2 页").arg(page + 1).arg(pages));
    }
    return pages;
}

} // namespace

// The project list as a grid shows it (100,000 rows at full size), exported
// through the grid's own exporters into a folder of the build tree.
void bmExport(benchmark::State &st, Env *env)
{
    TQELDBGrid grid;
    grid.SetColumns({{QStringLiteral("ID"), QStringLiteral("编   号"), 130},
                     {QStringLiteral("CNAME"), QStringLiteral("演出项目"), 302},
                     {QStringLiteral("CROSSDISCOUNT"), QStringLiteral("跨场折扣率(%)\r\n"), 132},
                     {QStringLiteral("CROSTNUM"), QStringLiteral("跨场打折满足张数"), 181},
                     {QStringLiteral("CROSSPNUM"), QStringLiteral("跨场打折满足场次数"), 170}});
    grid.SetDataSource(env->cd->DSProject);
    env->cd->GetProject(QString());
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("export-XXXXXX")));
    const QString xlsx = dir.filePath(QStringLiteral("projects.xlsx")), csv = dir.filePath(QStringLiteral("projects.csv"));
    bmRotation(st, env, "export",
               {
                   {"xlsx", [&] { grid.ExportXlsx(xlsx); }, {}, {}},
                   {"csv", [&] { grid.ExportCsv(csv); }, {}, {}},
               });
    env->counts["export/rows"] = grid.model()->rowCount();
    env->counts["export/xlsx_bytes"] = double(QFileInfo(xlsx).size());
    env->counts["export/csv_bytes"] = double(QFileInfo(csv).size());
    grid.SetDataSource(nullptr);
}

// 导出为 PDF… on the project list as the main window's grid shows it: the
// grid's own action (the file name answered by the save hook), against a
// plain QPainter loop printing the same rows to a QPrinter PDF; at 1,000 and
// at 10,000 rows (the list cut to its first rows by a dataset filter), so that
// what grows faster than the rows shows in the ratio of the two.
void bmPrint(benchmark::State &st, Env *env)
{
    const QList<GridColumn> cols = projectColumns();
    const QString title = QStringLiteral("演出项目");
    TQELDBGrid grid;
    grid.SetColumns(cols);
    grid.SetExportName(title);
    grid.SetDataSource(env->cd->DSProject);
    TQELClientDataSet *ds = env->cd->cdsProject;
    env->cd->GetProject(QString());
    const int all = ds->RecordCount();
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("print-XXXXXX")));
    QString target;
    TQELDBGrid::SetSaveFileNameHook([&target](QWidget *, const QString &, const QString &, const QString &) { return target; });
    const auto rows = [&](int n, const char *name) {
        return [&, n, name] {
            target = dir.filePath(QStringLiteral("%1.pdf").arg(QLatin1String(name)));
            ds->SetFilter([n](const TQELClientDataSet &, int row) { return row < n; });
            ds->SetFiltered(true);
            settle();
        };
    };
    int printed = 0;
    const auto viaGrid = [&] { grid.ExportPdfAction()->trigger(); };
    const auto plain = [&] { printPlain(cols, *ds, title, grid.font(), target); };
    const auto shown = [&] { printed = ds->RecordCount(); };
    const int small = std::min(all, 1000), large = std::min(all, 10000);
    bmRotation(st, env, "print",
               {
                   {"pdf_small", viaGrid, {}, rows(small, "pdf_small")},
                   {"plain_small", plain, {}, rows(small, "plain_small")},
                   {"pdf", viaGrid, shown, rows(large, "pdf")},
                   {"plain", plain, {}, rows(large, "plain")},
               });
    TQELDBGrid::SetSaveFileNameHook({});
    ds->SetFiltered(false);
    ds->SetFilter({});
    grid.SetDataSource(nullptr);
    env->counts["print/rows"] = printed;
    env->counts["print/rows_small"] = small;
    for (const char *name : {"pdf", "plain"})
        env->counts[std::string("print/") + name + "_bytes"] = double(QFileInfo(dir.filePath(QStringLiteral("%1.pdf").arg(QLatin1String(name)))).size());
    if (printed != large || QFileInfo(dir.filePath(QStringLiteral("pdf.pdf"))).size() == 0)
        st.SkipWithError(QStringLiteral("%1 of %2 rows printed").arg(printed).arg(large).toStdString().c_str());
}

} // namespace bench
