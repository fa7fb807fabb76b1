// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The system-state demos: each runs its numbered sequence as debug messages
// on standard error, then prints change notifications until it is ended from
// outside (heat-demo spins instead, opmode-demo only idles).

#include "demoprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QtTest>

#include <csignal>
#include <unistd.h>

class StateDemos : public QObject
{
    Q_OBJECT
private slots:
    void screenSequence_data();
    void screenSequence();
    void screenChanges_data();
    void screenChanges();
    void powerstateRequests_data();
    void powerstateRequests();
    void powerstateWorkerIndicationsAfterSequence();
    void idleActivity_data();
    void idleActivity();
    void idleUnknownActivityIsFatal_data();
    void idleUnknownActivityIsFatal();
    void heatKeepsProcessorBusy_data();
    void heatKeepsProcessorBusy();
    void opmodeIdles_data();
    void opmodeIdles();
    void virtualHandset_data();
    void virtualHandset();
};

namespace {

// What a program wrote and called before it was ended from outside.
struct Run
{
    bool stillRunning = false;
    QProcess::ExitStatus endedBy = QProcess::NormalExit;
    QByteArray error;
    QByteArray output;
    QStringList trace;
};

// A change that the library emits on its worker thread before the program
// has connected its slot is lost, as on a device; the scenarios below let
// worker changes fall due well after start-up.

// Runs the program until standard error holds as many lines as expected,
// then ends it as Ctrl+C would. A scenario of null runs the virtual handset.
Run runUntilEnded(const QString &program, const QByteArray &scenario, const QByteArray &expected)
{
    DemoProcess demo(program);
    if (!scenario.isNull())
        demo.setScenario(scenario);
    demo.start();
    const int lineCount = expected.count('\n');
    demo.waitUntil(
        [&](const QByteArray &, const QByteArray &err) { return err.count('\n') >= lineCount; });
    Run run;
    run.stillRunning = demo.isRunning();
    demo.interrupt();
    run.endedBy = demo.exitStatus();
    run.error = demo.error();
    run.output = demo.output();
    run.trace = demo.trace();
    return run;
}

QByteArray word(bool b)
{
    return b ? "true" : "false";
}

QByteArray screenMessages(
    const QByteArray &stateWord, bool dimmed, bool on, int brightness, int dimTimeout, bool paused)
{
    return "* TEST 1 'DisplayState get() - Screen status: \n" + stateWord
        + " \n"
          "* TEST 2. set(DisplayState state) - Setting display to: \n"
          "- Dimmed:  "
        + word(dimmed) + " \n- On:  " + word(on)
        + " \n"
          "setbrightnessvalue(1) \n"
          "getbrightnessvalue() "
        + QByteArray::number(brightness)
        + " \n"
          "setDisplayDimTimeout(6) \n"
          "getDisplayDimTimeout() "
        + QByteArray::number(dimTimeout)
        + " \n"
          "* TEST 3. bool setBlankingPause(void) - method called with success:  "
        + word(paused)
        + " \n"
          "* TEST 4. Listening for display status changes... \n";
}

QStringList screenCalls(
    int state, bool dimmed, bool on, int brightness, int dimTimeout, bool paused)
{
    return { "KvDisplayState::KvDisplayState(client)",
        "KvDisplayState::get() = " + QString::number(state),
        "KvDisplayState::set(0) = " + word(dimmed), "KvDisplayState::set(1) = " + word(on),
        "KvDisplayState::setDisplayBrightnessValue(1)",
        "KvDisplayState::getDisplayBrightnessValue() = " + QString::number(brightness),
        "KvDisplayState::setDisplayDimTimeout(6)",
        "KvDisplayState::getDisplayDimTimeout() = " + QString::number(dimTimeout),
        "KvDisplayState::setBlankingPause() = " + word(paused) };
}

const QByteArray powerstateHeader = "* TEST 2 - Listening for systemStateChanged \n"
                                    "* TEST 1 -  set(NextState nextState) \n";

const QByteArray idleHeader = "TEST1. get \n";
const QByteArray idleListening
    = "TEST2. Listening for activityChanged(KvActivity::Activity activity) \n";

const QByteArray heatTail = "Listening for thermal changes... \n"
                            "Try to raise the CPU temperature... \n";

const QByteArray opmodeMessage = "KvDeviceMode has not been implemented yet \n";

// Processor time (user and system) that the process has used, in clock ticks.
qint64 processorTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name in parentheses may hold blanks: count fields after it.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return fields[11].toLongLong() + fields[12].toLongLong(); // utime, stime
}

} // namespace

void StateDemos::screenSequence_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("stateWord");
    QTest::addColumn<bool>("dimmed");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("brightness");
    QTest::addColumn<int>("dimTimeout");
    QTest::addColumn<bool>("paused");

    QTest::newRow("a healthy display reads back what was set")
        << QByteArray("{}") << 1 << QByteArray("  On") << true << true << 1 << 6 << true;
    QTest::newRow("display off") << QByteArray(R"({"displayState": {"get": -1}})") << -1
                                 << QByteArray("  Off") << true << true << 1 << 6 << true;
    QTest::newRow("display dimmed") << QByteArray(R"({"displayState": {"get": 0}})") << 0
                                    << QByteArray("  Dimmed") << true << true << 1 << 6 << true;
    QTest::newRow("display on") << QByteArray(R"({"displayState": {"get": 1}})") << 1
                                << QByteArray("  On") << true << true << 1 << 6 << true;
    QTest::newRow("state 2 has no word and the sequence goes on")
        << QByteArray(R"({"displayState": {"get": 2}})") << 2 << QByteArray("  ERROR") << true
        << true << 1 << 6 << true;
    QTest::newRow("state -2 has no word either")
        << QByteArray(R"({"displayState": {"get": -2}})") << -2 << QByteArray("  ERROR") << true
        << true << 1 << 6 << true;
    QTest::newRow("every request refused")
        << QByteArray(R"({"displayState": {"set": false, "blankingPause": false}})") << 1
        << QByteArray("  On") << false << false << 1 << 6 << false;
    QTest::newRow("dimming refused, switching on still requested")
        << QByteArray(R"({"displayState": {"set": {"0": false}}})") << 1 << QByteArray("  On")
        << false << true << 1 << 6 << true;
    QTest::newRow("read-backs that differ from what was set are printed as read")
        << QByteArray(R"({"displayState": {"brightness": 7, "dimTimeout": 0}})") << 1
        << QByteArray("  On") << true << true << 7 << 0 << true;
    QTest::newRow("negative read-backs")
        << QByteArray(R"({"displayState": {"brightness": -1, "dimTimeout": -30}})") << 1
        << QByteArray("  On") << true << true << -1 << -30 << true;
}

void StateDemos::screenSequence()
{
    QFETCH(QByteArray, scenario);
    QFETCH(int, state);
    QFETCH(QByteArray, stateWord);
    QFETCH(bool, dimmed);
    QFETCH(bool, on);
    QFETCH(int, brightness);
    QFETCH(int, dimTimeout);
    QFETCH(bool, paused);

    const QByteArray expected
        = screenMessages(stateWord, dimmed, on, brightness, dimTimeout, paused);
    const Run run = runUntilEnded("screen-demo", scenario, expected);
    QVERIFY(run.stillRunning);
    QCOMPARE(DemoProcess::lines(run.error), DemoProcess::lines(expected));
    QCOMPARE(run.output, QByteArray());
    QCOMPARE(run.trace, screenCalls(state, dimmed, on, brightness, dimTimeout, paused));
}

void StateDemos::screenChanges_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::newRow("changes due at once on the main thread come after the sequence")
        << QByteArray(R"({"displayState": {"changes": [
            {"at": 0, "value": 1}, {"at": 10, "value": -1}, {"at": 10, "value": 0}, {"at": 30, "value": 7}]}})");
    QTest::newRow("changes from the library's worker thread")
        << QByteArray(R"({"displayState": {"thread": "worker", "changes": [
            {"at": 500, "value": 1}, {"at": 510, "value": -1}, {"at": 510, "value": 0}, {"at": 530, "value": 7}]}})");
}

void StateDemos::screenChanges()
{
    QFETCH(QByteArray, scenario);

    // The slot prints the number, not TEST 1's word, so 7 prints as well.
    const QByteArray expected = screenMessages("  On", true, true, 1, 6, true)
        + "  State changed to: 1 \n"
          "  State changed to: -1 \n"
          "  State changed to: 0 \n"
          "  State changed to: 7 \n";
    const Run run = runUntilEnded("screen-demo", scenario, expected);
    QVERIFY(run.stillRunning);
    QCOMPARE(DemoProcess::lines(run.error), DemoProcess::lines(expected));
    QCOMPARE(run.trace, screenCalls(1, true, true, 1, 6, true));
}

void StateDemos::powerstateRequests_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QByteArray>("messages");
    QTest::addColumn<QStringList>("results");

    const QByteArray accepted = "- Reboot:  true \n- Shutdown:  true \n- Powerup:  true \n";
    const QStringList allTrue { "true", "true", "true" };

    QTest::newRow("every request accepted") << QByteArray("{}") << accepted << allTrue;
    QTest::newRow("every request refused")
        << QByteArray(R"({"systemState": {"set": false}})")
        << QByteArray("- Reboot:  false \n- Shutdown:  false \n- Powerup:  false \n")
        << QStringList { "false", "false", "false" };
    QTest::newRow("an accepted reboot does not stop the sequence")
        << QByteArray(R"({"systemState": {"set": {"1": true, "2": false, "0": false}}})")
        << QByteArray("- Reboot:  true \n- Shutdown:  false \n- Powerup:  false \n")
        << QStringList { "true", "false", "false" };
    QTest::newRow("indication inside a request comes before its result")
        << QByteArray(R"({"systemState": {"set": {"2": false}, "onSet": {"2": [5]}}})")
        << QByteArray("- Reboot:  true \n"
                      "  System State changed to: 5 \n"
                      "- Shutdown:  false \n"
                      "- Powerup:  true \n")
        << QStringList { "true", "false", "true" };
    QTest::newRow("several indications inside several requests")
        << QByteArray(R"({"systemState": {"onSet": {"1": [6], "0": [3, 0]}}})")
        << QByteArray("  System State changed to: 6 \n"
                      "- Reboot:  true \n"
                      "- Shutdown:  true \n"
                      "  System State changed to: 3 \n"
                      "  System State changed to: 0 \n"
                      "- Powerup:  true \n")
        << allTrue;
    QTest::newRow("timed indications on the main thread, any value")
        << QByteArray(R"({"systemState": {"indications": [
                          {"at": 0, "value": 1}, {"at": 20, "value": -4}]}})")
        << accepted + "  System State changed to: 1 \n  System State changed to: -4 \n"
        << allTrue;
}

void StateDemos::powerstateRequests()
{
    QFETCH(QByteArray, scenario);
    QFETCH(QByteArray, messages);
    QFETCH(QStringList, results);

    const QByteArray expected = powerstateHeader + messages;
    const Run run = runUntilEnded("powerstate-demo", scenario, expected);
    QVERIFY(run.stillRunning);
    QCOMPARE(DemoProcess::lines(run.error), DemoProcess::lines(expected));
    QCOMPARE(run.output, QByteArray());
    // Reboot, shutdown, power-up, in that order.
    QCOMPARE(run.trace,
        QStringList({ "KvSystemState::KvSystemState(client)",
            "KvSystemState::set(1) = " + results[0], "KvSystemState::set(2) = " + results[1],
            "KvSystemState::set(0) = " + results[2] }));
}

void StateDemos::powerstateWorkerIndicationsAfterSequence()
{
    // Indications every millisecond from the library's worker thread, some
    // while the requests are being made: each reaches the slot through the
    // event loop, so none comes before the sequence ends. Those emitted
    // before the connection are lost; the rest arrive in order, the last
    // one (99) well after start-up.
    QByteArray indications;
    QList<int> values;
    for (int at = 0; at < 200; ++at) {
        indications += R"({"at": )" + QByteArray::number(at) + R"(, "value": )"
            + QByteArray::number(at % 7) + "}, ";
        values << at % 7;
    }
    indications += R"({"at": 600, "value": 99})";
    values << 99;

    DemoProcess demo("powerstate-demo");
    demo.setScenario(
        R"({"systemState": {"thread": "worker", "indications": [)" + indications + "]}}");
    demo.start();
    QVERIFY(demo.waitForError("  System State changed to: 99 \n"));
    QVERIFY(demo.isRunning());
    demo.interrupt();

    const QStringList lines = DemoProcess::lines(demo.error());
    const QByteArray sequence
        = powerstateHeader + "- Reboot:  true \n- Shutdown:  true \n- Powerup:  true \n";
    const QStringList sequenceLines = DemoProcess::lines(sequence).mid(0, 5);
    QCOMPARE(lines.mid(0, 5), sequenceLines);
    QCOMPARE(lines.last(), QString()); // the line end of the last message
    QList<int> printed;
    for (const QString &line : lines.mid(5, lines.size() - 6)) {
        QVERIFY2(
            line.startsWith("  System State changed to: ") && line.endsWith(' '), qPrintable(line));
        printed << line.section(' ', -2, -2).toInt();
    }
    QCOMPARE(printed, values.mid(values.size() - printed.size()));
}

void StateDemos::idleActivity_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<int>("activity");
    QTest::addColumn<QByteArray>("messages");

    QTest::newRow("user active by default")
        << QByteArray("{}") << 1 << QByteArray("Active \n") + idleListening;
    QTest::newRow("user inactive") << QByteArray(R"({"activity": {"get": 0}})") << 0
                                   << QByteArray("Inactive \n") + idleListening;
    QTest::newRow("user active") << QByteArray(R"({"activity": {"get": 1}})") << 1
                                 << QByteArray("Active \n") + idleListening;
    QTest::newRow("changes print numbers, not words")
        << QByteArray(R"({"activity": {"changes": [{"at": 0, "value": 0}, {"at": 10, "value": 1},
                                                   {"at": 20, "value": 9}]}})")
        << 1
        << QByteArray("Active \n") + idleListening
            + "Activity changed to: 0 \nActivity changed to: 1 \nActivity changed to: 9 \n";
    QTest::newRow("changes from the library's worker thread")
        << QByteArray(R"({"activity": {"thread": "worker", "changes": [{"at": 500, "value": 0}]}})")
        << 1 << QByteArray("Active \n") + idleListening + "Activity changed to: 0 \n";
}

void StateDemos::idleActivity()
{
    QFETCH(QByteArray, scenario);
    QFETCH(int, activity);
    QFETCH(QByteArray, messages);

    const QByteArray expected = idleHeader + messages;
    const Run run = runUntilEnded("idle-demo", scenario, expected);
    QVERIFY(run.stillRunning);
    QCOMPARE(DemoProcess::lines(run.error), DemoProcess::lines(expected));
    QCOMPARE(run.output, QByteArray());
    QCOMPARE(run.trace,
        QStringList({ "KvActivity::KvActivity(client)",
            "KvActivity::get() = " + QString::number(activity) }));
}

void StateDemos::idleUnknownActivityIsFatal_data()
{
    QTest::addColumn<int>("activity");
    QTest::newRow("activity 2") << 2;
    QTest::newRow("activity -1") << -1;
}

void StateDemos::idleUnknownActivityIsFatal()
{
    QFETCH(int, activity);

    DemoProcess demo("idle-demo");
    demo.setScenario(R"({"activity": {"get": )" + QByteArray::number(activity) + "}}");
    demo.start();
    QVERIFY(demo.waitForFinished());
    // The program has ended: the interrupt must reach nobody, this test included.
    demo.interrupt();
    // Qt's fatal channel writes the bare message and aborts.
    QCOMPARE(DemoProcess::lines(demo.error()), DemoProcess::lines(idleHeader + "ERROR\n"));
    QCOMPARE(demo.output(), QByteArray());
    QCOMPARE(demo.exitStatus(), QProcess::CrashExit);
    QCOMPARE(demo.exitCode(), SIGABRT);
    QCOMPARE(demo.trace(),
        QStringList({ "KvActivity::KvActivity(client)",
            "KvActivity::get() = " + QString::number(activity) }));
}

void StateDemos::heatKeepsProcessorBusy_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<int>("state");

    QTest::newRow("normal thermal state by default") << QByteArray("{}") << 0;
    QTest::newRow("normal thermal state on the virtual handset") << QByteArray() << 0;
    QTest::newRow("state 2 as a number") << QByteArray(R"({"thermal": {"get": 2}})") << 2;
    QTest::newRow("negative state as a number") << QByteArray(R"({"thermal": {"get": -3}})") << -3;
    // The spinning main thread never runs the event loop, so changes that
    // fall due meanwhile are not printed.
    QTest::newRow("changes on the main thread stay unprinted")
        << QByteArray(R"({"thermal": {"changes": [{"at": 0, "value": 1}]}})") << 0;
    QTest::newRow("changes from the worker thread stay unprinted")
        << QByteArray(R"({"thermal": {"thread": "worker", "changes": [{"at": 0, "value": 1}]}})")
        << 0;
}

void StateDemos::heatKeepsProcessorBusy()
{
    QFETCH(QByteArray, scenario);
    QFETCH(int, state);

    const QByteArray expected
        = "Getting thermal state " + QByteArray::number(state) + " \n" + heatTail;
    DemoProcess demo("heat-demo");
    if (!scenario.isNull())
        demo.setScenario(scenario);
    demo.start();
    QVERIFY(demo.waitForError(heatTail));

    // Half a second of processor time after the third message shows the
    // endless loop; a busy machine only makes it take longer to collect.
    const qint64 pid = demo.processId();
    const qint64 start = processorTicks(pid);
    QVERIFY(start >= 0);
    const qint64 clearAmount = sysconf(_SC_CLK_TCK) / 2;
    const QDeadlineTimer deadline(DemoProcess::deadlineMs);
    qint64 now = start;
    while (now - start < clearAmount && demo.isRunning() && !deadline.hasExpired()) {
        QThread::msleep(20);
        now = processorTicks(pid);
    }
    QVERIFY2(now - start >= clearAmount,
        qPrintable(QString("%1 ticks of processor time after the third message").arg(now - start)));
    QVERIFY(demo.isRunning());

    demo.interrupt();
    QCOMPARE(demo.exitStatus(), QProcess::CrashExit);
    QCOMPARE(DemoProcess::lines(demo.error()), DemoProcess::lines(expected));
    QCOMPARE(demo.output(), QByteArray());
    QCOMPARE(demo.trace(),
        QStringList(
            { "KvThermal::KvThermal(client)", "KvThermal::get() = " + QString::number(state) }));
}

void StateDemos::opmodeIdles_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::newRow("on a scenario") << QByteArray("{}");
    QTest::newRow("on the virtual handset") << QByteArray();
}

void StateDemos::opmodeIdles()
{
    QFETCH(QByteArray, scenario);

    const Run run = runUntilEnded("opmode-demo", scenario, opmodeMessage);
    QVERIFY(run.stillRunning);
    QCOMPARE(run.endedBy, QProcess::CrashExit);
    QCOMPARE(run.error, opmodeMessage);
    QCOMPARE(run.output, QByteArray());
    QCOMPARE(run.trace, QStringList({ "KvDeviceMode::KvDeviceMode(client)" }));
}

void StateDemos::virtualHandset_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("lastCall");

    QTest::newRow("display on, every request accepted")
        << "screen-demo" << screenMessages("  On", true, true, 1, 6, true)
        << "KvDisplayState::setBlankingPause() = true";
    QTest::newRow("every system-state request accepted")
        << "powerstate-demo"
        << powerstateHeader + "- Reboot:  true \n- Shutdown:  true \n- Powerup:  true \n"
        << "KvSystemState::set(0) = true";
    QTest::newRow("user active") << "idle-demo" << idleHeader + "Active \n" + idleListening
                                 << "KvActivity::get() = 1";
}

void StateDemos::virtualHandset()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, expected);
    QFETCH(QString, lastCall);

    // A handset just picked up: nothing has changed yet.
    const Run run = runUntilEnded(program, QByteArray(), expected);
    QVERIFY(run.stillRunning);
    QCOMPARE(DemoProcess::lines(run.error), DemoProcess::lines(expected));
    QCOMPARE(run.trace.last(), lastCall);
}

QTEST_GUILESS_MAIN(StateDemos)
#include "tst_statedemos.moc"
