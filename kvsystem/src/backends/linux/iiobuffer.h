// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_BACKENDS_LINUX_IIOBUFFER_H
#define KVSYSTEM_SRC_BACKENDS_LINUX_IIOBUFFER_H

// An IIO device's buffer: the device samples on its trigger and queues
// records of its enabled scan elements, which /dev/iio:deviceN gives out.
// Where a device has one (scan_elements/, its trigger <name>-dev<N> and the
// node), a reading takes the newest record instead of reading sysfs; the
// rules are iio-sensor-proxy 3.0's (src/iio-buffer-utils.c). Enabling a
// buffer needs the right to write the device's attributes, as a rule
// root's; without it the sensor is polled through sysfs as before.

#include "sysfs.h"

#include <QStringList>

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace Vorna::Backend::Iio {

// One scan element: how it is stored and where it sits in a record.
struct ScanChannel
{
    QString name; // in_accel_x
    int index = 0;
    bool bigEndian = false;
    bool isSigned = false;
    int bits = 0; // bits that hold the value
    int bytes = 0; // bytes that store it
    int shift = 0;
    int location = 0; // byte offset in the record
};

// A scan element's _type, "le:s12/16>>4" (iioutils_get_type()).
std::optional<ScanChannel> parseScanType(const QByteArray &text);
// Sorts the channels by index and places each at the next offset aligned
// to its own size (size_from_channelarray()); the record's size.
int layOut(std::vector<ScanChannel> &channels);
// The channel's value in a record (process_scan_1()).
qint64 decode(const char *record, const ScanChannel &channel);

class Buffer
{
public:
    // How an attribute is written: Sysfs::write, or in a test a kernel's
    // refusals. False with errno set where the write is refused.
    using Writer = std::function<bool(const QString &file, const QByteArray &value)>;

    explicit Buffer(Writer writer = &Buffer::writeAttribute)
        : write(std::move(writer))
    { }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    ~Buffer() { close(); }

    // Reads the named channels (in_accel_x, ...) of dir through its buffer:
    // a sampling frequency below 10 Hz raised, every scan element enabled,
    // the device's own trigger set, the buffer enabled and its node opened
    // (iio-buffer-utils.c, buffer_drv_data_new()). False, with the buffer
    // left disabled, where the device lacks one of them or refuses; then
    // error() says why.
    bool open(const Sysfs &sysfs, const QString &dir, const QStringList &names);
    // Why the last open() failed: the file and the errno's text, or what
    // the device lacks; empty where it has no buffer at all.
    QString error() const { return why; }
    // The newest record's values in the order of the names; no value when
    // no record came since the last call.
    std::optional<std::vector<qint64>> newest();
    bool isOpen() const { return fd >= 0; }

    // Stops the buffer, then detaches the trigger, then disables the scan
    // elements: the kernel refuses a scan element's write while the
    // buffer runs (EBUSY), so the reverse leaves them enabled.
    void close();

private:
    static bool writeAttribute(const QString &file, const QByteArray &value)
    {
        return Sysfs::write(file, value);
    }
    bool fail(const QString &reason);
    bool refused(const QString &file);

    const Writer write;
    QString why;
    QString dir;
    int fd = -1;
    int recordSize = 0;
    std::vector<ScanChannel> channels;
    std::vector<size_t> wanted; // of channels, in the order of the names
    std::mutex mutex; // the reader thread and current() read alike
};

} // namespace Vorna::Backend::Iio

#endif
