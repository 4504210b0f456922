#pragma once
#include "FormSupport.h"
#include "ProjectGlobal.h"
#include "ui_uUIProductProject.h"
#include <QDialog>
#include <QIcon>
#include <QPointer>

class QToolBar;
class QToolButton;

// The modal window in which an operator manages the performances of one project.
// The stored layout is a public base: its components keep their names.
class QELUIPROJECT_EXPORT TFrmProductProject : public QDialog, public Ui::TFrmProductProject {
    Q_OBJECT
public:
    explicit TFrmProductProject(QWidget *owner = nullptr);
    ~TFrmProductProject() override;

    QString Context;
    QString ProjectID;

    // Made in code, in the layout's Panel2.
    QToolBar *ToolBar1;
    QToolButton *ToolButton1, *ToolButton2, *ToolButton4, *ToolButton3;
    QList<QIcon> ImageList1;

    void FormShow(QObject *Sender);
    void FormDestroy(QObject *Sender);
    void BtnSearchClick(QObject *Sender);
    void ToolButton1Click(QObject *Sender);
    void ToolButton2Click(QObject *Sender);
    void ToolButton4Click(QObject *Sender);
    void ToolButton3Click(QObject *Sender);

    // The add and delete commands' work on many performances: in transactions
    // of several hundred, with a progress dialog when it takes a while. Each
    // performance keeps its own outcome: one assigned to any project is warned
    // about, a refused insert is reported, the others go in. DeleteProducts
    // returns the codes the project no longer held.
    void AddProducts(const QStringList &codes);
    QStringList DeleteProducts(const QStringList &codes);

    void reject() override;

protected:
    void showEvent(QShowEvent *e) override;
};

QELUIPROJECT_EXPORT extern QPointer<TFrmProductProject> FrmProductProject;
