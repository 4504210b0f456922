// A package whose main window takes no session context: the host must refuse
// to run it rather than open a window that sends an empty context.
#include <QWidget>

extern "C" {
Q_DECL_EXPORT void Initialize() {}
Q_DECL_EXPORT void Finalize() {}
Q_DECL_EXPORT QWidget *CreateFrmProject(QWidget *owner)
{
    return new QWidget(owner);
}
}
