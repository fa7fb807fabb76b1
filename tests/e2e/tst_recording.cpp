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

class Recording : public QObject
{
    Q_OBJECT
private slots:
    void replayWritesWhatTheRunWrote_data();
    void replayWritesWhatTheRunWrote();
    void unwritableRecording();
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

    QTest::newRow("lux-demo on the virtual handset, ended by Enter")
        << "lux-demo" << QStringList() << false << int(Enter) << 3 << QByteArray();
    QTest::newRow("lux-demo killed in the middle of its readings")
        << "lux-demo" << QStringList() << false << int(Interrupt) << 3 << QByteArray();
    QTest::newRow("tilt-demo asks for the rotation and the Z axis before it starts")
        << "tilt-demo" << QStringList() << false << int(Enter) << 8 << QByteArray();
    QTest::newRow("heading-demo reports session and start as debug messages")
        << "heading-demo" << QStringList() << false << int(Enter) << 5
        << QByteArray("Application shutdown. \nCompass Stopped. \n");
    QTest::newRow("flux-demo reads the field before it starts")
        << "flux-demo" << QStringList() << false << int(Enter) << 12 << QByteArray();
    QTest::newRow("screen-demo killed after its numbered sequence")
        << "screen-demo" << QStringList() << false << int(Interrupt) << 11 << QByteArray();
    QTest::newRow("powerstate-demo killed after its requests")
        << "powerstate-demo" << QStringList() << false << int(Interrupt) << 4 << QByteArray();
    QTest::newRow("charge-recorder killed after two rows")
        << "charge-recorder" << QStringList { "--interval=1" } << false << int(Interrupt) << 3 << QByteArray();
    QTest::newRow("motion-demo on a fake phone, readings from the library's worker thread")
        << "motion-demo" << QStringList() << true << int(Enter) << 3 << QByteArray();
    QTest::newRow("charge-recorder on a fake phone")
        << "charge-recorder" << QStringList { "--interval=1", "--numerical" } << true
        << int(Interrupt) << 3 << QByteArray();
    QTest::newRow("idle-demo on a fake phone, killed")
        << "idle-demo" << QStringList() << true << int(Interrupt) << 2 << QByteArray();
}

void Recording::replayWritesWhatTheRunWrote()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, linux);
    QFETCH(int, ending);
    QFETCH(int, lines);
    QFETCH(QByteArray, farewell);

    QTemporaryDir dir;
    const QString recording = dir.filePath("recording.json");
    FakeSysfs tree(FakeSysfs::Phone);

    DemoProcess recorded(program);
    recorded.setEnvironment("KVSYSTEM_RECORD", recording);
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

void Recording::unwritableRecording()
{
    DemoProcess demo("lux-demo");
    demo.setEnvironment("KVSYSTEM_RECORD", "/nonexistent/recording.json");
    demo.inputFromNullDevice();
    demo.start();
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.error(), QByteArray("kvsystem2: /nonexistent/recording.json: No such file or directory\n"));
    QCOMPARE(demo.output(), QByteArray());
    QCOMPARE(demo.exitCode(), 2);
    QCOMPARE(demo.trace(), QStringList());
}

QTEST_GUILESS_MAIN(Recording)
#include "tst_recording.moc"
