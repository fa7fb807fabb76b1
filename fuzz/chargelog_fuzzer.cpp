// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// libFuzzer target: any bytes as a charge-recorder log, read as charge-plot
// and charge-exporter read one: lines, NUL bytes, headers, stamps, rows. The
// first byte picks the longest line kept, so that short inputs reach the
// overlong lines too. What was read must hold together: one value a row in
// every column of a run, state indexes within their texts.

#include "chargelog.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("TZ", "UTC", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    ReadRange range;
    if (data[0] & 1)
        range.maxLine = data[0] >> 1;
    FILE *stream = fmemopen(const_cast<uint8_t *>(data + 1), size - 1, "r");
    if (!stream)
        return 0;
    const ChargeLog log = readChargeLog(stream, QStringLiteral("fuzz"), range);
    fclose(stream);
    long long rows = 0;
    for (const Segment &segment : log.segments) {
        rows += static_cast<long long>(segment.times.size());
        for (int column = 0; column < ColumnCount; ++column) {
            const auto &values = segment.values[column];
            if (values.size() != (segment.present[column] ? segment.times.size() : 0))
                __builtin_trap();
            if (!isState(Column(column)))
                continue;
            for (const float value : values) {
                if (!(value >= 0 && value < float(log.states[column].size())))
                    __builtin_trap();
            }
        }
    }
    if (rows != log.rows || (rows > 0 && log.firstTime > log.lastTime))
        __builtin_trap();
    return 0;
}
