#ifndef KVSYSTEM_SRC_POLLER_H
#define KVSYSTEM_SRC_POLLER_H

// Runs a poll of the hardware at a fixed period, on the thread that made the
// poller (through its event loop) or on a reader thread of its own. A poll
// that overruns its period makes the poller skip the polls it missed
// instead of running them back to back.

#include "pump.h"

#include <QElapsedTimer>

#include <functional>

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
    // Returns once no poll runs and none will until the next start().
    void stop();
    bool running() const { return pump.running(); }

private:
    class Ticks : public Timeline
    {
    public:
        Ticks(int periodMs, std::function<void()> poll)
            : period(periodMs)
            , poll(std::move(poll))
        { }
        void restart();
        qint64 nextDue() const override { return next * period; }
        void fireNext() override;

    private:
        const qint64 period;
        const std::function<void()> poll;
        QElapsedTimer clock;
        qint64 next = 0;
    };

    Ticks ticks;
    Pump pump; // declared last: stopped before the ticks go
};

} // namespace Vorna::Backend

#endif
