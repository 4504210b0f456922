#pragma once
// Reading qelstress logs and starting qelstress processes, for the tests.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace stress {

// One logged operation (see qelstress.cpp for the format).
struct Op {
    int desk = 0;
    int seq = 0;
    qint64 start = 0, end = 0;
    QString outcome; // ok, fail, lost, check, read
    QString op;      // P+ PE PD L+ LE L- A+ A- ID BUILT
    QStringList args;
    QString detail;  // the message of a refusal
    bool acked() const { return outcome == QLatin1String("ok"); }
    // Acknowledged, or cut off by a lost connection: it may have taken effect.
    bool mayHaveApplied() const { return outcome == QLatin1String("ok") || outcome == QLatin1String("lost"); }
    QString arg(int i) const { return args.value(i); }
};

inline std::vector<Op> readLog(const QString &path)
{
    std::vector<Op> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        if (raw.isEmpty())
            continue;
        QStringList fields = QString::fromUtf8(raw).split(QLatin1Char('\t'));
        if (fields.size() < 6)
            continue;
        Op op;
        op.desk = fields[0].toInt();
        op.seq = fields[1].toInt();
        op.start = fields[2].toLongLong();
        op.end = fields[3].toLongLong();
        op.outcome = fields[4];
        op.op = fields[5];
        for (int i = 6; i < fields.size(); ++i) {
            if (fields[i].startsWith(QLatin1Char('#')))
                op.detail = fields[i].mid(1);
            else
                op.args << fields[i];
        }
        out.push_back(op);
    }
    return out;
}

inline QString binary()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/qelstress");
}

// Starts one desk; the caller waits for it (or kills it).
inline std::unique_ptr<QProcess> startDesk(const QStringList &args)
{
    auto p = std::make_unique<QProcess>();
    p->setProgram(binary());
    p->setArguments(args);
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start();
    return p;
}

} // namespace stress
