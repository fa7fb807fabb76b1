// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The program objects of heading-demo and motion-demo and the console frame,
// linked into the test: what no run of the programs can reach from outside
// (a slot that nothing connects, a second release, the meta-object indices
// of the slots, the exact text of a message, the thread a reading comes on,
// a quit request made before the event loop runs).

#include "accelerometer/widget.h"
#include "compass/widget.h"

#include <kvals.h>
#include <kvproximity.h>
#include <mythread.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace {

// The messages written while it lives, as a message handler gets them:
// "debug [category] text", the text exactly as written.
class Messages
{
public:
    Messages()
        : previous(qInstallMessageHandler(&Messages::handle))
    {
        current = this;
    }
    ~Messages()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    QStringList taken() { return std::exchange(texts, {}); }
    // Where each message was written, where the build keeps it.
    QStringList files;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        current->texts << QStringLiteral("%1 [%2] %3")
                              .arg(QLatin1String(type == QtWarningMsg ? "warning" : "debug"),
                                  QLatin1String(context.category), text);
        if (context.file)
            current->files << QString::fromUtf8(context.file);
    }

    static inline Messages *current = nullptr;
    const QtMessageHandler previous;
    QStringList texts;
};

} // namespace

class SessionWidgets : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void slotsInDeclaredOrder_data();
    void slotsInDeclaredOrder();
    void dropCalibrationWarnsAndLeavesTheCompassAlone();
    void cleanUpReleasesTheAccelerometerOnce();
    void readingsOnTheScenariosThread();
    void quitBeforeTheEventLoopRunsIsKept();

private:
    // The library calls made since the last call of this function.
    QStringList newCalls();

    QTemporaryDir dir;
    int callsSeen = 0;
};

void SessionWidgets::initTestCase()
{
    QVERIFY(dir.isValid());
    QFile scenario(dir.filePath("scenario.json"));
    QVERIFY(scenario.open(QIODevice::WriteOnly));
    // Light from the library's worker thread, proximity from the main thread.
    scenario.write(R"({"als": {"thread": "worker", "readings": [{"at": 0, "value": 1}]},
                       "proximity": {"readings": [{"at": 0, "value": 1}]}})");
    scenario.close();
    // Read when the first library object is constructed.
    qputenv("KVSYSTEM_SCENARIO", QFile::encodeName(scenario.fileName()));
    qputenv("KVSYSTEM_TRACE", QFile::encodeName(dir.filePath("trace")));
}

QStringList SessionWidgets::newCalls()
{
    QFile trace(dir.filePath("trace"));
    if (!trace.open(QIODevice::ReadOnly))
        return {};
    QStringList calls = QString::fromUtf8(trace.readAll()).split('\n', Qt::SkipEmptyParts);
    calls = calls.mid(callsSeen);
    callsSeen += calls.size();
    return calls;
}

void SessionWidgets::slotsInDeclaredOrder_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QStringList>("methods");
    QTest::newRow("AppWidget") << "AppWidget"
                               << QStringList { "setValues(Vorna::KvCompassReading)",
                                      "dropCalibration()", "stop()" };
    QTest::newRow("AccelerometerWidget")
        << "AccelerometerWidget"
        << QStringList { "dataAvailable(Vorna::KvAccelerometerReading)", "cleanUp()" };
}

void SessionWidgets::slotsInDeclaredOrder()
{
    QFETCH(QString, widget);
    QFETCH(QStringList, methods);

    const QMetaObject *metaObject = widget == "AppWidget" ? &AppWidget::staticMetaObject
                                                          : &AccelerometerWidget::staticMetaObject;
    QCOMPARE(QString::fromLatin1(metaObject->className()), widget);
    QCOMPARE(metaObject->superClass(), &QObject::staticMetaObject);
    QStringList found;
    for (int i = metaObject->methodOffset(); i < metaObject->methodCount(); ++i) {
        QCOMPARE(metaObject->method(i).methodType(), QMetaMethod::Slot);
        found << QString::fromLatin1(metaObject->method(i).methodSignature());
    }
    QCOMPARE(found, methods);
}

void SessionWidgets::dropCalibrationWarnsAndLeavesTheCompassAlone()
{
    Messages messages;
    auto widget = std::make_unique<AppWidget>();
    newCalls();

    // A warning, not a debug message, with the blank after the last item.
    QVERIFY(QMetaObject::invokeMethod(widget.get(), "dropCalibration"));
    QCOMPARE(newCalls(), QStringList());

    widget.reset();
    QCOMPARE(newCalls(), QStringList({ "KvCompass::stop()", "KvCompass::~KvCompass()" }));
    QCOMPARE(messages.taken(),
        QStringList({ "debug [default] Got control session. ", "debug [default] Compass Started. ",
            "warning [default] not implemented yet. ", "debug [default] Compass Stopped. " }));
#ifdef QT_MESSAGELOGCONTEXT
    // Builds that keep where a qDebug() message was written keep it here too.
    QCOMPARE(messages.files.size(), 4);
    for (const QString &file : messages.files)
        QVERIFY2(file.endsWith("compass/widget.cpp"), qPrintable(file));
#endif
}

void SessionWidgets::cleanUpReleasesTheAccelerometerOnce()
{
    Messages messages;
    auto widget = std::make_unique<AccelerometerWidget>();
    QCOMPARE(messages.taken(), QStringList { "debug [default] Got session: 2 " });
    newCalls();

    QVERIFY(QMetaObject::invokeMethod(widget.get(), "cleanUp"));
    QCOMPARE(newCalls(),
        QStringList({ "KvAccelerometer::stop()", "KvAccelerometer::closeSession()",
            "KvAccelerometer::~KvAccelerometer()" }));
    // A second cleanUp() and the destructor find nothing left to release.
    QVERIFY(QMetaObject::invokeMethod(widget.get(), "cleanUp"));
    widget.reset();
    QCOMPARE(newCalls(), QStringList());
}

void SessionWidgets::readingsOnTheScenariosThread()
{
    // A directly connected receiver runs on the thread that emits.
    std::atomic<QThread *> lightThread { nullptr }, proximityThread { nullptr };
    Vorna::KvALS light(nullptr);
    Vorna::KvProximity proximity(nullptr);
    QObject::connect(
        &light, &Vorna::KvALS::ALSChanged, [&] { lightThread = QThread::currentThread(); });
    QObject::connect(&proximity, &Vorna::KvProximity::ProximityChanged,
        [&] { proximityThread = QThread::currentThread(); });
    for (Vorna::KvSensor *sensor :
        { static_cast<Vorna::KvSensor *>(&light), static_cast<Vorna::KvSensor *>(&proximity) }) {
        sensor->requestSession(Vorna::KvSensor::ControlSession);
        QVERIFY(sensor->start());
    }
    QTRY_VERIFY(lightThread && proximityThread);
    light.stop();
    proximity.stop();
    QVERIFY(lightThread != QThread::currentThread());
    QCOMPARE(proximityThread.load(), QThread::currentThread());
    newCalls();
}

void SessionWidgets::quitBeforeTheEventLoopRunsIsKept()
{
    // Standard input at its end at start-up: the console thread has asked
    // the loop to end and finished before exec() runs; exec() still returns 0.
    const int savedInput = dup(STDIN_FILENO);
    const int nothing = open("/dev/null", O_RDONLY);
    QVERIFY(savedInput >= 0 && nothing >= 0);
    dup2(nothing, STDIN_FILENO);
    close(nothing);
    std::ostringstream said;
    std::streambuf *const savedOutput = std::cout.rdbuf(said.rdbuf());

    myThread console;
    console.start(QThread::InheritPriority);
    const bool finished = console.wait(30000);
    // Ends a loop whose quit request was lost, so that the test fails instead of hanging.
    QTimer lost;
    lost.setSingleShot(true);
    QObject::connect(&lost, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    lost.start(20000);
    const int status = finished ? QCoreApplication::exec() : -1;

    std::cout.rdbuf(savedOutput);
    dup2(savedInput, STDIN_FILENO);
    close(savedInput);
    clearerr(stdin);
    std::cin.clear();
    QVERIFY(finished);
    QCOMPARE(status, 0);
    QCOMPARE(said.str(), std::string("exiting.."));
}

QTEST_GUILESS_MAIN(SessionWidgets)
#include "tst_sessionwidgets.moc"
