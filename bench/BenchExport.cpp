// The project list as a grid shows it, exported.
#include "BenchCommon.h"
#include <DBGrid.h>
#include <DataSource.h>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace bench {

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

} // namespace bench
