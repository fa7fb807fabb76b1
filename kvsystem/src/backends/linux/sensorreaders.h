#ifndef KVSYSTEM_SRC_BACKENDS_LINUX_SENSORREADERS_H
#define KVSYSTEM_SRC_BACKENDS_LINUX_SENSORREADERS_H

// What each kind of sensor reads from the machine's IIO devices, one reader
// a file: light (lightsensor.cpp), proximity (proximitysensor.cpp), what
// comes from the accelerometer (accelsensor.cpp: orientation, rotation and
// the accelerometer itself) and from the magnetometer (magnetsensor.cpp:
// the magnetometer and the compass). LinuxSensor runs the sessions and the
// polling for all of them.

#include "backend.h"
#include "motion.h"
#include "sysfs.h"

#include <memory>
#include <optional>

namespace Vorna::Backend {

class SensorReader
{
public:
    virtual ~SensorReader() = default;
    // What the machine lacks for this sensor; empty when it has everything.
    virtual QString missing() const = 0;
    // A reading now, given the one delivered last (orientation keeps its
    // pose between two). Without a value, failed (when given) names the
    // file that could not be read. Called on the reader thread too.
    virtual std::optional<Sample> measure(
        const std::optional<Sample> &previous, QString *failed) const = 0;
    // Whether rotation has a z axis: a compass heading to give.
    virtual bool hasZ() const { return false; }
};

std::unique_ptr<SensorReader> lightReader(const Sysfs &sysfs);
std::unique_ptr<SensorReader> proximityReader(const Sysfs &sysfs);
// Orientation, rotation and the accelerometer.
std::unique_ptr<SensorReader> accelReader(Sensor kind, const Sysfs &sysfs);
// The magnetometer and the compass.
std::unique_ptr<SensorReader> magnetReader(Sensor kind, const Sysfs &sysfs);

// The accelerometer's device and its acceleration in milli-g.
QString findAccelerometer(const Sysfs &sysfs);
QString accelerometerMissing(const Sysfs &sysfs);
std::optional<Motion::Vector> acceleration(const QString &dir, QString *failed);

// The magnetometer's device and the field it measures, in nT.
struct MagneticField
{
    Motion::Vector calibrated; // with the driver's offsets
    Motion::Vector raw; // as measured, the device's own magnetism included
    int level = 0; // calibration level, 0 to 3
};
QString findMagnetometer(const Sysfs &sysfs);
QString magnetometerMissing(const Sysfs &sysfs);
std::optional<MagneticField> magneticField(const QString &dir, QString *failed);

} // namespace Vorna::Backend

#endif
