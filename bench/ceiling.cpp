// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The fastest a streaming demo could write: the same proximity lines, with
// the same printf and fflush per line, and nothing else.

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    const long count = argc > 1 ? std::atol(argv[1]) : 100000;
    for (long i = 0; i < count; ++i) {
        printf("\r[Proximity]: [%lld] %3d \n", static_cast<long long>(i), int(i % 7));
        fflush(stdout);
    }
    return 0;
}
