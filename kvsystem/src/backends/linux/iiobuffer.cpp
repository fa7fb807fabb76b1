// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "iiobuffer.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Vorna::Backend::Iio {

namespace {

constexpr int bufferLength = 128; // records the kernel queues (enable_ring_buffer())
constexpr int recordsARead = 127; // as prepare_output() reads them
// Reads of one drain: the kernel's whole queue and what came while it was
// read. A node that never runs dry (a device sampling faster than it is
// read, or a node that always gives a full read) must not hold the reader.
constexpr int readsADrain = 3;

QString scanFile(const QString &dir, const QString &name)
{
    return dir + QStringLiteral("/scan_elements/") + name;
}

// The scan elements' names (in_accel_x, ...) that the device has.
QStringList scanElements(const QString &dir)
{
    QStringList names;
    for (const QString &file : QDir(dir + QStringLiteral("/scan_elements"))
                                   .entryList({ QStringLiteral("*_en") }, QDir::Files))
        names << file.chopped(3);
    return names;
}

// iio-buffer-utils.c, iio_fixup_sampling_frequency(): HID sensor hubs come
// up at 0 Hz and then deliver no record, so every *sampling_frequency of
// the device below 10 Hz is raised to 10 before the buffer starts. A
// refusal is no failure, as there.
constexpr double minimumFrequency = 10; // Hz, IIO_MIN_SAMPLING_FREQUENCY

void raiseFrequencies(const QString &dir, const Buffer::Writer &write)
{
    for (const QString &file :
        QDir(dir).entryList({ QStringLiteral("*sampling_frequency") }, QDir::Files | QDir::System))
        if (Sysfs::readReal(dir + QLatin1Char('/') + file).value_or(0) < minimumFrequency)
            write(dir + QLatin1Char('/') + file, QByteArray::number(int(minimumFrequency)));
}

// The device's own trigger, "<name>-dev<N>" (get_trigger_name()), or empty.
QByteArray triggerOf(const Sysfs &sysfs, const QString &dir)
{
    const QString device = QFileInfo(dir).fileName(); // iio:deviceN
    const QByteArray wanted = Sysfs::read(dir + QStringLiteral("/name")).value_or(QByteArray())
        + "-dev" + device.mid(int(strlen("iio:device"))).toLatin1();
    for (const QString &t :
        Sysfs::entries(sysfs.path(QStringLiteral("bus/iio/devices")), QStringLiteral("trigger")))
        if (Sysfs::read(t + QStringLiteral("/name")) == wanted)
            return wanted;
    return QByteArray();
}

// The device node, a character device (or, in a tree that stands for
// /sys, a FIFO or a testbed's file): nothing else is opened.
int openNode(const QString &node)
{
    const QByteArray name = QFile::encodeName(node);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st
    {
    };
    // A umockdev testbed keeps its device nodes as regular files.
    if (::fstat(fd, &st) != 0
        || !(S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISREG(st.st_mode))) {
        ::close(fd);
        errno = ENODEV;
        return -1;
    }
    return fd;
}

} // namespace

std::optional<ScanChannel> parseScanType(const QByteArray &text)
{
    // "<le|be>:<s|u><bits>/<storage bits>>><shift>", iio_show_fixed_type().
    ScanChannel c;
    char endian = 0, sign = 0;
    unsigned bits = 0, storage = 0, shift = 0;
    if (std::sscanf(text.constData(), "%ce:%c%u/%u>>%u", &endian, &sign, &bits, &storage, &shift)
            != 5
        || (endian != 'l' && endian != 'b') || (sign != 's' && sign != 'u'))
        return std::nullopt;
    // Compared one at a time: bits + shift could wrap round.
    if ((storage != 8 && storage != 16 && storage != 32 && storage != 64) || bits == 0
        || bits > storage || shift > storage - bits)
        return std::nullopt;
    c.bigEndian = endian == 'b';
    c.isSigned = sign == 's';
    c.bits = int(bits);
    c.bytes = int(storage / 8);
    c.shift = int(shift);
    return c;
}

int layOut(std::vector<ScanChannel> &channels)
{
    std::stable_sort(channels.begin(), channels.end(),
        [](const ScanChannel &a, const ScanChannel &b) { return a.index < b.index; });
    int bytes = 0;
    for (ScanChannel &c : channels) {
        c.location = bytes % c.bytes == 0 ? bytes : bytes - bytes % c.bytes + c.bytes;
        bytes = c.location + c.bytes;
    }
    return bytes;
}

qint64 decode(const char *record, const ScanChannel &c)
{
    quint64 v = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(record + c.location);
    for (int i = 0; i < c.bytes; ++i)
        v |= quint64(p[c.bigEndian ? i : c.bytes - 1 - i]) << (8 * (c.bytes - 1 - i));
    v >>= c.shift;
    if (c.bits < 64)
        v &= (quint64(1) << c.bits) - 1;
    // Sign-extended in unsigned arithmetic: v - 2^bits overflows at 63 bits.
    if (c.isSigned && c.bits < 64 && (v >> (c.bits - 1)) & 1)
        return qint64(v | ~((quint64(1) << c.bits) - 1));
    return qint64(v);
}

bool Buffer::fail(const QString &reason)
{
    close();
    why = reason;
    return false;
}

bool Buffer::refused(const QString &file)
{
    const int error = errno;
    return fail(file + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
}

bool Buffer::open(const Sysfs &sysfs, const QString &deviceDir, const QStringList &names)
{
    close();
    why.clear();
    const QStringList elements = scanElements(deviceDir);
    if (elements.isEmpty())
        return false; // no buffer at all
    for (const QString &n : names)
        if (!elements.contains(n))
            return fail(scanFile(deviceDir, n + QStringLiteral("_en"))
                + QStringLiteral(": no such scan element"));
    const QString node = sysfs.path(QStringLiteral("../dev/") + QFileInfo(deviceDir).fileName());
    const QByteArray trigger = triggerOf(sysfs, deviceDir);
    if (trigger.isEmpty())
        return fail(deviceDir + QStringLiteral(": no trigger of its own (<name>-dev<N>)"));
    if (!QFileInfo::exists(node))
        return fail(node + QStringLiteral(": no such device node"));
    // The node first: a buffer that another reader holds is busy (EBUSY),
    // and is left as it is.
    fd = openNode(node);
    if (fd < 0) {
        const int error = errno;
        return fail(node + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
    }
    dir = deviceDir;
    // The order of iio-sensor-proxy's buffer_drv_data_new().
    raiseFrequencies(dir, write);
    // enable_sensors(): an element already enabled is left as it is, and
    // one that is refused is passed over; a wanted one missing fails below.
    QString refusal;
    for (const QString &e : elements) {
        const QString en = scanFile(dir, e + QStringLiteral("_en"));
        if (Sysfs::readInt(en).value_or(0) != 1 && !write(en, "1") && refusal.isEmpty())
            refusal = en + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    }
    for (const auto &[file, value] :
        { std::pair<QString, QByteArray> {
              dir + QStringLiteral("/trigger/current_trigger"), trigger },
            { dir + QStringLiteral("/buffer/length"), QByteArray::number(bufferLength) },
            { dir + QStringLiteral("/buffer/enable"), "1" } })
        if (!write(file, value))
            return refused(file);
    // Every enabled element is in a record, ours or not.
    for (const QString &e : elements) {
        if (Sysfs::readInt(scanFile(dir, e + QStringLiteral("_en"))).value_or(0) != 1)
            continue;
        std::optional<ScanChannel> c
            = parseScanType(Sysfs::read(scanFile(dir, e + QStringLiteral("_type"))).value_or(""));
        const std::optional<qint64> index
            = Sysfs::readInt(scanFile(dir, e + QStringLiteral("_index")));
        if (!c || !index)
            return fail(scanFile(dir, e + (c ? QStringLiteral("_index") : QStringLiteral("_type")))
                + QStringLiteral(": no scan element's layout"));
        c->name = e;
        c->index = int(*index);
        channels.push_back(*c);
    }
    recordSize = layOut(channels);
    for (const QString &n : names) {
        const auto it = std::find_if(
            channels.begin(), channels.end(), [&](const ScanChannel &c) { return c.name == n; });
        if (it == channels.end())
            return fail(refusal.isEmpty()
                    ? scanFile(dir, n + QStringLiteral("_en")) + QStringLiteral(": not enabled")
                    : refusal);
        wanted.push_back(size_t(it - channels.begin()));
    }
    if (recordSize == 0)
        return fail(dir + QStringLiteral(": records of no size"));
    return true;
}

std::optional<std::vector<qint64>> Buffer::newest()
{
    const std::lock_guard<std::mutex> lock(mutex);
    if (fd < 0)
        return std::nullopt;
    std::vector<char> data(size_t(recordSize) * recordsARead);
    std::optional<std::vector<qint64>> values;
    for (int reads = 0; reads < readsADrain; ++reads) {
        const ssize_t n = ::read(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < recordSize)
            break; // nothing more now (EAGAIN), or no whole record
        const char *last = data.data() + (n / recordSize - 1) * recordSize;
        std::vector<qint64> v;
        for (size_t i : wanted)
            v.push_back(decode(last, channels[i]));
        values = std::move(v);
        if (n < ssize_t(data.size()))
            break;
    }
    return values;
}

void Buffer::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    if (dir.isEmpty())
        return;
    // buffer_drv_data_free() disables the elements first, which the kernel
    // refuses while the buffer runs: the buffer, the trigger, then them.
    write(dir + QStringLiteral("/buffer/enable"), "0");
    write(dir + QStringLiteral("/trigger/current_trigger"), "NULL");
    for (const QString &e : scanElements(dir))
        write(scanFile(dir, e + QStringLiteral("_en")), "0");
    dir.clear();
    channels.clear();
    wanted.clear();
    recordSize = 0;
}

} // namespace Vorna::Backend::Iio
