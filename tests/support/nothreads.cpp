// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Preloaded into a program under test (LD_PRELOAD): no thread can be
// created, as under a thread or process limit (RLIMIT_NPROC), which root
// is not held to. Every pthread_create() fails with EAGAIN, the kernel's
// answer at the limit.

#include <cerrno>
#include <pthread.h>

extern "C" int pthread_create(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *)
{
    return EAGAIN;
}
