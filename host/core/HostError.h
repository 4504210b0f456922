#pragma once
#include "CoreGlobal.h"
#include <QString>
#include <stdexcept>

// What a failure means for the work around it. A command that does many
// writes asks this to tell a cause that hits every remaining write (the
// database refuses all writes, the connection is gone) from one that hits
// this row alone.
enum class THostErrorCause {
    Other,
    ConnectionLost, // the session is gone; whatever was not committed is lost
    Deadline,       // the server did not answer in time; the session was dropped
    OutcomeUnknown, // the session went while a commit was on its way, and no server could tell whether it landed
    Busy,           // a lock held by another desk was not granted in time
    ReadOnly,       // the database takes no writes
    DiskFull,
    Constraint,     // a key or rule of the database refused this row
};

// Every failure a host service reports. The message is meant for the operator:
// Chinese first, then the cause as the server or the system gave it.
class QELCORE_EXPORT EHostError : public std::runtime_error {
public:
    explicit EHostError(const QString &message, THostErrorCause cause = THostErrorCause::Other);
    QString message() const { return m_message; }
    THostErrorCause cause() const { return m_cause; }

private:
    QString m_message;
    THostErrorCause m_cause;
};

// A statement or session could not reach the server (connection lost or refused).
class QELCORE_EXPORT EConnectionLost : public EHostError {
public:
    explicit EConnectionLost(const QString &message, THostErrorCause cause = THostErrorCause::ConnectionLost) : EHostError(message, cause) {}
};

// The refusal of a statement text that holds more than one statement.
QELCORE_EXPORT QString MultipleStatementsText();

// The cause of a caught exception; Other for anything that is no EHostError.
QELCORE_EXPORT THostErrorCause CauseOf(const std::exception_ptr &e);
