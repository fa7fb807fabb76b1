// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "quietwrite.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>

namespace Vorna::Backend {

ssize_t quietWrite(int fd, const iovec *parts, int count, off_t offset)
{
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGPIPE);
    sigaddset(&held, SIGXFSZ);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &held, &before);
    sigset_t pending;
    sigpending(&pending);
    const ssize_t written
        = offset < 0 ? ::writev(fd, parts, count) : ::pwritev(fd, parts, count, offset);
    const int error = errno;
    // The kernel raises the signal only together with the error.
    const int raised = written >= 0 ? 0 : error == EPIPE ? SIGPIPE : error == EFBIG ? SIGXFSZ : 0;
    if (raised && !sigismember(&pending, raised)) {
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, raised);
        const timespec now {};
        while (sigtimedwait(&one, nullptr, &now) < 0 && errno == EINTR) { }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return written;
}

} // namespace Vorna::Backend
