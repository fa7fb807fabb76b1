// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "pump.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace Vorna::Backend {

qint64 msUntil(qint64 due, qint64 elapsed)
{
    constexpr qint64 dayMs = 24 * 3600 * 1000;
    return std::clamp<qint64>(due - elapsed, 0, dayMs);
}

class Pump::Engine
{
public:
    Engine(Timeline *timeline, std::shared_ptr<void> keepAlive)
        : timeline(timeline)
        , keepAlive(std::move(keepAlive))
    { }
    virtual ~Engine() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    // Set and read on any thread: a receiver may stop the pump from its own.
    std::atomic<bool> running { false };

    Timeline *const timeline;
    const std::shared_ptr<void> keepAlive;
};

namespace {

// Events on the thread that made the pump, through its event loop. Events
// that fall due together go out in slices of a few milliseconds, so that a
// long burst still lets the loop see other events (a quit request, say) in
// between, while one turn of the loop is shared by many readings.
class MainThreadEngine : public Pump::Engine
{
public:
    MainThreadEngine(Timeline *timeline, std::shared_ptr<void> keepAlive)
        : Engine(timeline, std::move(keepAlive))
    {
        // A schedule needs the precise timer: the default coarse one may be
        // 5 % late, and from 20 s up rounds to whole seconds.
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this] { deliverDue(); });
    }

    ~MainThreadEngine() override { *alive = false; }

    void start() override
    {
        clock.start();
        running = true;
        arm();
    }

    void stop() override
    {
        timer.stop();
        running = false;
    }

private:
    static constexpr qint64 sliceMs = 5;

    void deliverDue()
    {
        // A receiver may destroy the pump from inside a delivery: then
        // nothing of it is touched any more.
        const std::shared_ptr<bool> token = alive;
        const std::shared_ptr<void> keep = keepAlive;
        QElapsedTimer slice;
        slice.start();
        qint64 now = clock.elapsed();
        for (int n = 1; running; ++n) {
            const qint64 due = timeline->nextDue();
            if (due < 0)
                break;
            // Due times never go back: the clock is read again only for a
            // reading that was not due at the last look.
            if (due > now && due > (now = clock.elapsed()))
                break;
            timeline->fireNext(); // may stop or destroy the pump
            if (!*token)
                return;
            if (n % 64 == 0 && slice.elapsed() >= sliceMs)
                break;
        }
        if (running)
            arm();
    }

    void arm()
    {
        const qint64 due = timeline->nextDue();
        if (due < 0)
            return;
        timer.start(int(msUntil(due, clock.elapsed())));
    }

    const std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    QTimer timer;
    QElapsedTimer clock;
};

// Events on a thread of the pump's own: the sink runs there, and a Qt
// receiver in another thread gets the signal through its own event loop.
class WorkerThreadEngine : public Pump::Engine
{
public:
    using Engine::Engine;

    ~WorkerThreadEngine() override
    {
        stop();
        // Destroyed from inside a delivery: the thread ends once it is over.
        if (worker.joinable())
            worker.detach();
    }

    void start() override
    {
        if (worker.joinable()) {
            if (std::this_thread::get_id() == worker.get_id()) {
                // Started again from inside a delivery: the thread goes on,
                // with a new time zero.
                control->restart = true;
                control->stopping = false;
                running = true;
                return;
            }
            stop(); // a thread that was stopped from inside its delivery
        }
        control = std::make_shared<Control>();
        running = true;
        // Held until the thread is stored: a receiver on the new thread
        // that stops or destroys the pump must find it there.
        const std::lock_guard<std::mutex> lock(control->mutex);
        worker = std::thread(
            [c = control, t = timeline, keep = keepAlive] { run(*c, t); });
    }

    void stop() override
    {
        running = false;
        if (!worker.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(control->mutex);
            control->stopping = true;
        }
        control->wake.notify_all();
        // From inside a delivery: the thread ends when the delivery is over.
        if (std::this_thread::get_id() == worker.get_id())
            return;
        std::unique_lock<std::mutex> lock(control->mutex);
        const bool ended = control->done.wait_for(lock,
            std::chrono::milliseconds(Pump::stopWaitMs), [this] { return control->finished; });
        lock.unlock();
        if (ended)
            worker.join();
        else
            worker.detach(); // stuck in a delivery: it ends by itself, touching nothing of ours
    }

private:
    // What the thread shares with the pump; the thread keeps its own
    // reference, so that a thread left behind never touches a pump that is gone.
    struct Control
    {
        std::mutex mutex;
        std::condition_variable wake; // stop requests
        std::condition_variable done; // the thread has ended
        // Set under the mutex, so that a waiting thread cannot miss it; read
        // without it between readings.
        std::atomic<bool> stopping { false };
        std::atomic<bool> restart { false }; // set by a delivery that started the pump again
        bool finished = false;
    };

    static void run(Control &c, Timeline *timeline)
    {
        {
            const std::lock_guard<std::mutex> started(c.mutex); // start() is done
        }
        using Clock = std::chrono::steady_clock;
        Clock::time_point zero = Clock::now();
        const auto elapsed = [&zero] {
            return qint64(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - zero)
                    .count());
        };
        qint64 now = 0;
        for (;;) {
            // Checked before the timeline is touched: a receiver that
            // stopped or destroyed the pump may have taken the timeline with it.
            if (c.stopping.load(std::memory_order_relaxed))
                break;
            if (c.restart.exchange(false, std::memory_order_relaxed)) {
                zero = Clock::now();
                now = 0;
            }
            const qint64 due = timeline->nextDue();
            if (due < 0)
                break;
            // Readings that are due already go out without a lock, a timed
            // wait or even a look at the clock (due times never go back): a
            // burst then costs no system call of ours per reading.
            if (due > now)
                now = elapsed();
            if (due > now) {
                std::unique_lock<std::mutex> lock(c.mutex);
                if (c.wake.wait_for(lock, std::chrono::milliseconds(msUntil(due, now)),
                        [&c] { return c.stopping.load(); }))
                    break;
                lock.unlock();
                now = elapsed();
                continue; // a long wait may end early: look again
            }
            // A receiver running directly on this thread may call back into
            // the library: nothing is held while the reading goes out.
            timeline->fireNext();
        }
        {
            const std::lock_guard<std::mutex> lock(c.mutex);
            c.finished = true;
        }
        c.done.notify_all();
    }

    std::shared_ptr<Control> control;
    std::thread worker;
};

} // namespace

Pump::Pump(Delivery where, Timeline *timeline, std::shared_ptr<void> keepAlive)
    : engine(where == Delivery::WorkerThread
            ? std::unique_ptr<Engine>(new WorkerThreadEngine(timeline, std::move(keepAlive)))
            : std::unique_ptr<Engine>(new MainThreadEngine(timeline, std::move(keepAlive))))
{ }

Pump::~Pump() = default;

void Pump::start()
{
    if (engine->running)
        return;
    try {
        engine->start();
    } catch (const std::system_error &e) {
        // No thread to be had (a thread or process limit): the events go
        // out through this thread's event loop instead, as a scenario's
        // main-thread events do. Late or on another thread, they still
        // come, which a program needs more than the thread they come on.
        warning(QByteArray("cannot start a thread (") + e.code().message().c_str()
            + "): events are delivered on the main thread");
        engine.reset(new MainThreadEngine(engine->timeline, engine->keepAlive));
        engine->start();
    }
}

void Pump::stop()
{
    engine->stop();
}

bool Pump::running() const
{
    return engine->running;
}

Mailbox::Mailbox(int capacity, SampleSink sink, QObject *receiver)
    : capacity(std::max(1, capacity))
    , sink(std::move(sink))
    , receiver(receiver)
{ }

void Mailbox::post(const Sample &sample)
{
    const std::lock_guard<std::mutex> lock(mutex);
    if (closed)
        return;
    if (int(waiting.size()) >= capacity)
        waiting.pop_front();
    waiting.push_back(sample);
    if (scheduled)
        return;
    scheduled = true;
    // Queued to the receiver's thread; dropped by Qt if the receiver goes first.
    QMetaObject::invokeMethod(
        receiver,
        [box = std::weak_ptr<Mailbox>(shared_from_this())] {
            if (const std::shared_ptr<Mailbox> self = box.lock())
                self->drain();
        },
        Qt::QueuedConnection);
}

void Mailbox::close()
{
    const std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    waiting.clear();
}

void Mailbox::drain()
{
    std::deque<Sample> taken;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        taken.swap(waiting);
        scheduled = false;
    }
    // The sink may stop or destroy the sensor, closing the mailbox: this
    // call's own reference keeps the mailbox (and the sink) alive till the end.
    for (const Sample &s : taken) {
        if (closed)
            return;
        sink(s);
    }
}

} // namespace Vorna::Backend
