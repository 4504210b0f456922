#pragma once
#include "ProjectGlobal.h"
#include <ClientDataSet.h>
#include <DataSource.h>
#include <Pipe.h>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <exception>
#include <memory>
#include <optional>

// The change history of projects, purchase limits and performance
// assignments (table QEL_PROJECT_HISTORY). The database's triggers write it,
// one entry per changed row in the transaction of the change; this module
// reads it for the history window and undoes a project delete.

// One entry.
struct THistoryEntry {
    qint64 ID = 0;
    QDateTime ChangedAt;               // local time (stored as UTC)
    qint64 TxID = 0;                   // shared by the entries of one transaction
    QString NodeCode, Group, UserName; // the operator; empty when the writer set none
    QString RowKind;                   // "project", "limit" or "product"
    QString Action;                    // "insert", "update", "delete" or "restore"
    qint64 ProjectID = 0;
    QString ProjectName;               // as it was at that moment
    QString RowKey;                    // member class (limit) or performance code (product); empty for a project
    QString BeforeValues, AfterValues; // JSON objects under the table's column names; empty when none
};

// Which entries to list; every condition given must hold. Newest first.
struct THistoryFilter {
    std::optional<qint64> ProjectID;
    QString NodeCode, Group, UserName; // exact; empty: any
    QStringList Actions;               // any of these; empty: any
    QStringList RowKinds;              // any of these; empty: any
    QDateTime From, To;                // From <= time < To, local time; invalid: open
    int Limit = 500;                   // at most this many; 0 or less: all
};

// One field of an entry with its old and new value (see ChangedFields).
struct THistoryChange {
    QString Field;             // the table's column name
    QString OldValue, NewValue;
    bool HadOld = false, HasNew = false; // false: no row before (insert) / after (delete), or NULL
};

struct TRestoreResult {
    bool Restored = false;
    qint64 ProjectID = 0;   // the restored project
    bool KeptID = false;    // false: its old ID was taken, it got a new one
    int Limits = 0, Performances = 0;
    QStringList Blockers;   // every reason it was not restored (Chinese)
    QString Message;        // for the operator (Chinese): what was done, or every blocker
};

class QELUIPROJECT_EXPORT TCDHistory : public QObject {
    Q_OBJECT
public:
    explicit TCDHistory(QObject *owner = nullptr);
    ~TCDHistory() override;

    TQELClientDataSet *cdsHistory;
    TQELDataSource *DSHistory;
    std::unique_ptr<TCADBPipe2> DBPipe;
    QString Context;

    // Replaces the content of cdsHistory with the entries the filter selects,
    // newest first; CHANGED_AT in local time. A failed query leaves it as it was.
    // With keepNames the names the last load read are kept and only the keys
    // it did not look up are (the reload right after a restore, whose rows
    // the list has just named).
    void GetHistory(const THistoryFilter &filter, bool keepNames = false);
    // The same entries as values.
    QList<THistoryEntry> ReadHistory(const THistoryFilter &filter);
    // Replaces the content of cdsHistory with every project delete that no
    // restore has undone since, newest first, whatever the size of the
    // delete, with the counts of limits and performances it took
    // (DELETED_LIMITS, DELETED_PRODUCTS; empty where a delete from before
    // they were recorded). Of the filter only the operator and the dates apply.
    void GetDeletedProjects(const THistoryFilter &filter);
    // The entry under cdsHistory's cursor.
    THistoryEntry CurrentEntry() const;
    // The name of a limit's member class or of a performance as the last
    // GetHistory read it; empty for a project, an identity-card limit, or a
    // class or performance that no longer exists.
    QString RowName(const QString &rowKind, const QString &rowKey) const;
    // A performance's time, read with its name; invalid for anything else.
    QDateTime RowTime(const QString &rowKind, const QString &rowKey) const;

    // Restores the project that the given entry (a project's delete entry)
    // deleted, with the limits and performance assignments deleted in the
    // same transaction, as they were; all in one transaction. Its old ID is
    // kept when no project holds it now. The restored rows are recorded with
    // the action "restore" (set on the session; no entry is rewritten). When
    // anything blocks it (the name or a performance now belongs to another
    // project, a member class is gone, fewer limits or performances are in
    // the history than the delete counted) nothing is written and Blockers
    // lists every cause.
    TRestoreResult RestoreProject(qint64 deleteEntryId);

    // The fields an entry changed, in the table's column order: for an insert
    // or restore every field (no old value), for a delete every field (no new
    // value), for an update those whose value differs.
    static QList<THistoryChange> ChangedFields(const THistoryEntry &entry);
    // "旧值 → 新值"; a missing value reads "（无）".
    static QString ChangeText(const THistoryChange &change);
    // The title a field goes by in the lists (the grids' column titles).
    static QString FieldTitle(const QString &rowKind, const QString &field);
    // Every changed field as "标题：旧值 → 新值", joined by "；"; codes the
    // lists show as words (limit type, enabled) as those words. Never throws:
    // values that cannot be read are shown as stored.
    static QString ChangesText(const THistoryEntry &entry);
    // Chinese names for the codes: 新增 / 修改 / 删除 / 恢复; 项目 / 限购 / 演出.
    static QString ActionName(const QString &action);
    static QString RowKindName(const QString &rowKind);

    // The statement GetHistory and ReadHistory send.
    static QString HistorySql(const THistoryFilter &filter);

    void DataModuleCreate(QObject *Sender);
    void DataModuleDestroy(QObject *Sender);

private:
    // The entries HistorySql selects; a clear message where there is no history table.
    DataPacket readEntries(const QString &sql);
    [[noreturn]] static void throwReadFailure(const std::exception_ptr &failure);
    // OPERATOR, ACTIONNAME, KINDNAME, CHANGES, ROW_NAME and ROW_TIME of a row, for the list.
    QVariant cdsHistoryCalcFields(const TQELClientDataSet &ds, int row, int field) const;
    THistoryEntry entryAt(int row) const;
    struct TRowName {
        QString Name;
        // A performance's time as a stamp: a QDateTime made per row would
        // ask the system for the local zone thousands of times a load.
        std::optional<qint64> Time;
    };
    using TNames = QHash<QString, TRowName>;
    // Adds the names of the member classes and performances the entries name
    // that are not in classes or products yet; a key looked up and not found
    // is added with no name.
    void readNames(const DataPacket &entries, TNames &classes, TNames &products);
    TNames m_classNames, m_productNames;
    int m_operatorField = -1, m_actionField = -1, m_kindField = -1, m_changesField = -1, m_nameField = -1, m_timeField = -1;
    // The data fields the calculated ones read, looked up once: they are design-time fields.
    int m_nodeField = -1, m_groupField = -1, m_userField = -1, m_rowActionField = -1, m_rowKindField = -1, m_beforeField = -1, m_afterField = -1, m_rowKeyField = -1;
};
