#pragma once
#include "Backend.h"
#include "CoreGlobal.h"
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// The process-wide database: one long-lived connection that every pipe shares.
class QELCORE_EXPORT Database {
public:
    using TraceHook = std::function<void(const QString &context, const QString &sql)>;

    // "sqlite:PATH", "postgresql://..." (any libpq URI) or a libpq keyword=value
    // string such as "service=boxoffice" (see DatabaseAddress.h). Replaces the current connection.
    static void open(const QString &url);
    static void close();
    static bool isOpen();
    static QString url();
    // The open embedded database's files as SQLite names them (the file, its
    // -wal, -shm and -journal), absolute; empty for a server. Nothing but
    // SQLite may open them: closing any descriptor of a file drops every
    // POSIX lock this process holds on it.
    static QStringList files();
    // The current connection; throws EHostError when none is open.
    static std::shared_ptr<Backend> connection();
    // A connection of its own (not shared), for tools and tests.
    static std::unique_ptr<Backend> connect(const QString &url);

    // The host's choice: explicit URL, else QEL_DATABASE, else the desk's
    // settings (Database/Address; refused when it holds a password), else the
    // embedded default file.
    static QString resolveUrl(const QString &explicitUrl);
    static QString defaultSqlitePath();

    // Writes refused for the whole process, with the message the operator
    // reads (e.g. the change history cannot be kept): every pipe's ExecSQL
    // and BeginTrans throw it before sending anything; reads go on. Empty
    // lifts it; open and close lift it too.
    static void refuseWrites(const QString &message);
    static QString writeRefusal();

    // Lets tests record every (context, statement) a pipe sends.
    static void setTraceHook(TraceHook hook);
    static void trace(const QString &context, const QString &sql);
};
