#include "BatchLimitDialog.h"
#include "FieldTitles.h"
#include "FormSupport.h"
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
enum Column { Name, Id, Quantity, Enable };
} // namespace

TFrmBatchLimits::TFrmBatchLimits(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("TFrmBatchLimits"));
    setWindowTitle(QStringLiteral("批量设置限购"));
    setFont(SongFont());
    cbbproject = new QComboBox(this);
    cbbproject->setEditable(true);
    cbbproject->setInsertPolicy(QComboBox::NoInsert);
    edtlimitcount = new QLineEdit(this);
    ckbenable = new QCheckBox(FieldTitles::Enable(), this);
    ckbenable->setChecked(true);
    tblClasses = new QTableWidget(0, 4, this);
    tblClasses->setHorizontalHeaderLabels({FieldTitles::MemberClass(), QStringLiteral("编号"), FieldTitles::MaxNum(), FieldTitles::Enable()});
    tblClasses->verticalHeader()->hide();
    tblClasses->horizontalHeader()->setSectionResizeMode(Name, QHeaderView::Stretch);
    tblClasses->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblClasses->setTabKeyNavigation(false);
    auto *all = new QHBoxLayout;
    all->addWidget(new QLabel(FieldTitles::MaxNum(), this));
    all->addWidget(edtlimitcount);
    all->addWidget(ckbenable);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("项目"), cbbproject);
    form->addRow(QStringLiteral("所有勾选的类别"), all);
    btnok = new QPushButton(QStringLiteral("确定"), this);
    btnCancel = new QPushButton(QStringLiteral("取消"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnok);
    buttons->addWidget(btnCancel);
    auto *page = new QVBoxLayout(this);
    page->addLayout(form);
    page->addWidget(new QLabel(QStringLiteral("勾选要设置限购的会员类别（数量和是否可用可按类别修改）："), this));
    page->addWidget(tblClasses);
    page->addLayout(buttons);
    resize(460, 420);

    // The values for all set every row; a cell changed afterwards keeps its own.
    connect(edtlimitcount, &QLineEdit::textEdited, this, [this](const QString &text) {
        for (int r = 0; r < tblClasses->rowCount(); ++r)
            tblClasses->item(r, Quantity)->setText(text.trimmed());
    });
    connect(ckbenable, &QCheckBox::toggled, this, [this](bool on) {
        for (int r = 0; r < tblClasses->rowCount(); ++r)
            tblClasses->item(r, Enable)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    });
    connect(btnok, &QPushButton::clicked, this, Guarded([this](bool) { btnokClick(); }));
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmBatchLimits::SetClasses(const QStringList &ids, const QStringList &names)
{
    tblClasses->setRowCount(int(ids.size()));
    for (int r = 0; r < ids.size(); ++r) {
        auto *name = new QTableWidgetItem(names.value(r));
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        name->setCheckState(Qt::Unchecked);
        auto *id = new QTableWidgetItem(ids[r]);
        id->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        auto *enable = new QTableWidgetItem;
        enable->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        enable->setCheckState(ckbenable->isChecked() ? Qt::Checked : Qt::Unchecked);
        tblClasses->setItem(r, Name, name);
        tblClasses->setItem(r, Id, id);
        tblClasses->setItem(r, Quantity, new QTableWidgetItem(edtlimitcount->text().trimmed()));
        tblClasses->setItem(r, Enable, enable);
    }
}

QList<TCDProject::TNewLimit> TFrmBatchLimits::Picked() const
{
    QList<TCDProject::TNewLimit> out;
    for (int r = 0; r < tblClasses->rowCount(); ++r)
        if (tblClasses->item(r, Name)->checkState() == Qt::Checked)
            out.append({tblClasses->item(r, Id)->text(), tblClasses->item(r, Quantity)->text().trimmed(),
                        tblClasses->item(r, Enable)->checkState() == Qt::Checked ? QStringLiteral("1") : QStringLiteral("0")});
    return out;
}

QString TFrmBatchLimits::ClassName(const QString &id) const
{
    for (int r = 0; r < tblClasses->rowCount(); ++r)
        if (tblClasses->item(r, Id)->text() == id)
            return tblClasses->item(r, Name)->text();
    return id;
}

void TFrmBatchLimits::btnokClick()
{
    if (ComboItemIndex(cbbproject) < 0) {
        ShowMessage(QStringLiteral("请选择项目"));
        return;
    }
    const QList<TCDProject::TNewLimit> picked = Picked();
    if (picked.isEmpty()) {
        ShowMessage(QStringLiteral("请选择会员类别！"));
        return;
    }
    for (int r = 0; r < tblClasses->rowCount(); ++r) {
        if (tblClasses->item(r, Name)->checkState() != Qt::Checked)
            continue;
        const QString quantity = tblClasses->item(r, Quantity)->text().trimmed();
        if (quantity.isEmpty() || !IsLimitCount(quantity)) {
            tblClasses->setCurrentCell(r, Quantity);
            ShowMessage(QStringLiteral("%1：%2").arg(tblClasses->item(r, Name)->text(),
                                                    quantity.isEmpty() ? QStringLiteral("请输入限购数量！") : QStringLiteral("限购数量必须是整数！")));
            return;
        }
    }
    accept();
}
