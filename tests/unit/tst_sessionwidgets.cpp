// The program objects of heading-demo and motion-demo, linked into the test:
// what no run of the programs can reach from outside (a slot that nothing
// connects, a second release, the meta-object indices of the slots).

#include "accelerometer/widget.h"
#include "compass/widget.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class SessionWidgets : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void slotsInDeclaredOrder_data();
    void slotsInDeclaredOrder();
    void dropCalibrationWarnsAndLeavesTheCompassAlone();
    void cleanUpReleasesTheAccelerometerOnce();

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
    scenario.write("{}");
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
    QTest::ignoreMessage(QtDebugMsg, "Got control session. ");
    QTest::ignoreMessage(QtDebugMsg, "Compass Started. ");
    auto widget = std::make_unique<AppWidget>();
    newCalls();

    // A warning, not a debug message, with the blank after the last item.
    QTest::ignoreMessage(QtWarningMsg, "not implemented yet. ");
    QVERIFY(QMetaObject::invokeMethod(widget.get(), "dropCalibration"));
    QCOMPARE(newCalls(), QStringList());

    QTest::ignoreMessage(QtDebugMsg, "Compass Stopped. ");
    widget.reset();
    QCOMPARE(newCalls(), QStringList({ "KvCompass::stop()", "KvCompass::~KvCompass()" }));
}

void SessionWidgets::cleanUpReleasesTheAccelerometerOnce()
{
    QTest::ignoreMessage(QtDebugMsg, "Got session: 2 ");
    auto widget = std::make_unique<AccelerometerWidget>();
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

QTEST_GUILESS_MAIN(SessionWidgets)
#include "tst_sessionwidgets.moc"
