#pragma once
#include "HostError.h"
#include "QtPrint.h"
#include <QString>
#include <gtest/gtest.h>

// Runs f and returns the message of the E it throws; records a test failure
// (and returns an empty text) when it throws nothing. Other exceptions pass
// through, so gtest reports their type and text.
template <class E = EHostError, class F>
QString thrownMessage(F &&f)
{
    try {
        f();
    } catch (const E &e) {
        return e.message();
    }
    ADD_FAILURE() << "expected an exception, none was thrown";
    return QString();
}

// An operator's message starts with Chinese (any cause follows it).
inline bool chineseFirst(const QString &msg)
{
    return !msg.isEmpty() && msg.at(0).unicode() >= 0x4E00 && msg.at(0).unicode() <= 0x9FFF;
}
