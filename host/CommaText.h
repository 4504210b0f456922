#pragma once
#include "HostGlobal.h"
#include <QString>
#include <QStringList>

// The list format for performance codes: items joined by ","; an item with a
// blank, a control character, a comma or a double quote (or an empty item) is
// written in double quotes with inner double quotes doubled.
QELHOST_EXPORT QString WriteCommaText(const QStringList &items);
// Reads comma text: an item ends at a comma or, outside double quotes, at a blank.
QELHOST_EXPORT QStringList ReadCommaText(const QString &text);

// A quoted SQL literal: single quotes around, inner single quotes doubled.
QELHOST_EXPORT QString QuotedStr(const QString &value);
