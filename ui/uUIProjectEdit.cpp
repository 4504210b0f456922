#include "uUIProjectEdit.h"
#include <utility>
#include "FormSupport.h"
#include "uCDProject.h"
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <HostError.h>
#include <QKeyEvent>

QPointer<TfrmProjectEdit> frmProjectEdit;

TfrmProjectEdit::TfrmProjectEdit(QWidget *owner) : QDialog(owner)
{
    setupUi(this);
    setFont(SongFont());
    setFixedSize(599, 215);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    connect(btnOK, &QPushButton::clicked, this, Guarded([this](bool) { btnOKClick(btnOK); }));
    connect(btnCancel, &QPushButton::clicked, this, [this] { done(2); });
}

TfrmProjectEdit::~TfrmProjectEdit() = default;

void TfrmProjectEdit::reject()
{
    done(2);
}

void TfrmProjectEdit::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous())
        Guarded([this] { FormShow(this); })();
}

void TfrmProjectEdit::keyPressEvent(QKeyEvent *e)
{
    // Neither Enter nor Esc means anything to this dialog.
    if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void TfrmProjectEdit::FormShow(QObject *)
{
    edtProjectName->setText(FProjectName);
    spdCrossDiscount->setValue(FCrossDiscount);
    spdCrossTNum->setValue(FCrossTNum);
    spdCrossPNum->setValue(FCrossPNum);
}

QString &TfrmProjectEdit::uncertainSave()
{
    static QString name;
    return name;
}

void TfrmProjectEdit::RememberUncertainSave(const QString &name) { uncertainSave() = name; }

void TfrmProjectEdit::btnOKClick(QObject *)
{
    // A value typed out of range is brought to the nearest bound, as on losing focus.
    for (QSpinBox *s : {spdCrossDiscount, spdCrossTNum, spdCrossPNum})
        s->interpretText();
    const QString name = edtProjectName->text();
    if (name.trimmed().isEmpty()) {
        ShowWarningMessage(QStringLiteral("项目名称不能为空!"), QStringLiteral("警告"));
        return;
    }
    if (!CDProject)
        throw EHostError(QStringLiteral("项目数据模块未创建，无法检查项目名"));
    if (!CDProject->ChkProName(FProjectID, name)) {
        if (FProjectID < 0 && std::exchange(uncertainSave(), QString()) == name)
            ShowWarningMessage(QStringLiteral("该项目名已经存在：上次新建“%1”时连接在服务器确认之前断开，这很可能就是那次已经保存的项目。请刷新列表核对，不要重复新建。").arg(name),
                               QStringLiteral("警告"));
        else
            ShowWarningMessage(QStringLiteral("该项目名已经存在，请重新输入!"), QStringLiteral("警告"));
        edtProjectName->setFocus();
        return;
    }
    FProjectName = name;
    FCrossDiscount = spdCrossDiscount->value();
    FCrossTNum = spdCrossTNum->value();
    FCrossPNum = spdCrossPNum->value();
    done(1);
}
