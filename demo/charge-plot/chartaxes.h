// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_CHARGE_PLOT_CHARTAXES_H
#define DEMO_CHARGE_PLOT_CHARTAXES_H

// The axes of a chart: value ticks of a panel and time ticks under the
// panels, numbers only; painting them is the chart's.

#include <QString>

#include <vector>

// How the values of an axis are framed.
enum class AxisKind {
    Plain, // from a tick under the lowest to a tick over the highest
    Percent, // 0 to 100 at least
    Bars, // from none, with room above the highest
};

// A value axis: ticks at low + i * step for i from 0 to count.
struct ValueAxis
{
    double low = 0;
    double high = 1;
    double step = 1;
    int count = 1;
};

// The most ticks an axis has: more than a panel can show, however large the
// values (from 2^53 on, adding a step of 1 changes nothing).
constexpr int maximumValueTicks = 64;

// The axis over the values from lowest to highest; whole: only whole
// numbers as ticks, as the log holds.
ValueAxis valueAxis(double lowest, double highest, AxisKind kind, bool whole);

// A tick spacing of 1, 2 or 5 times a power of ten, about count ticks over
// the range.
double niceStep(double range, int count, bool whole);

// A tick's text, with the decimals its step needs.
QString tickText(double value, double step);

struct TimeTick
{
    long long time; // seconds since the epoch
    QString label;
    QString date; // under the label where the day changes
};

// Ticks in local time from start to end over a plot of the given width in
// pixels, one every 105 pixels at most: whole seconds, minutes or hours, or
// local midnights. None outside the years 1 to 9999.
std::vector<TimeTick> timeTicks(long long start, long long end, int plotWidth);

#endif
