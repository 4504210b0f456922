#include "uCDProductProject.h"
#include "uCDProject.h"
#include <CommaText.h>
#include <Dialogs.h>
#include <ErrorHandler.h>
#include <HostError.h>
#include <SqlText.h>
#include <algorithm>
#include <optional>

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

namespace {
QString repeatSql(const QString &productCode)
{
    return QStringLiteral("select P.CNAME from QEL_PROJECT_PRODUCT pj inner join QEL_PRODUCT P ON PJ.PRODUCTCODE=P.PRODUCTCODE where  "
                          "PJ.PRODUCTCODE=%1")
        .arg(QuotedStr(productCode));
}

QString storeSql(const QString &projectId, const QString &productCode)
{
    return QStringLiteral("INSERT INTO QEL_PROJECT_PRODUCT (PROJECTID,PRODUCTCODE) VALUES(") +
           QuotedStr(QString::number(TCDProject::ProjectIdFromText(projectId))) + QLatin1Char(',') + QuotedStr(productCode) + QLatin1Char(')');
}

// The project ID is spliced bare: only the decimal form of a 64-bit ID may stand there.
QString deleteSql(const QString &projectId, const QString &productCode)
{
    const qint64 id = TCDProject::ProjectIdFromText(projectId);
    return QStringLiteral("Delete FROM QEL_PROJECT_PRODUCT WHERE ProjectID=") + QString::number(id) + QStringLiteral(" AND ProductCode=") +
           QuotedStr(productCode);
}

// A rule of the database may drop the row without an error; that is no success either.
void checkStored(int rows, const QString &productCode)
{
    if (rows <= 0)
        throw EHostError(QStringLiteral("数据库没有保存演出“%1”的项目配置。").arg(productCode));
}
} // namespace

bool TcdProductProject::brepeat(const QString &productCode, QString &productName)
{
    productName.clear();
    cdstmp->SetData(DBPipe->GetData(Context, repeatSql(productCode)));
    if (cdstmp->IsEmpty())
        return false;
    productName = cdstmp->FieldByName(QStringLiteral("CNAME")).AsString();
    return true;
}

void TcdProductProject::StoreProduct(const QString &projectId, const QString &productCode)
{
    checkStored(DBPipe->ExecSQL(Context, storeSql(projectId, productCode)), productCode);
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
    return DBPipe->ExecSQL(Context, deleteSql(projectId, productCode)) > 0;
}

bool TcdProductProject::ProjectExists(const QString &projectId)
{
    bool numeric = false;
    const qint64 id = projectId.toLongLong(&numeric);
    if (!numeric || QString::number(id) != projectId)
        return false;
    return DBPipe->GetData(Context, QStringLiteral("select ID from QEL_PROJECT where ID=") + QString::number(id)).rowCount() > 0;
}

namespace {
// Writes go in transactions of this many performances: one commit instead of
// one per row, and another desk never waits long for the database.
constexpr qsizetype kBatch = 500;

// Causes after which no later write of the command can succeed either.
bool hitsEveryRow(const std::exception_ptr &e)
{
    switch (CauseOf(e)) {
    case THostErrorCause::ConnectionLost:
    case THostErrorCause::Deadline:
    case THostErrorCause::OutcomeUnknown:
    case THostErrorCause::Busy:
    case THostErrorCause::ReadOnly:
    case THostErrorCause::DiskFull: return true;
    default: return false;
    }
}

// Ends a bulk command: why first, in the cause's own words, then how far it
// got. The cause goes with it, and a lost connection stays one.
[[noreturn]] void endCommand(const std::exception_ptr &e, const QString &why, const QString &tally)
{
    const QString text = why + QLatin1Char('\n') + tally;
    const THostErrorCause cause = CauseOf(e);
    try {
        std::rethrow_exception(e);
    } catch (const EConnectionLost &) {
        throw EConnectionLost(text, cause);
    } catch (...) {
    }
    throw EHostError(text, cause);
}

QString assignedWarning(const QString &name)
{
    return QStringLiteral("演出: ") + name + QStringLiteral("已被其他项目使用！");
}
} // namespace

qsizetype TcdProductProject::AddProducts(const QString &projectId, const QStringList &codes, const TBulkCallbacks &report)
{
    qsizetype added = 0;
    const auto step = [&](qsizetype i) {
        if (report.progress)
            report.progress(i);
    };
    const auto tell = [&](TBulkNote note, const QString &text) {
        if (report.message)
            report.message(note, text);
    };
    const auto stop = [&](const std::exception_ptr &e, const QString &why) {
        endCommand(e, why, QStringLiteral("添加演出未完成：已添加 %1 个演出，未添加 %2 个。").arg(added).arg(codes.size() - added));
    };
    // After a refused insert: a cause that hits every row, or a project that is
    // gone, ends the command; anything else was this performance's own.
    const auto afterRefusal = [&](const std::exception_ptr &e) {
        if (hitsEveryRow(e))
            stop(e, ExceptionText(e));
        bool exists = false;
        try {
            exists = ProjectExists(projectId);
        } catch (...) {
            const std::exception_ptr check = std::current_exception();
            stop(check, ExceptionText(check));
        }
        if (!exists)
            stop(e, QStringLiteral("项目（编号“%1”）已不存在（可能已被其他操作员删除），无法再添加演出。").arg(projectId));
    };

    const auto checksOf = [&](qsizetype from) {
        QStringList checks;
        for (qsizetype i = from; i < std::min(codes.size(), from + kBatch); ++i)
            checks << repeatSql(codes[i]);
        return checks;
    };
    // The next batch's transaction, begun by this batch's commit with its
    // checks already answered.
    std::unique_ptr<PipeTransaction> carried;
    BatchOutcome carriedSeen;
    for (qsizetype start = 0; start < codes.size(); start += kBatch) {
        const qsizetype end = std::min(codes.size(), start + kBatch);
        // Told once the transaction is over: no desk waits on a message box.
        QList<std::pair<TBulkNote, QString>> notes;
        qsizetype stored = 0;
        // A failing check ends the command at that performance; what came before it stays.
        std::exception_ptr failure;
        qsizetype upTo = end;
        bool oneByOne = false;
        {
            std::unique_ptr<PipeTransaction> tx = std::move(carried);
            const bool checked = tx != nullptr;
            if (!tx) {
                try {
                    tx = std::make_unique<PipeTransaction>(*DBPipe);
                } catch (...) {
                    const std::exception_ptr e = std::current_exception();
                    if (hitsEveryRow(e))
                        stop(e, ExceptionText(e));
                    oneByOne = true; // each performance then finds its own outcome
                }
            }
            if (tx) {
                // The batch's checks go together (with the last batch's
                // commit), then its inserts: two round trips.
                const BatchOutcome seen = checked ? std::exchange(carriedSeen, BatchOutcome()) : DBPipe->GetDataBatch(Context, checksOf(start));
                QStringList inserts, insertCodes;
                for (qsizetype k = 0; k < seen.rows.size(); ++k) {
                    step(start + k);
                    const DataPacket &p = seen.rows[k];
                    if (p.rowCount() > 0) {
                        notes.append({TBulkNote::Assigned, assignedWarning(p.text(0, p.columnIndex(QStringLiteral("CNAME"))))});
                        continue;
                    }
                    inserts << storeSql(projectId, codes[start + k]);
                    insertCodes << codes[start + k];
                }
                if (seen.failure) {
                    // The command ends at that performance; those before it
                    // go one by one, as a single add does.
                    tx.reset();
                    if (hitsEveryRow(seen.failure))
                        stop(seen.failure, ExceptionText(seen.failure));
                    failure = seen.failure;
                    upTo = start + seen.rows.size();
                    oneByOne = true;
                } else if (!inserts.isEmpty()) {
                    const BatchOutcome wrote = DBPipe->ExecSQLBatch(Context, inserts);
                    std::exception_ptr refused = wrote.failure;
                    for (qsizetype k = 0; !refused && k < wrote.changed.size(); ++k) {
                        try {
                            checkStored(wrote.changed[k], insertCodes[k]);
                        } catch (...) {
                            refused = std::current_exception();
                        }
                    }
                    if (refused) {
                        tx.reset(); // the batch goes back
                        afterRefusal(refused);
                        oneByOne = true; // something in it was refused: one by one
                    } else {
                        stored = inserts.size();
                    }
                }
            }
            if (tx) {
                try {
                    // Only with nothing to tell: no desk waits on a message box.
                    if (end < codes.size() && !failure && notes.isEmpty()) {
                        carriedSeen = tx->commitThenBegin(Context, checksOf(end));
                        carried = std::move(tx);
                    } else {
                        tx->commit();
                    }
                    added += stored;
                } catch (...) {
                    const std::exception_ptr e = std::current_exception();
                    if (!failure || hitsEveryRow(e))
                        stop(e, ExceptionText(e));
                    oneByOne = true; // the failed check took the transaction with it
                }
            }
        }
        if (!oneByOne) {
            for (const auto &[note, text] : notes)
                tell(note, text);
        } else {
            // As a single add does: each performance with its own outcome and message.
            for (qsizetype i = start; i < upTo; ++i) {
                step(i);
                QString name;
                bool taken = false;
                try {
                    taken = brepeat(codes[i], name);
                } catch (...) {
                    const std::exception_ptr e = std::current_exception();
                    stop(e, ExceptionText(e));
                }
                if (taken) {
                    tell(TBulkNote::Assigned, assignedWarning(name));
                    continue;
                }
                QString refused;
                try {
                    StoreProduct(projectId, codes[i]);
                    ++added;
                } catch (...) {
                    const std::exception_ptr e = std::current_exception();
                    afterRefusal(e);
                    refused = QStringLiteral("新建失败，请检查该演出是否已经配置过项目\n演出编码：%1\n%2").arg(codes[i], ExceptionText(e));
                }
                if (!refused.isEmpty())
                    tell(TBulkNote::Refused, refused);
            }
        }
        if (failure)
            stop(failure, ExceptionText(failure));
    }
    return added;
}

qsizetype TcdProductProject::DelProducts(const QString &projectId, const QStringList &codes, const TBulkCallbacks &report)
{
    qsizetype removed = 0;
    QStringList gone; // already removed at another desk
    std::exception_ptr failure;
    for (qsizetype start = 0; start < codes.size() && !failure; start += kBatch) {
        const qsizetype end = std::min(codes.size(), start + kBatch);
        qsizetype batchRemoved = 0;
        QStringList batchGone;
        try {
            PipeTransaction tx(*DBPipe);
            // The batch's deletes go together: one round trip.
            QStringList deletes;
            for (qsizetype i = start; i < end; ++i)
                deletes << deleteSql(projectId, codes[i]);
            const BatchOutcome done = DBPipe->ExecSQLBatch(Context, deletes);
            if (done.failure)
                std::rethrow_exception(done.failure);
            for (qsizetype k = 0; k < done.changed.size(); ++k) {
                if (report.progress)
                    report.progress(start + k);
                if (done.changed[k] > 0)
                    ++batchRemoved;
                else
                    batchGone << codes[start + k];
            }
            tx.commit();
        } catch (...) {
            failure = std::current_exception(); // the batch went back
            break;
        }
        removed += batchRemoved;
        gone += batchGone;
    }
    if (!gone.isEmpty() && report.message)
        report.message(TBulkNote::Gone, QStringLiteral("以下演出已不在本项目中（可能已被其他操作员删除）：") + gone.join(QStringLiteral("，")));
    if (failure)
        endCommand(failure, ExceptionText(failure),
                   QStringLiteral("删除演出未完成：已删除 %1 个演出，未删除 %2 个。").arg(removed).arg(codes.size() - removed - gone.size()));
    return removed;
}
