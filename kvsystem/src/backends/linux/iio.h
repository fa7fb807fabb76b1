// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_BACKENDS_LINUX_IIO_H
#define KVSYSTEM_SRC_BACKENDS_LINUX_IIO_H

// The kernel's Industrial I/O devices (bus/iio/devices/iio:device*): finding
// the device that serves a channel, and reading a channel's value in its
// unit the way the IIO ABI defines it: a processed `_input` as it is, a
// `_raw` value as (raw + offset) × scale. Scale, offset and mount matrix
// are read once, when a session starts; a poll reads the value files only.

#include "motion.h"
#include "sysfs.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

#include <array>
#include <optional>

namespace Vorna::Backend::Iio {

// The first IIO device that has every one of the files; empty when none has.
QString findDevice(const Sysfs &sysfs, const QStringList &files);

// The IIO devices, in the kernel's order.
QStringList devices(const Sysfs &sysfs);

// The x, y and z raw files of a channel such as "accel".
QStringList axisFiles(const QString &channel);

// Why a sensor is refused: "no <what>: no <devices>/iio:device* has <files>".
QString missingText(const char *what, const Sysfs &sysfs, const QString &files);

// A value rounded to a whole number, within the range of a reading's field;
// 0 for what is no number.
qint32 whole(double v);

// A device's udev properties: its uevent file, and udev's database where
// the tree is the machine's own /sys (hwdb entries such as
// ACCEL_MOUNT_MATRIX and ACCEL_LOCATION live there).
QHash<QByteArray, QByteArray> udevProperties(const QString &dir);
// The KEY=value lines of such a file that begin with prefix ("E:" in udev's
// database), without it, added to out.
void parseProperties(
    const QByteArray &text, const QByteArray &prefix, QHash<QByteArray, QByteArray> &out);

// A mount matrix, "x1, y1, z1; x2, y2, z2; x3, y3, z3": the rows that turn
// the sensor's axes into the device's.
using Matrix = std::array<std::array<double, 3>, 3>;
std::optional<Matrix> parseMatrix(const QByteArray &text);
Motion::Vector apply(const Matrix &m, const Motion::Vector &v);
constexpr Matrix identity { { { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } } };

// The accelerometer's mount matrix as iio-sensor-proxy takes it: udev's
// ACCEL_MOUNT_MATRIX (from systemd's hwdb), else the driver's
// in_accel_mount_matrix, mount_matrix or in_mount_matrix; else identity.
Matrix accelMountMatrix(const QString &dir);

// Where an accelerometer sits: "display", "base", or empty when the
// machine does not say (its label file "accel-display"/"accel-base", a
// location file, or udev's ACCEL_LOCATION).
QByteArray accelLocation(const QString &dir);

// A scalar channel such as illuminance: its processed `in_<c>[Y]_input`
// where the driver gives one, else `in_<c>[Y]_raw` with its scale and
// offset (the index's own, else the channel's). A channel read in raw
// counts takes the raw file only, as it is; one without an index takes
// `in_<c>_...` only.
struct Channel
{
    enum Reading { Converted, RawCounts };
    QString name;
    Reading reading;
    bool indexed; // in_<c>0_..., in_<c>1_... count too
};

class Scalar
{
public:
    // The file name of the channel in dir, or empty.
    static QString find(const QString &dir, const Channel &channel);
    // Reads the conversion; false (with failed naming the file) when a
    // scale or offset the driver has cannot be read.
    bool prepare(const QString &dir, const Channel &channel, QString *failed);
    std::optional<double> read(QString *failed) const;
    QString file() const { return path; }

private:
    QString path;
    double scale = 1;
    double offset = 0;
};

// The x, y and z axes of a channel such as accel: raw (or processed input)
// files, each axis's own scale and offset or else the channel's.
class Axes
{
public:
    bool prepare(const QString &dir, const QString &channel, QString *failed);
    // (raw + offset) × scale.
    std::optional<Motion::Vector> read(QString *failed) const;
    Motion::Vector convert(const std::array<double, 3> &raw) const;

private:
    std::optional<std::array<double, 3>> raw(QString *failed) const;
    std::array<QString, 3> files;
    std::array<double, 3> scale { 1, 1, 1 };
    std::array<double, 3> offset { 0, 0, 0 };
};

} // namespace Vorna::Backend::Iio

#endif
