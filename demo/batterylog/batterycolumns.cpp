// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "batterycolumns.h"

#include <cstring>

QString stateText(const StateWords &states, int value)
{
    // In 64 bits: INT_MIN less the first value must not wrap into the table.
    const long long index = static_cast<long long>(value) - states.first;
    if (index >= 0 && index < states.count)
        return QLatin1String(states.words[index]);
    return QLatin1String(states.prefix) + QString::number(value);
}

int columnByHeader(const char *header)
{
    for (const BatteryColumn &entry : batteryColumns) {
        if (strcmp(entry.header, header) == 0)
            return entry.column;
    }
    return -1;
}
