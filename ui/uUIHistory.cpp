#include "uUIHistory.h"
#include "FieldTitles.h"
#include "FormSupport.h"
#include <DBGrid.h>
#include <DeskLayout.h>
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <QDate>

namespace {
// The date boxes' lowest date stands for "no limit".
const QDate kOpenDate(2000, 1, 1);

void openEnded(QDateEdit *box)
{
    box->setMinimumDate(kOpenDate);
    box->setSpecialValueText(QStringLiteral("不限"));
    box->setDate(kOpenDate);
}
} // namespace

TFrmHistory::TFrmHistory(QWidget *owner) : QDialog(owner), CDHistory(std::make_unique<TCDHistory>())
{
    setupUi(this);
    resize(1360, 560);
    CbbScope->setMinimumWidth(180);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);
    setFont(SongFont());

    CbbScope->addItem(QStringLiteral("已删除的项目"), QVariant(kDeletedScope));
    CbbScope->addItem(QStringLiteral("全部项目"), QVariant(qint64(0)));
    CbbScope->setCurrentIndex(CbbScope->count() - 1);
    CbbAction->addItem(QStringLiteral("全部"), QString());
    for (const char *action : {"insert", "update", "delete", "restore"})
        CbbAction->addItem(TCDHistory::ActionName(QLatin1String(action)), QLatin1String(action));
    CbbKind->addItem(QStringLiteral("全部"), QString());
    for (const char *kind : {"project", "limit", "product"})
        CbbKind->addItem(TCDHistory::RowKindName(QLatin1String(kind)), QLatin1String(kind));
    openEnded(DtpFrom);
    openEnded(DtpTo);

    GrdHistory->SetDataSource(CDHistory->DSHistory);
    m_deletedColumns = true;
    ShowColumns(false);

    connect(BtnSearch, &QPushButton::clicked, this, Guarded([this](bool) { BtnSearchClick(BtnSearch); }));
    connect(EdtUser, &QLineEdit::returnPressed, this, Guarded([this] { BtnSearchClick(EdtUser); }));
    connect(BtnRestore, &QPushButton::clicked, this, Guarded([this](bool) { BtnRestoreClick(BtnRestore); }));
    connect(BtnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(CDHistory->cdsHistory, &TQELClientDataSet::cursorMoved, this, [this] { UpdateCommands(); });
    connect(CDHistory->cdsHistory, &TQELClientDataSet::reset, this, [this] { UpdateCommands(); });
    UpdateCommands();
    TQELDeskLayout::Remember(this);
}

TFrmHistory::~TFrmHistory() = default;

void TFrmHistory::SetContext(const QString &context)
{
    Context = context;
    CDHistory->Context = context;
}

// The entries' columns, or those of the deleted projects.
void TFrmHistory::ShowColumns(bool deletedProjects)
{
    // Setting the columns again would drop the operator's sort and widths.
    if (deletedProjects == m_deletedColumns)
        return;
    m_deletedColumns = deletedProjects;
    if (deletedProjects) {
        GrdHistory->SetColumns({
            {QStringLiteral("CHANGED_AT"), QStringLiteral("删除时间"), 150},
            {QStringLiteral("OPERATOR"), QStringLiteral("操作员"), 130},
            {QStringLiteral("PROJECT_ID"), FieldTitles::OwnerProjectId(), 80},
            {QStringLiteral("PROJECT_NAME"), FieldTitles::ProjectName(), 160},
            {QStringLiteral("DELETED_LIMITS"), QStringLiteral("限购(条)"), 70, Qt::AlignRight},
            {QStringLiteral("DELETED_PRODUCTS"), QStringLiteral("演出(场)"), 70, Qt::AlignRight},
            {QStringLiteral("CHANGES"), QStringLiteral("变更内容"), 420},
        });
        return;
    }
    GrdHistory->SetColumns({
        {QStringLiteral("CHANGED_AT"), QStringLiteral("时间"), 130},
        {QStringLiteral("OPERATOR"), QStringLiteral("操作员"), 130},
        {QStringLiteral("ACTIONNAME"), QStringLiteral("操作"), 50, Qt::AlignCenter},
        {QStringLiteral("KINDNAME"), QStringLiteral("对象"), 50, Qt::AlignCenter},
        {QStringLiteral("PROJECT_ID"), FieldTitles::OwnerProjectId(), 80},
        {QStringLiteral("PROJECT_NAME"), FieldTitles::ProjectName(), 160},
        {QStringLiteral("ROW_KEY"), FieldTitles::MemberClass() + QLatin1Char('/') + FieldTitles::ProductCode(), 130},
        {QStringLiteral("ROW_NAME"), QStringLiteral("名称"), 150},
        {QStringLiteral("ROW_TIME"), QStringLiteral("演出时间"), 136},
        {QStringLiteral("CHANGES"), QStringLiteral("变更内容"), 420},
    });
}

void TFrmHistory::SetProject(qint64 id, const QString &name)
{
    m_projectId = id;
    while (CbbScope->count() > 2)
        CbbScope->removeItem(0);
    if (id > 0)
        CbbScope->insertItem(0, QStringLiteral("当前项目：%1").arg(name), QVariant(id));
    CbbScope->setCurrentIndex(id > 0 ? 0 : CbbScope->count() - 1);
}

THistoryFilter TFrmHistory::CurrentFilter() const
{
    THistoryFilter f;
    const qint64 project = CbbScope->currentData().toLongLong();
    if (project > 0)
        f.ProjectID = project;
    f.UserName = EdtUser->text().trimmed();
    const QString action = CbbAction->currentData().toString();
    if (!action.isEmpty())
        f.Actions << action;
    const QString kind = CbbKind->currentData().toString();
    if (!kind.isEmpty())
        f.RowKinds << kind;
    // A day starts at its first valid moment: where the clocks jump at
    // midnight, 00:00 does not exist.
    if (DtpFrom->date() != kOpenDate)
        f.From = DtpFrom->date().startOfDay();
    // The last day counts whole.
    if (DtpTo->date() != kOpenDate)
        f.To = DtpTo->date().addDays(1).startOfDay();
    f.Limit = kMaxRows;
    return f;
}

void TFrmHistory::BtnSearchClick(QObject *Sender)
{
    const THistoryFilter f = CurrentFilter();
    if (f.From.isValid() && f.To.isValid() && f.From >= f.To) {
        MessageBox(QStringLiteral("起始日期（%1）晚于截止日期（%2），请重新选择。")
                       .arg(DtpFrom->date().toString(QStringLiteral("yyyy-MM-dd")), DtpTo->date().toString(QStringLiteral("yyyy-MM-dd"))),
                   QStringLiteral("提示"), MB_ICONINFORMATION);
        return;
    }
    WaitCursor busy;
    // Every deleted project, however many entries its delete wrote: the
    // list of entries may end before a big delete's own entry.
    const bool deleted = CbbScope->currentData().toLongLong() == kDeletedScope;
    if (deleted)
        CDHistory->GetDeletedProjects(f);
    else
        // After a restore its rows are the ones the list just named.
        CDHistory->GetHistory(f, Sender == BtnRestore);
    ShowColumns(deleted);
    const int rows = CDHistory->cdsHistory->RecordCount();
    LblNote->setText(!deleted && rows >= kMaxRows ? QStringLiteral("只列出最近的 %1 条，请缩小查询范围。").arg(kMaxRows) : QString());
}

void TFrmHistory::BtnRestoreClick(QObject *)
{
    const THistoryEntry e = CDHistory->CurrentEntry();
    if (e.RowKind != QLatin1String("project") || e.Action != QLatin1String("delete"))
        return;
    if (ShowConfirmMessage(QStringLiteral("确定要恢复项目“%1”及其删除时的限购和演出吗？").arg(e.ProjectName), QStringLiteral("请确认")) != mrYes)
        return;
    TRestoreResult r;
    {
        WaitCursor busy;
        r = CDHistory->RestoreProject(e.ID);
    }
    if (!r.Restored) {
        MessageBox(r.Message, QStringLiteral("错误提示"), MB_ICONERROR);
        return;
    }
    m_restored = true;
    MessageBox(r.Message, QStringLiteral("信息提示"), MB_ICONINFORMATION);
    BtnSearchClick(BtnRestore);
}

void TFrmHistory::UpdateCommands()
{
    bool deleted = false;
    const TQELClientDataSet *ds = CDHistory ? CDHistory->cdsHistory : nullptr;
    if (ds && ds->Active() && !ds->IsEmpty()) {
        const THistoryEntry e = CDHistory->CurrentEntry();
        deleted = e.RowKind == QLatin1String("project") && e.Action == QLatin1String("delete");
    }
    BtnRestore->setEnabled(deleted);
}

bool ShowHistory(QWidget *owner, const QString &context, qint64 projectId, const QString &projectName)
{
    TFrmHistory dlg(owner);
    dlg.SetContext(context);
    dlg.SetProject(projectId, projectName);
    dlg.BtnSearchClick(nullptr);
    dlg.exec();
    return dlg.Restored();
}
