// What comes from an IIO accelerometer: the acceleration itself in milli-g,
// the side that faces up, and the tilt (with the compass heading as the
// rotation's z axis where the machine also has a magnetometer).

#include "iio.h"
#include "sensorreaders.h"

namespace Vorna::Backend {

namespace {

constexpr double standardGravity = 9.80665; // m/s² in 1 g

class AccelReader : public SensorReader
{
public:
    AccelReader(Sensor kind, const Sysfs &sysfs)
        : kind(kind)
        , accelDir(findAccelerometer(sysfs))
        , magnetDir(kind == Sensor::Rotation ? findMagnetometer(sysfs) : QString())
    {
        if (accelDir.isEmpty())
            why = accelerometerMissing(sysfs);
    }

    QString missing() const override { return why; }
    bool hasZ() const override { return !magnetDir.isEmpty(); }

    std::optional<Sample> measure(
        const std::optional<Sample> &previous, QString *failed) const override
    {
        const std::optional<Motion::Vector> a = acceleration(accelDir, failed);
        if (!a)
            return std::nullopt;
        Sample s;
        s.timestamp = monotonicMicroseconds();
        auto &v = s.values;
        switch (kind) {
        case Sensor::Orientation:
            v[0] = Motion::orientation(*a,
                previous ? KvOrientation::Orientation(previous->values[0])
                         : KvOrientation::Undefined);
            break;
        case Sensor::Rotation: {
            std::optional<MagneticField> f;
            if (!magnetDir.isEmpty() && !(f = magneticField(magnetDir, failed)))
                return std::nullopt;
            v[0] = Motion::pitch(*a);
            v[1] = Motion::roll(*a);
            v[2] = f ? Motion::heading(*a, f->calibrated) : 0;
            break;
        }
        default:
            v[0] = Iio::whole(a->x);
            v[1] = Iio::whole(a->y);
            v[2] = Iio::whole(a->z);
            break;
        }
        return s;
    }

private:
    const Sensor kind;
    const QString accelDir;
    const QString magnetDir; // empty where rotation has no z axis to give
    QString why;
};

} // namespace

QString findAccelerometer(const Sysfs &sysfs)
{
    return Iio::findDevice(sysfs, Iio::axisFiles(QStringLiteral("accel")));
}

QString accelerometerMissing(const Sysfs &sysfs)
{
    return Iio::missingText("accelerometer", sysfs,
        QStringLiteral("in_accel_x_raw, in_accel_y_raw and in_accel_z_raw"));
}

std::optional<Motion::Vector> acceleration(const QString &dir, QString *failed)
{
    // The kernel gives m/s².
    std::optional<Motion::Vector> v
        = Iio::Device(dir, failed).vector(QStringLiteral("accel"), true);
    if (v)
        *v = { v->x / standardGravity * 1000, v->y / standardGravity * 1000,
            v->z / standardGravity * 1000 };
    return v;
}

std::unique_ptr<SensorReader> accelReader(Sensor kind, const Sysfs &sysfs)
{
    return std::make_unique<AccelReader>(kind, sysfs);
}

} // namespace Vorna::Backend
