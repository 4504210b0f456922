#include "uUIProductProject.h"
#include "uCDProductProject.h"
#include "FieldTitles.h"
#include "uUISearchProduct_pro.h"
#include <ChangeWatcher.h>
#include <CommaText.h>
#include <DBGrid.h>
#include <DeskLayout.h>
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <HostError.h>
#include <Pipe.h>
#include <QScopeGuard>
#include <QShortcut>
#include <QShowEvent>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <memory>

QPointer<TFrmProductProject> FrmProductProject;

TFrmProductProject::TFrmProductProject(QWidget *owner) : QDialog(owner)
{
    setupUi(this);
    resize(778, 476);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);

    ImageList1 = ToolbarImages(this);
    ToolBar1 = AddFormToolBar(Panel2);
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
        {QStringLiteral("ProjectName"), FieldTitles::ProjectName(), 129},
        {QStringLiteral("PRODUCTCODE"), FieldTitles::ProductCode(), 97},
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
    AddCommandKey(this, ToolButton1, QKeySequence(Qt::Key_Insert), QStringLiteral("Insert"));
    AddCommandKey(this, ToolButton2, QKeySequence(Qt::Key_Delete), QStringLiteral("Delete"));
    AddCommandKey(this, ToolButton4, QKeySequence(Qt::Key_F5), QStringLiteral("F5"));
    AddFindKey(this, [this] { return EdtProductName; });

    Watcher = new TQELChangeWatcher(this);
    connect(Watcher, &TQELChangeWatcher::Changed, this, [this](const QList<TChangeNotice> &notices) {
        for (const TChangeNotice &n : notices)
            if (n.Table.isEmpty() || (n.Table != QLatin1String("limit") && QString::number(n.ProjectID) == ProjectID))
                dgrproduct->SetStale(true);
    });
    TQELDeskLayout::Remember(this, TQELDeskLayout::Keep::ColumnWidths); // its size, place and order are designed
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
    dgrproduct->SetCountPrefix(ProjectName.isEmpty() ? QStringLiteral("项目编号 %1").arg(ProjectID)
                                                     : QStringLiteral("项目：%1（编号 %2）").arg(ProjectName, ProjectID));
    cdProductProject->GetProductProject(QString());
    Watcher->Start();
}

void TFrmProductProject::FormDestroy(QObject *)
{
    Watcher->Stop();
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

namespace {
// The module's messages as the operator sees them, and its progress in the dialog.
TBulkCallbacks boxes(BulkProgress &progress)
{
    return {[&progress](qsizetype done) { progress.step(done); },
            [](TBulkNote note, const QString &text) {
                switch (note) {
                case TBulkNote::Assigned: ShowWarningMessage(text, QStringLiteral("警告")); break;
                case TBulkNote::Refused: ShowMessage(text); break;
                case TBulkNote::Gone: MessageBox(text, QStringLiteral("信息提示"), MB_ICONINFORMATION); break;
                }
            }};
}

void addAll(QWidget *window, const QString &projectId, const QStringList &codes)
{
    BulkProgress progress(window, QStringLiteral("正在添加演出……"), codes.size());
    cdProductProject->AddProducts(projectId, codes, boxes(progress));
}
} // namespace

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

    runAndReload([&] {
        QStringList codes;
        {
            std::unique_ptr<TUISearchProduct_pro> dialog(new TUISearchProduct_pro());
            UISearchProduct_pro = dialog.get();
            const auto forget = qScopeGuard([] { UISearchProduct_pro = nullptr; });
            dialog->SnapIn->SetContext(Context);
            dialog->AllStatus = true;
            dialog->ExcludeProducts = cdProductProject->sgetproduct(ProjectID);
            // Only a confirmed choice is added: a pick left behind by a failed
            // OK must not be added when the operator then closes the dialog.
            const bool confirmed = dialog->exec() == 1;
            const QString picked = confirmed ? dialog->SelectedProducts : QString();
            if (!picked.isEmpty())
                codes = ReadCommaText(picked);
        } // the dialog is gone before the work starts, as the pick is all that is needed
        if (!codes.isEmpty())
            addAll(this, ProjectID, codes);
    });
}

void TFrmProductProject::ToolButton2Click(QObject *)
{
    if (ShowConfirmMessage(QStringLiteral("确认要删除此记录吗?"), QStringLiteral("请确认")) != mrYes)
        return;
    TQELClientDataSet *ds = cdProductProject->cdsProductProject;
    // The codes are read from the rows in one pass; the cursor stays where it is.
    QStringList codes = dgrproduct->SelectedTexts(QStringLiteral("ProductCode"));
    if (codes.isEmpty() && !ds->IsEmpty())
        codes << ds->FieldByName(QStringLiteral("ProductCode")).AsString();
    DeleteProducts(codes);
}

void TFrmProductProject::runAndReload(const std::function<void()> &command)
{
    if (!cdProductProject)
        throw EHostError(QStringLiteral("演出列表尚未打开，无法修改演出。"));
    TQELClientDataSet *ds = cdProductProject->cdsProductProject;
    const QString current = ds->IsEmpty() ? QString() : ds->FieldByName(QStringLiteral("ProductCode")).AsString();
    try {
        command();
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        // After a failure the row the operator stood on stays current where it
        // is still listed, so the command repeated acts on the same performance.
        try {
            cdProductProject->GetProductProject(EdtProductName->text());
            if (!current.isEmpty())
                ds->Locate(QStringLiteral("ProductCode"), current);
        } catch (...) {
        }
        std::rethrow_exception(failure);
    }
    // As after any reload: the first row is current.
    cdProductProject->GetProductProject(EdtProductName->text());
}

void TFrmProductProject::AddProducts(const QStringList &codes)
{
    runAndReload([&] { addAll(this, ProjectID, codes); });
}

void TFrmProductProject::DeleteProducts(const QStringList &codes)
{
    runAndReload([&] {
        BulkProgress progress(this, QStringLiteral("正在删除演出……"), codes.size());
        cdProductProject->DelProducts(ProjectID, codes, boxes(progress));
    });
}
