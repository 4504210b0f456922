#pragma once
#include "ProjectGlobal.h"
#include <QDialog>
#include <QPointer>
#include <memory>

namespace Ui {
class TFormprojectinfo;
}
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// The dialog for one purchase limit. It knows nothing of IDs: the command that
// opens it maps the combo boxes' item indexes to IDs.
class QELUIPROJECT_EXPORT TFormprojectinfo : public QDialog {
    Q_OBJECT
public:
    explicit TFormprojectinfo(QWidget *owner = nullptr);
    ~TFormprojectinfo() override;

    QComboBox *cbbproject, *cbblimit_type, *cbbmemberclassname;
    QLineEdit *edtlimitcount;
    QCheckBox *ckbenable;
    QPushButton *btnok, *btnCancel;

    void btnokClick(QObject *Sender);
    void cbblimit_typeChange(QObject *Sender);

    void reject() override;

protected:
    void showEvent(QShowEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;

private:
    std::unique_ptr<Ui::TFormprojectinfo> ui;
};

QELUIPROJECT_EXPORT extern QPointer<TFormprojectinfo> Formprojectinfo;
