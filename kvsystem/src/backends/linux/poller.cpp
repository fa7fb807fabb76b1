// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "poller.h"

#include <algorithm>

namespace Vorna::Backend {

void Poller::Ticks::fireNext()
{
    poll(); // may destroy the poller, never these ticks (the pump keeps them alive)
    next = std::max(next + 1, clock.elapsed() / period + 1);
}

Poller::Poller(Delivery where, int periodMs, std::function<void()> poll)
    : where(where)
    , periodMs(periodMs)
    , poll(std::move(poll))
{ }

Poller::~Poller()
{
    if (pump)
        pump->stop();
}

void Poller::start()
{
    if (running())
        return;
    auto ticks = std::make_shared<Ticks>(periodMs, poll);
    // The previous pump, stopped, goes now; from inside its own poll it
    // lets that poll finish.
    pump = std::make_unique<Pump>(where, ticks.get(), ticks);
    pump->start();
}

void Poller::stop()
{
    if (pump)
        pump->stop();
}

} // namespace Vorna::Backend
