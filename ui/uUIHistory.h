#pragma once
#include "ProjectGlobal.h"
#include "uCDHistory.h"
#include "ui_uUIHistory.h"
#include <QDialog>
#include <memory>

// "变更记录": the change history of one project or of all, newest first,
// filtered by operator, action, kind of row and dates; a deleted project can be restored,
// from its delete entry or from the list of every deleted project.
class QELUIPROJECT_EXPORT TFrmHistory : public QDialog, public Ui::TFrmHistory {
    Q_OBJECT
public:
    // At most this many entries are listed; the note says when there are more.
    static constexpr int kMaxRows = 5000;
    // The scope's value for "已删除的项目".
    static constexpr qint64 kDeletedScope = -1;

    explicit TFrmHistory(QWidget *owner = nullptr);
    ~TFrmHistory() override;

    std::unique_ptr<TCDHistory> CDHistory;
    QString Context;

    Q_INVOKABLE void SetContext(const QString &context);
    // The project "当前项目" stands for; id 0: none, only all projects.
    void SetProject(qint64 id, const QString &name);
    // The conditions the filter bar holds ("已删除的项目" adds none).
    THistoryFilter CurrentFilter() const;

    void BtnSearchClick(QObject *Sender);
    void BtnRestoreClick(QObject *Sender);
    // "恢复" only on a project's delete.
    void UpdateCommands();
    // True once a project was restored here: the lists behind are out of date.
    bool Restored() const { return m_restored; }

private:
    void ShowColumns(bool deletedProjects);
    qint64 m_projectId = 0;
    bool m_restored = false;
    bool m_deletedColumns = false; // the grid shows the deleted projects' columns
};

// Opens the history window over owner, modal, for the given project (0: all);
// true when a project was restored in it.
QELUIPROJECT_EXPORT bool ShowHistory(QWidget *owner, const QString &context, qint64 projectId, const QString &projectName);
