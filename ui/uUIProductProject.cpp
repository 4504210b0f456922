#include "uUIProductProject.h"
#include "uCDProductProject.h"
#include "uUISearchProduct_pro.h"
#include <CommaText.h>
#include <DBGrid.h>
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <HostError.h>
#include <Pipe.h>
#include <QShortcut>
#include <QShowEvent>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <optional>
#include <utility>

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
    AddCommandKey(this, ToolButton1, QKeySequence(Qt::Key_Insert), QStringLiteral("Insert"));
    AddCommandKey(this, ToolButton2, QKeySequence(Qt::Key_Delete), QStringLiteral("Delete"));
    AddCommandKey(this, ToolButton4, QKeySequence(Qt::Key_F5), QStringLiteral("F5"));
    AddFindKey(this, [this] { return EdtProductName; });
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
                dialog.reset(); // gone before the work starts, as the pick is all that is needed
                UISearchProduct_pro = nullptr;
                AddProducts(codes);
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
    // The codes are read from the rows in one pass; the cursor stays where it is.
    QStringList codes = dgrproduct->SelectedTexts(QStringLiteral("ProductCode"));
    if (codes.isEmpty() && !ds->IsEmpty())
        codes << ds->FieldByName(QStringLiteral("ProductCode")).AsString();
    const QStringList gone = DeleteProducts(codes); // already removed at another desk
    if (!gone.isEmpty())
        MessageBox(QStringLiteral("以下演出已不在本项目中（可能已被其他操作员删除）：") + gone.join(QStringLiteral("，")), QStringLiteral("信息提示"),
                   MB_ICONINFORMATION);
    cdProductProject->GetProductProject(EdtProductName->text());
}

namespace {
// Writes go in transactions of this many performances: one commit instead of
// one per row, and another desk never waits long for the database.
constexpr qsizetype kBatch = 500;

QString assignedWarning(const QString &name)
{
    return QStringLiteral("演出: ") + name + QStringLiteral("已被其他项目使用！");
}
} // namespace

void TFrmProductProject::AddProducts(const QStringList &codes)
{
    if (!cdProductProject)
        throw EHostError(QStringLiteral("演出列表尚未打开，无法添加演出。"));
    TcdProductProject &dm = *cdProductProject;
    BulkProgress progress(this, QStringLiteral("正在添加演出……"), codes.size());
    // Warnings wait for the end of their transaction: no desk waits on a
    // message box. They come in the order of the pick.
    QStringList warnings;
    const auto flush = [&] {
        const QStringList now = std::exchange(warnings, {});
        for (const QString &w : now)
            ShowWarningMessage(w, QStringLiteral("警告"));
    };
    try {
        for (qsizetype start = 0; start < codes.size(); start += kBatch) {
            const qsizetype end = std::min(codes.size(), start + kBatch);
            QStringList batchWarnings;
            bool refused = false;
            // A failing check ends the command at that performance; what came before it stays.
            std::exception_ptr failure;
            qsizetype failedAt = end;
            std::optional<PipeTransaction> tx;
            try {
                tx.emplace(*dm.DBPipe);
            } catch (const EConnectionLost &) {
                throw; // the command ends here, as a failing check ends it
            } catch (...) {
                refused = true; // e.g. a read-only file: each insert reports why
            }
            if (tx) {
                for (qsizetype i = start; i < end; ++i) {
                    progress.step(i);
                    QString name;
                    try {
                        if (dm.brepeat(codes[i], name)) {
                            batchWarnings << assignedWarning(name);
                            continue;
                        }
                    } catch (...) {
                        failure = std::current_exception();
                        failedAt = i;
                        break;
                    }
                    try {
                        dm.StoreProduct(ProjectID, codes[i]);
                    } catch (...) {
                        refused = true; // the batch is rolled back as the guard goes
                        break;
                    }
                }
                if (!refused) {
                    try {
                        tx->commit();
                    } catch (...) {
                        if (!failure)
                            throw;
                        refused = true; // the failed check took the transaction with it
                    }
                }
                tx.reset();
            }
            if (!refused) {
                warnings += batchWarnings;
            } else {
                // Something in this batch was refused: add its performances one
                // by one, each with its own outcome and message, as a single add does.
                flush();
                for (qsizetype i = start; i < failedAt; ++i) {
                    progress.step(i);
                    QString name;
                    if (dm.brepeat(codes[i], name))
                        ShowWarningMessage(assignedWarning(name), QStringLiteral("警告"));
                    else
                        dm.InsertProduct(ProjectID, codes[i]);
                }
            }
            if (failure)
                std::rethrow_exception(failure);
        }
    } catch (...) {
        flush();
        throw;
    }
    flush();
}

QStringList TFrmProductProject::DeleteProducts(const QStringList &codes)
{
    if (!cdProductProject)
        throw EHostError(QStringLiteral("演出列表尚未打开，无法删除演出。"));
    TcdProductProject &dm = *cdProductProject;
    BulkProgress progress(this, QStringLiteral("正在删除演出……"), codes.size());
    QStringList gone;
    for (qsizetype start = 0; start < codes.size(); start += kBatch) {
        const qsizetype end = std::min(codes.size(), start + kBatch);
        PipeTransaction tx(*dm.DBPipe);
        for (qsizetype i = start; i < end; ++i) {
            progress.step(i);
            if (!dm.DelProductProject(ProjectID, codes[i]))
                gone << codes[i];
        }
        tx.commit();
    }
    return gone;
}
