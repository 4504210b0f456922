#pragma once
#include "Backend.h"
#include "DataPacket.h"
#include "CoreGlobal.h"
#include <QString>
#include <QStringList>
#include <memory>

// The data pipe. Creating one is free: all pipes of the process share the
// database's one connection, taken on first use.
class QELCORE_EXPORT TCADBPipe2 {
public:
    TCADBPipe2();
    ~TCADBPipe2();

    // Runs one data-changing statement; returns the rows affected. It and
    // BeginTrans throw Database::writeRefusal() (cause ReadOnly) while one is set.
    int ExecSQL(const QString &context, const QString &sql);
    // Runs one query; the packet's columns are the select list's names.
    DataPacket GetData(const QString &context, const QString &sql);

    // Several statements as ExecSQL (or GetData) would run them one by one,
    // sent together where the engine can (see Backend::batch). Every text is
    // checked before anything is sent; one that fails its check ends the
    // batch there, as its call would have. Failures come back in the outcome.
    BatchOutcome ExecSQLBatch(const QString &context, const QStringList &sqls);
    BatchOutcome GetDataBatch(const QString &context, const QStringList &sqls);
    // Writes, then the open transaction's commit when all of them ran (see
    // Backend::commitWith); PipeTransaction::commitWith is the usual way in.
    BatchOutcome ExecSQLBatchAndCommit(const QString &context, const QStringList &sqls);
    // Commits, begins the next transaction and runs queries in it (see
    // Backend::commitThenBegin); PipeTransaction::commitThenBegin is the usual way in.
    BatchOutcome CommitThenGetDataBatch(const QString &context, const QStringList &sqls);

    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();

private:
    Backend &conn();
    QByteArray prepare(const QString &context, const QString &sql);
    enum class BatchKind { Queries, Writes, WritesThenCommit, CommitThenQueries };
    BatchOutcome batch(const QString &context, const QStringList &sqls, BatchKind kind);
    std::shared_ptr<Backend> m_conn;
};

// Begins on construction; rolls back unless commit() was reached.
class QELCORE_EXPORT PipeTransaction {
public:
    explicit PipeTransaction(TCADBPipe2 &pipe);
    ~PipeTransaction();
    void commit();
    // The last writes and the commit together: done when the outcome has no
    // failure; otherwise the guard still rolls back.
    BatchOutcome commitWith(const QString &context, const QStringList &writes);
    // Commits, and guards the next transaction from here, whose first
    // queries go with the COMMIT. A failed commit throws, as commit() does.
    BatchOutcome commitThenBegin(const QString &context, const QStringList &queries);
    PipeTransaction(const PipeTransaction &) = delete;
    PipeTransaction &operator=(const PipeTransaction &) = delete;

private:
    TCADBPipe2 &m_pipe;
    bool m_done = false;
};
