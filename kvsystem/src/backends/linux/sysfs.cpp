// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "sysfs.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Vorna::Backend {

namespace {

// Attribute files hold at most one page.
constexpr int pageSize = 4096;

// A name split into its text and its trailing number, for the kernel's order.
std::pair<QString, qint64> numbered(const QString &name)
{
    int digits = name.size();
    while (digits > 0 && name.at(digits - 1).isDigit())
        --digits;
    bool ok = false;
    const qint64 n = name.mid(digits).toLongLong(&ok);
    return { name.left(digits), ok ? n : -1 };
}

// Opens a regular file without blocking (a FIFO would block until a writer
// came); -1 for anything else. Nothing but a regular file is opened at all,
// as opening a device node may act on the device.
int openRegular(const QString &file, int flags)
{
    const QByteArray name = QFile::encodeName(file);
    struct stat st
    {
    };
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const int fd = ::open(name.constData(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) { // changed since the look
        ::close(fd);
        return -1;
    }
    return fd;
}

// The first line: an attribute's value.
QByteArray firstLine(const QByteArray &text)
{
    const int end = text.indexOf('\n');
    return (end < 0 ? text : text.left(end)).trimmed();
}

} // namespace

Sysfs::Sysfs(QString root)
    : top(std::move(root))
{ }

std::optional<QByteArray> Sysfs::read(const QString &file)
{
    const int fd = openRegular(file, O_RDONLY);
    if (fd < 0)
        return std::nullopt;
    QByteArray text(pageSize, Qt::Uninitialized);
    int length = 0;
    while (length < pageSize) {
        const ssize_t n = ::read(fd, text.data() + length, size_t(pageSize - length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt; // a driver that failed to answer, or a directory
        }
        if (n == 0)
            break;
        length += int(n);
    }
    ::close(fd);
    text.truncate(length);
    return text.trimmed();
}

std::optional<qint64> Sysfs::readInt(const QString &file)
{
    const std::optional<QByteArray> text = read(file);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const qint64 value = firstLine(*text).toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<double> Sysfs::readReal(const QString &file)
{
    const std::optional<QByteArray> text = read(file);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const double value = firstLine(*text).toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

bool Sysfs::exists(const QString &file)
{
    return ::access(QFile::encodeName(file).constData(), F_OK) == 0;
}

bool Sysfs::write(const QString &file, const QByteArray &value, bool *opened)
{
    // No O_CREAT: an attribute that is not there cannot be set. O_NOFOLLOW:
    // the attribute's own name is never a link in /sys.
    const int fd = openRegular(file, O_WRONLY | O_NOFOLLOW);
    if (opened)
        *opened = fd >= 0;
    if (fd < 0)
        return false;
    const QByteArray line = value + '\n';
    ssize_t n;
    do
        n = ::write(fd, line.constData(), size_t(line.size()));
    while (n < 0 && errno == EINTR);
    // The kernel reports a refused value from write() or, for some drivers, only from close().
    const bool closed = ::close(fd) == 0;
    return accepted(n, line.size(), closed);
}

QStringList Sysfs::entries(const QString &dir, const QString &prefix)
{
    QStringList names = QDir(dir).entryList({ prefix + QLatin1Char('*') },
        QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::System);
    std::sort(names.begin(), names.end(),
        [](const QString &a, const QString &b) { return numbered(a) < numbered(b); });
    for (QString &name : names)
        name = dir + QLatin1Char('/') + name;
    return names;
}

} // namespace Vorna::Backend
