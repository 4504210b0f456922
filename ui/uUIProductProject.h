#pragma once
#include "FormSupport.h"
#include "ProjectGlobal.h"
#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <memory>

namespace Ui {
class TFrmProductProject;
}
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolBar;
class QToolButton;
class TQELDBGrid;

// The modal window in which an operator manages the performances of one project.
class QELUIPROJECT_EXPORT TFrmProductProject : public QDialog {
    Q_OBJECT
public:
    explicit TFrmProductProject(QWidget *owner = nullptr);
    ~TFrmProductProject() override;

    QString Context;
    QString ProjectID;

    QFrame *Panel2;
    QToolBar *ToolBar1;
    QToolButton *ToolButton1, *ToolButton2, *ToolButton4, *ToolButton3;
    QFrame *Panel4;
    QLabel *Label1;
    QLineEdit *EdtProductName;
    QPushButton *BtnSearch;
    QFrame *Panel3;
    TQELDBGrid *dgrproduct;
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

private:
    std::unique_ptr<Ui::TFrmProductProject> ui;
};

QELUIPROJECT_EXPORT extern QPointer<TFrmProductProject> FrmProductProject;
