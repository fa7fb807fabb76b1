// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_CHARGE_PLOT_CHARTREDUCE_H
#define DEMO_CHARGE_PLOT_CHARTREDUCE_H

// A log reduced to what a plot of some pixels' width can show: the rows a
// trace keeps, and the state each pixel column shows.

#include "chargelog.h"

#include <vector>

// Times from start to end across a plot of width pixels.
struct TimeScale
{
    long long start;
    long long end; // later than start
    int width;

    // From 0 at start to width at end.
    double x(long long time) const
    {
        return double(time - start) / double(end - start) * width;
    }
};

// The rows of one column of a segment that a trace draws, as lines of
// rows in order: of the rows that fall into one pixel column only the
// lowest and the highest are kept, in the order they came, so a spike of a
// single row stays; a marker (NaN) or a break ends a line. A line of one
// row is a row alone.
std::vector<std::vector<size_t>> thinnedLines(const Segment &segment, Column column,
    const TimeScale &scale);

// For each pixel column from 0 to the scale's width, the group of the state
// that lasted longest in it, or -1 for none. A row's state holds until the
// next row, or for one interval before a break and at the end. group maps
// each of the log's state indexes of the column to one of groups groups.
std::vector<int> dominantStates(const ChargeLog &log, Column column, const std::vector<int> &group,
    int groups, const TimeScale &scale);

#endif
