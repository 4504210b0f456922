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
    bool InsertPro(const QString &name, int crossDiscount, int crossTNum, int crossPNum);
    void EdtPro(int id, const QString &name, int crossDiscount, int crossTNum, int crossPNum);
    void DelPro(int id);
    bool ChkProName(int id, const QString &name);

    // Purchase limits.
    void GetProjectmember(const QString &filter);
    void getpromemberinfo(QComboBox *projects, QComboBox *memberClasses, QStringList &projectIds, QStringList &memberClassIds);
    // enable: "1"/"0" is written too; empty leaves the column to the table's default.
    bool Insertmemberlimit(const QString &projectId, const QString &memberClassId, const QString &maxNum, const QString &limitType,
                           const QString &enable = QString());
    bool updatememberlimit(const QString &projectId, const QString &newMemberClassId, const QString &storedMemberClassId,
                           const QString &maxNum, const QString &limitType, const QString &enable);
    void Dellimit(int projectId, const QString &memberClassId, const QString &limitType);
    bool bhaveproxglx(const QString &projectId, const QString &limitType);
    bool bhavepromem(const QString &projectId, const QString &memberClassId, const QString &leaveOut);
    bool bhavepromemupdatexglx(const QString &projectId, const QString &newLimitType, const QString &storedLimitType);
    bool bhavepromemupdate(const QString &projectId, const QString &newMemberClassId, const QString &storedMemberClassId);

    void DataModuleCreate(QObject *Sender);
    void DataModuleDestroy(QObject *Sender);

    // The right-hand side of a name filter's like: '%text%' with single quotes
    // doubled, so the text stays inside its literal; % and _ keep acting as
    // wildcards. A backslash is PostgreSQL's default escape, so a filter that
    // holds one gets it doubled and an explicit ESCAPE, read alike by SQLite.
    static QString LikeOperand(const QString &filter);

private:
    int readStatus(const QString &sql);
};

QELUIPROJECT_EXPORT extern QPointer<TCDProject> CDProject;
