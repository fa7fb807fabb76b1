// Timed delivery of readings and changes, on the main thread and on the
// library's own thread.

#include "pump.h"

#include <QThread>
#include <QtTest>

#include <atomic>
#include <mutex>

using namespace Vorna::Backend;

Q_DECLARE_METATYPE(Vorna::Backend::Delivery)

namespace {

// Events at the given times; records which were fired and on which thread.
class Recorder : public Timeline
{
public:
    explicit Recorder(QVector<qint64> due)
        : due(std::move(due))
    { }
    qint64 nextDue() const override { return next < due.size() ? due[next] : -1; }
    void fireNext() override
    {
        const std::lock_guard<std::mutex> lock(mutex);
        fired << next++;
        threads << QThread::currentThread();
    }
    // Deep copies: an implicitly shared copy would let the pump's thread
    // append in place once the test's copy is gone, which is a race.
    QVector<int> firedSoFar()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return QVector<int>(fired.begin(), fired.end());
    }
    QVector<QThread *> threadsSoFar()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return QVector<QThread *>(threads.begin(), threads.end());
    }

private:
    const QVector<qint64> due;
    int next = 0;
    std::mutex mutex;
    QVector<int> fired;
    QVector<QThread *> threads;
};

QVector<int> range(int n)
{
    QVector<int> r;
    for (int i = 0; i < n; ++i)
        r << i;
    return r;
}

} // namespace

class PumpTest : public QObject
{
    Q_OBJECT
private slots:
    void deliversEverythingInOrder_data();
    void deliversEverythingInOrder();
    void nothingBeforeStartNorAfterStop_data();
    void nothingBeforeStartNorAfterStop();
    void restartGoesOnWhereItStopped_data();
    void restartGoesOnWhereItStopped();
    void longBurstLetsTheEventLoopIn();
};

void PumpTest::deliversEverythingInOrder_data()
{
    QTest::addColumn<Delivery>("where");
    QTest::newRow("on the main thread") << Delivery::MainThread;
    QTest::newRow("on the library's thread") << Delivery::WorkerThread;
}

void PumpTest::deliversEverythingInOrder()
{
    QFETCH(Delivery, where);
    Recorder timeline({ 0, 0, 5, 5, 5, 20, 21, 40 });
    Pump pump(where, &timeline);
    pump.start();
    QTRY_COMPARE(timeline.firedSoFar(), range(8));
    for (QThread *t : timeline.threadsSoFar())
        QCOMPARE(t == QThread::currentThread(), where == Delivery::MainThread);
}

void PumpTest::nothingBeforeStartNorAfterStop_data()
{
    deliversEverythingInOrder_data();
}

void PumpTest::nothingBeforeStartNorAfterStop()
{
    QFETCH(Delivery, where);
    Recorder timeline({ 0, 100000 });
    Pump pump(where, &timeline);
    QCoreApplication::processEvents();
    QVERIFY(timeline.firedSoFar().isEmpty());
    pump.start();
    QTRY_COMPARE(timeline.firedSoFar(), range(1));
    pump.stop();
    QVERIFY(!pump.running());
    QCoreApplication::processEvents();
    QCOMPARE(timeline.firedSoFar(), range(1));
}

void PumpTest::restartGoesOnWhereItStopped_data()
{
    deliversEverythingInOrder_data();
}

void PumpTest::restartGoesOnWhereItStopped()
{
    QFETCH(Delivery, where);
    Recorder timeline({ 0, 200 });
    Pump pump(where, &timeline);
    pump.start();
    QTRY_VERIFY(!timeline.firedSoFar().isEmpty());
    pump.stop();
    pump.start(); // the event still due goes out after the restart
    QTRY_COMPARE(timeline.firedSoFar(), range(2));
    pump.stop();
    pump.start(); // an ended timeline: nothing more, and no hang
    pump.stop();
    QCOMPARE(timeline.firedSoFar(), range(2));
}

void PumpTest::longBurstLetsTheEventLoopIn()
{
    // A burst of events due at once, each taking a little while to deliver,
    // must not keep other events of the loop waiting until it is over.
    class Slow : public Recorder
    {
    public:
        using Recorder::Recorder;
        void fireNext() override
        {
            QElapsedTimer t;
            t.start();
            while (t.nsecsElapsed() < 100000) { } // 0.1 ms of work
            Recorder::fireNext();
            if (firedSoFar().size() == 1) // another event of the loop, due now
                QTimer::singleShot(0, [this] { firedWhenTheTimerRan = firedSoFar().size(); });
        }
        int firedWhenTheTimerRan = -1;
    };
    Slow timeline(QVector<qint64>(1000, 0));
    Pump pump(Delivery::MainThread, &timeline);
    pump.start();
    QTRY_COMPARE_WITH_TIMEOUT(timeline.firedSoFar().size(), 1000, 30000);
    QVERIFY(timeline.firedWhenTheTimerRan > 1);
    QVERIFY(timeline.firedWhenTheTimerRan < 1000);
}

QTEST_GUILESS_MAIN(PumpTest)
#include "tst_pump.moc"
