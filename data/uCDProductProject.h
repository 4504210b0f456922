#pragma once
#include "ProjectGlobal.h"
#include <ClientDataSet.h>
#include <DataSource.h>
#include <Pipe.h>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

// What a bulk command tells the operator about one performance (or, for Gone,
// about the performances already removed elsewhere).
enum class TBulkNote {
    Assigned, // assigned to a project already: not added
    Refused,  // the database refused this performance's insert
    Gone,     // no longer in the project when the delete came
};

// How a bulk command reports as it goes. The module opens no box itself: the
// window passes callbacks that do. Either may be empty.
struct TBulkCallbacks {
    std::function<void(qsizetype done)> progress;
    std::function<void(TBulkNote note, const QString &text)> message;
};

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

    // The add and delete commands' work on many performances, in transactions
    // of several hundred. Each performance keeps its own outcome where the
    // cause is its own (assigned elsewhere, a refused insert); a cause that
    // hits every remaining one (project gone, read-only, lock not granted,
    // connection lost, deadline, disk full), or any failure of a delete, ends
    // the command with one EHostError that keeps the cause and says why and how
    // many went in and how many did not. Both return how many rows they changed.
    qsizetype AddProducts(const QString &projectId, const QStringList &codes, const TBulkCallbacks &report);
    qsizetype DelProducts(const QString &projectId, const QStringList &codes, const TBulkCallbacks &report);

    void DataModuleCreate(QObject *Sender);
    void DataModuleDestroy(QObject *Sender);
};

QELUIPROJECT_EXPORT extern QPointer<TcdProductProject> cdProductProject;
