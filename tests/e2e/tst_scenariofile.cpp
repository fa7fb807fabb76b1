// A scenario file or trace that the library cannot use ends the program
// with one line on standard error and status 2, before any library call.

#include "demoprocess.h"

#include <QtTest>

class ScenarioFile : public QObject
{
    Q_OBJECT
private slots:
    void usageError_data();
    void usageError();
    void missingFile();
    void unwritableTrace();
    void emptyVariableMeansVirtualHandset();
    void largeFile_data();
    void largeFile();
};

void ScenarioFile::usageError_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QByteArray>("problem");

    QTest::newRow("invalid JSON") << QByteArray("{\"als\": ")
                                  << QByteArray("invalid JSON at offset 8: unterminated object");
    QTest::newRow("not an object")
        << QByteArray("[1, 2]") << QByteArray("expected a JSON object at the top level");
    QTest::newRow("unknown class")
        << QByteArray(R"({"gyroscope": {}})") << QByteArray("gyroscope: unknown key");
    QTest::newRow("unknown sensor key")
        << QByteArray(R"({"als": {"sesion": 2}})") << QByteArray("als.sesion: unknown key");
    QTest::newRow("reading field of another sensor") << QByteArray(
        R"({"als": {"readings": [{"x": 1}]}})") << QByteArray("als.readings[0].x: unknown key");
    QTest::newRow("value of the wrong type")
        << QByteArray(R"({"als": {"readings": [{"at": 0}, {"value": "5"}]}})")
        << QByteArray("als.readings[1].value: expected an integer, not a string");
    QTest::newRow("value beyond 32 bits")
        << QByteArray(R"({"tap": {"readings": [{"firstValue": 2147483648}]}})")
        << QByteArray("tap.readings[0].firstValue: 2147483648 is out of range (-2147483648 to "
                      "2147483647)");
    QTest::newRow("value with a fraction") << QByteArray(
        R"({"als": {"session": 1.5}})") << QByteArray("als.session: expected an integer, not 1.5");
    QTest::newRow("time stamp text that is not a number")
        << QByteArray(R"({"als": {"readings": [{"timestamp": "12a"}]}})")
        << QByteArray("als.readings[0].timestamp: \"12a\" is not a 64-bit integer");
    QTest::newRow("time stamp beyond 64 bits")
        << QByteArray(R"({"als": {"readings": [{"timestamp": "18446744073709551616"}]}})")
        << QByteArray(
               "als.readings[0].timestamp: \"18446744073709551616\" is not a 64-bit integer");
    QTest::newRow("time stamp number too large to be exact")
        << QByteArray(R"({"als": {"readings": [{"timestamp": 18446744073709551615}]}})")
        << QByteArray("als.readings[0].timestamp: 18446744073709551616 cannot be exact as a JSON "
                      "number; write it "
                      "as a string of digits");
    QTest::newRow("negative delivery time")
        << QByteArray(R"({"als": {"readings": [{"at": -1}]}})")
        << QByteArray("als.readings[0].at: -1 is out of range (0 to 9007199254740991)");
    QTest::newRow("unknown thread")
        << QByteArray(R"({"compass": {"thread": "other"}})")
        << QByteArray("compass.thread: expected \"main\" or \"worker\", not \"other\"");
    QTest::newRow("battery value of the wrong type")
        << QByteArray(R"({"battery": {"voltage": [3900, 3890, "x"]}})")
        << QByteArray("battery.voltage[2]: expected an integer or an object, not a string");
}

void ScenarioFile::usageError()
{
    QFETCH(QByteArray, scenario);
    QFETCH(QByteArray, problem);

    DemoProcess demo("lux-demo");
    demo.setScenario(scenario);
    demo.start();
    QVERIFY(demo.waitForFinished());
    QCOMPARE(
        demo.error(), "kvsystem2: " + demo.scenarioPath().toLocal8Bit() + ": " + problem + "\n");
    QCOMPARE(demo.output(), QByteArray());
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 2);
    QCOMPARE(demo.trace(), QStringList());
}

void ScenarioFile::missingFile()
{
    DemoProcess demo("lux-demo");
    demo.setEnvironment("KVSYSTEM_SCENARIO", "/nonexistent/scenario.json");
    demo.start();
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.error(),
        QByteArray(
            "kvsystem2: /nonexistent/scenario.json: cannot read: No such file or directory\n"));
    QCOMPARE(demo.exitCode(), 2);
}

void ScenarioFile::unwritableTrace()
{
    DemoProcess demo("lux-demo");
    demo.setEnvironment("KVSYSTEM_TRACE", "/nonexistent/trace");
    demo.start();
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.error(),
        QByteArray(
            "kvsystem2: /nonexistent/trace: cannot open the trace: No such file or directory\n"));
    QCOMPARE(demo.exitCode(), 2);
}

void ScenarioFile::emptyVariableMeansVirtualHandset()
{
    DemoProcess demo("lux-demo");
    demo.setEnvironment("KVSYSTEM_SCENARIO", "");
    demo.start();
    QVERIFY(demo.waitForOutput(" lux"));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.exitCode(), 0);
}

void ScenarioFile::largeFile_data()
{
    QTest::addColumn<bool>("broken");
    QTest::newRow("ten megabytes load and the program runs") << false;
    QTest::newRow("a mistake at the end of ten megabytes is named") << true;
}

void ScenarioFile::largeFile()
{
    QFETCH(bool, broken);
    // Readings due long after the test ends: loading is what is measured.
    const int count = 250000;
    QByteArray json = R"({"als": {"readings": [)";
    json.reserve(11 * 1024 * 1024);
    for (int i = 0; i < count; ++i)
        json += (i ? "," : "") + QByteArray(R"({"at": 600000, "timestamp": )")
            + QByteArray::number(i) + R"(, "value": )"
            + (broken && i == count - 1 ? QByteArray(R"("x")") : QByteArray::number(i % 1000))
            + "}";
    json += "]}}";
    QVERIFY(json.size() > 10 * 1000 * 1000);

    // Parsing ten megabytes under ThreadSanitizer on a busy machine can
    // take longer than the usual deadline for output.
    constexpr int loadMs = 5 * DemoProcess::deadlineMs;
    DemoProcess demo("lux-demo");
    demo.setScenario(json);
    demo.start();
    if (broken) {
        QVERIFY(demo.waitForFinished(loadMs));
        QCOMPARE(demo.error(),
            "kvsystem2: " + demo.scenarioPath().toLocal8Bit()
                + ": als.readings[249999].value: expected an integer, not a string\n");
        QCOMPARE(demo.exitCode(), 2);
        return;
    }
    QVERIFY(demo.waitForTrace("KvALS::start() = true", loadMs));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.output(), QByteArray("exiting.."));
    QCOMPARE(demo.exitCode(), 0);
}

QTEST_GUILESS_MAIN(ScenarioFile)
#include "tst_scenariofile.moc"
