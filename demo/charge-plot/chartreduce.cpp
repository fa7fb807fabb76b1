// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "chartreduce.h"

#include <algorithm>
#include <cmath>

std::vector<std::vector<size_t>> thinnedLines(const Segment &segment, Column column,
    const TimeScale &scale)
{
    std::vector<std::vector<size_t>> lines;
    if (!segment.present[column])
        return lines;
    const auto &values = segment.values[column];
    const auto &times = segment.times;
    std::vector<size_t> line;
    long pixel = -1;
    size_t lowRow = 0, highRow = 0;
    auto keepPixel = [&]() {
        if (pixel < 0)
            return;
        const size_t first = std::min(lowRow, highRow), second = std::max(lowRow, highRow);
        line.push_back(first);
        if (second != first)
            line.push_back(second);
        pixel = -1;
    };
    auto endLine = [&]() {
        keepPixel();
        if (!line.empty())
            lines.push_back(std::move(line));
        line.clear();
    };
    for (size_t row = 0; row < times.size(); ++row) {
        if (std::isnan(values[row])) {
            // No figure: the line stops here, and starts again at the next
            // row that has one.
            endLine();
            continue;
        }
        if (row > 0 && !std::isnan(values[row - 1]) && segment.breakBetween(row))
            endLine();
        const long at = long(std::floor(std::clamp(scale.x(times[row]), 0.0, double(scale.width))));
        if (at != pixel) {
            keepPixel();
            pixel = at;
            lowRow = highRow = row;
        } else {
            if (values[row] < values[lowRow])
                lowRow = row;
            if (values[row] > values[highRow])
                highRow = row;
        }
    }
    endLine();
    return lines;
}

std::vector<int> dominantStates(const ChargeLog &log, Column column, const std::vector<int> &group,
    int groups, const TimeScale &scale)
{
    const size_t pixels = size_t(scale.width) + 1;
    std::vector<float> share(pixels * size_t(groups), 0.0f);
    for (const Segment &segment : log.segments) {
        if (!segment.present[column])
            continue;
        const auto &times = segment.times;
        const auto &values = segment.values[column];
        for (size_t row = 0; row < times.size(); ++row) {
            const size_t word = size_t(values[row]);
            if (!(values[row] >= 0) || word >= group.size())
                continue;
            const bool joined = row + 1 < times.size() && !segment.breakBetween(row + 1);
            const long long until = joined ? times[row + 1]
                                           : times[row] + std::max(segment.interval, 1LL);
            // Within the plot before any becomes a whole number.
            const double a = std::clamp(scale.x(times[row]), 0.0, double(pixels));
            const double b = std::clamp(std::max(scale.x(until), a + 0.01), 0.0, double(pixels));
            for (long pixel = long(std::floor(a)); pixel < long(std::ceil(b)) && size_t(pixel) < pixels;
                 ++pixel) {
                const double overlap = std::min(b, pixel + 1.0) - std::max(a, double(pixel));
                share[size_t(pixel) * size_t(groups) + size_t(group[word])] += float(overlap);
            }
        }
    }
    std::vector<int> result(pixels, -1);
    for (size_t pixel = 0; pixel < pixels; ++pixel) {
        float longest = 0;
        for (int i = 0; i < groups; ++i) {
            const float value = share[pixel * size_t(groups) + size_t(i)];
            if (value > longest) {
                longest = value;
                result[pixel] = i;
            }
        }
    }
    return result;
}
