#pragma once
#include <QString>

// What the forms call the fields of a project, a limit and a performance of a
// project: their grids' columns, the rows of the dialog that shows another
// desk's change, and the history's list of changes read them all from here.
namespace FieldTitles {
inline QString ProjectId() { return QStringLiteral("编号"); }
inline QString ProjectName() { return QStringLiteral("演出项目"); }
inline QString CrossDiscount() { return QStringLiteral("跨场折扣率(%)"); }
inline QString CrossTickets() { return QStringLiteral("跨场打折满足张数"); }
inline QString CrossPerformances() { return QStringLiteral("跨场打折满足场次数"); }
// The project a limit or a performance belongs to.
inline QString OwnerProjectId() { return QStringLiteral("项目编号"); }
inline QString MemberClass() { return QStringLiteral("会员类别"); }
inline QString MaxNum() { return QStringLiteral("限购数量"); }
inline QString LimitType() { return QStringLiteral("限购类型"); }
inline QString Enable() { return QStringLiteral("是否可用"); }
inline QString ProductCode() { return QStringLiteral("演出编码"); }
} // namespace FieldTitles
