#include "Processes.h"
#include <HostError.h>
#include <QCollator>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>

namespace {

QString failure(const QProcess &p, const QString &program, const QString &what)
{
    return QStringLiteral("%1: %2 (exit %3, %4)").arg(program, what).arg(p.exitCode()).arg(p.errorString());
}

} // namespace

double timeUntilLine(QProcess &p, const QString &program, const QStringList &args, const QString &line, int timeoutMs)
{
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program, args, QIODevice::ReadOnly);
    if (!p.waitForStarted(timeoutMs))
        throw EHostError(failure(p, program, QStringLiteral("did not start")));
    QByteArray pending;
    const QByteArray want = line.toUtf8();
    for (;;) {
        while (p.canReadLine()) {
            const QByteArray l = p.readLine().trimmed();
            if (l.endsWith(want))
                return double(t.nsecsElapsed()) / 1e9;
        }
        if (p.state() == QProcess::NotRunning)
            throw EHostError(failure(p, program, QStringLiteral("ended before printing %1").arg(line)));
        const qint64 left = timeoutMs - t.elapsed();
        if (left <= 0)
            throw EHostError(failure(p, program, QStringLiteral("printed no %1 in time").arg(line)));
        p.waitForReadyRead(int(std::min<qint64>(left, 1000)));
    }
}

void endProcess(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.kill();
    p.waitForFinished(10000);
}

double timeRun(const QString &program, const QStringList &args, const QByteArray &input, const QStringList &env, int timeoutMs)
{
    QProcess p;
    if (!env.isEmpty()) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString &kv : env)
            e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
        p.setProcessEnvironment(e);
    }
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForStarted(timeoutMs))
        throw EHostError(failure(p, program, QStringLiteral("did not start")));
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        endProcess(p);
        throw EHostError(failure(p, program, QStringLiteral("did not finish in time")));
    }
    const double s = double(t.nsecsElapsed()) / 1e9;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        throw EHostError(failure(p, program, QStringLiteral("failed")));
    return s;
}

QByteArray runForOutput(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args, QIODevice::ReadOnly);
    if (!p.waitForFinished(timeoutMs)) {
        endProcess(p);
        throw EHostError(failure(p, program, QStringLiteral("did not finish in time")));
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        throw EHostError(failure(p, program, QStringLiteral("failed")));
    return p.readAllStandardOutput();
}

namespace {
qint64 statusKiB(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}
} // namespace

qint64 currentRss()
{
    return statusKiB("VmRSS:");
}

qint64 peakRss()
{
    return statusKiB("VmHWM:");
}

bool resetPeakRss()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

QString psqlProgram()
{
    QDir dir(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(), [&](const QString &a, const QString &b) { return numeric.compare(a, b) > 0; });
    for (const QString &v : versions) {
        const QString path = dir.filePath(v + QStringLiteral("/bin/psql"));
        if (QFileInfo::exists(path))
            return path;
    }
    return QStringLiteral("psql");
}
