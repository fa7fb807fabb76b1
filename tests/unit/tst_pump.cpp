// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Timed delivery of readings and changes, on the main thread and on the
// library's own thread.

#include "pump.h"

#include <QThread>
#include <thread>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <limits>
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

// Events whose delivery runs a receiver's code, as a slot connected
// directly to a reading does.
class Calling : public Recorder
{
public:
    Calling(QVector<qint64> due, std::function<void()> receiver)
        : Recorder(std::move(due))
        , receiver(std::move(receiver))
    { }
    void fireNext() override
    {
        Recorder::fireNext();
        receiver();
    }

private:
    const std::function<void()> receiver;
};

// A delivery that does not return until released, as a read of a stalled driver.
class Stuck : public Timeline
{
public:
    qint64 nextDue() const override { return delivered ? -1 : 0; }
    void fireNext() override
    {
        std::unique_lock<std::mutex> lock(mutex);
        inside = true;
        changed.notify_all();
        changed.wait(lock, [this] { return released; });
        delivered = true;
    }
    void waitUntilInside()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return inside; });
    }
    void release()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false;
    bool released = false;
    std::atomic<bool> delivered { false };
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
    void receiverCallsBackFromInside_data();
    void receiverCallsBackFromInside();
    void dueFarAheadWaits_data();
    void dueFarAheadWaits();
    void stopDoesNotWaitForAStuckDelivery();
    void waitTimeNeverOverflows_data();
    void waitTimeNeverOverflows();
    void mailboxHoldsBoundedBacklog_data();
    void mailboxHoldsBoundedBacklog();
    void mailboxDeliversNothingAfterClose();
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

void PumpTest::receiverCallsBackFromInside_data()
{
    QTest::addColumn<Delivery>("where");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QVector<int>>("fired");
    QTest::addColumn<QVector<qint64>>("due");
    QTest::addColumn<int>("lateMs"); // how long the first delivery takes before its call
    QTest::addColumn<int>("nextAfterMs"); // the least time from the call to the next delivery

    const QVector<qint64> atOnce { 0, 0, 0 };
    for (const Delivery where : { Delivery::MainThread, Delivery::WorkerThread }) {
        const char *thread = where == Delivery::MainThread ? "main thread" : "library's thread";
        QTest::addRow("stop from inside a delivery on the %s", thread)
            << where << "stop" << range(1) << atOnce << 0 << 0;
        QTest::addRow("destroy from inside a delivery on the %s", thread)
            << where << "destroy" << range(1) << atOnce << 0 << 0;
        QTest::addRow("stop and start again from inside on the %s", thread)
            << where << "restart" << range(3) << atOnce << 0 << 0;
        QTest::addRow("a restart from inside on the %s counts from a new time zero", thread)
            << where << "restart" << range(2) << QVector<qint64> { 0, 100 } << 200 << 95;
    }
}

void PumpTest::receiverCallsBackFromInside()
{
    QFETCH(Delivery, where);
    QFETCH(QString, call);
    QFETCH(QVector<int>, fired);
    QFETCH(QVector<qint64>, due);
    QFETCH(int, lateMs);
    QFETCH(int, nextAfterMs);

    std::unique_ptr<Pump> pump;
    std::atomic<bool> done { false };
    bool once = false;
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> callMs { -1 };
    std::atomic<qint64> callEnded { -1 };
    std::atomic<qint64> nextFired { -1 };
    Calling timeline(due, [&] {
        if (once) {
            if (nextFired < 0)
                nextFired = clock.elapsed();
            return;
        }
        once = true;
        QThread::msleep(ulong(lateMs));
        const qint64 before = clock.elapsed();
        if (call == "stop") {
            pump->stop();
        } else if (call == "destroy") {
            pump.reset();
        } else {
            pump->stop();
            pump->start();
        }
        callEnded = clock.elapsed();
        callMs = callEnded - before;
        done = true;
    });
    pump = std::make_unique<Pump>(where, &timeline);
    pump->start();
    QTRY_VERIFY(done);
    QTRY_COMPARE(timeline.firedSoFar(), fired);
    // From inside a delivery nothing is waited for: not the delivery itself.
    QVERIFY2(callMs < Pump::stopWaitMs, qPrintable(QString::number(callMs)));
    if (nextAfterMs)
        QVERIFY2(nextFired - callEnded >= nextAfterMs,
            qPrintable(QString::number(nextFired - callEnded)));
    if (pump) {
        pump->stop();
        QCOMPARE(timeline.firedSoFar(), fired);
    }
}

void PumpTest::dueFarAheadWaits_data()
{
    QTest::addColumn<Delivery>("where");
    QTest::addColumn<qint64>("due");

    QTest::newRow("in 300 years, on the main thread") << Delivery::MainThread << qint64(1e13);
    QTest::newRow("in 300 years, on the library's thread") << Delivery::WorkerThread << qint64(1e13);
    QTest::newRow("at the last exact JSON number, on the library's thread")
        << Delivery::WorkerThread << qint64(9007199254740991);
}

void PumpTest::dueFarAheadWaits()
{
    QFETCH(Delivery, where);
    QFETCH(qint64, due);

    Recorder timeline({ 0, due });
    Pump pump(where, &timeline);
    pump.start();
    QTRY_COMPARE(timeline.firedSoFar(), range(1));
    // Nothing to wait for but time: the second must not come at once.
    QTest::qWait(200);
    QCOMPARE(timeline.firedSoFar(), range(1));
    pump.stop();
}

void PumpTest::stopDoesNotWaitForAStuckDelivery()
{
    // stop() gives up on a delivery stuck in a read; the timeline, kept
    // alive by the pump's thread, is released when the read returns.
    auto stuck = std::make_shared<Stuck>();
    const std::weak_ptr<Stuck> watch = stuck;
    {
        Pump pump(Delivery::WorkerThread, stuck.get(), stuck);
        pump.start();
        stuck->waitUntilInside();
        pump.stop();
        QVERIFY(!pump.running());
    }
    stuck.reset();
    std::shared_ptr<Stuck> still = watch.lock();
    QVERIFY(still);
    still->release();
    still.reset();
    QTRY_VERIFY(watch.expired());
}

void PumpTest::waitTimeNeverOverflows_data()
{
    QTest::addColumn<qint64>("due");
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<qint64>("wait");

    const qint64 day = 24 * 3600 * 1000;
    const qint64 max = std::numeric_limits<qint64>::max();
    QTest::newRow("due later") << qint64(150) << qint64(100) << qint64(50);
    QTest::newRow("due already") << qint64(100) << qint64(150) << qint64(0);
    QTest::newRow("due in 300 years: a day, then look again") << qint64(1e13) << qint64(0) << day;
    QTest::newRow("the largest time") << max << qint64(0) << day;
}

void PumpTest::waitTimeNeverOverflows()
{
    QFETCH(qint64, due);
    QFETCH(qint64, elapsed);
    QFETCH(qint64, wait);
    QCOMPARE(msUntil(due, elapsed), wait);
}

void PumpTest::mailboxHoldsBoundedBacklog_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QVector<int>>("received");

    QTest::newRow("a sensor reported on change keeps its latest reading") << 1 << QVector<int> { 999 };
    QTest::newRow("a motion sensor keeps its newest readings, in order")
        << 3 << QVector<int> { 997, 998, 999 };
}

void PumpTest::mailboxHoldsBoundedBacklog()
{
    QFETCH(int, capacity);
    QFETCH(QVector<int>, received);

    // A thousand readings posted while the receiving thread is busy
    // elsewhere; what waits for it stays bounded.
    QObject receiver;
    QVector<int> got;
    QVector<QThread *> threads;
    auto box = std::make_shared<Mailbox>(
        capacity,
        [&](const Sample &s) {
            got << s.values[0];
            threads << QThread::currentThread();
        },
        &receiver);
    std::thread reader([box] {
        for (int i = 0; i < 1000; ++i) {
            Sample s;
            s.values[0] = i;
            box->post(s);
        }
    });
    reader.join();
    QVERIFY(got.isEmpty());
    QTRY_COMPARE(got, received);
    for (QThread *t : threads)
        QCOMPARE(t, QThread::currentThread());
}

void PumpTest::mailboxDeliversNothingAfterClose()
{
    QObject receiver;
    QVector<int> got;
    std::shared_ptr<Mailbox> box;
    // The receiver closes the mailbox from inside its first reading.
    box = std::make_shared<Mailbox>(
        10,
        [&](const Sample &s) {
            got << s.values[0];
            box->close();
        },
        &receiver);
    for (int i = 0; i < 3; ++i) {
        Sample s;
        s.values[0] = i;
        box->post(s);
    }
    QTRY_COMPARE(got, QVector<int> { 0 });
    box->post(Sample());
    QCoreApplication::processEvents();
    QCOMPARE(got, QVector<int> { 0 });
}

QTEST_GUILESS_MAIN(PumpTest)
#include "tst_pump.moc"
