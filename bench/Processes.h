#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

class QProcess;

// Cold processes for the start-up and memory measures: each call starts a new
// process, so nothing is warm in it but the operating system's file cache.

// Starts program with args and returns the seconds until it printed a line
// ending with `line` on stdout; the process is left running (end it with
// endProcess, untimed). Throws EHostError when it exits or stalls first.
double timeUntilLine(QProcess &p, const QString &program, const QStringList &args, const QString &line, int timeoutMs = 120000);
void endProcess(QProcess &p);

// Runs program to its end with stdin fed from input and stdout thrown away;
// env adds "NAME=value" entries. Returns the seconds it took; throws
// EHostError when it fails.
double timeRun(const QString &program, const QStringList &args, const QByteArray &input, const QStringList &env = {}, int timeoutMs = 120000);

// Runs program to its end and returns its stdout; throws EHostError when it fails.
QByteArray runForOutput(const QString &program, const QStringList &args, int timeoutMs = 120000);

// Resident set size of this process now, and its peak since the last
// resetPeakRss() (or since it started), in bytes; -1 when unknown.
qint64 currentRss();
qint64 peakRss();
// Starts a new peak from the current size (Linux 4.0 and later); false when refused.
bool resetPeakRss();

// The newest psql binary on the machine (the Debian wrapper in PATH starts a
// Perl interpreter first), or "psql".
QString psqlProgram();
