// The program objects of heading-demo and motion-demo, linked into the test:
// what no run of the programs can reach from outside (a slot that nothing
// connects, a second release, the meta-object indices of the slots, the
// exact text of a message).

#include "accelerometer/widget.h"
#include "compass/widget.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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

QTEST_GUILESS_MAIN(SessionWidgets)
#include "tst_sessionwidgets.moc"
