#include "Context.h"
#include "Gbk.h"
#include "HostError.h"

void TQELContext::SetAsString(const QString &context)
{
    m_text = context;
    m_fields = context.split(Separator);
}

QString TQELContext::Value(int i) const
{
    return i >= 0 && i < m_fields.size() ? m_fields[i] : QString();
}

QString TQELContext::Compose(const QStringList &fields)
{
    QStringList all = fields.mid(0, FieldCount);
    while (all.size() < FieldCount)
        all << QString();
    return all.join(Separator);
}

void TQELContext::Check(const QString &context)
{
    if (IsGbkText(context))
        return;
    static const char *const names[] = {"节点编号", "操作员组", "用户名", "操作员类别"};
    const QStringList fields = context.split(Separator);
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QString bad = NonGbkCharacter(fields[i]);
        if (bad.isEmpty())
            continue;
        const QString which = i < 4 ? QStringLiteral("“%1”（第 %2 项）").arg(QString::fromUtf8(names[i])).arg(i + 1) : QStringLiteral("第 %1 项").arg(i + 1);
        throw EHostError(QStringLiteral("操作员会话信息的%1含有 GBK 编码无法表示的字符%2，无法与数据库交换；请改正操作员信息后重新打开窗口").arg(which, bad));
    }
    CheckGbkText(context);
}

TQELCSnapIn::TQELCSnapIn(QObject *parent) : QObject(parent) {}

void TQELCSnapIn::SetContext(const QString &context)
{
    m_context = context;
    emit OnContextChange(this);
}
