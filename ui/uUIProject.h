#pragma once
#include "FormSupport.h"
#include "ProjectGlobal.h"
#include "ui_uUIProject.h"
#include "uCDProject.h"
#include <QIcon>
#include <QPointer>
#include <QWidget>

class QAction;
class TQELChangeWatcher;
struct TChangeNotice;
class QToolBar;
class QToolButton;

// The project management window the host opens: projects on the first tab,
// purchase limits of all projects on the second.
// The stored layout is a public base: its components keep their names.
class QELUIPROJECT_EXPORT TFrmProject : public QWidget, public Ui::TFrmProject {
    Q_OBJECT
public:
    explicit TFrmProject(QWidget *owner = nullptr);
    ~TFrmProject() override;

    // Made in code, in the layout's Panel2.
    QToolBar *ToolBar1;
    QToolButton *ToolButton1, *ToolButton2;
    QWidget *ToolButton8;
    QToolButton *ToolButton4;
    QWidget *ToolButton11;
    QToolButton *ToolButton7;
    QToolButton *ToolButton3, *ToolButton5;
    QList<QIcon> ImageList1;
    QAction *ActHistory = nullptr;
    // "复制项目…" (Ctrl+D) in the project list: a new project with the current one's rule and limits.
    QAction *ActCopy = nullptr;
    // "批量设置限购…" in the limit list: member-class limits for several classes at once.
    QAction *ActBatchLimits = nullptr;
    // Tells the lists when other desks changed the database while shown.
    TQELChangeWatcher *Watcher = nullptr;

    QString Context;

    Q_INVOKABLE void SetContext(const QString &context);

    void FormShow(QObject *Sender);
    void FormClose(QObject *Sender, TCloseAction &Action);
    void FormDestroy(QObject *Sender);
    void PgprojectChange(QObject *Sender);
    void BtnSearchClick(QObject *Sender);
    void ToolButton1Click(QObject *Sender);
    void ToolButton2Click(QObject *Sender);
    void ToolButton4Click(QObject *Sender);
    void ToolButton5Click(QObject *Sender);
    void ToolButton7Click(QObject *Sender);
    void ToolButton3Click(QObject *Sender);

    void CopyProjectClick(QObject *Sender);

    // "变更记录" of the active list's current project.
    void ShowHistoryClick(QObject *Sender);

    // Limit tab.
    void Button1Click(QObject *Sender);
    void insertlimit();
    void batchlimits();
    void updatelimit();

    // The question a project save meets when another desk changed the row
    // since `read`: its fields, their values and the operator's; 6 overwrites.
    static int AskProjectConflict(const TProjectRow &read, const TProjectRow &theirs, const TProjectRow &mine);

    // Marks the lists another desk's change touched; they reload only when the operator asks.
    void OtherDeskChanged(const QList<TChangeNotice> &notices);

    // Enables Edit, Delete and performance management only while the active list has a current row.
    void UpdateCommands();

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool projectTab() const;
    void bindGrids();
    void deletelimit();

    // True while the operator's own click or key is being handled by the tabs.
    bool m_operatorInput = false;
};

QELUIPROJECT_EXPORT extern QPointer<TFrmProject> FrmProject;
