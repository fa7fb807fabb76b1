#ifndef KVSYSTEM_SRC_PUMP_H
#define KVSYSTEM_SRC_PUMP_H

// Delivers a timeline of events at their times, on the thread that made the
// pump (through its event loop) or on a thread of the pump's own, as a
// device driver's reader thread would.

#include <QtGlobal>

#include <memory>

namespace Vorna::Backend {

// Where a backend's readings and changes go out: on the thread that made
// their source, through its event loop, or on a thread of the source's own.
enum class Delivery { MainThread, WorkerThread };

class Timeline
{
public:
    virtual ~Timeline() = default;
    // When the next event is due, in ms from the pump's start; -1 when the
    // timeline has ended.
    virtual qint64 nextDue() const = 0;
    // Delivers the next event and moves past it.
    virtual void fireNext() = 0;
};

class Pump
{
public:
    // The pump does not own the timeline; it must outlive the pump.
    Pump(Delivery where, Timeline *timeline);
    ~Pump();
    Pump(const Pump &) = delete;
    Pump &operator=(const Pump &) = delete;

    // Starts the clock at zero. Starting a running pump does nothing.
    void start();
    // Returns once no event is being delivered and none will be until the
    // next start(), which goes on where this stopped with a new time zero.
    void stop();
    bool running() const;

    class Engine;

private:
    std::unique_ptr<Engine> engine;
};

} // namespace Vorna::Backend

#endif
