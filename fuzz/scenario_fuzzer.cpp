// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// libFuzzer target: any bytes as a scenario file. The parser must either
// accept them or name a problem; it must never crash, hang or leak.

#include "backends/simulated/scenario.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QString error;
    const std::optional<Vorna::Backend::Scenario> scenario
        = Vorna::Backend::parseScenario(json, &error);
    if (scenario.has_value() == !error.isEmpty())
        __builtin_trap(); // exactly one of the two must come back
    return 0;
}
