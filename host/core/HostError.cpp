#include "HostError.h"

EHostError::EHostError(const QString &message, THostErrorCause cause)
    : std::runtime_error(message.toStdString()), m_message(message), m_cause(cause)
{
}

THostErrorCause CauseOf(const std::exception_ptr &e)
{
    if (!e)
        return THostErrorCause::Other;
    try {
        std::rethrow_exception(e);
    } catch (const EHostError &err) {
        return err.cause();
    } catch (...) {
    }
    return THostErrorCause::Other;
}

QString MultipleStatementsText()
{
    return QStringLiteral("语句文本中含有多条 SQL 语句，为安全起见拒绝执行，未作任何修改");
}
