// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// heading-demo and motion-demo: the session they were granted, every reading
// as a debug message, and the sensor released when the application quits.

#include "demoprocess.h"

#include <QRegularExpression>
#include <QtTest>

class SessionDemos : public QObject
{
    Q_OBJECT
private slots:
    void compassSessionAndStart_data();
    void compassSessionAndStart();
    void compassReadings_data();
    void compassReadings();
    void accelerometerSession_data();
    void accelerometerSession();
    void accelerometerReadings_data();
    void accelerometerReadings();
    void inputAtItsEndBeforeStart_data();
    void inputAtItsEndBeforeStart();
    void virtualHandset_data();
    void virtualHandset();
};

namespace {

// The compass is stopped by the aboutToQuit() slot and again by the
// widget's destructor, and deleted once.
QStringList compassTrace(int session, bool started)
{
    return { "KvCompass::KvCompass(null)",
        "KvCompass::requestSession(2) = " + QString::number(session),
        QString("KvCompass::start() = ") + (started ? "true" : "false"), "KvCompass::stop()",
        "KvCompass::stop()", "KvCompass::~KvCompass()" };
}

// cleanUp() releases the sensor once: stopped, session closed, deleted.
QStringList accelerometerTrace(const QStringList &construction)
{
    return QStringList { "KvAccelerometer::KvAccelerometer(null)" } + construction
        + QStringList { "KvAccelerometer::stop()", "KvAccelerometer::closeSession()",
              "KvAccelerometer::~KvAccelerometer()" };
}

const QByteArray compassShutdown = "Application shutdown. \nCompass Stopped. \n";

} // namespace

void SessionDemos::compassSessionAndStart_data()
{
    QTest::addColumn<int>("session");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QByteArray>("messages"); // up to the shutdown

    QTest::newRow("control session, compass started")
        << 2 << true << QByteArray("Got control session. \nCompass Started. \n");
    QTest::newRow("control session, compass does not start")
        << 2 << false << QByteArray("Got control session. \nCompass couldn't start!!! \n");
    QTest::newRow("listen session, compass started")
        << 1 << true << QByteArray("Got listen session. \nCompass Started. \n");
    QTest::newRow("listen session, compass does not start")
        << 1 << false << QByteArray("Got listen session. \nCompass couldn't start!!! \n");
    QTest::newRow("session refused, compass started all the same")
        << 0 << true
        << QByteArray("FAIL: did not get control/listen session. \nCompass Started. \n");
    QTest::newRow("session refused, compass does not start")
        << 0 << false
        << QByteArray("FAIL: did not get control/listen session. \nCompass couldn't start!!! \n");
    QTest::newRow("unknown session type 3 is not reported, compass started")
        << 3 << true << QByteArray("Compass Started. \n");
    QTest::newRow("unknown session type -1 is not reported, compass does not start")
        << -1 << false << QByteArray("Compass couldn't start!!! \n");
}

void SessionDemos::compassSessionAndStart()
{
    QFETCH(int, session);
    QFETCH(bool, started);
    QFETCH(QByteArray, messages);

    DemoProcess demo("heading-demo");
    demo.setScenario(R"({"compass": {"session": )" + QByteArray::number(session) + R"(, "start": )"
        + (started ? "true" : "false") + "}}");
    demo.start();
    QVERIFY2(demo.waitForError(messages), demo.error().constData());
    demo.write("\n");
    QVERIFY(demo.waitForFinished());

    QCOMPARE(DemoProcess::lines(demo.error()), DemoProcess::lines(messages + compassShutdown));
    QCOMPARE(demo.output(), QByteArray("exiting.."));
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace(), compassTrace(session, started));
}

void SessionDemos::compassReadings_data()
{
    QTest::addColumn<QString>("thread");
    QTest::newRow("emitted on the main thread") << "main";
    QTest::newRow("emitted on the library's worker thread") << "worker";
}

void SessionDemos::compassReadings()
{
    QFETCH(QString, thread);

    DemoProcess demo("heading-demo");
    demo.setScenario(R"({"compass": {"thread": ")" + thread.toLatin1() + R"(", "readings": [
        {"timestamp": 1234, "firstValue": 271, "secondValue": 3},
        {"at": 5, "timestamp": "5000000000", "firstValue": -12, "secondValue": -1},
        {"at": 5, "timestamp": "18446744073709551615", "firstValue": 0, "secondValue": 0}]}})");
    // The calibration level before the arrow, the heading after it; time
    // stamps unsigned and in full.
    const QByteArray messages = "Got control session. \n"
                                "Compass Started. \n"
                                "Compass changed: [ 1234 ] 3 --> 271 \n"
                                "Compass changed: [ 5000000000 ] -1 --> -12 \n"
                                "Compass changed: [ 18446744073709551615 ] 0 --> 0 \n";
    demo.start();
    QVERIFY2(demo.waitForError(messages), demo.error().constData());
    demo.write("\n");
    QVERIFY(demo.waitForFinished());

    QCOMPARE(DemoProcess::lines(demo.error()), DemoProcess::lines(messages + compassShutdown));
    QCOMPARE(demo.output(), QByteArray("exiting.."));
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace(), compassTrace(2, true));
}

void SessionDemos::accelerometerSession_data()
{
    QTest::addColumn<QByteArray>("scenario"); // the accelerometer's keys
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QStringList>("construction"); // library calls up to the end of construction

    const QString request = "KvAccelerometer::requestSession(2) = ";
    const QString held = "KvAccelerometer::sessionType() = ";

    QTest::newRow("control session")
        << QByteArray() << QByteArray("Got session: 2 \n")
        << QStringList { request + "2", held + "2", held + "2", "KvAccelerometer::start() = true" };
    QTest::newRow("listen session is handled like a control session")
        << QByteArray(R"("session": 1)") << QByteArray("Got session: 1 \n")
        << QStringList { request + "1", held + "1", held + "1", "KvAccelerometer::start() = true" };
    QTest::newRow("any session type held is written as a number")
        << QByteArray(R"("sessionType": -3, "start": false)") << QByteArray("Got session: -3 \n")
        << QStringList { request + "2", held + "-3", held + "-3",
               "KvAccelerometer::start() = false" };
    QTest::newRow("session refused with an error text")
        << QByteArray(R"("session": 0, "lastError": "sensor in use")")
        << QByteArray("Error while connecting to sensor:  \"sensor in use\" \n")
        << QStringList { request + "0", held + "0",
               "KvAccelerometer::lastError() = \"sensor in use\"" };
    QTest::newRow("session refused with an empty error text")
        << QByteArray(R"("session": 0, "lastError": "")")
        << QByteArray("Error while connecting to sensor:  \"\" \n")
        << QStringList { request + "0", held + "0", "KvAccelerometer::lastError() = \"\"" };
    QTest::newRow("error text with quotes and a backslash is written as it is")
        << QByteArray(R"("session": 0, "lastError": "say \"busy\" \\ later")")
        << QByteArray("Error while connecting to sensor:  \"say \"busy\" \\ later\" \n")
        << QStringList { request + "0", held + "0",
               R"(KvAccelerometer::lastError() = "say \"busy\" \\ later")" };
    QTest::newRow("session granted but none held: the held one decides")
        << QByteArray(R"("session": 2, "sessionType": 0, "lastError": "lost")")
        << QByteArray("Error while connecting to sensor:  \"lost\" \n")
        << QStringList { request + "2", held + "0", "KvAccelerometer::lastError() = \"lost\"" };
}

void SessionDemos::accelerometerSession()
{
    QFETCH(QByteArray, scenario);
    QFETCH(QByteArray, message);
    QFETCH(QStringList, construction);

    DemoProcess demo("motion-demo");
    // A reading that arrives only if the sensor was connected and started.
    demo.setScenario(R"({"accelerometer": {)" + scenario + (scenario.isEmpty() ? "" : ", ")
        + R"("readings": [{"timestamp": 1, "x": 2, "y": 3, "z": 4}]}})");
    demo.start();
    const bool streams = message.startsWith("Got session") && construction.last().endsWith("true");
    const QByteArray messages = message + (streams ? "Time: 1 X:  2 Y:  3 Z:  4 \n" : "");
    QVERIFY2(demo.waitForError(messages), demo.error().constData());
    QVERIFY(demo.waitForTrace(construction.last()));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());

    QCOMPARE(DemoProcess::lines(demo.error()), DemoProcess::lines(messages));
    QCOMPARE(demo.output(), QByteArray("exiting.."));
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace(), accelerometerTrace(construction));
}

void SessionDemos::accelerometerReadings_data()
{
    QTest::addColumn<QString>("thread");
    QTest::newRow("emitted on the main thread") << "main";
    QTest::newRow("emitted on the library's worker thread") << "worker";
}

void SessionDemos::accelerometerReadings()
{
    QFETCH(QString, thread);

    DemoProcess demo("motion-demo");
    demo.setScenario(R"({"accelerometer": {"thread": ")" + thread.toLatin1() + R"(", "readings": [
        {"timestamp": 1234, "x": 35, "y": -640, "z": -760},
        {"at": 5, "timestamp": "5000000000", "x": -2147483648, "y": 0, "z": 2147483647},
        {"at": 5, "timestamp": "18446744073709551615"}]}})");
    // Two blanks after each axis label: its own and Qt's.
    const QByteArray messages = "Got session: 2 \n"
                                "Time: 1234 X:  35 Y:  -640 Z:  -760 \n"
                                "Time: 5000000000 X:  -2147483648 Y:  0 Z:  2147483647 \n"
                                "Time: 18446744073709551615 X:  0 Y:  0 Z:  0 \n";
    demo.start();
    QVERIFY2(demo.waitForError(messages), demo.error().constData());
    demo.write("\n");
    QVERIFY(demo.waitForFinished());

    QCOMPARE(DemoProcess::lines(demo.error()), DemoProcess::lines(messages));
    QCOMPARE(demo.output(), QByteArray("exiting.."));
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace(),
        accelerometerTrace(
            { "KvAccelerometer::requestSession(2) = 2", "KvAccelerometer::sessionType() = 2",
                "KvAccelerometer::sessionType() = 2", "KvAccelerometer::start() = true" }));
}

void SessionDemos::inputAtItsEndBeforeStart_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("messages");
    QTest::addColumn<QString>("lastCall");
    QTest::newRow("heading-demo still shuts the compass down")
        << "heading-demo"
        << QByteArray("Got control session. \nCompass Started. \n" + compassShutdown)
        << "KvCompass::~KvCompass()";
    QTest::newRow("motion-demo still releases the accelerometer")
        << "motion-demo" << QByteArray("Got session: 2 \n")
        << "KvAccelerometer::~KvAccelerometer()";
}

void SessionDemos::inputAtItsEndBeforeStart()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, messages);
    QFETCH(QString, lastCall);

    // The quit request may come before the event loop runs; aboutToQuit() is
    // emitted all the same.
    DemoProcess demo(program);
    demo.setScenario("{}");
    demo.inputFromNullDevice();
    demo.start();
    QVERIFY(demo.waitForFinished());
    QCOMPARE(DemoProcess::lines(demo.error()), DemoProcess::lines(messages));
    QCOMPARE(demo.output(), QByteArray("exiting.."));
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace().last(), lastCall);
}

void SessionDemos::virtualHandset_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("startUp");
    QTest::addColumn<QString>("reading");
    QTest::addColumn<QString>("shutdown");
    QTest::newRow("compass") << "heading-demo"
                             << R"(Got control session. \nCompass Started. \n)"
                             << R"(Compass changed: \[ \d+ \] [0-3] --> \d{1,3} \n)"
                             << R"(Application shutdown. \nCompass Stopped. \n)";
    QTest::newRow("accelerometer") << "motion-demo"
                                   << R"(Got session: 2 \n)"
                                   << R"(Time: \d+ X:  -?\d+ Y:  -?\d+ Z:  -?\d+ \n)"
                                   << "";
}

void SessionDemos::virtualHandset()
{
    QFETCH(QString, program);
    QFETCH(QString, startUp);
    QFETCH(QString, reading);
    QFETCH(QString, shutdown);

    DemoProcess demo(program);
    demo.start();
    // Two readings show that the device keeps streaming.
    const QRegularExpression oneReading(reading);
    QVERIFY(demo.waitUntil([&](const QByteArray &, const QByteArray &err) {
        return QString::fromLatin1(err).count(oneReading) >= 2;
    }));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    const QString err = QString::fromLatin1(demo.error());
    QVERIFY2(QRegularExpression("^" + startUp + "(" + reading + "){2,}" + shutdown + "$")
                 .match(err)
                 .hasMatch(),
        qPrintable(err));
    QCOMPARE(demo.output(), QByteArray("exiting.."));
    QCOMPARE(demo.exitCode(), 0);
}

QTEST_GUILESS_MAIN(SessionDemos)
#include "tst_sessiondemos.moc"
