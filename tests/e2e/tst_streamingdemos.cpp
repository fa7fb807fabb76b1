// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// posture-demo, tilt-demo and flux-demo: every reading written to standard
// output and flushed at once; tilt-demo and flux-demo first read their
// sensor's current value, announced by debug messages on standard error.

#include "demoprocess.h"
#include "streamingtrace.h"

#include <QRegularExpression>
#include <QtTest>

class StreamingDemos : public QObject
{
    Q_OBJECT
private slots:
    void orientation_data();
    void orientation();
    void startUpAndReadings_data();
    void startUpAndReadings();
    void debugMessagesGoToStandardError();
    void virtualHandset_data();
    void virtualHandset();
};

namespace {

QByteArray orientationReadings(const QByteArray &readings)
{
    return R"({"orientation": {"readings": [)" + readings + "]}}";
}

} // namespace

void StreamingDemos::orientation_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QByteArray>("expected");

    const auto code = [](int value) {
        return orientationReadings(
            R"({"timestamp": 1234, "value": )" + QByteArray::number(value) + "}");
    };
    QTest::newRow("code 1 is bottom up")
        << code(1) << QByteArray("\r[Orientation]: [1234] Bottom up  ");
    QTest::newRow("code 2 is bottom down")
        << code(2) << QByteArray("\r[Orientation]: [1234] Bottom down");
    QTest::newRow("code 3 is left up")
        << code(3) << QByteArray("\r[Orientation]: [1234] Left up    ");
    QTest::newRow("code 4 is right up")
        << code(4) << QByteArray("\r[Orientation]: [1234] Right up   ");
    QTest::newRow("code 5 is face down")
        << code(5) << QByteArray("\r[Orientation]: [1234] Face down  ");
    QTest::newRow("code 6 is face up")
        << code(6) << QByteArray("\r[Orientation]: [1234] Face up    ");
    QTest::newRow("code 0 is unknown") << code(0) << QByteArray("\r[Orientation]: [1234] Unknown");
    QTest::newRow("code 7 just past the table is unknown")
        << code(7) << QByteArray("\r[Orientation]: [1234] Unknown");
    QTest::newRow("code 100 is unknown")
        << code(100) << QByteArray("\r[Orientation]: [1234] Unknown");
    QTest::newRow("code -1 is unknown")
        << code(-1) << QByteArray("\r[Orientation]: [1234] Unknown");
    QTest::newRow("the lowest code is unknown")
        << code(-2147483647 - 1) << QByteArray("\r[Orientation]: [1234] Unknown");
    QTest::newRow("the highest code is unknown")
        << code(2147483647) << QByteArray("\r[Orientation]: [1234] Unknown");
    QTest::newRow("unknown after bottom down leaves its tail for the terminal")
        << orientationReadings(
               R"({"timestamp": 1, "value": 2}, {"at": 5, "timestamp": 2, "value": 0})")
        << QByteArray("\r[Orientation]: [1] Bottom down\r[Orientation]: [2] Unknown");
    QTest::newRow("time stamp above 2^32")
        << orientationReadings(R"({"timestamp": "4294967296", "value": 6})")
        << QByteArray("\r[Orientation]: [4294967296] Face up    ");
    QTest::newRow("time stamp with every bit set is written signed")
        << orientationReadings(R"({"timestamp": "18446744073709551615", "value": 5})")
        << QByteArray("\r[Orientation]: [-1] Face down  ");
}

void StreamingDemos::orientation()
{
    QFETCH(QByteArray, scenario);
    QFETCH(QByteArray, expected);

    DemoProcess demo("posture-demo");
    demo.setScenario(scenario);
    demo.start();
    QVERIFY2(demo.waitForOutput(expected), demo.output().constData());
    demo.write("\n");
    QVERIFY(demo.waitForFinished());

    QCOMPARE(DemoProcess::lines(demo.output()), DemoProcess::lines(expected + "exiting.."));
    QCOMPARE(demo.error(), QByteArray());
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace(), streamingTrace("KvOrientation", {}));
}

void StreamingDemos::startUpAndReadings_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QByteArray>("expected"); // standard output and error as a terminal shows them
    QTest::addColumn<QStringList>("calls");

    const QByteArray rotationReadings = R"("readings": [
            {"timestamp": 1235, "x": 10, "y": 20, "z": 30},
            {"at": 5, "timestamp": "5000000000", "x": -1, "y": -22, "z": -333}])";
    const QByteArray rotationLines
        = "\r [1235]: (10, 20, 30)       \r [5000000000]: (-1, -22, -333)       ";
    const QByteArray current = R"("current": {"timestamp": 1234, "x": 1, "y": -2, "z": 3})";
    const QString currentCall = "KvRotation::rotation() = {1234 1 -2 3}";

    QTest::newRow("rotation read before the start, then streamed")
        << "tilt-demo" << QByteArray(R"({"rotation": {)" + current + ", " + rotationReadings + "}}")
        << "Requesting property from unstarted sensor: \n"
           "\r [1234]: (1, -2, 3)       Z-Axis availability: true \n"
           "Starting sensor \n"
            + rotationLines
        << streamingTrace("KvRotation", { currentCall, "KvRotation::hasZ() = true" });
    QTest::newRow("rotation sensor without a Z axis")
        << "tilt-demo" << QByteArray(R"({"rotation": {"hasZ": false, )" + current + "}}")
        << QByteArray("Requesting property from unstarted sensor: \n"
                      "\r [1234]: (1, -2, 3)       Z-Axis availability: false \n"
                      "Starting sensor \n")
        << streamingTrace("KvRotation", { currentCall, "KvRotation::hasZ() = false" });
    QTest::newRow("rotation readings from the library's worker thread")
        << "tilt-demo"
        << QByteArray(
               R"({"rotation": {"thread": "worker", )" + current + ", " + rotationReadings + "}}")
        << "Requesting property from unstarted sensor: \n"
           "\r [1234]: (1, -2, 3)       Z-Axis availability: true \n"
           "Starting sensor \n"
            + rotationLines
        << streamingTrace("KvRotation", { currentCall, "KvRotation::hasZ() = true" });
    QTest::newRow("rotation read although the sensor refused to start")
        << "tilt-demo"
        << QByteArray(R"({"rotation": {"start": false, "hasZ": true, )" + current + ", "
               + rotationReadings + "}}")
        << QByteArray("Requesting property from unstarted sensor: \n"
                      "\r [1234]: (1, -2, 3)       Z-Axis availability: true \n"
                      "Starting sensor \n")
        << streamingTrace("KvRotation", { currentCall, "KvRotation::hasZ() = true" }, false);
    QTest::newRow("rotation time stamp with every bit set is written signed")
        << "tilt-demo"
        << QByteArray(
               R"({"rotation": {"current": {"timestamp": "18446744073709551615", "x": -2147483648}}})")
        << QByteArray("Requesting property from unstarted sensor: \n"
                      "\r [-1]: (-2147483648, 0, 0)       Z-Axis availability: true \n"
                      "Starting sensor \n")
        << streamingTrace("KvRotation",
               { "KvRotation::rotation() = {18446744073709551615 -2147483648 0 0}",
                   "KvRotation::hasZ() = true" });

    const QByteArray field = R"("current": {"timestamp": 1, "x": 20000, "y": -300, "z": -45000,
                                            "rx": 21520, "ry": -1130, "rz": -44590, "level": 2})";
    const QByteArray fieldBlock = "Timestamp        : 1\n"
                                  "CalibrationLevel : 2\n"
                                  "Calibrated values: 20000 -300 -45000\n"
                                  "Raw values       : 21520 -1130 -44590\n"
                                  "------\n";
    const QString fieldCall
        = "KvMagnetometer::magneticField() = {1 20000 -300 -45000 21520 -1130 -44590 2}";
    const QByteArray magnetometerReadings = R"("readings": [
            {"timestamp": "4294967296", "x": -1, "y": -2, "z": -3, "rx": 4, "ry": 5, "rz": 6, "level": 3},
            {"at": 5, "timestamp": "18446744073709551615", "level": -1}])";
    const QByteArray readingBlocks = "Timestamp        : 4294967296\n"
                                     "CalibrationLevel : 3\n"
                                     "Calibrated values: -1 -2 -3\n"
                                     "Raw values       : 4 5 6\n"
                                     "------\n"
                                     "Timestamp        : -1\n"
                                     "CalibrationLevel : -1\n"
                                     "Calibrated values: 0 0 0\n"
                                     "Raw values       : 0 0 0\n"
                                     "------\n";

    QTest::newRow("magnetic field read before the start, then streamed")
        << "flux-demo"
        << QByteArray(R"({"magnetometer": {)" + field + ", " + magnetometerReadings + "}}")
        << "Requesting property from unstarted sensor: \n" + fieldBlock + "Starting sensor \n"
            + readingBlocks
        << streamingTrace("KvMagnetometer", { fieldCall });
    QTest::newRow("magnetometer readings from the library's worker thread")
        << "flux-demo"
        << QByteArray(R"({"magnetometer": {"thread": "worker", )" + field + ", "
               + magnetometerReadings + "}}")
        << "Requesting property from unstarted sensor: \n" + fieldBlock + "Starting sensor \n"
            + readingBlocks
        << streamingTrace("KvMagnetometer", { fieldCall });
    QTest::newRow("magnetic field read although no session was granted")
        << "flux-demo" << QByteArray(R"({"magnetometer": {"session": 0, )" + field + "}}")
        << "Requesting property from unstarted sensor: \n" + fieldBlock + "Starting sensor \n"
        << QStringList { "KvMagnetometer::KvMagnetometer(client)",
               "KvMagnetometer::requestSession(2) = 0", fieldCall,
               "KvMagnetometer::start() = false", "KvMagnetometer::stop()",
               "KvMagnetometer::~KvMagnetometer()" };
}

void StreamingDemos::startUpAndReadings()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, scenario);
    QFETCH(QByteArray, expected);
    QFETCH(QStringList, calls);

    DemoProcess demo(program);
    demo.mergeChannels();
    demo.setScenario(scenario);
    demo.start();
    QVERIFY2(demo.waitForOutput(expected), demo.output().constData());
    QVERIFY(demo.waitForTrace(calls[calls.size() - 3])); // the start
    demo.write("\n");
    QVERIFY(demo.waitForFinished());

    QCOMPARE(DemoProcess::lines(demo.output()), DemoProcess::lines(expected + "exiting.."));
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace(), calls);
}

void StreamingDemos::debugMessagesGoToStandardError()
{
    DemoProcess demo("tilt-demo");
    demo.setScenario(R"({"rotation": {"current": {"timestamp": 7, "x": 1, "y": 2, "z": 3},
                                      "readings": [{"timestamp": 8, "x": 4, "y": 5, "z": 6}]}})");
    demo.start();
    QVERIFY(demo.waitForOutput("\r [8]: (4, 5, 6)       "));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());

    QCOMPARE(
        demo.output(), QByteArray("\r [7]: (1, 2, 3)       \r [8]: (4, 5, 6)       exiting.."));
    QCOMPARE(DemoProcess::lines(demo.error()),
        DemoProcess::lines("Requesting property from unstarted sensor: \n"
                           "Z-Axis availability: true \n"
                           "Starting sensor \n"));
    QCOMPARE(demo.exitCode(), 0);
}

void StreamingDemos::virtualHandset_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("marker"); // once in every reading
    QTest::addColumn<QString>("startUp");
    QTest::addColumn<QString>("reading");
    QTest::newRow("orientation")
        << "posture-demo" << QByteArray("\r[") << ""
        << R"(\r\[Orientation\]: \[\d+\] (Bottom up  |Bottom down|Left up    |)"
           R"(Right up   |Face down  |Face up    |Unknown))";
    QTest::newRow("rotation")
        << "tilt-demo" << QByteArray("\r [")
        << R"(Requesting property from unstarted sensor: \n\r \[\d+\]: \(-?\d+, -?\d+, -?\d+\) {7})"
           R"(Z-Axis availability: true \nStarting sensor \n)"
        << R"(\r \[\d+\]: \(-?\d+, -?\d+, -?\d+\) {7})";
    QTest::newRow("magnetometer")
        << "flux-demo" << QByteArray("------\n")
        << R"(Requesting property from unstarted sensor: \n(?:[^\n]*\n){5}Starting sensor \n)"
        << R"(Timestamp {8}: \d+\nCalibrationLevel : [0-3]\nCalibrated values: -?\d+ -?\d+ -?\d+\n)"
           R"(Raw values {7}: -?\d+ -?\d+ -?\d+\n------\n)";
}

void StreamingDemos::virtualHandset()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, marker);
    QFETCH(QString, startUp);
    QFETCH(QString, reading);

    DemoProcess demo(program);
    demo.mergeChannels();
    demo.start();
    // Two streamed readings after whatever the start-up wrote show that the device keeps streaming.
    const int wanted = startUp.isEmpty() ? 2 : 3;
    QVERIFY(demo.waitUntil(
        [&](const QByteArray &out, const QByteArray &) { return out.count(marker) >= wanted; }));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    const QString out = QString::fromLatin1(demo.output());
    QVERIFY2(QRegularExpression("^" + startUp + "(" + reading + "){2,}exiting\\.\\.$")
                 .match(out)
                 .hasMatch(),
        qPrintable(out));
    QCOMPARE(demo.exitCode(), 0);
}

QTEST_GUILESS_MAIN(StreamingDemos)
#include "tst_streamingdemos.moc"
