#include "sysfs.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
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

} // namespace

Sysfs::Sysfs(QString root)
    : top(std::move(root))
{ }

std::optional<QByteArray> Sysfs::read(const QString &file)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
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
    const qint64 value = text->toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<double> Sysfs::readReal(const QString &file)
{
    const std::optional<QByteArray> text = read(file);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const double value = text->toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

bool Sysfs::exists(const QString &file)
{
    return ::access(QFile::encodeName(file).constData(), F_OK) == 0;
}

bool Sysfs::write(const QString &file, const QByteArray &value)
{
    // No O_CREAT: an attribute that is not there cannot be set.
    const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    const QByteArray line = value + '\n';
    ssize_t n;
    do
        n = ::write(fd, line.constData(), size_t(line.size()));
    while (n < 0 && errno == EINTR);
    // The kernel reports a refused value from write() or, for some drivers, only from close().
    const bool closed = ::close(fd) == 0;
    return n == line.size() && closed;
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
