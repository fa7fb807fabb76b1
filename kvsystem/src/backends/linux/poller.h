// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_POLLER_H
#define KVSYSTEM_SRC_POLLER_H

// Runs a poll of the hardware at a fixed period, on the thread that made the
// poller (through its event loop) or on a reader thread of its own. A poll
// that overruns its period makes the poller skip the polls it missed
// instead of running them back to back. A poll may stop or destroy the
// poller from inside. A poll on the reader thread that is stuck in a read
// does not hold up stop() for more than Pump::stopWaitMs: it finishes on its
// own later, so the poll function must own (or share) what it touches.

#include "pump.h"

#include <QElapsedTimer>

#include <functional>
#include <memory>

namespace Vorna::Backend {

class Poller
{
public:
    Poller(Delivery where, int periodMs, std::function<void()> poll);
    ~Poller();
    Poller(const Poller &) = delete;
    Poller &operator=(const Poller &) = delete;

    // Polls at once, then every period. Starting a running poller does nothing.
    void start();
    // Returns once no poll runs (but one stuck in a read, see above) and
    // none will until the next start().
    void stop();
    bool running() const { return pump && pump->running(); }

private:
    class Ticks : public Timeline
    {
    public:
        Ticks(int periodMs, std::function<void()> poll)
            : period(periodMs)
            , poll(std::move(poll))
        {
            clock.start();
        }
        qint64 nextDue() const override { return next * period; }
        void fireNext() override;

    private:
        const qint64 period;
        const std::function<void()> poll;
        QElapsedTimer clock;
        qint64 next = 0;
    };

    const Delivery where;
    const int periodMs;
    const std::function<void()> poll;
    // A fresh pair every start: a stuck poll of an earlier run keeps its own.
    std::unique_ptr<Pump> pump;
};

} // namespace Vorna::Backend

#endif
