// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// libFuzzer target: attribute files as a driver, a hwdb entry or udev's
// database could hold them. The input is split at NUL bytes into the
// files of one IIO device (light and accelerometer values, scales,
// offsets, a mount matrix, uevent, label); each part is also parsed on its
// own as a number, a mount matrix and a udev database file. Whatever the
// text, a value is a finite number or none, a reading converts without
// undefined behaviour, and no read or parse hangs or grows.

#include "backends/linux/iio.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstddef>
#include <cstdint>

using namespace Vorna::Backend;

namespace {

// The files of the device, in the order of the input's parts.
const char *const files[] = { "in_illuminance_raw", "in_illuminance_scale",
    "in_illuminance_offset", "in_accel_x_raw", "in_accel_y_raw", "in_accel_z_raw", "in_accel_scale",
    "in_accel_offset", "in_accel_mount_matrix", "uevent", "label" };

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void checkProperties(const QHash<QByteArray, QByteArray> &props)
{
    for (auto it = props.cbegin(); it != props.cend(); ++it)
        check(!it.key().isEmpty() && !it.key().contains('=') && !it.key().contains('\n')
            && !it.value().contains('\n'));
}

// One part as every parser of an attribute takes it, read from file.
void parseOne(const QString &file, const QByteArray &text)
{
    const std::optional<QByteArray> read = Sysfs::read(file);
    check(read && *read == text.left(4096).trimmed());
    if (const std::optional<double> v = Sysfs::readReal(file))
        check(std::isfinite(*v));
    Sysfs::readInt(file);
    if (const std::optional<Iio::Matrix> m = Iio::parseMatrix(*read))
        for (const auto &row : *m) {
            check(std::isfinite(row[0]) && std::isfinite(row[1]) && std::isfinite(row[2]));
            check(row[0] != 0 || row[1] != 0 || row[2] != 0);
        }
    QHash<QByteArray, QByteArray> props;
    Iio::parseProperties(*read, "E:", props);
    checkProperties(props);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)).split('\0');
    static QTemporaryDir base;
    static int run = 0;
    const QString dir = base.path() + '/' + QString::number(run++);
    check(QDir().mkpath(dir));
    for (int i = 0; i < parts.size() && i < int(std::size(files)); ++i) {
        const QString file = dir + '/' + files[i];
        QFile f(file);
        check(f.open(QIODevice::WriteOnly) && f.write(parts[i]) == parts[i].size());
        f.close();
        parseOne(file, parts[i]);
    }

    // The device's readings, converted as the sensors convert them.
    Iio::Scalar light;
    QString failed;
    if (light.prepare(dir, { QStringLiteral("illuminance"), Iio::Channel::Converted, true }, &failed))
        if (const std::optional<double> lux = light.read(&failed))
            Iio::whole(*lux);
    Iio::Axes axes;
    if (axes.prepare(dir, QStringLiteral("accel"), &failed))
        if (const std::optional<Motion::Vector> v = axes.read(&failed)) {
            const Motion::Vector d = Iio::apply(Iio::accelMountMatrix(dir), *v);
            Iio::whole(d.x);
            Iio::whole(d.y);
            Iio::whole(d.z);
        }
    const QByteArray location = Iio::accelLocation(dir);
    check(location == "display" || location == "base" || location.isEmpty()
        || location == Iio::udevProperties(dir).value("ACCEL_LOCATION"));
    checkProperties(Iio::udevProperties(dir));
    QDir(dir).removeRecursively();
    return 0;
}
