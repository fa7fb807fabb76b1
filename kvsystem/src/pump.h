// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_PUMP_H
#define KVSYSTEM_SRC_PUMP_H

// Delivers a timeline of events at their times, on the thread that made the
// pump (through its event loop) or on a thread of the pump's own, as a
// device driver's reader thread would.

#include "backend.h"

#include <QtGlobal>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

class QObject;

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
    // Delivers the next event and moves past it. The receiver may stop,
    // or destroy, the pump (and what owns the timeline) from inside: once
    // an event has gone out, the pump touches the timeline again only when
    // it is still running.
    virtual void fireNext() = 0;
};

// How long until an event due at due ms, with elapsed ms gone since the
// start: never negative, and at most a day, after which the pump looks
// again. Plain 64-bit arithmetic: due times up to 2^53 ms cannot overflow.
qint64 msUntil(qint64 due, qint64 elapsed);

class Pump
{
public:
    // The pump does not own the timeline. It must outlive the pump, unless
    // keepAlive owns it: a pump's thread that stop() could not wait for
    // (an event stuck in a read that never returns) keeps it alive then.
    Pump(Delivery where, Timeline *timeline, std::shared_ptr<void> keepAlive = {});
    ~Pump();
    Pump(const Pump &) = delete;
    Pump &operator=(const Pump &) = delete;

    // Starts the clock at zero. Starting a running pump does nothing.
    void start();
    // Once it returns, no event goes out until the next start(), which goes
    // on where this stopped with a new time zero. From inside a delivery
    // (on any thread) it returns at once and the delivery finishes. From
    // elsewhere it waits for a delivery under way, but at most
    // stopWaitMs: a delivery stuck longer (a read of a stalled driver) is
    // left to finish on its own, and whatever it delivers then is its own
    // business (keepAlive keeps the timeline alive for it).
    void stop();
    bool running() const;

    static constexpr int stopWaitMs = 250;

    class Engine;

private:
    std::unique_ptr<Engine> engine;
};

// Hands readings taken on a reader thread to the thread of a receiver
// object, through that thread's event loop, holding at most capacity
// readings that the receiver has not taken yet: a receiver that does not
// keep up (a program blocked writing to a paused terminal) loses the
// oldest ones instead of letting them pile up without end. With capacity
// 1 only the latest reading waits.
class Mailbox : public std::enable_shared_from_this<Mailbox>
{
public:
    // The receiver must outlive the mailbox or its close().
    Mailbox(int capacity, SampleSink sink, QObject *receiver);
    // Any thread. Readings posted after close() are dropped.
    void post(const Sample &sample);
    // On the receiver's thread: no reading reaches the sink after it
    // returns, also when called from inside the sink.
    void close();

private:
    void drain();

    const int capacity;
    const SampleSink sink;
    QObject *const receiver;
    std::mutex mutex;
    std::deque<Sample> waiting;
    bool scheduled = false; // a drain is on its way to the receiver's thread
    std::atomic<bool> closed { false };
};

} // namespace Vorna::Backend

#endif
