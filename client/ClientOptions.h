#pragma once
#include <QString>
#include <QStringList>

// What the command line asks of the host.
struct ClientOptions {
    QString database;   // --database URL
    QStringList operatorFields; // --operator NODE,GROUP,USER,KIND
    QString screenshotDir;      // --screenshot DIR
    QString package;            // --package PATH
};

// The demo operator: node 01, group G01, user admin, kind A.
QStringList DefaultOperator();
// Parses the arguments (without the program name); throws EHostError on a bad one.
ClientOptions ParseClientOptions(const QStringList &args);
