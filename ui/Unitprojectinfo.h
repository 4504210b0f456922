#pragma once
#include "ProjectGlobal.h"
#include "ui_Unitprojectinfo.h"
#include <QDialog>
#include <QPointer>

// The dialog for one purchase limit. It knows nothing of IDs: the command that
// opens it maps the combo boxes' item indexes to IDs.
// The stored layout is a public base: its components keep their names.
class QELUIPROJECT_EXPORT TFormprojectinfo : public QDialog, public Ui::TFormprojectinfo {
    Q_OBJECT
public:
    explicit TFormprojectinfo(QWidget *owner = nullptr);
    ~TFormprojectinfo() override;

    void btnokClick(QObject *Sender);
    void cbblimit_typeChange(QObject *Sender);

    void reject() override;

protected:
    void showEvent(QShowEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
};

QELUIPROJECT_EXPORT extern QPointer<TFormprojectinfo> Formprojectinfo;
