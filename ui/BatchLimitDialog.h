#pragma once
#include "ProjectGlobal.h"
#include "uCDProject.h"
#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

// "批量设置限购": one project, any number of member classes, one quantity
// and 是否可用 for all of them, or per class in the table.
class QELUIPROJECT_EXPORT TFrmBatchLimits : public QDialog {
    Q_OBJECT
public:
    explicit TFrmBatchLimits(QWidget *owner = nullptr);

    QComboBox *cbbproject;
    QLineEdit *edtlimitcount; // for every class; a cell may differ
    QCheckBox *ckbenable;     // likewise
    QTableWidget *tblClasses; // 会员类别 (ticked: set), 编号, 限购数量, 是否可用
    QPushButton *btnok, *btnCancel;

    void SetClasses(const QStringList &ids, const QStringList &names);
    // The ticked classes with their values, as the table holds them.
    QList<TCDProject::TNewLimit> Picked() const;
    // The ticked classes' names, by ID.
    QString ClassName(const QString &id) const;

    void btnokClick();
};
