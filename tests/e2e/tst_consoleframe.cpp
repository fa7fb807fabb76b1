// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The console frame of the demos: how the console thread ends a sensor
// demo's run, and the debug messages that every demo writes through it.

#include "demoprocess.h"
#include "streamingtrace.h"

#include <QtTest>

class ConsoleFrame : public QObject
{
    Q_OBJECT
private slots:
    void endsOnInput_data();
    void endsOnInput();
    void inputAtItsEndBeforeStart();
    void argumentsAreIgnored();
    void messagesInQtsDefaultCategory_data();
    void messagesInQtsDefaultCategory();
    void loggingRulesSilenceMessagesLikeQDebug();
    void withoutThreads_data();
    void withoutThreads();
};

namespace {

// A sensor that has delivered one reading before the input comes.
const QByteArray oneReading = R"({"als": {"readings": [{"timestamp": 1, "value": 2}]}})";
const QByteArray readingLine = "\r[ALS]: [1]   2 lux";

} // namespace

void ConsoleFrame::endsOnInput_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("closeAfter");
    QTest::newRow("Enter on an empty line") << QByteArray("\n") << false;
    QTest::newRow("three letters and Enter") << QByteArray("abc\n") << false;
    QTest::newRow("one letter without Enter") << QByteArray("q") << false;
    QTest::newRow("input closed") << QByteArray() << true;
}

void ConsoleFrame::endsOnInput()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, closeAfter);

    DemoProcess demo("lux-demo");
    demo.setScenario(oneReading);
    demo.start();
    QVERIFY(demo.waitForOutput(readingLine));
    if (!input.isEmpty())
        demo.write(input);
    if (closeAfter)
        demo.closeInput();
    QVERIFY(demo.waitForFinished());
    // "exiting.." carries no line end: a shell prompt follows on the same line.
    QCOMPARE(demo.output(), readingLine + "exiting..");
    QCOMPARE(demo.error(), QByteArray());
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace().last(), QString("KvALS::~KvALS()"));
}

void ConsoleFrame::inputAtItsEndBeforeStart()
{
    // The quit request may come before the event loop runs; it must not be lost.
    for (int run = 0; run < 5; ++run) {
        DemoProcess demo("lux-demo");
        demo.setScenario(R"({"als": {"readings": [{"at": 60000, "value": 1}]}})");
        demo.inputFromNullDevice();
        demo.start();
        QVERIFY(demo.waitForFinished());
        QCOMPARE(demo.output(), QByteArray("exiting.."));
        QCOMPARE(demo.exitCode(), 0);
        QCOMPARE(demo.trace(), streamingTrace("KvALS"));
    }
}

void ConsoleFrame::argumentsAreIgnored()
{
    DemoProcess demo("lux-demo");
    demo.setScenario(oneReading);
    demo.start({ "--help", "-x", "whatever" });
    QVERIFY(demo.waitForOutput(readingLine));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.output(), readingLine + "exiting..");
    QCOMPARE(demo.exitCode(), 0);
}

void ConsoleFrame::messagesInQtsDefaultCategory_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("endsOnInput");
    QTest::addColumn<int>("messages");

    // Sensor demos with their input at its end run start-up and teardown;
    // system-state demos are ended from outside after their sequence.
    QTest::newRow("heading-demo: session, start, shutdown and stop") << "heading-demo" << true << 4;
    QTest::newRow("motion-demo: the session") << "motion-demo" << true << 1;
    QTest::newRow("tilt-demo: start-up messages") << "tilt-demo" << true << 3;
    QTest::newRow("flux-demo: start-up messages") << "flux-demo" << true << 2;
    QTest::newRow("screen-demo: the whole sequence") << "screen-demo" << false << 11;
    QTest::newRow("powerstate-demo: the whole sequence") << "powerstate-demo" << false << 5;
    QTest::newRow("idle-demo: the whole sequence") << "idle-demo" << false << 3;
    QTest::newRow("heat-demo: the messages before it spins") << "heat-demo" << false << 3;
    QTest::newRow("opmode-demo: its one message") << "opmode-demo" << false << 1;
}

void ConsoleFrame::messagesInQtsDefaultCategory()
{
    QFETCH(QString, program);
    QFETCH(bool, endsOnInput);
    QFETCH(int, messages);

    DemoProcess demo(program);
    demo.setScenario("{}");
    demo.setEnvironment("QT_MESSAGE_PATTERN", "[%{category}] %{message}");
    if (endsOnInput)
        demo.inputFromNullDevice();
    demo.start();
    QVERIFY(demo.waitUntil(
        [&](const QByteArray &, const QByteArray &err) { return err.count('\n') >= messages; }));
    if (endsOnInput)
        QVERIFY(demo.waitForFinished());
    else
        demo.interrupt();

    // Every message in the category that qDebug() gives, its last blank kept.
    QStringList lines = DemoProcess::lines(demo.error());
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.size(), messages);
    for (const QString &line : lines)
        QVERIFY2(line.startsWith("[default] ") && line.endsWith(' '), qPrintable(line));
}

void ConsoleFrame::loggingRulesSilenceMessagesLikeQDebug()
{
    DemoProcess demo("heading-demo");
    demo.setScenario("{}");
    demo.setEnvironment("QT_LOGGING_RULES", "default.debug=false");
    demo.inputFromNullDevice();
    demo.start();
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.error(), QByteArray());
    QCOMPARE(demo.output(), QByteArray("exiting.."));
    QCOMPARE(demo.exitCode(), 0);
}

// No thread can be created: a demo whose console thread cannot start says
// so and ends with status 1 rather than never ending on Enter; events a
// scenario sends from a worker thread come on the main thread instead.
void ConsoleFrame::withoutThreads_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QByteArray>("message"); // waited for; the program is then ended from outside
    QTest::addColumn<QByteArray>("error"); // lines that standard error holds
    QTest::addColumn<int>("exitCode");

    const QByteArray noConsole = "QThread::start: Thread creation error (Resource temporarily "
                                 "unavailable)\nCannot start the console thread: no thread can "
                                 "be created\n";
    QTest::newRow("lux-demo without its console thread")
        << "lux-demo" << oneReading << QByteArray() << noConsole << 1;
    QTest::newRow("motion-demo without its console thread")
        << "motion-demo" << QByteArray("{}") << QByteArray() << "Got session: 2 \n" + noConsole << 1;
    QTest::newRow("idle-demo whose changes come from a worker thread")
        << "idle-demo"
        << QByteArray(R"({"activity": {"thread": "worker", "changes": [{"at": 50, "value": 0}]}})")
        << QByteArray("Activity changed to: 0 \n")
        << QByteArray("kvsystem2: cannot start a thread (Resource temporarily unavailable): events "
                      "are delivered on the main thread\n")
        << -1;
}

void ConsoleFrame::withoutThreads()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, scenario);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, error);
    QFETCH(int, exitCode);

    DemoProcess demo(program);
    demo.setScenario(scenario);
    demo.setEnvironment("LD_PRELOAD", NOTHREADS_PATH);
    demo.start();
    if (message.isEmpty()) {
        QVERIFY(demo.waitForFinished());
        QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
        QCOMPARE(demo.exitCode(), exitCode);
        QCOMPARE(DemoProcess::lines(demo.error()), DemoProcess::lines(error));
        QVERIFY(demo.trace().last().contains("::~"));
    } else {
        QVERIFY2(demo.waitForError(message), demo.error().constData());
        demo.interrupt();
        QVERIFY(demo.error().startsWith(error));
    }
}

QTEST_GUILESS_MAIN(ConsoleFrame)
#include "tst_consoleframe.moc"
