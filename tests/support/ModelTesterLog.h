#pragma once
#include <QByteArray>
#include <QStringList>
#include <QtGlobal>

// Collects what QAbstractItemModelTester reports while it lives.
class ModelTesterLog {
public:
    ModelTesterLog() : m_prev(qInstallMessageHandler(&ModelTesterLog::handler)) { s_log = &m_lines; }
    ~ModelTesterLog()
    {
        qInstallMessageHandler(m_prev);
        s_log = nullptr;
    }
    ModelTesterLog(const ModelTesterLog &) = delete;
    ModelTesterLog &operator=(const ModelTesterLog &) = delete;
    QStringList lines() const { return m_lines; }

private:
    static void handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
    {
        if (s_log && type != QtDebugMsg && ctx.category && QByteArray(ctx.category).startsWith("qt.modeltest"))
            s_log->append(msg);
    }
    static inline QStringList *s_log = nullptr;
    QStringList m_lines;
    QtMessageHandler m_prev;
};
