#include "pump.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace Vorna::Backend {

class Pump::Engine
{
public:
    explicit Engine(Timeline *timeline)
        : timeline(timeline)
    { }
    virtual ~Engine() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    bool running = false;

protected:
    Timeline *const timeline;
};

namespace {

// Events on the thread that made the pump, through its event loop. Events
// that fall due together go out in slices of a few milliseconds, so that a
// long burst still lets the loop see other events (a quit request, say) in
// between, while one turn of the loop is shared by many readings.
class MainThreadEngine : public Pump::Engine
{
public:
    explicit MainThreadEngine(Timeline *timeline)
        : Engine(timeline)
    {
        // A schedule needs the precise timer: the default coarse one may be
        // 5 % late, and from 20 s up rounds to whole seconds.
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this] { deliverDue(); });
    }

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
            timeline->fireNext(); // may stop the pump
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
        const qint64 wait
            = std::clamp<qint64>(due - clock.elapsed(), 0, std::numeric_limits<int>::max());
        timer.start(int(wait));
    }

    QTimer timer;
    QElapsedTimer clock;
};

// Events on a thread of the pump's own: the sink runs there, and a Qt
// receiver in another thread gets the signal through its own event loop.
class WorkerThreadEngine : public Pump::Engine
{
public:
    using Engine::Engine;
    ~WorkerThreadEngine() override { stop(); }

    void start() override
    {
        if (worker.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = false;
        }
        running = true;
        worker = std::thread([this] { run(); });
    }

    void stop() override
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        if (worker.joinable())
            worker.join();
        running = false;
    }

private:
    void run()
    {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point zero = Clock::now();
        Clock::time_point now = zero;
        for (;;) {
            const qint64 due = timeline->nextDue();
            if (due < 0)
                return;
            // Readings that are due already go out without a lock, a timed
            // wait or even a look at the clock (due times never go back): a
            // burst then costs no system call of ours per reading.
            const Clock::time_point deadline = zero + std::chrono::milliseconds(due);
            if (deadline > now)
                now = Clock::now();
            if (deadline > now) {
                std::unique_lock<std::mutex> lock(mutex);
                if (wake.wait_until(lock, deadline, [this] { return stopping.load(); }))
                    return;
                now = Clock::now();
            } else if (stopping.load(std::memory_order_relaxed)) {
                return;
            }
            // A receiver running directly on this thread may call back into
            // the library: nothing is held while the reading goes out.
            timeline->fireNext();
        }
    }

    std::thread worker;
    std::mutex mutex;
    std::condition_variable wake;
    // Set under the mutex, so that a waiting thread cannot miss it; read
    // without it between readings.
    std::atomic<bool> stopping { false };
};

} // namespace

Pump::Pump(Delivery where, Timeline *timeline)
    : engine(where == Delivery::WorkerThread
            ? std::unique_ptr<Engine>(new WorkerThreadEngine(timeline))
            : std::unique_ptr<Engine>(new MainThreadEngine(timeline)))
{ }

Pump::~Pump() = default;

void Pump::start()
{
    if (!engine->running)
        engine->start();
}

void Pump::stop()
{
    engine->stop();
}

bool Pump::running() const
{
    return engine->running;
}

} // namespace Vorna::Backend
