// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_CHARGE_RECORDER_SCHEDULE_H
#define DEMO_CHARGE_RECORDER_SCHEDULE_H

// Wall-clock arithmetic of the recorder's schedule: rows are due on the
// grid of the start time plus whole intervals. Pure functions of times as
// timeval holds them (the microseconds never negative); seconds in 64
// bits, and sums that would leave that range stop at its end instead: a
// clock set to the far future or past must not wrap the schedule around.

#include <QtGlobal>

#include <sys/time.h>

using Seconds = long long;

// The span from one time to another as seconds and microseconds (0 to
// 999999), the seconds saturated.
struct Span
{
    Seconds seconds;
    long micros;
};

Seconds addSeconds(Seconds a, Seconds b);
Span span(const timeval &earlier, const timeval &later);
bool longerThan(const Span &a, const Span &b);

// The first due time strictly after `after` on the grid through `due`.
timeval firstDueAfter(const timeval &due, const timeval &after, qint32 interval);

// Milliseconds from now to the due time, rounded up.
qint64 delayMs(const timeval &now, const timeval &due);

#endif
