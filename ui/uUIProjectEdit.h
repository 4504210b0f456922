#pragma once
#include "ProjectGlobal.h"
#include "ui_uUIProjectEdit.h"
#include <QDialog>
#include <QPointer>

// The modal dialog for a project's name and its three discount values.
// The stored layout is a public base: its components keep their names.
class QELUIPROJECT_EXPORT TfrmProjectEdit : public QDialog, public Ui::TfrmProjectEdit {
    Q_OBJECT
public:
    explicit TfrmProjectEdit(QWidget *owner = nullptr);
    ~TfrmProjectEdit() override;

    int CrossTNum() const { return FCrossTNum; }
    int CrossPNum() const { return FCrossPNum; }
    int CrossDiscount() const { return FCrossDiscount; }
    QString ProjectName() const { return FProjectName; }
    qint64 ProjectID() const { return FProjectID; }

    void SetCrossTNum(int v) { FCrossTNum = v; }
    void SetCrossPNum(int v) { FCrossPNum = v; }
    void SetCrossDiscount(int v) { FCrossDiscount = v; }
    void SetProjectName(const QString &v) { FProjectName = v; }
    void SetProjectID(qint64 v) { FProjectID = v; }

    void FormShow(QObject *Sender);
    void btnOKClick(QObject *Sender);
    // A new project's save whose outcome nobody could tell: when the operator
    // tries the same name again and it exists, the refusal says it is most
    // likely that save's project.
    static void RememberUncertainSave(const QString &name);

    // Closing the dialog any other way than OK gives 2.
    void reject() override;

protected:
    void showEvent(QShowEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    static QString &uncertainSave();
    int FCrossTNum = 0;
    int FCrossPNum = 0;
    int FCrossDiscount = 0;
    QString FProjectName;
    qint64 FProjectID = 0;
};

QELUIPROJECT_EXPORT extern QPointer<TfrmProjectEdit> frmProjectEdit;
