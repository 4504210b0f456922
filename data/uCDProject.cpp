#include "uCDProject.h"
#include <Database.h>
#include <HostError.h>
#include <QComboBox>
#include <QListView>
#include <QPointer>
#include <PacketListModel.h>
#include <SqlText.h>

QPointer<TCDProject> CDProject;

namespace {
QString insertLimitSql(const QString &projectId, const QString &memberClassId, const QString &maxNum, const QString &limitType,
                       const QString &enable)
{
    if (enable.isEmpty())
        return QStringLiteral("INSERT INTO qel_project_member_limit(PID,MEMBER_CLASS_ID,MAX_NUM,limit_type) Values(%1,%2,%3,%4)")
            .arg(QuotedStr(projectId), QuotedStr(memberClassId), QuotedStr(maxNum), QuotedStr(limitType));
    return QStringLiteral("INSERT INTO qel_project_member_limit(PID,MEMBER_CLASS_ID,MAX_NUM,limit_type,enable) Values(%1,%2,%3,%4,%5)")
        .arg(QuotedStr(projectId), QuotedStr(memberClassId), QuotedStr(maxNum), QuotedStr(limitType), QuotedStr(enable));
}

// The checks a new limit must pass: the project has no limit of the other
// type, and none for this class (leaving out `leaveOut`).
QString sameClassSql(const QString &projectId, const QString &memberClassId, const QString &leaveOut)
{
    QString sql = QStringLiteral("Select 1 as vStatus FROM qel_project_member_limit WHERE pid=") + QuotedStr(projectId) +
                  QStringLiteral(" and MEMBER_CLASS_ID=") + QuotedStr(memberClassId);
    if (!leaveOut.isEmpty())
        sql += QStringLiteral(" and MEMBER_CLASS_ID<>") + QuotedStr(leaveOut);
    return sql;
}

// The other limit type: "2" for "1", "1" for anything else.
QString otherType(const QString &type)
{
    return type == QLatin1String("1") ? QStringLiteral("2") : QStringLiteral("1");
}

QString otherTypeSql(const QString &projectId, const QString &limitType)
{
    return QStringLiteral("Select 1 as vStatus FROM qel_project_member_limit WHERE pid=") + QuotedStr(projectId) + QStringLiteral(" and limit_type=") +
           QuotedStr(otherType(limitType));
}

// A pick list and its parallel ID list from a packet's rows, in their order.
// The names stay in the packet (the list model reads them as the drop-down
// shows them), and the drop-down does not measure 100,000 rows one by one.
void FillPickList(QComboBox *box, QStringList &ids, DataPacket packet, const QString &nameField, const QString &idField)
{
    const int name = packet.columnIndex(nameField);
    const int id = packet.columnIndex(idField);
    if (name < 0 || id < 0)
        throw EHostError(QStringLiteral("数据集中没有字段“%1”").arg(name < 0 ? nameField : idField));
    const int rows = packet.rowCount();
    ids.reserve(ids.size() + rows);
    for (int row = 0; row < rows; ++row)
        ids << packet.text(row, id);
    // The combo box may or may not free its own model on the swap.
    const QPointer<QAbstractItemModel> old = box->model();
    box->setModel(new TQELPacketListModel(std::move(packet), name, box));
    if (old && old->parent() == box)
        delete old.data();
    if (auto *list = qobject_cast<QListView *>(box->view()))
        list->setUniformItemSizes(true);
}
} // namespace

TCDProject::TCDProject(QObject *owner)
    : QObject(owner),
      cdsProject(new TQELClientDataSet(this)),
      DSProject(new TQELDataSource(this)),
      cdsprojectmember(new TQELClientDataSet(this)),
      dsprojectmember(new TQELDataSource(this)),
      cdstmp(new TQELClientDataSet(this))
{
    setObjectName(QStringLiteral("CDProject"));
    cdsProject->setObjectName(QStringLiteral("cdsProject"));
    DSProject->setObjectName(QStringLiteral("DSProject"));
    cdsprojectmember->setObjectName(QStringLiteral("cdsprojectmember"));
    dsprojectmember->setObjectName(QStringLiteral("dsprojectmember"));
    cdstmp->setObjectName(QStringLiteral("cdstmp"));
    DSProject->SetDataSet(cdsProject);
    dsprojectmember->SetDataSet(cdsprojectmember);
    DataModuleCreate(this);
}

TCDProject::~TCDProject()
{
    DataModuleDestroy(this);
}

void TCDProject::DataModuleCreate(QObject *)
{
    DBPipe = std::make_unique<TCADBPipe2>();
}

void TCDProject::DataModuleDestroy(QObject *)
{
    DBPipe.reset();
}

qint64 TCDProject::ProjectIdFromText(const QString &text)
{
    bool ok = false;
    const qint64 id = text.toLongLong(&ok, 10);
    // toLongLong refuses an overflow; the round trip refuses blanks, signs and leading zeros.
    if (!ok || QString::number(id) != text)
        throw EHostError(QStringLiteral("项目编号“%1”无效：编号必须是 64 位范围内的整数，操作未执行。").arg(text));
    return id;
}

// ---- projects -----------------------------------------------------------------

QString TCDProject::ProjectListSql(const QString &filter)
{
    QString sql = QStringLiteral("Select * from QEL_Project  A ");
    if (!filter.isEmpty())
        sql += QStringLiteral(" WHERE CNAME like ") + LikeOperand(filter);
    return sql;
}

void TCDProject::GetProject(const QString &filter)
{
    // Load first: a failed query leaves the list as it was.
    DataPacket rows = DBPipe->GetData(Context, ProjectListSql(filter));
    cdsProject->SetData(std::move(rows));
}

void TCDProject::GetProjectAndMember(const QString &projectFilter, const QString &limitFilter)
{
    // GetProject, then GetProjectmember, in one round trip: a failed load
    // leaves its list as it was, and the limit list is not loaded after a
    // failed project list.
    BatchOutcome out = DBPipe->GetDataBatch(Context, {ProjectListSql(projectFilter), LimitListSql(limitFilter)});
    if (!out.rows.isEmpty())
        cdsProject->SetData(std::move(out.rows[0]));
    if (out.rows.size() > 1)
        cdsprojectmember->SetData(std::move(out.rows[1]));
    if (out.failure)
        std::rethrow_exception(out.failure);
}

bool TCDProject::InsertPro(const QString &name, int crossDiscount, int crossTNum, int crossPNum)
{
    const QString sql = QStringLiteral("INSERT INTO QEL_Project(CName, CROSSDISCOUNT, CROSTNUM, CROSSPNUM) Values(") + QuotedStr(name) +
                        QLatin1Char(',') + QString::number(crossDiscount) + QLatin1Char(',') + QString::number(crossTNum) + QLatin1Char(',') +
                        QString::number(crossPNum) + QLatin1Char(')');
    return DBPipe->ExecSQL(Context, sql) > 0;
}

bool TCDProject::EdtPro(qint64 id, const QString &name, int crossDiscount, int crossTNum, int crossPNum)
{
    const QString sql = QStringLiteral("Update QEL_Project Set CName = ") + QuotedStr(name) + QStringLiteral(", CROSSDISCOUNT = ") +
                        QString::number(crossDiscount) + QStringLiteral(", CROSTNUM = ") + QString::number(crossTNum) +
                        QStringLiteral(", CROSSPNUM = ") + QString::number(crossPNum) + QStringLiteral(" where ID=") + QString::number(id);
    return DBPipe->ExecSQL(Context, sql) > 0;
}

bool TCDProject::DelPro(qint64 id)
{
    // All three or none: a project never survives without its rules, nor do
    // assignments and limits outlive their project.
    PipeTransaction tx(*DBPipe);
    const bool found = deleteProjectRows(id);
    tx.commit();
    return found;
}

bool TCDProject::deleteProjectRows(qint64 id)
{
    const QString n = QString::number(id);
    const bool found = DBPipe->ExecSQL(Context, QStringLiteral("Delete From QEL_PROJECT where ID=") + n) > 0;
    DBPipe->ExecSQL(Context, QStringLiteral("Delete From QEL_PROJECT_PRODUCT where projectID=") + n);
    DBPipe->ExecSQL(Context, QStringLiteral("Delete From qel_project_member_limit where pID=") + n);
    return found;
}

QString TCDProject::rowLock() const
{
    return Database::connection()->engine() == QLatin1String("postgresql") ? QStringLiteral(" for update") : QString();
}

bool TCDProject::readProject(qint64 id, TProjectRow &row)
{
    const DataPacket p = DBPipe->GetData(
        Context, QStringLiteral("Select CName, CROSSDISCOUNT, CROSTNUM, CROSSPNUM from QEL_Project where ID=") + QString::number(id) + rowLock());
    if (p.rowCount() == 0)
        return false;
    row = {p.text(0, 0), int(p.integer(0, 1)), int(p.integer(0, 2)), int(p.integer(0, 3))};
    return true;
}

TSaveOutcome TCDProject::EdtProChecked(qint64 id, const TProjectRow &read, const TProjectRow &mine, TProjectRow &now)
{
    PipeTransaction tx(*DBPipe);
    if (!readProject(id, now))
        return TSaveOutcome::Gone;
    // Another desk's values that this save would put back: the operator decides.
    // When that desk already saved exactly these values, nothing is lost.
    if (now != read && now != mine)
        return TSaveOutcome::Changed;
    if (!EdtPro(id, mine.CName, mine.CrossDiscount, mine.CrosTNum, mine.CrossPNum))
        return TSaveOutcome::Gone;
    tx.commit();
    return TSaveOutcome::Saved;
}

TSaveOutcome TCDProject::DelProChecked(qint64 id, const TProjectRow &read, TProjectRow &now)
{
    PipeTransaction tx(*DBPipe);
    if (readProject(id, now) && now != read)
        return TSaveOutcome::Changed;
    // A project already gone still has what it left behind removed.
    const bool found = deleteProjectRows(id);
    tx.commit();
    return found ? TSaveOutcome::Saved : TSaveOutcome::Gone;
}

TCDProject::TCopyResult TCDProject::CopyPro(qint64 sourceId, const TProjectRow &mine)
{
    TCopyResult result;
    PipeTransaction tx(*DBPipe);
    if (!InsertPro(mine.CName, mine.CrossDiscount, mine.CrosTNum, mine.CrossPNum))
        throw EHostError(QStringLiteral("复制失败：数据库没有保存新项目，没有复制任何内容。"));
    // The new row's ID (the name is unique), the source, and its limits: one round trip.
    const QString src = QString::number(sourceId);
    const BatchOutcome read = DBPipe->GetDataBatch(
        Context, {QStringLiteral("SELECT ID FROM QEL_PROJECT WHERE CNAME = ") + QuotedStr(mine.CName),
                  QStringLiteral("SELECT ID FROM QEL_PROJECT WHERE ID = ") + src,
                  QStringLiteral("SELECT MEMBER_CLASS_ID, MAX_NUM, limit_type, enable FROM qel_project_member_limit WHERE PID = ") + src +
                      QStringLiteral(" ORDER BY limit_type, MEMBER_CLASS_ID")});
    if (read.failure)
        std::rethrow_exception(read.failure);
    if (read.rows[0].rowCount() != 1)
        throw EHostError(QStringLiteral("复制失败：插入后找不到新项目“%1”，没有复制任何内容。").arg(mine.CName));
    if (read.rows[1].rowCount() == 0)
        throw EHostError(QStringLiteral("源项目（编号 %1）已不存在（可能已被其他操作员删除），没有复制任何内容。").arg(sourceId));
    result.ProjectID = read.rows[0].integer(0, 0);
    const QString pid = QString::number(result.ProjectID);

    const DataPacket &limits = read.rows[2];
    QStringList inserts;
    for (int r = 0; r < limits.rowCount(); ++r)
        inserts << insertLimitSql(pid, limits.text(r, 0), limits.text(r, 1), limits.text(r, 2), limits.isNull(r, 3) ? QString() : limits.text(r, 3));
    const BatchOutcome wrote = tx.commitWith(Context, inserts);
    if (wrote.failure)
        std::rethrow_exception(wrote.failure);
    result.Limits = int(inserts.size());
    return result;
}

int TCDProject::readStatus(const QString &sql)
{
    auto tmp = std::make_unique<TQELClientDataSet>();
    tmp->SetData(DBPipe->GetData(Context, sql));
    return int(tmp->FieldByName(QStringLiteral("vStatus")).AsInteger());
}

bool TCDProject::ChkProName(qint64 id, const QString &name)
{
    const QString sql = QStringLiteral("Select 1 as vStatus FROM QEL_PROJECT WHERE ID <> ") + QString::number(id) +
                        QStringLiteral(" and CName=") + QuotedStr(name);
    return readStatus(sql) != 1;
}

// ---- purchase limits ------------------------------------------------------------

QString TCDProject::LimitListSql(const QString &filter)
{
    QString sql = QStringLiteral("Select a.id as projectid,b.MEMBER_CLASS_ID, a.cname,c.member_class_name,b.enable ");
    sql += QStringLiteral(",case when b.enable='1' then '是' when enable='0' then '否' end as enablename  ");
    sql += QStringLiteral(",b.max_num,b.limit_type,case when limit_type='1' then '会员类别' when limit_type='2' then '身份证' end as limitname   from QEL_Project  A ");
    sql += QStringLiteral("  join qel_project_member_limit B on B.pid=A.id ");
    sql += QStringLiteral("  left join um_member_class C on C.member_class_id=b.member_class_id ");
    if (!filter.isEmpty())
        sql += QStringLiteral(" WHERE CNAME like ") + LikeOperand(filter);
    return sql;
}

void TCDProject::GetProjectmember(const QString &filter)
{
    DataPacket rows = DBPipe->GetData(Context, LimitListSql(filter));
    cdsprojectmember->SetData(std::move(rows));
}

void TCDProject::getpromemberinfo(QComboBox *projects, QComboBox *memberClasses, QStringList &projectIds, QStringList &memberClassIds)
{
    projects->clear();
    memberClasses->clear();
    // Both lists in one round trip; the projects are filled before a failed
    // class list is reported, as when they were read one after the other.
    BatchOutcome out = DBPipe->GetDataBatch(Context, {QStringLiteral("select * from qel_project "), QStringLiteral("select * from um_member_class ")});
    if (!out.rows.isEmpty())
        FillPickList(projects, projectIds, std::move(out.rows[0]), QStringLiteral("cname"), QStringLiteral("ID"));
    if (out.failure)
        std::rethrow_exception(out.failure);
    DataPacket &classes = out.rows[1];
    FillPickList(memberClasses, memberClassIds, classes, QStringLiteral("MEMBER_CLASS_NAME"), QStringLiteral("MEMBER_CLASS_ID"));
    // The scratch dataset ends holding the member classes, as it always has.
    cdstmp->SetData(std::move(classes));
}

bool TCDProject::Insertmemberlimit(const QString &projectId, const QString &memberClassId, const QString &maxNum, const QString &limitType,
                                   const QString &enable)
{
    return DBPipe->ExecSQL(Context, insertLimitSql(projectId, memberClassId, maxNum, limitType, enable)) > 0;
}

bool TCDProject::updatememberlimit(const QString &projectId, const QString &newMemberClassId, const QString &storedMemberClassId,
                                   const QString &maxNum, const QString &limitType, const QString &enable)
{
    const QString sql =
        QStringLiteral("update qel_project_member_limit set MEMBER_CLASS_ID=%1,MAX_NUM=%2,limit_type=%3,enable=%4 where pid=%5 AND MEMBER_CLASS_ID=%6")
            .arg(QuotedStr(newMemberClassId), QuotedStr(maxNum), QuotedStr(limitType), QuotedStr(enable), QuotedStr(projectId),
                 QuotedStr(storedMemberClassId));
    return DBPipe->ExecSQL(Context, sql) > 0;
}

bool TCDProject::Dellimit(qint64 projectId, const QString &memberClassId, const QString &limitType)
{
    const QString sql = QStringLiteral("Delete From qel_project_member_limit where PID=") + QString::number(projectId) +
                        QStringLiteral(" and MEMBER_CLASS_ID=") + QuotedStr(memberClassId) + QStringLiteral(" and limit_type=") +
                        QuotedStr(limitType);
    return DBPipe->ExecSQL(Context, sql) > 0;
}

bool TCDProject::readLimit(const QString &projectId, const QString &memberClassId, TLimitRow &row)
{
    const DataPacket p = DBPipe->GetData(Context, QStringLiteral("Select MAX_NUM, limit_type, enable from qel_project_member_limit where pid=") +
                                                      QuotedStr(projectId) + QStringLiteral(" and MEMBER_CLASS_ID=") + QuotedStr(memberClassId) +
                                                      rowLock());
    if (p.rowCount() == 0)
        return false;
    row = {p.text(0, 0), p.text(0, 1), p.text(0, 2)};
    return true;
}

TSaveOutcome TCDProject::UpdateLimitChecked(const QString &projectId, const QString &storedMemberClassId, const TLimitRow &read,
                                            const QString &newMemberClassId, const TLimitRow &mine, TLimitRow &now)
{
    PipeTransaction tx(*DBPipe);
    if (!readLimit(projectId, storedMemberClassId, now))
        return TSaveOutcome::Gone;
    if (now != read && !(now == mine && newMemberClassId == storedMemberClassId))
        return TSaveOutcome::Changed;
    if (bhavepromemupdatexglx(projectId, mine.LimitType, now.LimitType))
        return TSaveOutcome::OtherType;
    if (bhavepromemupdate(projectId, newMemberClassId, storedMemberClassId))
        return TSaveOutcome::SameClass;
    if (!updatememberlimit(projectId, newMemberClassId, storedMemberClassId, mine.MaxNum, mine.LimitType, mine.Enable))
        return TSaveOutcome::Gone;
    tx.commit();
    return TSaveOutcome::Saved;
}

TSaveOutcome TCDProject::DellimitChecked(qint64 projectId, const QString &memberClassId, const TLimitRow &read, TLimitRow &now)
{
    PipeTransaction tx(*DBPipe);
    if (!readLimit(QString::number(projectId), memberClassId, now))
        return TSaveOutcome::Gone;
    if (now != read)
        return TSaveOutcome::Changed;
    if (!Dellimit(projectId, memberClassId, read.LimitType))
        return TSaveOutcome::Gone;
    tx.commit();
    return TSaveOutcome::Saved;
}

bool TCDProject::bhaveproxglx(const QString &projectId, const QString &limitType)
{
    return readStatus(otherTypeSql(projectId, limitType)) == 1;
}

bool TCDProject::bhavepromem(const QString &projectId, const QString &memberClassId, const QString &leaveOut)
{
    return readStatus(sameClassSql(projectId, memberClassId, leaveOut)) == 1;
}

TCDProject::TLimitsResult TCDProject::InsertMemberLimits(const QString &projectId, const QList<TNewLimit> &limits)
{
    TLimitsResult result;
    const QString memberClass = QStringLiteral("1");
    PipeTransaction tx(*DBPipe);
    // Every check in one round trip; the project itself first, so that one
    // deleted meanwhile is named rather than met as a key violation.
    QStringList checks{QStringLiteral("select ID from QEL_PROJECT where ID=") + QString::number(ProjectIdFromText(projectId)),
                       otherTypeSql(projectId, memberClass)};
    for (const TNewLimit &l : limits)
        checks << sameClassSql(projectId, l.MemberClassId, QString());
    const BatchOutcome seen = DBPipe->GetDataBatch(Context, checks);
    if (seen.failure)
        std::rethrow_exception(seen.failure);
    if (seen.rows[0].rowCount() == 0)
        throw EHostError(QStringLiteral("项目（编号“%1”）已不存在（可能已被其他操作员删除），没有设置任何限购。").arg(projectId));
    const bool otherType = seen.rows[1].rowCount() > 0;
    QStringList inserts;
    for (qsizetype i = 0; i < limits.size(); ++i) {
        const TNewLimit &l = limits[i];
        if (otherType)
            result.Refused.append({l.MemberClassId, QStringLiteral("该项目有其他的限购类型!")});
        else if (seen.rows[i + 2].rowCount() > 0)
            result.Refused.append({l.MemberClassId, QStringLiteral("已经存在该项目和会员类别了!")});
        else {
            inserts << insertLimitSql(projectId, l.MemberClassId, l.MaxNum, memberClass, l.Enable);
            result.Written << l.MemberClassId;
        }
    }
    const BatchOutcome wrote = tx.commitWith(Context, inserts);
    if (wrote.failure)
        std::rethrow_exception(wrote.failure);
    return result;
}

bool TCDProject::bhavepromemupdatexglx(const QString &projectId, const QString &newLimitType, const QString &storedLimitType)
{
    const QString sql = QStringLiteral("Select limit_type FROM qel_project_member_limit WHERE pid=") + QuotedStr(projectId) +
                        QStringLiteral(" and limit_type=") + QuotedStr(otherType(newLimitType));
    auto tmp = std::make_unique<TQELClientDataSet>();
    tmp->SetData(DBPipe->GetData(Context, sql));
    const int rows = tmp->RecordCount();
    if (rows >= 2)
        return true;
    if (rows == 1)
        return tmp->FieldByName(QStringLiteral("limit_type")).AsString() != storedLimitType;
    return false;
}

bool TCDProject::bhavepromemupdate(const QString &projectId, const QString &newMemberClassId, const QString &storedMemberClassId)
{
    const QString sql = QStringLiteral("Select 1 as vStatus FROM qel_project_member_limit WHERE pid=") + QuotedStr(projectId) +
                        QStringLiteral(" and MEMBER_CLASS_ID=") + QuotedStr(newMemberClassId) + QStringLiteral(" and MEMBER_CLASS_ID<>") +
                        QuotedStr(storedMemberClassId);
    auto tmp = std::make_unique<TQELClientDataSet>();
    tmp->SetData(DBPipe->GetData(Context, sql));
    return tmp->RecordCount() > 0;
}
