// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "replacefile.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// write() until all is written; 0, or the errno of the failure. The kernel
// raises SIGXFSZ together with EFBIG at the file-size limit; the signal is
// blocked for the writes and one they raised is taken back, so the caller
// sees EFBIG. One that was pending before stays pending.
int writeAll(int fd, const QByteArray &data)
{
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGXFSZ);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &held, &before);
    sigset_t pending;
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGXFSZ);
    int error = 0;
    for (qint64 done = 0; error == 0 && done < data.size();) {
        const ssize_t written = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (written < 0 && errno != EINTR)
            error = errno;
        else if (written == 0)
            error = EIO;
        else if (written > 0)
            done += written;
    }
    if (error == EFBIG && !wasPending) {
        const timespec now {};
        while (sigtimedwait(&held, nullptr, &now) < 0 && errno == EINTR) { }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return error;
}

} // namespace

QString replaceFile(const QByteArray &path, const QByteArray &data)
{
    QByteArray temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(strerror(errno));
    // As open() would have made it: mkstemp() allows the owner alone.
    const mode_t mask = umask(0);
    umask(mask);
    int error = fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
    if (error == 0)
        error = writeAll(fd, data);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), path.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return QString::fromLocal8Bit(strerror(error));
    }
    return QString();
}
