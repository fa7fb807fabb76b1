// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "schedule.h"

#include <limits>

Seconds addSeconds(Seconds a, Seconds b)
{
    Seconds sum;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<Seconds>::max() : std::numeric_limits<Seconds>::min();
    return sum;
}

// The span from earlier to later as seconds and microseconds, the seconds
// saturated as above.
Span span(const timeval &earlier, const timeval &later)
{
    Seconds seconds;
    if (__builtin_sub_overflow(Seconds(later.tv_sec), Seconds(earlier.tv_sec), &seconds))
        return { later.tv_sec > earlier.tv_sec ? std::numeric_limits<Seconds>::max()
                                               : std::numeric_limits<Seconds>::min(),
            0 };
    Span result { seconds, long(later.tv_usec - earlier.tv_usec) };
    if (result.micros < 0) {
        result.micros += 1000000;
        --result.seconds;
    }
    return result;
}

bool longerThan(const Span &a, const Span &b)
{
    return a.seconds > b.seconds || (a.seconds == b.seconds && a.micros > b.micros);
}

// The first due time strictly after `after` on the grid through `due`: due
// plus a whole number, of either sign, of intervals. Found from remainders,
// without a loop and without subtracting times that lie far apart, so that
// a clock stepped by any amount costs the same.
timeval firstDueAfter(const timeval &due, const timeval &after, qint32 interval)
{
    // A due time lies after `after` when its second is later, or the same
    // second with more microseconds.
    const Seconds from = addSeconds(after.tv_sec, due.tv_usec > after.tv_usec ? 0 : 1);
    const auto remainder = [interval](Seconds t) {
        const Seconds r = t % interval;
        return r < 0 ? r + interval : r;
    };
    Seconds offset = remainder(due.tv_sec) - remainder(from);
    if (offset < 0)
        offset += interval;
    timeval next;
    next.tv_sec = time_t(addSeconds(from, offset));
    next.tv_usec = due.tv_usec;
    return next;
}

// Milliseconds from now to the due time, rounded up: a timer armed with
// them never fires before the due time, so a row due just after a whole
// second is stamped with that second.
qint64 delayMs(const timeval &now, const timeval &due)
{
    const Span ahead = span(now, due);
    return ahead.seconds * 1000 + (ahead.micros + 999) / 1000;
}
