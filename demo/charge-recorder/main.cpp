// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// charge-recorder: battery values at a fixed interval, as CSV on standard output.

#include "charge-recorder.h"

int main(int argc, char **argv)
{
    ChargeRecorder recorder(argc, argv);
    if (!recorder.parseOptions()) {
        printf("\n");
        recorder.printUsage(stderr);
        return 1;
    }
    return recorder.run();
}
