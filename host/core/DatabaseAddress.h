#pragma once
#include "CoreGlobal.h"
#include <QList>
#include <QString>

// A database address as the host takes it: "sqlite:PATH", a libpq URI
// ("postgresql://…"; "postgresql:" alone takes everything from libpq's
// environment, service file and password file) or a libpq keyword=value
// string ("service=boxoffice", "host=dbhost dbname=qel"). Whatever the
// operator or a log may read shows a password as ***.
namespace DatabaseAddress {

// A PostgreSQL address, by libpq's own rule: a URI, or keyword=value.
QELCORE_EXPORT bool isServer(const QString &address);
// "postgresql:" / "postgres:" alone as the empty URI libpq knows; else unchanged.
QELCORE_EXPORT QString normalized(const QString &address);
QELCORE_EXPORT bool hasPassword(const QString &address);
// The address with each password (URI user info, password= item or query parameter) as ***.
QELCORE_EXPORT QString masked(const QString &address);
// text (a libpq message may quote a piece of the address) with the address's passwords as ***.
QELCORE_EXPORT QString hidePassword(const QString &text, const QString &address);

// One keyword=value item of a keyword=value string, as libpq reads it.
struct Item {
    QString key, value;           // value without its quotes and escapes
    qsizetype from = 0, to = 0;   // the whole item in the string
    qsizetype valueFrom = 0;      // the value as written (to ends it)
};
// The items of a keyword=value string; stops at the first malformed one (libpq reports it).
QELCORE_EXPORT QList<Item> items(const QString &conninfo);
QELCORE_EXPORT bool isUri(const QString &address);

} // namespace DatabaseAddress
