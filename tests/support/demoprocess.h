// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_SUPPORT_DEMOPROCESS_H
#define TESTS_SUPPORT_DEMOPROCESS_H

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// One run of a program of the suite, from the build tree's bin directory,
// on the simulated device: the scenario is written to a temporary file and
// the call trace read back from one. Waits are for output, bounded by a
// generous deadline so that a busy machine slows a test down without
// failing it.
class DemoProcess
{
public:
    static constexpr int deadlineMs = 30000;

    explicit DemoProcess(const QString &program);
    ~DemoProcess();

    // Without a scenario the program runs on the virtual handset.
    void setScenario(const QByteArray &json);
    QString scenarioPath() const;
    void setEnvironment(const QString &name, const QString &value);
    // Standard output and error on one stream, interleaved as a terminal shows them.
    void mergeChannels();
    // Standard input at its end before the program starts (< /dev/null).
    void inputFromNullDevice();

    void start(const QStringList &arguments = {});
    // Feeds standard input (and closes it with closeInput()).
    void write(const QByteArray &input);
    void closeInput();

    // Waits until standard output (or the merged stream) / standard error
    // holds the text; false when the deadline passed or the program ended first.
    bool waitForOutput(const QByteArray &text, int timeoutMs = deadlineMs);
    bool waitForError(const QByteArray &text, int timeoutMs = deadlineMs);
    // Waits until the output so far (standard output or the merged stream,
    // and standard error) satisfies the condition.
    bool waitUntil(const std::function<bool(const QByteArray &out, const QByteArray &err)> &done,
        int timeoutMs = deadlineMs);
    // Waits until the trace file holds the line.
    bool waitForTrace(const QString &line, int timeoutMs = deadlineMs);
    bool waitForFinished(int timeoutMs = deadlineMs);
    // Ends a program that runs until it is ended from outside, as Ctrl+C
    // would; a program that has ended already is left alone.
    void interrupt();

    bool isRunning() const;
    QByteArray output();
    QByteArray error();
    int exitCode() const;
    QProcess::ExitStatus exitStatus() const;
    // The call trace, one entry a line.
    QStringList trace() const;
    qint64 processId() const;
    QString programPath() const;

    // Text split at line ends, so that a comparison names the line that
    // differs; text after the last line end is the last element.
    static QStringList lines(const QByteArray &text);

private:
    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    void collect();

    QProcess process;
    QTemporaryDir dir;
    QString path;
    QByteArray out;
    QByteArray err;
};

#endif
