#ifndef KVSYSTEM_SRC_BACKENDS_LINUX_IIO_H
#define KVSYSTEM_SRC_BACKENDS_LINUX_IIO_H

// The kernel's Industrial I/O devices (bus/iio/devices/iio:device*): finding
// the device that serves a channel, and reading a channel's value in its
// unit the way the IIO ABI defines it, (raw + offset) × scale.

#include "motion.h"
#include "sysfs.h"

#include <QStringList>

#include <optional>

namespace Vorna::Backend::Iio {

// The first IIO device that has every one of the files; empty when none has.
QString findDevice(const Sysfs &sysfs, const QStringList &files);

// The x, y and z raw files of a channel such as "accel".
QStringList axisFiles(const QString &channel);

// Why a sensor is refused: "no <what>: no <devices>/iio:device* has <files>".
QString missingText(const char *what, const Sysfs &sysfs, const QString &files);

// A value rounded to a whole number, within the range of a reading's field.
qint32 whole(double v);

// Reads the attributes of one device. A value that cannot be read is
// absent, and failed (when given) names its file.
class Device
{
public:
    Device(const QString &dir, QString *failed)
        : dir(dir)
        , failed(failed)
    { }

    std::optional<double> real(const QString &name) const;
    // An optional attribute: its default when the driver has none.
    std::optional<double> realOr(const QString &name, double fallback) const;
    bool has(const QString &name) const;

    // One axis of a channel in the channel's unit: (raw + offset) × scale,
    // with the axis's own offset and scale or else the channel's.
    std::optional<double> axis(const QString &channel, char a, bool withOffset) const;
    std::optional<Motion::Vector> vector(const QString &channel, bool withOffset) const;

private:
    const QString &dir;
    QString *const failed;
};

} // namespace Vorna::Backend::Iio

#endif
