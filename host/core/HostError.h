#pragma once
#include "CoreGlobal.h"
#include <QString>
#include <stdexcept>

// Every failure a host service reports. The message is meant for the operator:
// Chinese first, then the cause as the server or the system gave it.
class QELCORE_EXPORT EHostError : public std::runtime_error {
public:
    explicit EHostError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// A statement or session could not reach the server (connection lost or refused).
class QELCORE_EXPORT EConnectionLost : public EHostError {
public:
    using EHostError::EHostError;
};
