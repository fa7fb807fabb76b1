// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// libFuzzer target: any argument vector for charge-recorder, parsed exactly
// as the program parses it. Every vector must end in acceptance or a
// refusal (with its message on standard error), never in a crash, a hang or
// undefined behaviour.

#include "charge-recorder.h"

#include <QByteArrayList>

#include <cstddef>
#include <cstdint>
#include <getopt.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Arguments are separated by NUL bytes; the program name comes first.
    QByteArrayList arguments { "charge-recorder" };
    arguments += QByteArray(reinterpret_cast<const char *>(data), int(size)).split('\0');
    std::vector<char *> argv;
    for (QByteArray &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int argc = int(arguments.size());

    optind = 0; // getopt_long starts afresh for every vector
    ChargeRecorder recorder(argc, argv.data());
    recorder.parseOptions();
    return 0;
}
