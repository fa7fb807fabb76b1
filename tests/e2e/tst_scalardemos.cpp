// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// lux-demo, near-demo and knock-demo: every reading on one console line in
// the program's format, flushed at once, until Enter.

#include "demoprocess.h"
#include "streamingtrace.h"

#include <QRegularExpression>
#include <QtTest>

class ScalarDemos : public QObject
{
    Q_OBJECT
private slots:
    void readings_data();
    void readings();
    void manyReadingsArriveInOrder_data();
    void manyReadingsArriveInOrder();
    void noReadings_data();
    void noReadings();
    void virtualHandset_data();
    void virtualHandset();
};

namespace {

QString traceClass(const QString &program)
{
    return program == "lux-demo" ? "KvALS" : program == "near-demo" ? "KvProximity" : "KvTap";
}

} // namespace

void ScalarDemos::readings_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("light level padded to three columns")
        << "lux-demo" << QByteArray(R"({"als": {"readings": [{"timestamp": 1234, "value": 5}]}})")
        << QByteArray("\r[ALS]: [1234]   5 lux");
    QTest::newRow("light level wider than three columns")
        << "lux-demo"
        << QByteArray(R"({"als": {"readings": [{"timestamp": 1234, "value": 12345}]}})")
        << QByteArray("\r[ALS]: [1234] 12345 lux");
    QTest::newRow("negative light level")
        << "lux-demo" << QByteArray(R"({"als": {"readings": [{"timestamp": 7, "value": -7}]}})")
        << QByteArray("\r[ALS]: [7]  -7 lux");
    QTest::newRow("shorter reading leaves the old tail for the terminal")
        << "lux-demo"
        << QByteArray(R"({"als": {"readings": [{"at": 0, "timestamp": 123456, "value": 1000},
                                               {"at": 10, "timestamp": 9, "value": 1}]}})")
        << QByteArray("\r[ALS]: [123456] 1000 lux\r[ALS]: [9]   1 lux");
    QTest::newRow("time stamp above 2^32")
        << "lux-demo"
        << QByteArray(R"({"als": {"readings": [{"timestamp": "5000000000", "value": 12}]}})")
        << QByteArray("\r[ALS]: [5000000000]  12 lux");
    QTest::newRow("time stamp with every bit set is written signed")
        << "lux-demo"
        << QByteArray(
               R"({"als": {"readings": [{"timestamp": "18446744073709551615", "value": 0}]}})")
        << QByteArray("\r[ALS]: [-1]   0 lux");
    QTest::newRow("proximity reading ends its line")
        << "near-demo"
        << QByteArray(R"({"proximity": {"readings": [{"timestamp": 1234, "value": 0}]}})")
        << QByteArray("\r[Proximity]: [1234]   0 \n");
    QTest::newRow("proximity readings one per line")
        << "near-demo" << QByteArray(R"({"proximity": {"readings": [{"timestamp": 1, "value": 1},
                                                     {"at": 5, "timestamp": "4294967296", "value": -100}]}})")
        << QByteArray("\r[Proximity]: [1]   1 \n\r[Proximity]: [4294967296] -100 \n");
    QTest::newRow("tap values as plain numbers")
        << "knock-demo"
        << QByteArray(
               R"({"tap": {"readings": [{"timestamp": 99, "firstValue": 1, "secondValue": 2}]}})")
        << QByteArray("\r[Tap]: (see enums) 1 2");
    QTest::newRow("tap values negative and wide")
        << "knock-demo"
        << QByteArray(R"({"tap": {"readings": [{"firstValue": -1, "secondValue": 2147483647},
                                               {"at": 1, "firstValue": 0, "secondValue": 0}]}})")
        << QByteArray("\r[Tap]: (see enums) -1 2147483647\r[Tap]: (see enums) 0 0");
    QTest::newRow("readings due together keep the file's order")
        << "lux-demo" << QByteArray(R"({"als": {"readings": [{"at": 5, "timestamp": 3, "value": 3},
                                               {"at": 0, "timestamp": 1, "value": 1},
                                               {"at": 5, "timestamp": 4, "value": 4},
                                               {"at": 0, "timestamp": 2, "value": 2}]}})")
        << QByteArray(
               "\r[ALS]: [1]   1 lux\r[ALS]: [2]   2 lux\r[ALS]: [3]   3 lux\r[ALS]: [4]   4 lux");
}

void ScalarDemos::readings()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, scenario);
    QFETCH(QByteArray, expected);

    DemoProcess demo(program);
    demo.setScenario(scenario);
    demo.start();
    QVERIFY2(demo.waitForOutput(expected), demo.output().constData());
    demo.write("\n");
    QVERIFY(demo.waitForFinished());

    QCOMPARE(DemoProcess::lines(demo.output()), DemoProcess::lines(expected + "exiting.."));
    QCOMPARE(demo.error(), QByteArray());
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace(), streamingTrace(traceClass(program)));
}

void ScalarDemos::manyReadingsArriveInOrder_data()
{
    QTest::addColumn<QString>("thread");
    QTest::newRow("emitted on the main thread") << "main";
    QTest::newRow("emitted on the library's worker thread") << "worker";
}

void ScalarDemos::manyReadingsArriveInOrder()
{
    QFETCH(QString, thread);
    const int count = 2000;
    QByteArray readings;
    QByteArray expected;
    for (int i = 0; i < count; ++i) {
        readings += (i ? "," : "") + QByteArray(R"({"at": )") + QByteArray::number(i / 100)
            + R"(, "timestamp": )" + QByteArray::number(i) + R"(, "value": )"
            + QByteArray::number(i % 7) + "}";
        expected += "\r[Proximity]: [" + QByteArray::number(i) + "]   " + QByteArray::number(i % 7)
            + " \n";
    }

    DemoProcess demo("near-demo");
    demo.setScenario(R"({"proximity": {"thread": ")" + thread.toLatin1() + R"(", "readings": [)"
        + readings + "]}}");
    demo.start();
    QVERIFY(demo.waitForOutput(expected));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(DemoProcess::lines(demo.output()), DemoProcess::lines(expected + "exiting.."));
    QCOMPARE(demo.exitCode(), 0);
}

void ScalarDemos::noReadings_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QStringList>("calls");

    const QByteArray readings = R"("readings": [{"timestamp": 1, "value": 1}])";
    QTest::newRow("session refused")
        << "lux-demo" << QByteArray(R"({"als": {"session": 0, )" + readings + "}}")
        << QStringList { "KvALS::KvALS(client)", "KvALS::requestSession(2) = 0",
               "KvALS::start() = false", "KvALS::stop()", "KvALS::~KvALS()" };
    QTest::newRow("start fails") << "near-demo"
                                 << QByteArray(
                                        R"({"proximity": {"start": false, )" + readings + "}}")
                                 << QStringList { "KvProximity::KvProximity(client)",
                                        "KvProximity::requestSession(2) = 2",
                                        "KvProximity::start() = false", "KvProximity::stop()",
                                        "KvProximity::~KvProximity()" };
    QTest::newRow("listen session only")
        << "knock-demo" << QByteArray(R"({"tap": {"session": 1}})")
        << QStringList { "KvTap::KvTap(client)", "KvTap::requestSession(2) = 1",
               "KvTap::start() = true", "KvTap::stop()", "KvTap::~KvTap()" };
}

void ScalarDemos::noReadings()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, scenario);
    QFETCH(QStringList, calls);

    DemoProcess demo(program);
    demo.setScenario(scenario);
    demo.start();
    QVERIFY(demo.waitForTrace(calls[2]));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.output(), QByteArray("exiting.."));
    QCOMPARE(demo.error(), QByteArray());
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace(), calls);
}

void ScalarDemos::virtualHandset_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("reading");
    QTest::newRow("light level") << "lux-demo"
                                 << R"(\r\[ALS\]: \[\d+\] +\d+ lux)";
    QTest::newRow("proximity") << "near-demo"
                               << R"(\r\[Proximity\]: \[\d+\] +[01] \n)";
    QTest::newRow("taps") << "knock-demo"
                          << R"(\r\[Tap\]: \(see enums\) [0-2] [01])";
}

void ScalarDemos::virtualHandset()
{
    QFETCH(QString, program);
    QFETCH(QString, reading);

    DemoProcess demo(program);
    demo.start();
    // Two readings show that the device keeps streaming.
    QVERIFY(demo.waitUntil(
        [](const QByteArray &out, const QByteArray &) { return out.count("\r[") >= 2; }));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    const QString out = QString::fromLatin1(demo.output());
    QVERIFY2(QRegularExpression("^(" + reading + "){2,}exiting\\.\\.$").match(out).hasMatch(),
        qPrintable(out));
    QCOMPARE(demo.exitCode(), 0);
}

QTEST_GUILESS_MAIN(ScalarDemos)
#include "tst_scalardemos.moc"
