// The console frame of the sensor demos: how the console thread ends a run.

#include "demoprocess.h"

#include <QtTest>

class ConsoleFrame : public QObject
{
    Q_OBJECT
private slots:
    void endsOnInput_data();
    void endsOnInput();
    void inputAtItsEndBeforeStart();
    void argumentsAreIgnored();
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
        QCOMPARE(demo.trace(),
            QStringList({ "KvALS::KvALS(client)", "KvALS::requestSession(2) = 2",
                "KvALS::start() = true", "KvALS::stop()", "KvALS::~KvALS()" }));
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

QTEST_GUILESS_MAIN(ConsoleFrame)
#include "tst_consoleframe.moc"
