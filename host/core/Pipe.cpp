#include "Pipe.h"
#include "Context.h"
#include "Database.h"
#include "Gbk.h"
#include "HostError.h"

TCADBPipe2::TCADBPipe2() = default;
TCADBPipe2::~TCADBPipe2() = default;

Backend &TCADBPipe2::conn()
{
    if (!m_conn)
        m_conn = Database::connection();
    return *m_conn;
}

QByteArray TCADBPipe2::prepare(const QString &context, const QString &sql)
{
    // Refuse what a GBK database could not store before anything is sent.
    TQELContext::Check(context);
    CheckGbkText(sql);
    Database::trace(context, sql);
    return sql.toUtf8();
}

namespace {
void checkWritesAllowed()
{
    const QString refusal = Database::writeRefusal();
    if (!refusal.isEmpty())
        throw EHostError(refusal, THostErrorCause::ReadOnly);
}
} // namespace

int TCADBPipe2::ExecSQL(const QString &context, const QString &sql)
{
    checkWritesAllowed();
    const QByteArray text = prepare(context, sql);
    Backend &db = conn();
    // The history triggers record this operator; the statement stays as it is.
    db.setOperator(context);
    return db.exec(text);
}

DataPacket TCADBPipe2::GetData(const QString &context, const QString &sql)
{
    const QByteArray text = prepare(context, sql);
    Backend &db = conn();
    db.setOperator(context);
    return db.query(text);
}

BatchOutcome TCADBPipe2::batch(const QString &context, const QStringList &sqls, BatchKind kind)
{
    const bool queries = kind == BatchKind::Queries || kind == BatchKind::CommitThenQueries;
    QList<QByteArray> texts;
    std::exception_ptr refused;
    try {
        if (!queries)
            checkWritesAllowed();
        for (const QString &sql : sqls)
            texts.append(prepare(context, sql));
    } catch (...) {
        refused = std::current_exception();
    }
    BatchOutcome out;
    if (kind == BatchKind::WritesThenCommit && !refused) {
        Backend &db = conn();
        db.setOperator(context);
        out = db.commitWith(texts);
    } else if (kind == BatchKind::CommitThenQueries) {
        Backend &db = conn();
        db.setOperator(context);
        out = db.commitThenBegin(texts);
    } else if (!texts.isEmpty()) {
        Backend &db = conn();
        db.setOperator(context);
        out = db.batch(texts, queries);
    }
    if (!out.failure)
        out.failure = refused;
    return out;
}

BatchOutcome TCADBPipe2::ExecSQLBatch(const QString &context, const QStringList &sqls) { return batch(context, sqls, BatchKind::Writes); }

BatchOutcome TCADBPipe2::GetDataBatch(const QString &context, const QStringList &sqls) { return batch(context, sqls, BatchKind::Queries); }

BatchOutcome TCADBPipe2::ExecSQLBatchAndCommit(const QString &context, const QStringList &sqls)
{
    return batch(context, sqls, BatchKind::WritesThenCommit);
}

void TCADBPipe2::BeginTrans()
{
    checkWritesAllowed();
    conn().begin();
}

void TCADBPipe2::CommitTrans()
{
    conn().commit();
}

void TCADBPipe2::RollbackTrans()
{
    conn().rollback();
}

PipeTransaction::PipeTransaction(TCADBPipe2 &pipe) : m_pipe(pipe)
{
    m_pipe.BeginTrans();
}

PipeTransaction::~PipeTransaction()
{
    if (m_done)
        return;
    try {
        m_pipe.RollbackTrans();
    } catch (...) {
        // The connection is gone; the server has dropped the transaction anyway.
    }
}

void PipeTransaction::commit()
{
    m_pipe.CommitTrans();
    m_done = true;
}

BatchOutcome TCADBPipe2::CommitThenGetDataBatch(const QString &context, const QStringList &sqls)
{
    return batch(context, sqls, BatchKind::CommitThenQueries);
}

BatchOutcome PipeTransaction::commitThenBegin(const QString &context, const QStringList &queries)
{
    return m_pipe.CommitThenGetDataBatch(context, queries);
}

BatchOutcome PipeTransaction::commitWith(const QString &context, const QStringList &writes)
{
    BatchOutcome out = m_pipe.ExecSQLBatchAndCommit(context, writes);
    m_done = !out.failure;
    return out;
}
