#include "uCDProductProject.h"
#include "uCDProject.h"
#include <CommaText.h>
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <HostError.h>
#include <SqlText.h>

QPointer<TcdProductProject> cdProductProject;

TcdProductProject::TcdProductProject(QObject *owner)
    : QObject(owner), cdsProductProject(new TQELClientDataSet(this)), DSProductProject(new TQELDataSource(this)), cdstmp(new TQELClientDataSet(this))
{
    setObjectName(QStringLiteral("cdProductProject"));
    cdsProductProject->setObjectName(QStringLiteral("cdsProductProject"));
    DSProductProject->setObjectName(QStringLiteral("DSProductProject"));
    cdstmp->setObjectName(QStringLiteral("cdstmp"));
    DSProductProject->SetDataSet(cdsProductProject);
    DataModuleCreate(this);
}

TcdProductProject::~TcdProductProject()
{
    DataModuleDestroy(this);
}

void TcdProductProject::DataModuleCreate(QObject *)
{
    DBPipe = std::make_unique<TCADBPipe2>();
}

void TcdProductProject::DataModuleDestroy(QObject *)
{
    DBPipe.reset();
}

void TcdProductProject::GetProductProject(const QString &Filter)
{
    QString sql = QStringLiteral(
                      "Select A.ProductCode,A.CName,B.projectid,C.CName as ProjectName,A.HappenTime,D.CName as PlaceName  from qel_product A, "
                      "QEL_PROJECT_PRODUCT B ,QEL_PROJECT C,qel_place D WHERE A.ProductCode=B.ProductCode and C.id=B.projectid and "
                      "A.PlaceCode=D.PlaceCode and A.NODECODE=D.NODECODE AND B.ProjectID=") +
                  QuotedStr(QString::number(TCDProject::ProjectIdFromText(ProjectID)));
    if (!Filter.isEmpty())
        sql += QStringLiteral(" AND A.CName like ") + LikeOperand(Filter);
    DataPacket rows = DBPipe->GetData(Context, sql);
    cdsProductProject->SetData(std::move(rows));
}

QString TcdProductProject::sgetproduct(const QString &projectId)
{
    const QString sql =
        QStringLiteral("select * from QEL_PROJECT_PRODUCT where PROJECTID=%1 ").arg(QuotedStr(QString::number(TCDProject::ProjectIdFromText(projectId))));
    cdstmp->SetData(DBPipe->GetData(Context, sql));
    QStringList codes;
    const TField code = cdstmp->FieldByName(QStringLiteral("PRODUCTCODE"));
    for (cdstmp->First(); !cdstmp->Eof(); cdstmp->Next())
        codes << code.AsString();
    return WriteCommaText(codes);
}

bool TcdProductProject::brepeat(const QString &productCode, QString &productName)
{
    productName.clear();
    const QString sql = QStringLiteral("select P.CNAME from QEL_PROJECT_PRODUCT pj inner join QEL_PRODUCT P ON PJ.PRODUCTCODE=P.PRODUCTCODE where  "
                                       "PJ.PRODUCTCODE=%1")
                            .arg(QuotedStr(productCode));
    cdstmp->SetData(DBPipe->GetData(Context, sql));
    if (cdstmp->IsEmpty())
        return false;
    productName = cdstmp->FieldByName(QStringLiteral("CNAME")).AsString();
    return true;
}

void TcdProductProject::StoreProduct(const QString &projectId, const QString &productCode)
{
    const QString sql = QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID,PRODUCTCODE) VALUES(") +
                        QuotedStr(QString::number(TCDProject::ProjectIdFromText(projectId))) + QLatin1Char(',') + QuotedStr(productCode) +
                        QLatin1Char(')');
    // A rule of the database may drop the row without an error; that is no success either.
    if (DBPipe->ExecSQL(Context, sql) <= 0)
        throw EHostError(QStringLiteral("数据库没有保存演出“%1”的项目配置。").arg(productCode));
}

bool TcdProductProject::InsertProduct(const QString &projectId, const QString &productCode)
{
    try {
        StoreProduct(projectId, productCode);
        return true;
    } catch (...) {
        ShowMessage(QStringLiteral("新建失败，请检查该演出是否已经配置过项目") + ExceptionText(std::current_exception()));
    }
    return false;
}

bool TcdProductProject::DelProductProject(const QString &projectId, const QString &productCode)
{
    // The project ID is spliced bare: only the decimal form of a 64-bit ID may stand there.
    const qint64 id = TCDProject::ProjectIdFromText(projectId);
    const QString sql = QStringLiteral("Delete FROM QEL_PROJECT_PRODUCT WHERE ProjectID=") + QString::number(id) + QStringLiteral(" AND ProductCode=") +
                        QuotedStr(productCode);
    return DBPipe->ExecSQL(Context, sql) > 0;
}

bool TcdProductProject::ProjectExists(const QString &projectId)
{
    bool numeric = false;
    const qint64 id = projectId.toLongLong(&numeric);
    if (!numeric || QString::number(id) != projectId)
        return false;
    return DBPipe->GetData(Context, QStringLiteral("select ID from QEL_PROJECT where ID=") + QString::number(id)).rowCount() > 0;
}
