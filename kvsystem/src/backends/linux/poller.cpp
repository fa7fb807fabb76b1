#include "poller.h"

#include <algorithm>

namespace Vorna::Backend {

void Poller::Ticks::restart()
{
    clock.start();
    next = 0;
}

void Poller::Ticks::fireNext()
{
    poll();
    next = std::max(next + 1, clock.elapsed() / period + 1);
}

Poller::Poller(Delivery where, int periodMs, std::function<void()> poll)
    : ticks(periodMs, std::move(poll))
    , pump(where, &ticks)
{ }

Poller::~Poller()
{
    pump.stop();
}

void Poller::start()
{
    if (pump.running())
        return;
    ticks.restart();
    pump.start();
}

void Poller::stop()
{
    pump.stop();
}

} // namespace Vorna::Backend
