#pragma once
#include "CoreGlobal.h"
#include <QString>

// Values composed into statement text. A value enters a statement only
// through one of these, so it can never leave its literal.

// A quoted SQL literal: single quotes around, inner single quotes doubled.
QELCORE_EXPORT QString QuotedStr(const QString &value);

// The right-hand side of a "contains" filter's like: '%text%' with single
// quotes doubled, so the text stays inside its literal; % and _ keep acting
// as wildcards. A backslash is PostgreSQL's default escape, so text that
// holds one gets it doubled and an explicit ESCAPE '\', read alike by
// SQLite; text without one keeps the plain literal.
QELCORE_EXPORT QString LikeOperand(const QString &text);
