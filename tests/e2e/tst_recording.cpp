// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// KVSYSTEM_RECORD: a program's run on the virtual handset or on a fake
// Linux device, recorded and played back as a scenario, writes the same
// output and makes the same library calls; a recording cut short by a
// signal plays back too; a file that cannot be written is a usage error.

#include "demoprocess.h"
#include "fakesysfs.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <unistd.h>

class Recording : public QObject
{
    Q_OBJECT
private slots:
    void replayWritesWhatTheRunWrote_data();
    void replayWritesWhatTheRunWrote();
    void recordingHoldsWhatCame_data();
    void recordingHoldsWhatCame();
    void refusedRecording_data();
    void refusedRecording();
    void outlivesItsFiles_data();
    void outlivesItsFiles();
};

namespace {

enum Ending { Enter, Interrupt };

// Lines (or overwritten lines) written so far on both channels.
int lineCount(const QByteArray &out, const QByteArray &err)
{
    return int(out.count('\n') + out.count('\r') + err.count('\n'));
}

// charge-recorder's rows without their wall-clock time.
QByteArray withoutTimes(QByteArray text)
{
    return QString::fromLatin1(text)
        .remove(QRegularExpression(R"(^\d\d \S+ \d{4} \d\d:\d\d:\d\d, )",
            QRegularExpression::MultilineOption))
        .toLatin1();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

void Recording::replayWritesWhatTheRunWrote_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("linux");
    QTest::addColumn<int>("ending");
    QTest::addColumn<int>("lines"); // how much output the recorded run waits for
    // What the program writes on standard error as it ends after Enter.
    QTest::addColumn<QByteArray>("farewell");
    QTest::addColumn<QByteArray>("scenario"); // what the recorded run plays, if anything

    QTest::newRow("lux-demo on the virtual handset, ended by Enter")
        << "lux-demo" << QStringList() << false << int(Enter) << 3 << QByteArray() << QByteArray();
    QTest::newRow("lux-demo killed in the middle of its readings")
        << "lux-demo" << QStringList() << false << int(Interrupt) << 3 << QByteArray() << QByteArray();
    QTest::newRow("tilt-demo asks for the rotation and the Z axis before it starts")
        << "tilt-demo" << QStringList() << false << int(Enter) << 8 << QByteArray() << QByteArray();
    QTest::newRow("heading-demo reports session and start as debug messages")
        << "heading-demo" << QStringList() << false << int(Enter) << 5
        << QByteArray("Application shutdown. \nCompass Stopped. \n") << QByteArray();
    QTest::newRow("flux-demo reads the field before it starts")
        << "flux-demo" << QStringList() << false << int(Enter) << 12 << QByteArray() << QByteArray();
    QTest::newRow("screen-demo killed after its numbered sequence")
        << "screen-demo" << QStringList() << false << int(Interrupt) << 11 << QByteArray() << QByteArray();
    QTest::newRow("powerstate-demo killed after its requests")
        << "powerstate-demo" << QStringList() << false << int(Interrupt) << 4 << QByteArray() << QByteArray();
    QTest::newRow("charge-recorder killed after two rows")
        << "charge-recorder" << QStringList { "--interval=1" } << false << int(Interrupt) << 3 << QByteArray() << QByteArray();
    QTest::newRow("motion-demo on a fake phone, readings from the library's worker thread")
        << "motion-demo" << QStringList() << true << int(Enter) << 3 << QByteArray() << QByteArray();
    QTest::newRow("charge-recorder on a fake phone")
        << "charge-recorder" << QStringList { "--interval=1", "--numerical" } << true
        << int(Interrupt) << 3 << QByteArray() << QByteArray();
    QTest::newRow("idle-demo on a fake phone, killed")
        << "idle-demo" << QStringList() << true << int(Interrupt) << 2 << QByteArray() << QByteArray();
    QByteArray burst;
    for (int i = 0; i < 2000; ++i)
        burst += QByteArray(i ? ", " : "") + "{\"timestamp\": " + QByteArray::number(i) + "}";
    QTest::newRow("lux-demo given 2000 readings at once, recorded in batches")
        << "lux-demo" << QStringList() << false << int(Enter) << 2000 << QByteArray()
        << "{\"als\": {\"readings\": [" + burst + "]}}";
    QTest::newRow("motion-demo told why its sensor failed, in a text longer than a line")
        << "motion-demo" << QStringList() << false << int(Enter) << 1 << QByteArray()
        << R"({"accelerometer": {"session": 0, "lastError": ")" + QByteArray(2000, 'e') + R"("}})";
}

void Recording::replayWritesWhatTheRunWrote()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, linux);
    QFETCH(int, ending);
    QFETCH(int, lines);
    QFETCH(QByteArray, farewell);
    QFETCH(QByteArray, scenario);

    QTemporaryDir dir;
    const QString recording = dir.filePath("recording.json");
    FakeSysfs tree(FakeSysfs::Phone);

    DemoProcess recorded(program);
    recorded.setEnvironment("KVSYSTEM_RECORD", recording);
    if (!scenario.isEmpty())
        recorded.setScenario(scenario);
    if (linux) {
        recorded.setEnvironment("KVSYSTEM_BACKEND", "linux");
        recorded.setEnvironment("KVSYSTEM_SYSFS_ROOT", tree.root());
    }
    recorded.start(arguments);
    QVERIFY2(recorded.waitUntil([&](const QByteArray &out, const QByteArray &err) {
        return lineCount(out, err) >= lines;
    }),
        recorded.error().constData());
    if (ending == Enter) {
        recorded.write("\n");
        QVERIFY(recorded.waitForFinished());
    } else {
        recorded.interrupt();
    }
    QByteArray out = recorded.output();
    const QByteArray err = recorded.error();

    // Whole JSON at the end, killed or not; a normal end leaves no blanks.
    const QByteArray text = readFile(recording);
    QJsonParseError parse;
    QJsonDocument::fromJson(text, &parse);
    QCOMPARE(parse.errorString(), QJsonParseError().errorString());
    if (ending == Enter)
        QVERIFY(text.endsWith("{}]}\n"));

    DemoProcess replayed(program);
    replayed.setEnvironment("KVSYSTEM_SCENARIO", recording);
    replayed.start(arguments);
    if (ending == Enter)
        out.chop(int(qstrlen("exiting..")));
    QVERIFY2(replayed.waitUntil([&](const QByteArray &o, const QByteArray &e) {
        return o.size() >= out.size() && e.size() >= err.size() - farewell.size();
    }),
        replayed.error().constData());
    if (ending == Enter) {
        replayed.write("\n");
        QVERIFY(replayed.waitForFinished());
        out += "exiting..";
    } else {
        replayed.interrupt();
    }

    if (program == "charge-recorder") {
        QCOMPARE(DemoProcess::lines(withoutTimes(replayed.output())),
            DemoProcess::lines(withoutTimes(out)));
    } else {
        QCOMPARE(DemoProcess::lines(replayed.output()), DemoProcess::lines(out));
    }
    QCOMPARE(DemoProcess::lines(replayed.error()), DemoProcess::lines(err));
    QCOMPARE(replayed.trace(), recorded.trace());
}

// What the file says, beyond what a replay shows: the times of readings,
// slow calls and the thread that changes came on.
void Recording::recordingHoldsWhatCame_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QString>("part"); // a pattern; its first group a time in ms
    QTest::addColumn<QVector<qint64>>("least"); // the least time of each match, in order

    QTest::newRow("readings at their times after start")
        << "lux-demo" << QStringList()
        << QByteArray(R"({"als": {"readings": [{"at": 0, "value": 1}, {"at": 300, "value": 2},
                                                {"at": 600, "value": 3}]}})")
        << R"(\{"als": \{"readings": \[\{"at": (\d+), "timestamp": 0, "value": \d\}\]\}\})"
        << QVector<qint64> { 0, 300, 600 };
    QTest::newRow("a slow battery call with its delay")
        << "charge-recorder" << QStringList { "--interval=1" }
        << QByteArray(R"({"battery": {"voltage": [{"value": 3900, "delayMs": 40}]}})")
        << R"(\{"battery": \{"voltage": \[\{"value": 3900, "delayMs": (\d+)\}\]\}\})"
        << QVector<qint64> { 40 };
    QTest::newRow("changes from a worker thread, at their times after construction")
        << "idle-demo" << QStringList()
        << QByteArray(R"({"activity": {"thread": "worker", "changes": [{"at": 200, "value": 0}]}})")
        << R"(\{"activity": \{"thread": "worker", "changes": \[\{"at": (\d+), "value": 0\}\]\}\})"
        << QVector<qint64> { 200 };
}

void Recording::recordingHoldsWhatCame()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, scenario);
    QFETCH(QString, part);
    QFETCH(QVector<qint64>, least);

    QTemporaryDir dir;
    const QString recording = dir.filePath("recording.json");
    DemoProcess demo(program);
    demo.setScenario(scenario);
    demo.setEnvironment("KVSYSTEM_RECORD", recording);
    demo.start(arguments);
    const QRegularExpression pattern(part);
    QVector<qint64> times;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            times.clear();
            auto it = pattern.globalMatch(QString::fromUtf8(readFile(recording)));
            while (it.hasNext())
                times << it.next().captured(1).toLongLong();
            return times.size() >= least.size();
        }(),
        DemoProcess::deadlineMs);
    demo.interrupt();
    QCOMPARE(times.size(), least.size());
    // Late on a busy machine, never early, and not counted from elsewhere.
    for (int i = 0; i < times.size(); ++i)
        QVERIFY2(times[i] >= least[i] && times[i] < least[i] + 10000,
            qPrintable(QString::number(times[i])));
}

void Recording::refusedRecording_data()
{
    QTest::addColumn<QString>("file"); // in the test's directory, unless absolute
    // The scenario played (or, after "trace", the call trace), linked to as
    // file: "hard", "symbolic", or for the trace "same" for its own name.
    QTest::addColumn<QString>("scenarioLink");
    QTest::addColumn<bool>("busy"); // another program records into file
    QTest::addColumn<QByteArray>("reason");

    QTest::newRow("a directory that is not there")
        << "/nonexistent/recording.json" << QString() << false
        << QByteArray("No such file or directory");
    QTest::newRow("the scenario being played, under another name")
        << "run.json" << "hard" << false
        << QByteArray("the scenario being played cannot be recorded into");
    QTest::newRow("the scenario being played, through a symbolic link")
        << "run.json" << "symbolic" << false
        << QByteArray("the scenario being played cannot be recorded into");
    QTest::newRow("the call trace")
        << "trace" << "trace same" << false << QByteArray("the call trace cannot be recorded into");
    QTest::newRow("the call trace, under another name")
        << "run.json" << "trace hard" << false
        << QByteArray("the call trace cannot be recorded into");
    QTest::newRow("the call trace, through a symbolic link")
        << "run.json" << "trace symbolic" << false
        << QByteArray("the call trace cannot be recorded into");
    QTest::newRow("a file another program records into")
        << "run.json" << QString() << true << QByteArray("another program is recording into it");
}

void Recording::refusedRecording()
{
    QFETCH(QString, file);
    QFETCH(QString, scenarioLink);
    QFETCH(bool, busy);
    QFETCH(QByteArray, reason);

    QTemporaryDir dir;
    const QString path = file.startsWith('/') ? file : dir.filePath(file);
    DemoProcess first("lux-demo");
    if (busy) {
        first.setEnvironment("KVSYSTEM_RECORD", path);
        first.start();
        QVERIFY(first.waitForOutput("\r"));
    }
    DemoProcess demo("lux-demo");
    demo.setEnvironment("KVSYSTEM_RECORD", path);
    const QByteArray scenario
        = R"({"als": {"readings": [{"value": 1}, {"value": 2}, {"value": 3}]}})";
    const bool trace = scenarioLink.startsWith("trace ");
    if (!scenarioLink.isEmpty())
        demo.setScenario(scenario);
    const QString traceFile = dir.filePath("trace.log");
    if (trace) {
        QFile created(traceFile);
        QVERIFY(created.open(QIODevice::WriteOnly));
        demo.setEnvironment("KVSYSTEM_TRACE", scenarioLink == "trace same" ? path : traceFile);
    }
    const QString linked = trace ? traceFile : demo.scenarioPath();
    if (scenarioLink.endsWith("hard"))
        QVERIFY(::link(QFile::encodeName(linked), QFile::encodeName(path)) == 0);
    if (scenarioLink.endsWith("symbolic"))
        QVERIFY(QFile::link(linked, path));
    demo.inputFromNullDevice();
    demo.start();
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.error(), "kvsystem2: " + path.toUtf8() + ": " + reason + "\n");
    QCOMPARE(demo.output(), QByteArray());
    QCOMPARE(demo.exitCode(), 2);
    QCOMPARE(demo.trace(), QStringList());
    if (!scenarioLink.isEmpty())
        QCOMPARE(readFile(demo.scenarioPath()), scenario);
    if (busy) {
        // The first recording is untouched, and goes on.
        first.write("\n");
        QVERIFY(first.waitForFinished());
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(readFile(path).contains("\"readings\""));
    }
}

// A recording or a trace that cannot go on (a file-size limit, the file cut
// short by another program) stops with one line on standard error; the
// program goes on to its normal end, and what was written is whole.
void Recording::outlivesItsFiles_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<int>("limit"); // RLIMIT_FSIZE in bytes; 0: the file is emptied instead
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<QByteArray>("left"); // what a trace holds at the end

    QTest::newRow("a recording under a file-size limit") << "KVSYSTEM_RECORD" << 64 * 1024
        << QByteArray(": recording stopped: File too large") << QByteArray();
    QTest::newRow("a trace under a file-size limit, its third line cut")
        << "KVSYSTEM_TRACE" << 60 << QByteArray(": trace stopped: File too large")
        << QByteArray("KvALS::KvALS(client)\nKvALS::requestSession(2) = 2\n");
    QTest::newRow("a recording emptied from outside, as copytruncate does")
        << "KVSYSTEM_RECORD" << 0
        << QByteArray(": recording stopped: the file was cut short by another program")
        << QByteArray();
}

void Recording::outlivesItsFiles()
{
    QFETCH(QString, variable);
    QFETCH(int, limit);
    QFETCH(QByteArray, reason);
    QFETCH(QByteArray, left);

    QTemporaryDir dir;
    const QString file = dir.filePath("out");
    // Many readings at once, then one every 100 ms.
    const int burst = 3000;
    QByteArray readings;
    for (int i = 0; i < burst + 600; ++i)
        readings += QByteArray(i ? "," : "") + "{\"at\": " + QByteArray::number(i < burst ? 0 : (i - burst) * 100)
            + ", \"value\": " + QByteArray::number(i) + "}";
    DemoProcess demo("lux-demo");
    demo.setScenario("{\"als\": {\"readings\": [" + readings + "]}}");
    demo.setEnvironment(variable, file);
    rlimit before {};
    ::getrlimit(RLIMIT_FSIZE, &before);
    if (limit) {
        rlimit small = before;
        small.rlim_cur = rlim_t(limit);
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    demo.start();
    ::setrlimit(RLIMIT_FSIZE, &before);
    const auto shown = [&](int lines) {
        return demo.waitUntil([lines](const QByteArray &out, const QByteArray &) {
            return out.count('\r') >= lines; // a reading a line
        });
    };
    QVERIFY2(shown(burst + 1), demo.error().constData());
    if (!limit)
        QVERIFY(QFile::resize(file, 0));
    QVERIFY2(shown(burst + 3), demo.error().constData());
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(DemoProcess::lines(demo.error()),
        DemoProcess::lines("kvsystem2: " + file.toUtf8() + reason + "\n"));
    const QByteArray text = readFile(file);
    if (variable == "KVSYSTEM_TRACE") {
        QCOMPARE(text, left);
    } else if (limit) {
        QVERIFY(text.size() <= limit);
        QJsonParseError parse;
        QJsonDocument::fromJson(text, &parse);
        QCOMPARE(parse.errorString(), QJsonParseError().errorString());
    } else {
        QCOMPARE(text, QByteArray());
    }
}

QTEST_GUILESS_MAIN(Recording)
#include "tst_recording.moc"
