#include "Unitprojectinfo.h"
#include "FormSupport.h"
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>

QPointer<TFormprojectinfo> Formprojectinfo;

TFormprojectinfo::TFormprojectinfo(QWidget *owner) : QDialog(owner)
{
    setupUi(this);
    setFont(SongFont());
    setFixedSize(303, 254);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    connect(btnok, &QPushButton::clicked, this, Guarded([this](bool) { btnokClick(btnok); }));
    connect(btnCancel, &QPushButton::clicked, this, [this] { done(2); });
    // Only the operator's own picks and typing run the handler, not code.
    connect(cbblimit_type, &QComboBox::activated, this, Guarded([this](int) { cbblimit_typeChange(cbblimit_type); }));
    connect(cbblimit_type->lineEdit(), &QLineEdit::textEdited, this, Guarded([this](const QString &) { cbblimit_typeChange(cbblimit_type); }));
}

TFormprojectinfo::~TFormprojectinfo() = default;

void TFormprojectinfo::reject()
{
    done(2);
}

void TFormprojectinfo::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    if (e->spontaneous() || parentWidget())
        return;
    // No owner: centre on the application's main window all the same.
    const QWidget *main = QApplication::activeWindow();
    const QRect area = main && main != this ? main->frameGeometry() : (screen() ? screen()->availableGeometry() : QRect());
    if (area.isValid())
        move(area.center() - rect().center());
}

void TFormprojectinfo::keyPressEvent(QKeyEvent *e)
{
    // No default or cancel button: Enter and Esc mean nothing here.
    if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void TFormprojectinfo::btnokClick(QObject *)
{
    if (ComboItemIndex(cbbproject) < 0) {
        ShowMessage(QStringLiteral("请选择项目"));
        return;
    }
    if (cbblimit_type->currentText() == QStringLiteral("会员类别") && ComboItemIndex(cbbmemberclassname) < 0) {
        ShowMessage(QStringLiteral("请选择会员类别！"));
        return;
    }
    const QString quantity = edtlimitcount->text().trimmed();
    if (quantity.isEmpty()) {
        ShowMessage(QStringLiteral("请输入限购数量！"));
        return;
    }
    if (!IsLimitCount(quantity)) {
        ShowMessage(QStringLiteral("限购数量必须是整数！"));
        return;
    }
    done(1);
}

void TFormprojectinfo::cbblimit_typeChange(QObject *)
{
    if (cbblimit_type->currentText() == QStringLiteral("会员类别")) {
        cbbmemberclassname->setEnabled(true);
    } else {
        cbbmemberclassname->setEnabled(false);
        cbbmemberclassname->setCurrentIndex(-1);
    }
}
