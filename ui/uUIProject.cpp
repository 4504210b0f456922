#include "uUIProject.h"
#include "BatchLimitDialog.h"
#include "uUIHistory.h"
#include "Unitprojectinfo.h"
#include "uCDProject.h"
#include "FieldTitles.h"
#include "uUIProductProject.h"
#include "uUIProjectEdit.h"
#include <HostError.h>
#include <ChangeWatcher.h>
#include <Context.h>
#include <DBGrid.h>
#include <DeskLayout.h>
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QScopeGuard>
#include <QShortcut>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <utility>

QPointer<TFrmProject> FrmProject;

namespace {
const QList<GridColumn> &projectColumns()
{
    using namespace FieldTitles;
    // The grid spaces out 编号 and breaks the line after the discount rate.
    static const QList<GridColumn> cols = {
        {QStringLiteral("ID"), QStringLiteral("编   号"), 130},
        {QStringLiteral("CNAME"), ProjectName(), 302},
        {QStringLiteral("CROSSDISCOUNT"), CrossDiscount() + QStringLiteral("\r\n"), 132},
        {QStringLiteral("CROSTNUM"), CrossTickets(), 181},
        {QStringLiteral("CROSSPNUM"), CrossPerformances(), 170},
    };
    return cols;
}

const QList<GridColumn> &limitColumns()
{
    using namespace FieldTitles;
    static const QList<GridColumn> cols = {
        {QStringLiteral("CNAME"), ProjectName(), 347},
        {QStringLiteral("MEMBER_CLASS_NAME"), MemberClass(), 156},
        {QStringLiteral("MAX_NUM"), MaxNum(), 156},
        {QStringLiteral("limitname"), LimitType(), 156, Qt::AlignCenter},
        {QStringLiteral("enablename"), Enable(), 156},
    };
    return cols;
}

const QString kMemberClass = QStringLiteral("会员类别");

// What a closed limit dialog holds, with its picks mapped to IDs.
struct LimitInput {
    QString projectId, memberClassId, limitType, maxNum, enable;
};

LimitInput readLimit(const TFormprojectinfo &dlg, const QStringList &projectIds, const QStringList &memberIds)
{
    const int pi = ComboItemIndex(dlg.cbbproject);
    const int mi = ComboItemIndex(dlg.cbbmemberclassname);
    return {
        pi >= 0 && pi < projectIds.size() ? projectIds[pi] : QString(),
        mi >= 0 && mi < memberIds.size() ? memberIds[mi] : QString(),
        dlg.cbblimit_type->currentText() == kMemberClass ? QStringLiteral("1") : QStringLiteral("2"),
        dlg.edtlimitcount->text().trimmed(),
        dlg.ckbenable->isChecked() ? QStringLiteral("1") : QStringLiteral("0"),
    };
}

// ---- rows another desk changed meanwhile ------------------------------------

const QString kConflictCaption = QStringLiteral("修改冲突");

TProjectRow projectRow(const TQELClientDataSet &ds)
{
    return {ds.FieldByName(QStringLiteral("CName")).AsString(), int(ds.FieldByName(QStringLiteral("CrossDiscount")).AsInteger()),
            int(ds.FieldByName(QStringLiteral("CrosTNum")).AsInteger()), int(ds.FieldByName(QStringLiteral("CrossPNum")).AsInteger())};
}

TLimitRow limitRow(const TQELClientDataSet &ds)
{
    return {ds.FieldByName(QStringLiteral("max_num")).AsString(), ds.FieldByName(QStringLiteral("limit_type")).AsString(),
            ds.FieldByName(QStringLiteral("enable")).AsString()};
}

struct FieldValues {
    QString title, read, theirs, mine;
};

QList<FieldValues> projectFields(const TProjectRow &read, const TProjectRow &theirs, const TProjectRow &mine)
{
    const auto n = [](int v) { return QString::number(v); };
    using namespace FieldTitles;
    return {
        {ProjectName(), read.CName, theirs.CName, mine.CName},
        {CrossDiscount(), n(read.CrossDiscount), n(theirs.CrossDiscount), n(mine.CrossDiscount)},
        {CrossTickets(), n(read.CrosTNum), n(theirs.CrosTNum), n(mine.CrosTNum)},
        {CrossPerformances(), n(read.CrossPNum), n(theirs.CrossPNum), n(mine.CrossPNum)},
    };
}

QList<FieldValues> limitFields(const TLimitRow &read, const TLimitRow &theirs, const TLimitRow &mine)
{
    const auto type = [](const QString &t) {
        return t == QLatin1String("1") ? kMemberClass : t == QLatin1String("2") ? QStringLiteral("身份证") : t;
    };
    const auto enabled = [](const QString &e) {
        return e == QLatin1String("1") ? QStringLiteral("是") : e == QLatin1String("0") ? QStringLiteral("否") : e;
    };
    using namespace FieldTitles;
    return {
        {MaxNum(), read.MaxNum, theirs.MaxNum, mine.MaxNum},
        {LimitType(), type(read.LimitType), type(theirs.LimitType), type(mine.LimitType)},
        {Enable(), enabled(read.Enable), enabled(theirs.Enable), enabled(mine.Enable)},
    };
}

const QString kNone = QStringLiteral("（空）");

QString shown(const QString &v)
{
    return v.isEmpty() ? kNone : v;
}

// A line for each field another desk changed: its title and two of its values.
QString changedFields(const QList<FieldValues> &fields, QString FieldValues::*first, QString FieldValues::*second)
{
    QString text;
    for (const FieldValues &f : fields)
        if (f.theirs != f.read)
            text += f.title + QLatin1Char('\t') + shown(f.*first) + QLatin1Char('\t') + shown(f.*second) + QLatin1Char('\n');
    return text;
}

// Saving over another desk's change: what it saved beside what this save would write.
int askSaveConflict(const QString &what, const QList<FieldValues> &fields)
{
    const QString text = QStringLiteral("其他操作员在您编辑期间修改了这条%1，您的修改还没有保存。\n字段\t其他操作员保存的值\t您的值\n").arg(what) +
                         changedFields(fields, &FieldValues::theirs, &FieldValues::mine) +
                         QStringLiteral("用您的修改覆盖其他操作员的修改，还是保留其他操作员的修改（重新载入后可以再编辑）？");
    return ShowChoiceMessage(text, kConflictCaption, QStringLiteral("用我的修改覆盖"), QStringLiteral("保留对方的修改"));
}

// Deleting a row another desk changed: the operator sees what it holds now.
int askDeleteConflict(const QString &what, const QList<FieldValues> &fields)
{
    const QString text = QStringLiteral("其他操作员已修改了这条%1，尚未删除。\n字段\t列表中的值\t现在的值\n").arg(what) +
                         changedFields(fields, &FieldValues::read, &FieldValues::theirs) + QStringLiteral("仍要删除吗？");
    return ShowChoiceMessage(text, kConflictCaption, QStringLiteral("仍然删除"), QStringLiteral("不删除"));
}
} // namespace

TFrmProject::TFrmProject(QWidget *owner) : QWidget(owner)
{
    setupUi(this);
    setWindowFlag(Qt::Window);

    QFont own(QStringLiteral("MS Sans Serif"));
    own.setPixelSize(11);
    setFont(own);
    resize(1021, 485);

    ImageList1 = ToolbarImages(this);
    ToolBar1 = AddFormToolBar(Panel2);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolButton1 = AddToolButton(ToolBar1, QStringLiteral("ToolButton1"), QStringLiteral("新建"), ImageList1.value(5));
    ToolButton2 = AddToolButton(ToolBar1, QStringLiteral("ToolButton2"), QStringLiteral("编辑"), ImageList1.value(0));
    ToolButton4 = AddToolButton(ToolBar1, QStringLiteral("ToolButton4"), QStringLiteral("删除"), ImageList1.value(1));
    AddToolSeparator(ToolBar1, QStringLiteral("ToolButton11"));
    ToolButton11 = ToolBar1->findChild<QWidget *>(QStringLiteral("ToolButton11"));
    ToolButton5 = AddToolButton(ToolBar1, QStringLiteral("ToolButton5"), QStringLiteral("刷新"), ImageList1.value(2));
    AddToolSeparator(ToolBar1, QStringLiteral("ToolButton8"));
    ToolButton8 = ToolBar1->findChild<QWidget *>(QStringLiteral("ToolButton8"));
    ToolButton7 = AddToolButton(ToolBar1, QStringLiteral("ToolButton7"), QStringLiteral("演出管理"), ImageList1.value(0));
    ToolButton3 = AddToolButton(ToolBar1, QStringLiteral("ToolButton3"), QStringLiteral("关闭"), ImageList1.value(4));
    // The strip is 46 pixels high unless the captions need more.
    Panel2->setFixedHeight(std::max(46, ToolBar1->sizeHint().height() + 4));

    Pgproject->setFont(SongFont());
    for (QWidget *w : {static_cast<QWidget *>(TabSheet1), static_cast<QWidget *>(TabSheet2)})
        w->setFont(SongFont());
    for (TQELDBGrid *g : {QELDBGrid1, QELDBGrid2})
        g->setFont(SongFont());
    QELDBGrid1->SetColumns(projectColumns());
    QELDBGrid2->SetColumns(limitColumns());
    QELDBGrid1->SetExportName(QStringLiteral("演出项目"));
    QELDBGrid2->SetExportName(QStringLiteral("项目限购"));
    m_operatorInput = false;
    Pgproject->setCurrentIndex(0);

    connect(ToolButton1, &QToolButton::clicked, this, Guarded([this](bool) { ToolButton1Click(ToolButton1); }));
    connect(ToolButton2, &QToolButton::clicked, this, Guarded([this](bool) { ToolButton2Click(ToolButton2); }));
    connect(ToolButton4, &QToolButton::clicked, this, Guarded([this](bool) { ToolButton4Click(ToolButton4); }));
    connect(ToolButton5, &QToolButton::clicked, this, Guarded([this](bool) { ToolButton5Click(ToolButton5); }));
    connect(ToolButton7, &QToolButton::clicked, this, Guarded([this](bool) { ToolButton7Click(ToolButton7); }));
    connect(ToolButton3, &QToolButton::clicked, this, Guarded([this](bool) { ToolButton3Click(ToolButton3); }));
    connect(BtnSearch, &QPushButton::clicked, this, Guarded([this](bool) { BtnSearchClick(BtnSearch); }));
    connect(Button1, &QPushButton::clicked, this, Guarded([this](bool) { Button1Click(Button1); }));
    // Enter in a filter box runs that tab's search.
    connect(EdtProName, &QLineEdit::returnPressed, this, Guarded([this] { BtnSearchClick(EdtProName); }));
    connect(edtprolimit, &QLineEdit::returnPressed, this, Guarded([this] { Button1Click(edtprolimit); }));
    // The change handler is for the operator's switches only, not for pages set by code.
    // Keys for the toolbar's commands; they follow the buttons' enabling.
    AddCommandKey(this, ToolButton1, QKeySequence(Qt::Key_Insert), QStringLiteral("Insert"));
    AddCommandKey(this, ToolButton2, QKeySequence(Qt::Key_F2), QStringLiteral("F2"), QStringLiteral("或双击一行"));
    AddCommandKey(this, ToolButton4, QKeySequence(Qt::Key_Delete), QStringLiteral("Delete"));
    AddCommandKey(this, ToolButton5, QKeySequence(Qt::Key_F5), QStringLiteral("F5"));
    AddCommandKey(this, ToolButton7, QKeySequence(Qt::CTRL | Qt::Key_M), QStringLiteral("Ctrl+M"));
    // Ctrl+PgUp / Ctrl+PgDn switch the tabs as the operator's own switch.
    for (const auto &[key, step] : {std::pair{Qt::Key_PageUp, -1}, std::pair{Qt::Key_PageDown, 1}}) {
        auto *turn = new QShortcut(QKeySequence(Qt::CTRL | key), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
        connect(turn, &QShortcut::activated, this, Guarded([this, step = step] {
                    const int to = (Pgproject->currentIndex() + step + Pgproject->count()) % Pgproject->count();
                    m_operatorInput = true;
                    Pgproject->setCurrentIndex(to);
                }));
    }
    AddFindKey(this, [this] { return projectTab() ? EdtProName : edtprolimit; });
    for (TQELDBGrid *g : {QELDBGrid1, QELDBGrid2}) {
        connect(g, &QAbstractItemView::doubleClicked, this, [this] {
            if (ToolButton2->isEnabled())
                ToolButton2->click();
        });
    }
    Pgproject->installEventFilter(this);
    Pgproject->tabBar()->installEventFilter(this);
    connect(Pgproject, &QTabWidget::currentChanged, this, Guarded([this](int) {
                // One switch per click or key: what follows is code's again.
                if (std::exchange(m_operatorInput, false))
                    PgprojectChange(Pgproject);
                UpdateCommands();
            }));

    // The change history of the current row's project: Ctrl+H anywhere in the
    // window, and the context menu of both lists.
    ActHistory = new QAction(QStringLiteral("变更记录"), this);
    ActHistory->setObjectName(QStringLiteral("ActHistory"));
    ActHistory->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    ActHistory->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(ActHistory);
    connect(ActHistory, &QAction::triggered, this, Guarded([this](bool) { ShowHistoryClick(ActHistory); }));
    for (TQELDBGrid *g : {QELDBGrid1, QELDBGrid2})
        g->AddContextAction(ActHistory);
    ActCopy = new QAction(QStringLiteral("复制项目…"), this);
    ActCopy->setObjectName(QStringLiteral("ActCopy"));
    ActCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    ActCopy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(ActCopy);
    connect(ActCopy, &QAction::triggered, this, Guarded([this](bool) { CopyProjectClick(ActCopy); }));
    QELDBGrid1->AddContextAction(ActCopy);
    ActBatchLimits = new QAction(QStringLiteral("批量设置限购…"), this);
    ActBatchLimits->setObjectName(QStringLiteral("ActBatchLimits"));
    connect(ActBatchLimits, &QAction::triggered, this, Guarded([this](bool) { batchlimits(); }));
    QELDBGrid2->AddContextAction(ActBatchLimits);

    Watcher = new TQELChangeWatcher(this);
    connect(Watcher, &TQELChangeWatcher::Changed, this, &TFrmProject::OtherDeskChanged);
    UpdateCommands();
    TQELDeskLayout::Remember(this, TQELDeskLayout::Keep::ColumnWidths); // its size, place and order are designed
}

int TFrmProject::AskProjectConflict(const TProjectRow &read, const TProjectRow &theirs, const TProjectRow &mine)
{
    return askSaveConflict(QStringLiteral("项目"), projectFields(read, theirs, mine));
}

void TFrmProject::OtherDeskChanged(const QList<TChangeNotice> &notices)
{
    bool projects = false, limits = false;
    for (const TChangeNotice &n : notices) {
        // The limit list shows project names too.
        if (n.Table.isEmpty() || n.Table == QLatin1String("project"))
            projects = limits = true;
        else if (n.Table == QLatin1String("limit"))
            limits = true;
    }
    if (projects)
        QELDBGrid1->SetStale(true);
    if (limits)
        QELDBGrid2->SetStale(true);
}

void TFrmProject::ShowHistoryClick(QObject *)
{
    if (!CDProject)
        return;
    // The project of the active list's current row; none: every project.
    TQELClientDataSet *ds = projectTab() ? CDProject->cdsProject : CDProject->cdsprojectmember;
    qint64 id = 0;
    QString name;
    if (ds->Active() && !ds->IsEmpty()) {
        id = ds->FieldByName(projectTab() ? QStringLiteral("ID") : QStringLiteral("projectid")).AsInteger();
        name = ds->FieldByName(QStringLiteral("CNAME")).AsString();
    }
    // A restored project and its limits belong in both lists at once.
    if (ShowHistory(this, Context, id, name) && CDProject) {
        CDProject->GetProjectAndMember(EdtProName->text().trimmed(), edtprolimit->text().trimmed());
        QELDBGrid1->ShowNotice(QStringLiteral("已恢复删除的项目，列表已刷新"));
    }
}

TFrmProject::~TFrmProject()
{
    FormDestroy(this);
}

void TFrmProject::SetContext(const QString &context)
{
    Context = context;
}

bool TFrmProject::projectTab() const
{
    return Pgproject->currentIndex() == 0;
}

bool TFrmProject::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Pgproject || watched == Pgproject->tabBar()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::KeyPress:
        case QEvent::Wheel:
            if (!m_operatorInput) {
                m_operatorInput = true;
                QTimer::singleShot(0, this, [this] { m_operatorInput = false; });
            }
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFrmProject::showEvent(QShowEvent *e)
{
    QWidget::showEvent(e);
    if (!e->spontaneous())
        Guarded([this] { FormShow(this); })();
}

void TFrmProject::closeEvent(QCloseEvent *e)
{
    TCloseAction action = TCloseAction::caHide;
    try {
        FormClose(this, action);
    } catch (...) {
        HandleException(std::current_exception());
    }
    if (action == TCloseAction::caNone) {
        e->ignore();
        return;
    }
    if (action == TCloseAction::caFree)
        setAttribute(Qt::WA_DeleteOnClose);
    e->accept();
}

void TFrmProject::bindGrids()
{
    QELDBGrid1->SetDataSource(CDProject ? CDProject->DSProject : nullptr);
    QELDBGrid2->SetDataSource(CDProject ? CDProject->dsprojectmember : nullptr);
    if (CDProject) {
        connect(CDProject->DSProject, &TQELDataSource::DataChange, this, &TFrmProject::UpdateCommands);
        connect(CDProject->dsprojectmember, &TQELDataSource::DataChange, this, &TFrmProject::UpdateCommands);
    }
    UpdateCommands();
}

void TFrmProject::UpdateCommands()
{
    const TQELClientDataSet *list = nullptr;
    if (CDProject)
        list = projectTab() ? CDProject->cdsProject : CDProject->cdsprojectmember;
    const bool hasRow = list && list->Active() && list->RecordCount() > 0;
    ToolButton2->setEnabled(hasRow);
    ToolButton4->setEnabled(hasRow);
    ToolButton7->setEnabled(hasRow);
    if (ActCopy)
        ActCopy->setEnabled(hasRow && projectTab());
    if (ActBatchLimits)
        ActBatchLimits->setEnabled(CDProject != nullptr);
    ToolButton1->setEnabled(CDProject != nullptr);
    ToolButton5->setEnabled(CDProject != nullptr);
}

void TFrmProject::FormShow(QObject *)
{
    delete CDProject.data(); // a second show starts afresh
    bindGrids();
    // Every statement carries the context: a field the database cannot take is
    // named once here, and the window keeps its commands off.
    TQELContext::Check(Context);
    CDProject = new TCDProject();
    bindGrids();
    CDProject->Context = Context;
    m_operatorInput = false;
    Pgproject->setCurrentIndex(0);
    CDProject->GetProjectAndMember(QString(), QString());
    Watcher->Start();
}

void TFrmProject::FormClose(QObject *, TCloseAction &Action)
{
    Watcher->Stop();
    QELDBGrid1->SetDataSource(nullptr);
    QELDBGrid2->SetDataSource(nullptr);
    delete CDProject.data();
    CDProject = nullptr;
    Action = TCloseAction::caFree;
}

void TFrmProject::FormDestroy(QObject *)
{
    if (FrmProject == this)
        FrmProject = nullptr;
}

void TFrmProject::PgprojectChange(QObject *)
{
    if (!CDProject)
        return;
    if (projectTab())
        CDProject->GetProject(EdtProName->text().trimmed());
    else
        CDProject->GetProjectmember(edtprolimit->text().trimmed());
}

void TFrmProject::BtnSearchClick(QObject *)
{
    if (!CDProject)
        return;
    CDProject->GetProject(EdtProName->text().trimmed());
}

namespace {
// Whether the list holds a project of this name, without moving its cursor.
bool listShows(const TQELClientDataSet &ds, const QString &name)
{
    const int f = ds.FieldIndex(QStringLiteral("CNAME"));
    for (int pos = 0; f >= 0 && pos < ds.RecordCount(); ++pos)
        if (ds.text(ds.rowAt(pos), f) == name)
            return true;
    return false;
}
} // namespace

void TFrmProject::ToolButton1Click(QObject *)
{
    if (!projectTab()) {
        insertlimit();
        return;
    }
    std::unique_ptr<TfrmProjectEdit> dlg(new TfrmProjectEdit(this));
    frmProjectEdit = dlg.get();
    const auto clear = qScopeGuard([] { frmProjectEdit = nullptr; });
    dlg->SetProjectID(-1);
    dlg->SetProjectName(QString());
    dlg->SetCrossDiscount(0);
    dlg->SetCrossTNum(0);
    dlg->SetCrossPNum(0);
    if (dlg->exec() == 1) {
        // A database rule may drop the row without an error: the operator must not take it as saved.
        bool saved = false;
        try {
            saved = CDProject->InsertPro(dlg->ProjectName(), dlg->CrossDiscount(), dlg->CrossTNum(), dlg->CrossPNum());
        } catch (...) {
            // Nobody could tell whether it landed: a retry that meets this name is told so.
            if (CauseOf(std::current_exception()) == THostErrorCause::OutcomeUnknown)
                TfrmProjectEdit::RememberUncertainSave(dlg->ProjectName());
            throw;
        }
        if (!saved)
            MessageBox(QStringLiteral("新建失败：数据库没有保存这个项目，请刷新后重试。"), QStringLiteral("错误提示"), MB_ICONERROR);
        CDProject->GetProject(EdtProName->text());
        if (saved)
            QELDBGrid1->ShowNotice(QStringLiteral("已新建：%1%2").arg(dlg->ProjectName(), listShows(*CDProject->cdsProject, dlg->ProjectName())
                                                                                         ? QString()
                                                                                         : QStringLiteral("（当前筛选条件下不显示）")));
    }
}

void TFrmProject::CopyProjectClick(QObject *)
{
    if (!CDProject || !projectTab() || CDProject->cdsProject->IsEmpty())
        return;
    TQELClientDataSet *ds = CDProject->cdsProject;
    const qint64 source = TCDProject::ProjectIdFromText(ds->FieldByName(QStringLiteral("ID")).AsString());
    const TProjectRow read = projectRow(*ds);
    std::unique_ptr<TfrmProjectEdit> dlg(new TfrmProjectEdit(this));
    frmProjectEdit = dlg.get();
    const auto clear = qScopeGuard([] { frmProjectEdit = nullptr; });
    dlg->setWindowTitle(QStringLiteral("复制项目：%1").arg(read.CName));
    // A new project to the name check: no row is left out of it.
    dlg->SetProjectID(-1);
    dlg->SetProjectName(read.CName + QStringLiteral("（副本）"));
    dlg->SetCrossDiscount(read.CrossDiscount);
    dlg->SetCrossTNum(read.CrosTNum);
    dlg->SetCrossPNum(read.CrossPNum);
    if (dlg->exec() != 1)
        return;
    const TProjectRow mine{dlg->ProjectName(), dlg->CrossDiscount(), dlg->CrossTNum(), dlg->CrossPNum()};
    TCDProject::TCopyResult copied;
    try {
        copied = CDProject->CopyPro(source, mine);
    } catch (...) {
        if (CauseOf(std::current_exception()) == THostErrorCause::OutcomeUnknown)
            TfrmProjectEdit::RememberUncertainSave(mine.CName);
        throw;
    }
    CDProject->GetProjectAndMember(EdtProName->text().trimmed(), edtprolimit->text().trimmed());
    const bool shown = CDProject->cdsProject->Locate(QStringLiteral("ID"), copied.ProjectID);
    QELDBGrid1->ShowNotice(QStringLiteral("已复制：%1，限购 %2 条%3").arg(mine.CName).arg(copied.Limits).arg(shown ? QString() : QStringLiteral("（当前筛选条件下不显示）")));
}

void TFrmProject::ToolButton2Click(QObject *)
{
    if (!projectTab()) {
        updatelimit();
        return;
    }
    TQELClientDataSet *ds = CDProject->cdsProject;
    if (ds->IsEmpty())
        return;
    const qint64 id = TCDProject::ProjectIdFromText(ds->FieldByName(QStringLiteral("ID")).AsString());
    TProjectRow read = projectRow(*ds);
    std::unique_ptr<TfrmProjectEdit> dlg(new TfrmProjectEdit(this));
    frmProjectEdit = dlg.get();
    const auto clear = qScopeGuard([] { frmProjectEdit = nullptr; });
    dlg->SetProjectID(id);
    bool conflicted = false, saved = false;
    for (;;) {
        dlg->SetProjectName(read.CName);
        dlg->SetCrossDiscount(read.CrossDiscount);
        dlg->SetCrossTNum(read.CrosTNum);
        dlg->SetCrossPNum(read.CrossPNum);
        if (dlg->exec() != 1) {
            // The list still shows what another desk has replaced.
            if (conflicted)
                CDProject->GetProject(EdtProName->text());
            return;
        }
        const TProjectRow mine{dlg->ProjectName(), dlg->CrossDiscount(), dlg->CrossTNum(), dlg->CrossPNum()};
        TProjectRow now;
        TSaveOutcome out = CDProject->EdtProChecked(id, read, mine, now);
        // "Overwrite" saves over the row just read; a third desk may have
        // changed it again by then, which is asked about again.
        while (out == TSaveOutcome::Changed && AskProjectConflict(read, now, mine) == mrYes) {
            read = now;
            out = CDProject->EdtProChecked(id, read, mine, now);
        }
        if (out == TSaveOutcome::Changed) {
            // Keep theirs: the dialog opens again on the row as it is now.
            read = now;
            conflicted = true;
            continue;
        }
        saved = out == TSaveOutcome::Saved;
        // Another desk deleted the project meanwhile: closing quietly would look like a save.
        if (out == TSaveOutcome::Gone)
            MessageBox(QStringLiteral("修改失败：该项目已不存在（可能已被其他操作员删除），未保存任何修改。"), QStringLiteral("错误提示"), MB_ICONERROR);
        break;
    }
    CDProject->GetProject(EdtProName->text());
    if (saved)
        QELDBGrid1->ShowNotice(QStringLiteral("已修改：%1").arg(dlg->ProjectName()));
}

void TFrmProject::ToolButton4Click(QObject *)
{
    if (!projectTab()) {
        deletelimit();
        return;
    }
    TQELClientDataSet *ds = CDProject->cdsProject;
    if (ds->IsEmpty())
        return;
    if (ShowConfirmMessage(QStringLiteral("确认要删除此项目吗?"), QStringLiteral("请确认")) != mrYes)
        return;
    const qint64 id = TCDProject::ProjectIdFromText(ds->FieldByName(QStringLiteral("ID")).AsString());
    TProjectRow read = projectRow(*ds), now;
    TSaveOutcome out = CDProject->DelProChecked(id, read, now);
    while (out == TSaveOutcome::Changed && askDeleteConflict(QStringLiteral("项目"), projectFields(read, now, now)) == mrYes) {
        read = now;
        out = CDProject->DelProChecked(id, read, now);
    }
    if (out == TSaveOutcome::Gone)
        MessageBox(QStringLiteral("该项目已不存在（可能已被其他操作员删除），无需删除。"), QStringLiteral("信息提示"), MB_ICONINFORMATION);
    CDProject->GetProject(EdtProName->text());
    if (out == TSaveOutcome::Saved)
        QELDBGrid1->ShowNotice(QStringLiteral("已删除：%1").arg(read.CName));
}

void TFrmProject::ToolButton5Click(QObject *)
{
    if (projectTab())
        CDProject->GetProject(QString());
    else
        CDProject->GetProjectmember(QString());
}

void TFrmProject::ToolButton7Click(QObject *)
{
    const TQELClientDataSet *ds = projectTab() ? CDProject->cdsProject : CDProject->cdsprojectmember;
    if (ds->IsEmpty())
        return;
    const qint64 id = TCDProject::ProjectIdFromText(ds->FieldByName(projectTab() ? QStringLiteral("ID") : QStringLiteral("projectid")).AsString());
    std::unique_ptr<TFrmProductProject> w(new TFrmProductProject());
    FrmProductProject = w.get();
    w->Context = Context;
    w->ProjectID = QString::number(id);
    w->ProjectName = ds->FieldByName(QStringLiteral("CNAME")).AsString();
    w->exec();
}

void TFrmProject::ToolButton3Click(QObject *)
{
    close();
}

// ---- limit tab -------------------------------------------------------------------

void TFrmProject::Button1Click(QObject *)
{
    if (!CDProject)
        return;
    CDProject->GetProjectmember(edtprolimit->text());
}

void TFrmProject::insertlimit()
{
    auto dlg = std::make_unique<TFormprojectinfo>();
    QStringList projectIds, memberIds;
    dlg->setWindowTitle(QStringLiteral("新增项目限购"));
    CDProject->getpromemberinfo(dlg->cbbproject, dlg->cbbmemberclassname, projectIds, memberIds);
    dlg->cbbproject->setCurrentIndex(-1);
    dlg->cbbmemberclassname->setCurrentIndex(-1);
    dlg->cbblimit_type->setCurrentIndex(0);
    dlg->ckbenable->setChecked(true);
    if (dlg->exec() != 1)
        return;
    const LimitInput in = readLimit(*dlg, projectIds, memberIds);

    if (CDProject->bhaveproxglx(in.projectId, in.limitType)) {
        MessageBox(QStringLiteral("该项目有其他的限购类型!"), QStringLiteral("错误提示"), MB_ICONERROR);
        return;
    }
    if (CDProject->bhavepromem(in.projectId, in.memberClassId, QString())) {
        MessageBox(QStringLiteral("已经存在该项目和会员类别了!"), QStringLiteral("错误提示"), MB_ICONERROR);
        return;
    }
    if (!CDProject->Insertmemberlimit(in.projectId, in.memberClassId, in.maxNum, in.limitType, in.enable)) {
        MessageBox(QStringLiteral("添加失败：数据库没有保存这条限购，请刷新后重试。"), QStringLiteral("错误提示"), MB_ICONERROR);
        return;
    }
    MessageBox(QStringLiteral("添加成功！"), QStringLiteral("信息提示"), MB_ICONINFORMATION);
    CDProject->GetProjectmember(QString());
    QELDBGrid2->ShowNotice(QStringLiteral("已新增限购"));
}

void TFrmProject::batchlimits()
{
    if (!CDProject)
        return;
    auto dlg = std::make_unique<TFrmBatchLimits>(this);
    QStringList projectIds, memberIds;
    QComboBox classes;
    CDProject->getpromemberinfo(dlg->cbbproject, &classes, projectIds, memberIds);
    QStringList names;
    for (int i = 0; i < classes.count(); ++i)
        names << classes.itemText(i);
    dlg->SetClasses(memberIds, names);
    const TQELClientDataSet *ds = CDProject->cdsprojectmember;
    dlg->cbbproject->setCurrentIndex(ds->Active() && !ds->IsEmpty() ? int(projectIds.indexOf(ds->FieldByName(QStringLiteral("projectid")).AsString())) : -1);
    if (dlg->exec() != QDialog::Accepted)
        return;
    const int pick = ComboItemIndex(dlg->cbbproject);
    const QString project = dlg->cbbproject->itemText(pick);
    const TCDProject::TLimitsResult done = CDProject->InsertMemberLimits(projectIds.value(pick), dlg->Picked());
    CDProject->GetProjectmember(edtprolimit->text().trimmed());
    // One summary: what was written, and each class refused with its check's message.
    QStringList written, lines;
    for (const QString &id : done.Written)
        written << dlg->ClassName(id);
    lines << QStringLiteral("项目“%1”：已设置限购 %2 条%3").arg(project).arg(written.size()).arg(written.isEmpty() ? QStringLiteral("。") : QStringLiteral("（%1）。").arg(written.join(QStringLiteral("、"))));
    if (!done.Refused.isEmpty()) {
        lines << QStringLiteral("未设置 %1 条：").arg(done.Refused.size());
        for (const auto &[id, why] : done.Refused)
            lines << QStringLiteral("%1：%2").arg(dlg->ClassName(id), why);
    }
    MessageBox(lines.join(QLatin1Char('\n')), QStringLiteral("信息提示"), written.isEmpty() ? MB_ICONERROR : MB_ICONINFORMATION);
    QELDBGrid2->ShowNotice(QStringLiteral("已设置限购 %1 条").arg(written.size()));
}

void TFrmProject::updatelimit()
{
    TQELClientDataSet *ds = CDProject->cdsprojectmember;
    if (ds->IsEmpty())
        return;
    auto dlg = std::make_unique<TFormprojectinfo>();
    QStringList projectIds, memberIds;
    dlg->setWindowTitle(QStringLiteral("编辑项目限购"));
    CDProject->getpromemberinfo(dlg->cbbproject, dlg->cbbmemberclassname, projectIds, memberIds);
    const QString storedMember = ds->FieldByName(QStringLiteral("MEMBER_CLASS_ID")).AsString();
    dlg->cbbproject->setCurrentIndex(projectIds.indexOf(ds->FieldByName(QStringLiteral("projectid")).AsString()));
    dlg->cbbproject->setEnabled(false);
    TLimitRow read = limitRow(*ds);
    bool conflicted = false;
    for (;;) {
        dlg->cbbmemberclassname->setCurrentIndex(memberIds.indexOf(storedMember));
        dlg->edtlimitcount->setText(read.MaxNum);
        if (read.LimitType == QLatin1String("1")) {
            dlg->cbblimit_type->setCurrentIndex(0);
            dlg->cbbmemberclassname->setEnabled(true);
        } else {
            dlg->cbblimit_type->setCurrentIndex(1);
            dlg->cbbmemberclassname->setEnabled(false);
        }
        dlg->ckbenable->setChecked(read.Enable == QLatin1String("1"));
        if (dlg->exec() != 1) {
            if (conflicted)
                CDProject->GetProjectmember(QString());
            return;
        }
        const LimitInput in = readLimit(*dlg, projectIds, memberIds);
        const TLimitRow mine{in.maxNum, in.limitType, in.enable};
        TLimitRow now;
        TSaveOutcome out = CDProject->UpdateLimitChecked(in.projectId, storedMember, read, in.memberClassId, mine, now);
        while (out == TSaveOutcome::Changed && askSaveConflict(QStringLiteral("限购"), limitFields(read, now, mine)) == mrYes) {
            read = now;
            out = CDProject->UpdateLimitChecked(in.projectId, storedMember, read, in.memberClassId, mine, now);
        }
        switch (out) {
        case TSaveOutcome::Changed:
            read = now;
            conflicted = true;
            continue;
        case TSaveOutcome::OtherType:
            MessageBox(QStringLiteral("该项目存在其他的限购类型了!"), QStringLiteral("错误提示"), MB_ICONERROR);
            return;
        case TSaveOutcome::SameClass:
            MessageBox(QStringLiteral("已经存在该项目和会员类别了!"), QStringLiteral("错误提示"), MB_ICONERROR);
            return;
        case TSaveOutcome::Gone:
            // Another desk removed the limit or moved it to another class: saying "saved" would be false.
            MessageBox(QStringLiteral("修改失败：该限购记录已不存在，可能已被其他操作员修改或删除。"), QStringLiteral("错误提示"), MB_ICONERROR);
            CDProject->GetProjectmember(QString());
            return;
        case TSaveOutcome::Saved: break;
        }
        break;
    }
    MessageBox(QStringLiteral("修改成功！"), QStringLiteral("信息提示"), MB_ICONINFORMATION);
    CDProject->GetProjectmember(QString());
    QELDBGrid2->ShowNotice(QStringLiteral("已修改限购"));
}

void TFrmProject::deletelimit()
{
    TQELClientDataSet *ds = CDProject->cdsprojectmember;
    if (ds->IsEmpty())
        return;
    if (ShowConfirmMessage(QStringLiteral("确认要删除吗?"), QStringLiteral("请确认")) != mrYes)
        return;
    const qint64 projectId = TCDProject::ProjectIdFromText(ds->FieldByName(QStringLiteral("projectid")).AsString());
    const QString member = ds->FieldByName(QStringLiteral("MEMBER_CLASS_ID")).AsString();
    TLimitRow read = limitRow(*ds), now;
    TSaveOutcome out = CDProject->DellimitChecked(projectId, member, read, now);
    while (out == TSaveOutcome::Changed && askDeleteConflict(QStringLiteral("限购"), limitFields(read, now, now)) == mrYes) {
        read = now;
        out = CDProject->DellimitChecked(projectId, member, read, now);
    }
    // Nothing matched: the limit went, or another desk moved it to another class.
    if (out == TSaveOutcome::Gone)
        MessageBox(QStringLiteral("删除失败：该限购记录已不存在，可能已被其他操作员修改或删除。"), QStringLiteral("错误提示"), MB_ICONERROR);
    CDProject->GetProjectmember(edtprolimit->text());
    if (out == TSaveOutcome::Saved)
        QELDBGrid2->ShowNotice(QStringLiteral("已删除限购"));
}
