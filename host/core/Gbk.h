#pragma once
#include "CoreGlobal.h"
#include <QString>

// True when every character of text has a GBK (code page 936) code.
QELCORE_EXPORT bool IsGbkText(const QString &text);
// Throws EHostError naming the first character GBK cannot hold, or a NUL
// character (no text column of either engine keeps one intact).
QELCORE_EXPORT void CheckGbkText(const QString &text);
// The text as GBK bytes; characters outside GBK throw as CheckGbkText does.
QELCORE_EXPORT QByteArray ToGbk(const QString &text);
// The first character GBK cannot hold, described for a message ("“😀”（U+1F600）"
// or "空字符（NUL）"); empty when there is none.
QELCORE_EXPORT QString NonGbkCharacter(const QString &text);
