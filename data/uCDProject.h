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
    // IDs are 64-bit: SQLite hands out row IDs beyond 2^31, and a cut ID would
    // hit another project. The writes answer whether the row was there to change.
    bool InsertPro(const QString &name, int crossDiscount, int crossTNum, int crossPNum);
    // False when no project has this ID any more.
    bool EdtPro(qint64 id, const QString &name, int crossDiscount, int crossTNum, int crossPNum);
    // False when the project row was already gone (its leftovers are removed all the same).
    bool DelPro(qint64 id);
    bool ChkProName(qint64 id, const QString &name);

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

    void DataModuleCreate(QObject *Sender);
    void DataModuleDestroy(QObject *Sender);

    // A project ID carried as text between windows: exactly the decimal form of a
    // 64-bit integer. Anything else (blank, not a number, too large) throws
    // EHostError with a message for the operator instead of being cut or wrapped.
    static qint64 ProjectIdFromText(const QString &text);

private:
    int readStatus(const QString &sql);
};

QELUIPROJECT_EXPORT extern QPointer<TCDProject> CDProject;
