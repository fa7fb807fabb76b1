// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// libFuzzer target: an IIO device's buffer as the kernel could describe and
// fill it. The input is a channel a line, "<scan type>[ <index file>]",
// then an empty line and the bytes the device node gives; without those
// bytes the node is /dev/zero, which never runs dry. A type is parsed
// within its storage or refused; the layout keeps every element inside its
// record; a value fits its bits; and on a fake tree the buffer opens or
// refuses, and its drains end and reach the newest whole record.

#include "backends/linux/iiobuffer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace Vorna::Backend;

namespace {

constexpr int maxChannels = 8;
// In the kernel's order of file names, accel first, as QDir lists them.
const char *const names[maxChannels] = { "in_accel_x", "in_accel_y", "in_accel_z", "in_extra3",
    "in_extra4", "in_extra5", "in_extra6", "in_extra7" };

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

struct Input
{
    QList<QByteArray> types;
    QList<QByteArray> indexes; // the index files' text
    QByteArray node; // empty: /dev/zero
};

Input split(const QByteArray &data)
{
    Input in;
    int start = 0;
    while (start < data.size() && in.types.size() < maxChannels) {
        int end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        const QByteArray line = data.mid(start, end - start);
        start = end + 1;
        if (line.isEmpty())
            break;
        const int blank = line.indexOf(' ');
        in.types << (blank < 0 ? line : line.left(blank));
        in.indexes << (blank < 0 ? QByteArray::number(in.types.size() - 1) : line.mid(blank + 1));
    }
    in.node = data.mid(start);
    return in;
}

// A value within what its bits can hold.
void checkRange(qint64 v, const Iio::ScanChannel &c)
{
    if (c.bits >= 64)
        return;
    const __int128 span = __int128(1) << c.bits;
    check(c.isSigned ? v >= -span / 2 && v < span / 2 : v >= 0 && v < span);
}

bool write(const QString &file, const QByteArray &text)
{
    QFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// The tree below root that Buffer::open() reads and writes.
bool makeTree(const QString &root, const Input &in)
{
    const QString dir = root + "/sys/bus/iio/devices/iio:device0";
    const QString trigger = root + "/sys/bus/iio/devices/trigger0";
    QDir d;
    if (!d.mkpath(dir + "/scan_elements") || !d.mkpath(dir + "/trigger") || !d.mkpath(dir + "/buffer")
        || !d.mkpath(trigger) || !d.mkpath(root + "/dev"))
        return false;
    bool ok = write(dir + "/name", "fuzz\n") && write(trigger + "/name", "fuzz-dev0\n")
        && write(dir + "/trigger/current_trigger", "\n") && write(dir + "/buffer/length", "0\n")
        && write(dir + "/buffer/enable", "0\n");
    for (int i = 0; ok && i < in.types.size(); ++i) {
        const QString stem = dir + "/scan_elements/" + names[i];
        ok = write(stem + "_en", "0\n") && write(stem + "_type", in.types[i] + '\n')
            && write(stem + "_index", in.indexes[i] + '\n');
    }
    const QByteArray node = QFile::encodeName(root + "/dev/iio:device0");
    return ok
        && (in.node.isEmpty() ? ::symlink("/dev/zero", node.constData())
                              : ::mkfifo(node.constData(), 0600))
        == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Input in = split(QByteArray(reinterpret_cast<const char *>(data), int(size)));

    // The tree first: the pure steps read the index files as Buffer::open() does.
    static QTemporaryDir base;
    static int run = 0;
    const QString root = base.path() + '/' + QString::number(run++);
    const QString dir = root + "/sys/bus/iio/devices/iio:device0";
    check(makeTree(root, in));

    std::vector<Iio::ScanChannel> channels;
    bool allRead = true;
    for (int i = 0; i < in.types.size(); ++i) {
        std::optional<Iio::ScanChannel> c = Iio::parseScanType(in.types[i].trimmed());
        const std::optional<qint64> index
            = Sysfs::readInt(dir + "/scan_elements/" + names[i] + "_index");
        if (c) {
            check(c->bytes == 1 || c->bytes == 2 || c->bytes == 4 || c->bytes == 8);
            check(c->bits >= 1 && c->shift >= 0 && qint64(c->bits) + c->shift <= 8 * c->bytes);
        }
        if (!c || !index) {
            allRead = false;
            continue;
        }
        c->name = QLatin1String(names[i]);
        c->index = int(*index);
        channels.push_back(*c);
    }
    const int recordSize = Iio::layOut(channels);
    int end = 0;
    for (const Iio::ScanChannel &c : channels) {
        check(c.location % c.bytes == 0 && c.location >= end);
        end = c.location + c.bytes;
    }
    check(recordSize == end);
    // The x, y and z values of record k.
    const auto decodeRecord = [&](int k) {
        // A copy of the record's exact size, so that a read past it is seen.
        const std::vector<char> record(in.node.constData() + k * recordSize,
            in.node.constData() + (k + 1) * recordSize);
        std::vector<qint64> values(3);
        for (const Iio::ScanChannel &c : channels) {
            const qint64 v = Iio::decode(record.data(), c);
            checkRange(v, c);
            for (int j = 0; j < 3; ++j)
                if (c.name == QLatin1String(names[j]))
                    values[size_t(j)] = v;
        }
        return values;
    };
    const int records = recordSize > 0 ? in.node.size() / recordSize : 0;
    for (int k = 0; k < records; ++k)
        decodeRecord(k);

    // The buffer opens exactly when every element can be read, x, y and z among them.
    {
        Iio::Buffer buffer;
        const bool opened
            = buffer.open(Sysfs(root + "/sys"), dir, { "in_accel_x", "in_accel_y", "in_accel_z" });
        check(opened == (allRead && in.types.size() >= 3));
        if (opened && in.node.isEmpty()) {
            // Zeros for ever: each drain ends, with the newest record's zeros.
            const std::optional<std::vector<qint64>> v = buffer.newest();
            check(v && *v == std::vector<qint64>({ 0, 0, 0 }));
        } else if (opened) {
            const int fifo = ::open(QFile::encodeName(root + "/dev/iio:device0").constData(),
                O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            check(fifo >= 0);
            const ssize_t written = ::write(fifo, in.node.constData(), size_t(in.node.size()));
            ::close(fifo);
            // Drain after drain until nothing more: the last gave the newest.
            const int whole = written > 0 ? int(written) / recordSize : 0;
            std::optional<std::vector<qint64>> last;
            for (int drains = 0; drains <= whole + 1; ++drains) {
                std::optional<std::vector<qint64>> v = buffer.newest();
                if (!v)
                    break;
                last = std::move(v);
            }
            check(!buffer.newest());
            check(whole == 0 ? !last : last && *last == decodeRecord(whole - 1));
        }
    }
    QDir(root).removeRecursively();
    return 0;
}
