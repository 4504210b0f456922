#pragma once
#include "ProjectGlobal.h"
#include <ClientDataSet.h>
#include <DataSource.h>
#include <Pipe.h>
#include <QObject>
#include <QPointer>
#include <memory>

// The performances assigned to projects, one QEL_PROJECT_PRODUCT row each.
class QELUIPROJECT_EXPORT TcdProductProject : public QObject {
    Q_OBJECT
public:
    explicit TcdProductProject(QObject *owner = nullptr);
    ~TcdProductProject() override;

    TQELClientDataSet *cdsProductProject;
    TQELDataSource *DSProductProject;
    TQELClientDataSet *cdstmp;

    std::unique_ptr<TCADBPipe2> DBPipe;
    QString ProjectID;
    QString Context;

    // Project IDs arrive as the decimal text of a 64-bit ID; any other text is
    // refused with a message (EHostError), never sent cut or as it stands.
    void GetProductProject(const QString &Filter);
    // The codes already assigned to the project, as comma text.
    QString sgetproduct(const QString &projectId);
    // True when the performance is assigned to any project; its name goes to productName.
    bool brepeat(const QString &productCode, QString &productName);
    // Reports its own failure to the operator and never throws; true when the row was stored.
    bool InsertProduct(const QString &projectId, const QString &productCode);
    // The same insert without the report: throws EHostError when no row was stored.
    void StoreProduct(const QString &projectId, const QString &productCode);
    // False when the project did not hold the performance (any more).
    bool DelProductProject(const QString &projectId, const QString &productCode);
    // True when projectId is the plain decimal ID of a stored project.
    bool ProjectExists(const QString &projectId);

    void DataModuleCreate(QObject *Sender);
    void DataModuleDestroy(QObject *Sender);
};

QELUIPROJECT_EXPORT extern QPointer<TcdProductProject> cdProductProject;
