#include "PackageInfo.h"
#include "ProjectGlobal.h"
#include "uUIProject.h"

namespace {
const char *const kUnits[] = {
    "uCDProject", "uUIProject", "uUIProjectEdit", "Unitprojectinfo",
    "uCDProductProject", "uUIProductProject", "uCDSearchproduct_pro", "uUISearchProduct_pro",
};
const char *const kRequires[] = {"QELCADBPipe2", "QELCAProductShow", "QELCommonCLX", "QELClientCLX", "QELDialogCLX"};
const PackageInfoTable kTable = {"QELUIProject", int(std::size(kUnits)), kUnits, int(std::size(kRequires)), kRequires};
int g_loads = 0;
} // namespace

extern "C" {

// Loading and unloading do the run-time's bookkeeping only: nothing is
// registered, created or acquired.
QELUIPROJECT_EXPORT void Initialize()
{
    ++g_loads;
}

QELUIPROJECT_EXPORT void Finalize()
{
    if (g_loads > 0)
        --g_loads;
}

QELUIPROJECT_EXPORT const PackageInfoTable *GetPackageInfoTable()
{
    return &kTable;
}

QELUIPROJECT_EXPORT QWidget *CreateFrmProject(QWidget *owner)
{
    auto *w = new TFrmProject(owner);
    FrmProject = w;
    return w;
}
}
