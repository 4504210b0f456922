#pragma once
#include "ProjectGlobal.h"
#include <ClientDataSet.h>
#include <DataSource.h>
#include <Pipe.h>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

class QComboBox;

// A project's values as a list row or a dialog holds them.
struct TProjectRow {
    QString CName;
    int CrossDiscount = 0, CrosTNum = 0, CrossPNum = 0;
    bool operator==(const TProjectRow &) const = default;
};

// A limit's values besides its key (project and member class), as text.
struct TLimitRow {
    QString MaxNum, LimitType, Enable;
    bool operator==(const TLimitRow &) const = default;
};

// How a checked write ended. Only Saved wrote anything.
enum class TSaveOutcome {
    Saved,
    Changed,   // another desk changed the row since it was read; `now` holds it
    Gone,      // the row is no longer there
    OtherType, // the limit checks refused it: the project has the other limit type
    SameClass, // the limit checks refused it: the member class is taken
};

// Project records and their purchase limits. Every operation composes its
// statement here, values through QuotedStr or as decimal numbers, and runs it
// through the module's own pipe under the session context.
class QELUIPROJECT_EXPORT TCDProject : public QObject {
    Q_OBJECT
public:
    explicit TCDProject(QObject *owner = nullptr);
    ~TCDProject() override;

    // Components, in declaration order.
    TQELClientDataSet *cdsProject;
    TQELDataSource *DSProject;
    TQELClientDataSet *cdsprojectmember;
    TQELDataSource *dsprojectmember;
    TQELClientDataSet *cdstmp;

    std::unique_ptr<TCADBPipe2> DBPipe;
    QString Context;

    // Projects.
    void GetProject(const QString &filter);
    // GetProject and GetProjectmember together, in one round trip.
    void GetProjectAndMember(const QString &projectFilter, const QString &limitFilter);
    // IDs are 64-bit: SQLite hands out row IDs beyond 2^31, and a cut ID would
    // hit another project. The writes answer whether the row was there to change.
    bool InsertPro(const QString &name, int crossDiscount, int crossTNum, int crossPNum);
    // False when no project has this ID any more.
    bool EdtPro(qint64 id, const QString &name, int crossDiscount, int crossTNum, int crossPNum);
    // False when the project row was already gone (its leftovers are removed all the same).
    bool DelPro(qint64 id);
    bool ChkProName(qint64 id, const QString &name);
    // The edit and the delete, each in one transaction that first reads the
    // row under its lock and writes only when it still holds `read`; otherwise
    // nothing is written and `now` gets the row as it stands.
    TSaveOutcome EdtProChecked(qint64 id, const TProjectRow &read, const TProjectRow &mine, TProjectRow &now);
    TSaveOutcome DelProChecked(qint64 id, const TProjectRow &read, TProjectRow &now);
    // A new project with `mine`'s values and the source's limits, in one
    // transaction: InsertPro, then each limit as Insertmemberlimit writes it
    // (the database holds the limit rules). Throws, with nothing written,
    // when the source is gone or a statement fails.
    struct TCopyResult {
        qint64 ProjectID = 0;
        int Limits = 0;
    };
    TCopyResult CopyPro(qint64 sourceId, const TProjectRow &mine);

    // Member-class limits for several classes of one project, in one
    // transaction: bhaveproxglx and bhavepromem for each, then the limits
    // that passed, written as Insertmemberlimit writes them. Each class
    // refused comes back with the checks' own message.
    struct TNewLimit {
        QString MemberClassId, MaxNum, Enable;
    };
    struct TLimitsResult {
        QStringList Written;
        QList<std::pair<QString, QString>> Refused; // class, why
    };
    TLimitsResult InsertMemberLimits(const QString &projectId, const QList<TNewLimit> &limits);

    // Purchase limits.
    void GetProjectmember(const QString &filter);
    void getpromemberinfo(QComboBox *projects, QComboBox *memberClasses, QStringList &projectIds, QStringList &memberClassIds);
    // enable: "1"/"0" is written too; empty leaves the column to the table's default.
    bool Insertmemberlimit(const QString &projectId, const QString &memberClassId, const QString &maxNum, const QString &limitType,
                           const QString &enable = QString());
    bool updatememberlimit(const QString &projectId, const QString &newMemberClassId, const QString &storedMemberClassId,
                           const QString &maxNum, const QString &limitType, const QString &enable);
    // False when no limit matched: deleted or changed meanwhile at another desk.
    bool Dellimit(qint64 projectId, const QString &memberClassId, const QString &limitType);
    bool bhaveproxglx(const QString &projectId, const QString &limitType);
    bool bhavepromem(const QString &projectId, const QString &memberClassId, const QString &leaveOut);
    bool bhavepromemupdatexglx(const QString &projectId, const QString &newLimitType, const QString &storedLimitType);
    bool bhavepromemupdate(const QString &projectId, const QString &newMemberClassId, const QString &storedMemberClassId);
    // A limit edit as the window saves it, in one transaction: the row read
    // under its lock and compared with `read`, then the two edit checks,
    // then updatememberlimit. `mine` carries the new values.
    TSaveOutcome UpdateLimitChecked(const QString &projectId, const QString &storedMemberClassId, const TLimitRow &read,
                                    const QString &newMemberClassId, const TLimitRow &mine, TLimitRow &now);
    // Dellimit after the same read; a limit whose type changed elsewhere is Changed, not Gone.
    TSaveOutcome DellimitChecked(qint64 projectId, const QString &memberClassId, const TLimitRow &read, TLimitRow &now);

    void DataModuleCreate(QObject *Sender);
    void DataModuleDestroy(QObject *Sender);

    // A project ID carried as text between windows: exactly the decimal form of a
    // 64-bit integer. Anything else (blank, not a number, too large) throws
    // EHostError with a message for the operator instead of being cut or wrapped.
    static qint64 ProjectIdFromText(const QString &text);

private:
    static QString ProjectListSql(const QString &filter);
    static QString LimitListSql(const QString &filter);
    int readStatus(const QString &sql);
    bool deleteProjectRows(qint64 id);
    // " for update" where the engine needs it to hold the row (SQLite's
    // BEGIN IMMEDIATE already holds the whole file).
    QString rowLock() const;
    bool readProject(qint64 id, TProjectRow &row);
    bool readLimit(const QString &projectId, const QString &memberClassId, TLimitRow &row);
};

QELUIPROJECT_EXPORT extern QPointer<TCDProject> CDProject;
