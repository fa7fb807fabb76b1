// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// A scenario file or trace that the library cannot use ends the program
// with one line on standard error and status 2, before any library call.

#include "demoprocess.h"

#include <QDeadlineTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What stands at the path given for the scenario or the trace.
enum class Path { Missing, Fifo, Directory, DevZero, Huge, NewlineInName, SocketDirectory };

} // namespace

Q_DECLARE_METATYPE(Path)

class ScenarioFile : public QObject
{
    Q_OBJECT
private slots:
    void usageError_data();
    void usageError();
    void unusableFile_data();
    void unusableFile();
    void pathThatIsNotUtf8();
    void traceReaderGoesAway();
    void privilegedCopyIgnoresTheEnvironment();
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
    QTest::newRow("line end and escape sequence in a value stay escaped, on one line")
        << QByteArray(R"({"compass": {"thread": "x
kvsystem2: forged[2J"}})")
        << QByteArray(R"(compass.thread: expected "main" or "worker", not "x\nkvsystem2: forged\x1b[2J\xc2\x9b")");
    QTest::newRow("a key that is not UTF-8") << QByteArray("{\"al\xffs\": {}}")
                                             << QByteArray("invalid UTF-8 at offset 4");
    QTest::newRow("an overlong UTF-8 form") << QByteArray("{\"als\": {\"lastError\": \"\xc0\xaf\"}}")
                                            << QByteArray("invalid UTF-8 at offset 23");
    QTest::newRow("nesting deeper than Qt's parser reads, refused before any scan")
        << QByteArray(100000, '[') << QByteArray("nested deeper than 1024 levels at offset 1024");
    QTest::newRow("nesting 1024 deep is JSON, if not a scenario")
        << "{\"als\": " + QByteArray(1023, '[') + QByteArray(1023, ']') + "}"
        << QByteArray("als: expected an object, not an array");
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

void ScenarioFile::unusableFile_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<Path>("path");
    QTest::addColumn<QByteArray>("problem");

    const QString scenario = "KVSYSTEM_SCENARIO";
    const QString trace = "KVSYSTEM_TRACE";
    QTest::newRow("scenario missing")
        << scenario << Path::Missing << QByteArray(": cannot read: No such file or directory");
    QTest::newRow("scenario a FIFO: refused at once, not waited on")
        << scenario << Path::Fifo << QByteArray(": cannot read: not a regular file");
    QTest::newRow("scenario a directory")
        << scenario << Path::Directory << QByteArray(": cannot read: not a regular file");
    QTest::newRow("scenario /dev/zero: refused, not read without end")
        << scenario << Path::DevZero << QByteArray(": cannot read: not a regular file");
    QTest::newRow("scenario above 32 MiB: refused before it is read")
        << scenario << Path::Huge << QByteArray(": larger than 32 MiB");
    QTest::newRow("a line end in the path stays escaped")
        << scenario << Path::NewlineInName
        << QByteArray(": cannot read: No such file or directory");
    QTest::newRow("trace in a missing directory")
        << trace << Path::Missing
        << QByteArray(": cannot open the trace: No such file or directory");
    QTest::newRow("trace a FIFO that no one reads: refused at once, not waited on")
        << trace << Path::Fifo << QByteArray(": cannot open the trace: a FIFO that no one reads");
    QTest::newRow("trace a directory")
        << trace << Path::SocketDirectory << QByteArray(": cannot open the trace: Is a directory");
}

void ScenarioFile::unusableFile()
{
    QFETCH(QString, variable);
    QFETCH(Path, path);
    QFETCH(QByteArray, problem);

    QTemporaryDir dir;
    QString file = dir.filePath("file");
    QByteArray shown = QFile::encodeName(file);
    switch (path) {
    case Path::Missing:
        file = dir.filePath("missing/file");
        shown = QFile::encodeName(file);
        break;
    case Path::Fifo:
        QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        break;
    case Path::Directory:
    case Path::SocketDirectory:
        QVERIFY(QDir().mkpath(file));
        break;
    case Path::DevZero:
        file = "/dev/zero";
        shown = "/dev/zero";
        break;
    case Path::Huge: {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(33 * 1024 * 1024)); // sparse: no disk space taken
        break;
    }
    case Path::NewlineInName:
        file = dir.filePath("a\nb");
        shown = QFile::encodeName(dir.filePath("a")) + "\\nb";
        break;
    }

    DemoProcess demo("lux-demo");
    demo.setEnvironment(variable, file);
    demo.start();
    QVERIFY(demo.waitForFinished());
    QCOMPARE(DemoProcess::lines(demo.error()),
        DemoProcess::lines("kvsystem2: " + shown + problem + "\n"));
    QCOMPARE(demo.output(), QByteArray());
    QCOMPARE(demo.exitCode(), 2);
}

void ScenarioFile::pathThatIsNotUtf8()
{
    // A byte that is not UTF-8 in the path: the file is found (its content
    // is what is refused) and the byte is shown escaped.
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path()) + "/sc\xffn.json";
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT, 0644);
    QVERIFY(fd >= 0);
    // QTemporaryDir cannot remove a name that is not UTF-8: it goes first.
    const auto removeFile = qScopeGuard([&name] { ::unlink(name.constData()); });
    QCOMPARE(::write(fd, "{\"als\": 1}", 10), ssize_t(10));
    ::close(fd);

    QProcess demo;
    demo.setProgram("/bin/sh");
    demo.setArguments({ "-c",
        R"sh(KVSYSTEM_SCENARIO="$(printf '%s/sc\377n.json' "$1")" exec "$0" < /dev/null)sh",
        DemoProcess("lux-demo").programPath(), dir.path() });
    demo.start();
    QVERIFY(demo.waitForFinished(DemoProcess::deadlineMs));
    QCOMPARE(demo.readAllStandardError(),
        "kvsystem2: " + QFile::encodeName(dir.path())
            + "/sc\\xffn.json: als: expected an object, not a number\n");
    QCOMPARE(demo.exitCode(), 2);
}

void ScenarioFile::traceReaderGoesAway()
{
    // The trace goes into a FIFO whose reader leaves while the program
    // runs: the program carries on, and ends on Enter as always.
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath("trace"));
    QCOMPARE(mkfifo(fifo.constData(), 0600), 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);

    DemoProcess demo("lux-demo");
    demo.setEnvironment("KVSYSTEM_TRACE", QFile::decodeName(fifo));
    demo.setScenario(R"({"als": {"readings": [{"timestamp": 1, "value": 5}]}})");
    demo.start();
    QByteArray traced;
    QDeadlineTimer deadline(DemoProcess::deadlineMs);
    while (!traced.contains("KvALS::start() = true\n") && !deadline.hasExpired()) {
        char buffer[256];
        const ssize_t n = ::read(reader, buffer, sizeof buffer);
        if (n > 0)
            traced.append(buffer, int(n));
        else
            QTest::qWait(10);
    }
    QVERIFY2(traced.contains("KvALS::start() = true\n"), traced.constData());
    ::close(reader);
    QVERIFY(demo.waitForOutput("5 lux"));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.output(), QByteArray("\r[ALS]: [1]   5 luxexiting.."));
}

void ScenarioFile::privilegedCopyIgnoresTheEnvironment()
{
    // A setgid copy run by a user outside its group: the library takes
    // every KVSYSTEM_ variable as unset, so the scenario that names a file
    // of the group is not read, and the virtual handset answers.
    if (::geteuid() != 0)
        QSKIP("making a setgid copy for another group needs root");
    QTemporaryDir dir;
    const QString copy = dir.filePath("lux-demo");
    QVERIFY(QFile::copy(DemoProcess("lux-demo").programPath(), copy));
    QCOMPARE(::chown(QFile::encodeName(copy).constData(), 0, 65534), 0); // group nogroup
    QCOMPARE(::chmod(QFile::encodeName(copy).constData(), 02755), 0);

    QProcess demo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KVSYSTEM_SCENARIO", "/nonexistent/scenario.json");
    demo.setProcessEnvironment(env);
    demo.setProgram(copy);
    demo.start();
    QVERIFY(demo.waitForStarted(DemoProcess::deadlineMs));
    QDeadlineTimer deadline(DemoProcess::deadlineMs);
    QByteArray out;
    while (!out.contains(" lux") && demo.state() == QProcess::Running && !deadline.hasExpired()) {
        demo.waitForReadyRead(100);
        out += demo.readAllStandardOutput();
    }
    const QByteArray err = demo.readAllStandardError();
    if (err.contains("AddressSanitizer") || err.contains("ThreadSanitizer"))
        QSKIP("the sanitizers' runtime does not start in a setgid program");
    // Programs find the library through $ORIGIN, which the loader expands
    // in a setgid program only to a system directory: a copy outside one
    // cannot start, while an installed system copy finds the library there.
    if (err.contains("error while loading shared libraries: libkvsystem2"))
        QSKIP("a setgid copy outside the system's directories does not find the library");
    QVERIFY2(out.contains(" lux"), err.constData());
    demo.write("\n");
    QVERIFY(demo.waitForFinished(DemoProcess::deadlineMs));
    QCOMPARE(demo.exitCode(), 0);
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
