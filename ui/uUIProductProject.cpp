#include "uUIProductProject.h"
#include "uCDProductProject.h"
#include "uUISearchProduct_pro.h"
#include "ui_uUIProductProject.h"
#include <CommaText.h>
#include <DBGrid.h>
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <HostError.h>
#include <QShowEvent>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

QPointer<TFrmProductProject> FrmProductProject;

TFrmProductProject::TFrmProductProject(QWidget *owner) : QDialog(owner), ui(std::make_unique<Ui::TFrmProductProject>())
{
    ui->setupUi(this);
    Panel2 = ui->Panel2;
    Panel4 = ui->Panel4;
    Label1 = ui->Label1;
    EdtProductName = ui->EdtProductName;
    BtnSearch = ui->BtnSearch;
    Panel3 = ui->Panel3;
    dgrproduct = ui->dgrproduct;
    resize(778, 476);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);

    ImageList1 = ToolbarImages(this);
    ToolBar1 = new QToolBar(Panel2);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFont(SongFont());
    ToolBar1->setMovable(false);
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    Panel2->layout()->addWidget(ToolBar1);
    ToolButton1 = AddToolButton(ToolBar1, QStringLiteral("ToolButton1"), QStringLiteral("添加演出"), ImageList1.value(5));
    ToolButton2 = AddToolButton(ToolBar1, QStringLiteral("ToolButton2"), QStringLiteral("删除演出"), ImageList1.value(1));
    ToolButton4 = AddToolButton(ToolBar1, QStringLiteral("ToolButton4"), QStringLiteral("刷新"), ImageList1.value(2));
    ToolButton3 = AddToolButton(ToolBar1, QStringLiteral("ToolButton3"), QStringLiteral("关闭"), ImageList1.value(4));
    // The strip is 43 pixels high unless the captions need more.
    Panel2->setFixedHeight(std::max(43, ToolBar1->sizeHint().height() + 4));
    Panel4->setFont(SongFont());
    dgrproduct->setFont(SongFont());
    dgrproduct->SetMultiSelect(true);
    dgrproduct->SetColumns({
        {QStringLiteral("ProjectName"), QStringLiteral("演出项目"), 129},
        {QStringLiteral("PRODUCTCODE"), QStringLiteral("演出编码"), 97},
        {QStringLiteral("CNAME"), QStringLiteral("演出名称"), 240},
        {QStringLiteral("HappenTime"), QStringLiteral("上演时间"), 132},
        {QStringLiteral("PlaceName"), QStringLiteral("上演剧场"), 126},
    });

    connect(ToolButton1, &QToolButton::clicked, this, Guarded([this](bool) { ToolButton1Click(ToolButton1); }));
    connect(ToolButton2, &QToolButton::clicked, this, Guarded([this](bool) { ToolButton2Click(ToolButton2); }));
    connect(ToolButton4, &QToolButton::clicked, this, Guarded([this](bool) { ToolButton4Click(ToolButton4); }));
    connect(ToolButton3, &QToolButton::clicked, this, Guarded([this](bool) { ToolButton3Click(ToolButton3); }));
    connect(BtnSearch, &QPushButton::clicked, this, Guarded([this](bool) { BtnSearchClick(BtnSearch); }));
    connect(EdtProductName, &QLineEdit::returnPressed, this, Guarded([this] { BtnSearchClick(EdtProductName); }));
}

TFrmProductProject::~TFrmProductProject()
{
    FormDestroy(this);
}

void TFrmProductProject::reject()
{
    done(2);
}

void TFrmProductProject::showEvent(QShowEvent *e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous())
        Guarded([this] { FormShow(this); })();
}

void TFrmProductProject::FormShow(QObject *)
{
    if (cdProductProject && dgrproduct->DataSource() == cdProductProject->DSProductProject)
        return; // shown again: keep what is there
    cdProductProject = new TcdProductProject();
    dgrproduct->SetDataSource(cdProductProject->DSProductProject);
    cdProductProject->Context = Context;
    cdProductProject->ProjectID = ProjectID;
    cdProductProject->GetProductProject(QString());
}

void TFrmProductProject::FormDestroy(QObject *)
{
    dgrproduct->SetDataSource(nullptr);
    delete cdProductProject.data();
    cdProductProject = nullptr;
    if (FrmProductProject == this)
        FrmProductProject = nullptr;
}

void TFrmProductProject::BtnSearchClick(QObject *)
{
    cdProductProject->GetProductProject(EdtProductName->text());
}

void TFrmProductProject::ToolButton4Click(QObject *)
{
    cdProductProject->GetProductProject(QString());
}

void TFrmProductProject::ToolButton3Click(QObject *)
{
    done(2);
}

void TFrmProductProject::ToolButton1Click(QObject *)
{
    if (!cdProductProject)
        throw EHostError(QStringLiteral("演出列表尚未打开，无法添加演出。"));
    // Assignments to a project that does not exist (0 when the opener had no
    // project, or one deleted meanwhile at another desk) would be orphans.
    const bool exists = cdProductProject->ProjectExists(ProjectID);
    if (!exists) {
        ShowWarningMessage(QStringLiteral("项目（编号“%1”）不存在，可能已被删除，无法添加演出。请关闭本窗口，刷新项目列表后重新选择项目。").arg(ProjectID),
                           QStringLiteral("警告"));
        return;
    }

    std::exception_ptr failure;
    {
        QStringList codes;
        std::unique_ptr<TUISearchProduct_pro> dialog;
        try {
            dialog.reset(new TUISearchProduct_pro());
            UISearchProduct_pro = dialog.get();
            dialog->SnapIn->SetContext(Context);
            dialog->AllStatus = true;
            dialog->ExcludeProducts = cdProductProject->sgetproduct(ProjectID);
            // Only a confirmed choice is added: a pick left behind by a failed
            // OK must not be added when the operator then closes the dialog.
            const bool confirmed = dialog->exec() == 1;
            const QString picked = confirmed ? dialog->SelectedProducts : QString();
            if (!picked.isEmpty()) {
                codes = ReadCommaText(picked);
                const qsizetype count = codes.size();
                for (qsizetype i = 0; i < count; ++i) {
                    QString name;
                    if (cdProductProject->brepeat(codes[i], name))
                        ShowWarningMessage(QStringLiteral("演出: ") + name + QStringLiteral("已被其他项目使用！"), QStringLiteral("警告"));
                    else
                        cdProductProject->InsertProduct(ProjectID, codes[i]);
                }
            }
        } catch (...) {
            failure = std::current_exception();
        }
        dialog.reset();
        UISearchProduct_pro = nullptr;
    }
    // The list shows the outcome in every case; a failed reload must not hide the first failure.
    if (failure) {
        try {
            cdProductProject->GetProductProject(EdtProductName->text());
        } catch (...) {
        }
        std::rethrow_exception(failure);
    }
    cdProductProject->GetProductProject(EdtProductName->text());
}

void TFrmProductProject::ToolButton2Click(QObject *)
{
    if (ShowConfirmMessage(QStringLiteral("确认要删除此记录吗?"), QStringLiteral("请确认")) != mrYes)
        return;
    TQELClientDataSet *ds = cdProductProject->cdsProductProject;
    const QList<TQELClientDataSet::TBookmark> selected = dgrproduct->SelectedRows();
    QStringList gone; // already removed at another desk
    const auto remove = [&](const QString &code) {
        if (!cdProductProject->DelProductProject(ProjectID, code))
            gone << code;
    };
    if (selected.isEmpty()) {
        if (!ds->IsEmpty())
            remove(ds->FieldByName(QStringLiteral("ProductCode")).AsString());
    } else {
        const TField code = ds->FieldByName(QStringLiteral("ProductCode"));
        for (const TQELClientDataSet::TBookmark b : selected) {
            ds->GotoBookmark(b);
            remove(code.AsString());
        }
    }
    if (!gone.isEmpty())
        MessageBox(QStringLiteral("以下演出已不在本项目中（可能已被其他操作员删除）：") + gone.join(QStringLiteral("，")), QStringLiteral("信息提示"),
                   MB_ICONINFORMATION);
    cdProductProject->GetProductProject(EdtProductName->text());
}
