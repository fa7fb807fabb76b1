// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "chartaxes.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>

double niceStep(double range, int count, bool whole)
{
    const double raw = range / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double normal = raw / magnitude;
    double step = (normal < 1.5 ? 1 : normal < 3 ? 2 : normal < 7 ? 5 : 10) * magnitude;
    if (whole && step < 1)
        step = 1;
    return step;
}

QString tickText(double value, double step)
{
    const int decimals = step >= 1 ? 0 : int(std::ceil(-std::log10(step) - 1e-9));
    return QLocale::c().toString(value, 'f', decimals);
}

ValueAxis valueAxis(double lowest, double highest, AxisKind kind, bool whole)
{
    double low = lowest, high = highest;
    if (kind == AxisKind::Percent) {
        low = std::min(0.0, low);
        high = std::max(100.0, high);
    } else if (kind == AxisKind::Bars) {
        // Room above the highest, so that its line does not hide in the
        // frame.
        low = std::min(0.0, low);
        high += 1;
    }
    // A constant: a range around it wide enough to change a value as large
    // as a float holds.
    if (!(high - low > std::max(std::abs(low), std::abs(high)) * 1e-6)) {
        const double margin = std::max(1.0, std::abs(high) * 1e-3);
        low -= margin;
        high += margin;
    }
    ValueAxis axis;
    axis.step = niceStep(high - low, 4, whole);
    axis.low = std::floor(low / axis.step) * axis.step;
    axis.high = std::ceil(high / axis.step) * axis.step;
    axis.count = int(std::min(double(maximumValueTicks),
        std::max(1.0, std::round((axis.high - axis.low) / axis.step))));
    return axis;
}

std::vector<TimeTick> timeTicks(long long start, long long end, int plotWidth)
{
    static const long long steps[] = { 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600,
        7200, 10800, 21600, 43200, 86400, 172800, 604800 };
    constexpr long long day = 86400;
    constexpr long long week = 604800;
    std::vector<TimeTick> ticks;
    // Ticks name days of four-digit years, as the stamps of a log have
    // them; a stamp of nine digits is beyond what QDateTime holds (Qt 6
    // says so, Qt 5 wraps around), and a day it cannot name would never
    // reach the end.
    constexpr long long firstYear = -62135596800; // 1 Jan 0001 00:00:00 UTC
    constexpr long long afterLastYear = 253402300800; // 1 Jan 10000 00:00:00 UTC
    const long long margin = 2 * day; // for any time zone
    if (end < start || start < firstYear + margin || end > afterLastYear - margin)
        return ticks;
    const long long span = end - start;
    const long long most = std::max(1, plotWidth / 105);
    long long step = 0;
    for (long long candidate : steps) {
        if (span / candidate <= most) {
            step = candidate;
            break;
        }
    }
    if (step == 0)
        step = ((span / most) / week + 1) * week;

    // Never more ticks than fit, whatever the calendar does.
    const size_t tickCount = size_t(most) + 2;
    const QLocale locale = QLocale::c();
    if (step >= day) {
        // Local midnights, every step days.
        QDate date = QDateTime::fromSecsSinceEpoch(start).date();
        if (QDateTime(date, QTime(0, 0)).toSecsSinceEpoch() < start)
            date = date.addDays(1);
        for (; date.isValid() && ticks.size() < tickCount
             && QDateTime(date, QTime(0, 0)).toSecsSinceEpoch() <= end;
             date = date.addDays(step / day))
            ticks.push_back({ QDateTime(date, QTime(0, 0)).toSecsSinceEpoch(),
                locale.toString(date, QStringLiteral("d MMM")), QString() });
        return ticks;
    }
    const long long offset = QDateTime::fromSecsSinceEpoch(start).offsetFromUtc();
    // The first whole step at or after the start, in local time; division
    // rounds toward zero, which before 1970 is already upward.
    const long long local = start + offset;
    const long long first = (local / step + (local % step > 0 ? 1 : 0)) * step - offset;
    QDate lastDate;
    for (long long tick = first; tick <= end && ticks.size() < tickCount; tick += step) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(tick);
        const QString time = locale.toString(local.time(),
            step < 60 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
        QString date;
        if (local.date() != lastDate)
            date = locale.toString(local.date(), QStringLiteral("d MMM yyyy"));
        lastDate = local.date();
        ticks.push_back({ tick, time, date });
    }
    return ticks;
}
