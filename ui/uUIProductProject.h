#pragma once
#include "FormSupport.h"
#include "ProjectGlobal.h"
#include "ui_uUIProductProject.h"
#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <functional>

class QToolBar;
class QToolButton;
class TQELChangeWatcher;

// The modal window in which an operator manages the performances of one project.
// The stored layout is a public base: its components keep their names.
class QELUIPROJECT_EXPORT TFrmProductProject : public QDialog, public Ui::TFrmProductProject {
    Q_OBJECT
public:
    explicit TFrmProductProject(QWidget *owner = nullptr);
    ~TFrmProductProject() override;

    QString Context;
    QString ProjectID;
    // Named in the list's count line; the opener knows it.
    QString ProjectName;

    // Made in code, in the layout's Panel2.
    QToolBar *ToolBar1;
    QToolButton *ToolButton1, *ToolButton2, *ToolButton4, *ToolButton3;
    QList<QIcon> ImageList1;
    // Marks the list when another desk changes this project's performances.
    TQELChangeWatcher *Watcher = nullptr;

    void FormShow(QObject *Sender);
    void FormDestroy(QObject *Sender);
    void BtnSearchClick(QObject *Sender);
    void ToolButton1Click(QObject *Sender);
    void ToolButton2Click(QObject *Sender);
    void ToolButton4Click(QObject *Sender);
    void ToolButton3Click(QObject *Sender);

    // The add and delete commands' work on many performances (the data
    // module's), with a progress dialog when it takes a while and the module's
    // messages shown as boxes; then the list is reloaded, also when the
    // command failed.
    void AddProducts(const QStringList &codes);
    void DeleteProducts(const QStringList &codes);

    void reject() override;

protected:
    void showEvent(QShowEvent *e) override;

private:
    // Runs a command that writes, then reloads the list under the filter text;
    // a failed reload does not hide the command's own failure.
    void runAndReload(const std::function<void()> &command);
};

QELUIPROJECT_EXPORT extern QPointer<TFrmProductProject> FrmProductProject;
