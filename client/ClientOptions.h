#pragma once
#include <QString>
#include <QStringList>

// What the command line asks of the host.
struct ClientOptions {
    QString database;   // --database URL
    QStringList operatorFields; // --operator NODE,GROUP,USER,KIND
    QString screenshotDir;      // --screenshot DIR
    QString package;            // --package PATH
    bool create = false;        // --create: a missing or empty SQLite file gets the schema
    bool demo = false;          // --demo: the schema where missing, and the demo data
    QString backupCopy;         // --backup COPY: copy the SQLite database there and exit
};

// The demo operator: node 01, group G01, user admin, kind A.
QStringList DefaultOperator();
// Parses the arguments (without the program name); throws EHostError on a bad one.
ClientOptions ParseClientOptions(const QStringList &args);
// Refuses, naming it, an SQLite name that is no file of its own: one SQLite
// answers with a private database lost at exit (":memory:", other names
// starting with ':', URI names such as file:x?mode=memory), or a folder.
void CheckSqliteFileName(const QString &path);
