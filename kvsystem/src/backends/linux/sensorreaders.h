// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_BACKENDS_LINUX_SENSORREADERS_H
#define KVSYSTEM_SRC_BACKENDS_LINUX_SENSORREADERS_H

// What each kind of sensor reads from the machine's IIO devices, one reader
// a file: light and proximity (scalarsensor.cpp, a row each), what
// comes from the accelerometer (accelsensor.cpp: orientation, rotation and
// the accelerometer itself) and from the magnetometer (magnetsensor.cpp:
// the magnetometer and the compass). LinuxSensor runs the sessions and the
// polling for all of them.

#include "backend.h"
#include "iio.h"
#include "iiobuffer.h"
#include "motion.h"
#include "sysfs.h"

#include <memory>
#include <mutex>
#include <optional>

namespace Vorna::Backend {

class SensorReader
{
public:
    virtual ~SensorReader() = default;
    // What the machine lacks for this sensor; empty when it has everything.
    virtual QString missing() const = 0;
    // Reads what stays put while a session runs (scale, offset, mount
    // matrix), so that a poll reads the values only. False, with failed
    // (when given) naming the file, when one of them cannot be read.
    virtual bool prepare(QString *failed) = 0;
    // A reading now, given the one delivered last (orientation keeps its
    // pose between two). Without a value, failed (when given) names the
    // file that could not be read. Called on the reader thread too.
    virtual std::optional<Sample> measure(
        const std::optional<Sample> &previous, QString *failed) const = 0;
    // Whether rotation has a z axis: a compass heading to give.
    virtual bool hasZ() const { return false; }
    // The IIO device(s) read, for the diagnostic program.
    virtual QString device() const { return QString(); }
    // What the diagnostic program should know of a prepared reader: a
    // buffer refused (the file and why), the values then read from sysfs.
    virtual QString note() const { return QString(); }
};

// Light and proximity.
std::unique_ptr<SensorReader> scalarReader(Sensor kind, const Sysfs &sysfs);
// Orientation, rotation and the accelerometer.
std::unique_ptr<SensorReader> accelReader(Sensor kind, const Sysfs &sysfs);
// The magnetometer and the compass.
std::unique_ptr<SensorReader> magnetReader(Sensor kind, const Sysfs &sysfs);

// The accelerometer that turns with the screen, and its acceleration in
// milli-g in the device's axes (mount matrix applied). The vector is
// gravity as iio-sensor-proxy reads it: a device standing upright reads
// y = -1000, one lying face up z = -1000.
QString findAccelerometer(const Sysfs &sysfs);
QString accelerometerMissing(const Sysfs &sysfs);
// Where the device has an IIO buffer and the right to enable it, a
// reading takes its newest record (the last one while none came since),
// else the sysfs files.
class Accelerometer
{
public:
    bool prepare(const Sysfs &sysfs, const QString &dir, QString *failed);
    std::optional<Motion::Vector> read(QString *failed) const;
    bool buffered() const { return buffer && buffer->isOpen(); }
    QString bufferRefusal() const { return refusal; }

private:
    Iio::Axes axes;
    Iio::Matrix matrix = Iio::identity;
    std::unique_ptr<Iio::Buffer> buffer;
    QString refusal;
    mutable std::mutex mutex; // the reader thread and current() read alike
    mutable std::optional<std::array<double, 3>> lastRecord;
};

// The magnetometer's device and the field it measures, in nT.
struct MagneticField
{
    Motion::Vector calibrated; // what the compass takes
    Motion::Vector raw; // as measured, the device's own magnetism included
    int level = 0; // calibration level, 0 to 3; the kernel gives none
};
QString findMagnetometer(const Sysfs &sysfs);
QString magnetometerMissing(const Sysfs &sysfs);
class Magnetometer
{
public:
    bool prepare(const QString &dir, QString *failed);
    std::optional<MagneticField> read(QString *failed) const;

private:
    Iio::Axes axes;
};

} // namespace Vorna::Backend

#endif
