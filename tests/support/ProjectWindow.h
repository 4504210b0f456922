#pragma once
#include "uUIProject.h"

// Opens the main project window as the host does: the package's global points
// at it, the session context is set, and it is shown. The caller frees it.
inline TFrmProject *openProjectWindow(const QString &context)
{
    auto *w = new TFrmProject();
    FrmProject = w;
    w->SetContext(context);
    w->show();
    return w;
}
