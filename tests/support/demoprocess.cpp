// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "demoprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>

#include <csignal>

#ifndef DEMO_BIN_DIR
#error "DEMO_BIN_DIR must name the build tree's bin directory"
#endif

DemoProcess::DemoProcess(const QString &program)
    : path(QStringLiteral(DEMO_BIN_DIR "/") + program)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Nothing of the caller's device or message settings reaches the program.
    for (const QString &name : env.keys()) {
        if (name.startsWith(QLatin1String("KVSYSTEM_"))
            || name.startsWith(QLatin1String("QT_MESSAGE"))
            || name == QLatin1String("QT_LOGGING_RULES"))
            env.remove(name);
    }
    env.insert(QStringLiteral("KVSYSTEM_TRACE"), dir.filePath(QStringLiteral("trace")));
    process.setProcessEnvironment(env);
    process.setProgram(path);
}

DemoProcess::~DemoProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(deadlineMs);
    }
}

QString DemoProcess::scenarioPath() const
{
    return dir.filePath(QStringLiteral("scenario.json"));
}

void DemoProcess::setScenario(const QByteArray &json)
{
    const QString file = scenarioPath();
    QFile f(file);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(json);
    setEnvironment(QStringLiteral("KVSYSTEM_SCENARIO"), file);
}

void DemoProcess::setEnvironment(const QString &name, const QString &value)
{
    QProcessEnvironment env = process.processEnvironment();
    env.insert(name, value);
    process.setProcessEnvironment(env);
}

void DemoProcess::mergeChannels()
{
    process.setProcessChannelMode(QProcess::MergedChannels);
}

void DemoProcess::inputFromNullDevice()
{
    process.setStandardInputFile(QProcess::nullDevice());
}

void DemoProcess::start(const QStringList &arguments)
{
    process.setArguments(arguments);
    process.start(QIODevice::ReadWrite);
    process.waitForStarted(deadlineMs);
}

void DemoProcess::write(const QByteArray &input)
{
    process.write(input);
    process.waitForBytesWritten(deadlineMs);
}

void DemoProcess::closeInput()
{
    process.closeWriteChannel();
}

void DemoProcess::collect()
{
    out += process.readAllStandardOutput();
    err += process.readAllStandardError();
}

bool DemoProcess::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    collect();
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        if (process.state() == QProcess::NotRunning) {
            collect();
            return done();
        }
        // Wakes on output or on the end of the process, whichever comes first.
        process.waitForReadyRead(int(qBound(qint64(1), deadline.remainingTime(), qint64(100))));
        collect();
    }
    return true;
}

bool DemoProcess::waitForOutput(const QByteArray &text, int timeoutMs)
{
    return waitFor([&] { return out.contains(text); }, timeoutMs);
}

bool DemoProcess::waitForError(const QByteArray &text, int timeoutMs)
{
    return waitFor([&] { return err.contains(text); }, timeoutMs);
}

bool DemoProcess::waitUntil(
    const std::function<bool(const QByteArray &, const QByteArray &)> &done, int timeoutMs)
{
    return waitFor([&] { return done(out, err); }, timeoutMs);
}

bool DemoProcess::waitForTrace(const QString &line, int timeoutMs)
{
    return waitFor([&] { return trace().contains(line); }, timeoutMs);
}

bool DemoProcess::waitForFinished(int timeoutMs)
{
    const bool finished
        = process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
    collect();
    return finished;
}

void DemoProcess::interrupt()
{
    // A program that has ended has no pid (0), and kill(0, ...) would
    // interrupt the whole process group: this test and whatever runs it.
    const qint64 pid = process.processId();
    if (process.state() == QProcess::Running && pid > 0)
        ::kill(pid_t(pid), SIGINT);
    waitForFinished();
}

bool DemoProcess::isRunning() const
{
    return process.state() == QProcess::Running;
}

QByteArray DemoProcess::output()
{
    collect();
    return out;
}

QByteArray DemoProcess::error()
{
    collect();
    return err;
}

int DemoProcess::exitCode() const
{
    return process.exitCode();
}

QProcess::ExitStatus DemoProcess::exitStatus() const
{
    return process.exitStatus();
}

QStringList DemoProcess::trace() const
{
    QFile f(dir.filePath(QStringLiteral("trace")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList result = lines(f.readAll());
    result.removeAll(QString()); // the line end after the last line
    return result;
}

qint64 DemoProcess::processId() const
{
    return process.processId();
}

QString DemoProcess::programPath() const
{
    return path;
}

QStringList DemoProcess::lines(const QByteArray &text)
{
    return QString::fromLocal8Bit(text).split(QLatin1Char('\n'));
}
