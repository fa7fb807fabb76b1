// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// What comes from an IIO accelerometer: the acceleration itself in milli-g,
// the side that faces up, and the tilt (with the compass heading as the
// rotation's z axis where the machine also has a magnetometer).

#include "iio.h"
#include "sensorreaders.h"

namespace Vorna::Backend {

namespace {

constexpr double standardGravity = 9.80665; // m/s² in 1 g

// The reaction to gravity that the motion maths take: the reading turned
// round.
Motion::Vector reaction(const Motion::Vector &gravity)
{
    return { -gravity.x, -gravity.y, -gravity.z };
}

class AccelReader : public SensorReader
{
public:
    AccelReader(Sensor kind, const Sysfs &sysfs)
        : kind(kind)
        , sysfs(sysfs)
        , accelDir(findAccelerometer(sysfs))
        , magnetDir(kind == Sensor::Rotation ? findMagnetometer(sysfs) : QString())
    {
        if (accelDir.isEmpty())
            why = accelerometerMissing(sysfs);
    }

    QString missing() const override { return why; }
    bool hasZ() const override { return !magnetDir.isEmpty(); }
    QString device() const override
    {
        return magnetDir.isEmpty() ? accelDir : accelDir + QStringLiteral(" and ") + magnetDir;
    }

    QString note() const override
    {
        const QString refusal = accel.bufferRefusal();
        return refusal.isEmpty()
            ? QString()
            : QStringLiteral("buffer refused: %1; read through sysfs").arg(refusal);
    }

    bool prepare(QString *failed) override
    {
        return accel.prepare(sysfs, accelDir, failed)
            && (magnetDir.isEmpty() || magnet.prepare(magnetDir, failed));
    }

    std::optional<Sample> measure(
        const std::optional<Sample> &previous, QString *failed) const override
    {
        const std::optional<Motion::Vector> a = accel.read(failed);
        if (!a)
            return std::nullopt;
        Sample s;
        s.timestamp = monotonicMicroseconds();
        auto &v = s.values;
        switch (kind) {
        case Sensor::Orientation: {
            using F = Field::Orientation;
            v[F::value] = Motion::orientation(reaction(*a),
                previous ? KvOrientation::Orientation(previous->values[F::value])
                         : KvOrientation::Undefined);
            break;
        }
        case Sensor::Rotation: {
            using F = Field::Rotation;
            std::optional<MagneticField> f;
            if (!magnetDir.isEmpty() && !(f = magnet.read(failed)))
                return std::nullopt;
            v[F::x] = Motion::pitch(reaction(*a));
            v[F::y] = Motion::roll(reaction(*a));
            v[F::z] = f ? Motion::heading(reaction(*a), f->calibrated) : 0;
            break;
        }
        default: {
            using F = Field::Accelerometer;
            v[F::x] = Iio::whole(a->x);
            v[F::y] = Iio::whole(a->y);
            v[F::z] = Iio::whole(a->z);
            break;
        }
        }
        return s;
    }

private:
    const Sensor kind;
    const Sysfs sysfs;
    const QString accelDir;
    const QString magnetDir; // empty where rotation has no z axis to give
    Accelerometer accel;
    Magnetometer magnet;
    QString why;
};

bool hasAxes(const QString &dir)
{
    for (const char a : { 'x', 'y', 'z' })
        if (!Sysfs::exists(dir + QStringLiteral("/in_accel_%1_raw").arg(QLatin1Char(a)))
            && !Sysfs::exists(dir + QStringLiteral("/in_accel_%1_input").arg(QLatin1Char(a))))
            return false;
    return true;
}

} // namespace

QString findAccelerometer(const Sysfs &sysfs)
{
    // A convertible has one accelerometer in the lid (the display) and one
    // in the base; the screen turns with the display's, as iio-sensor-proxy
    // takes it. The base's alone tells nothing about the screen.
    for (const QString &dir : Iio::devices(sysfs))
        if (hasAxes(dir) && Iio::accelLocation(dir) != "base")
            return dir;
    return QString();
}

QString accelerometerMissing(const Sysfs &sysfs)
{
    return Iio::missingText("accelerometer", sysfs,
        QStringLiteral("in_accel_x_raw, in_accel_y_raw and in_accel_z_raw"));
}

bool Accelerometer::prepare(const Sysfs &sysfs, const QString &dir, QString *failed)
{
    matrix = Iio::accelMountMatrix(dir);
    if (!axes.prepare(dir, QStringLiteral("accel"), failed))
        return false;
    buffer = std::make_unique<Iio::Buffer>();
    if (!buffer->open(sysfs, dir, { "in_accel_x", "in_accel_y", "in_accel_z" })) {
        refusal = buffer->error();
        buffer.reset();
    }
    return true;
}

std::optional<Motion::Vector> Accelerometer::read(QString *failed) const
{
    // The kernel gives m/s².
    std::optional<Motion::Vector> v;
    if (buffer) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (const auto r = buffer->newest())
            lastRecord
                = std::array<double, 3> { double((*r)[0]), double((*r)[1]), double((*r)[2]) };
        if (lastRecord)
            v = axes.convert(*lastRecord);
    }
    if (!v)
        v = axes.read(failed);
    if (!v)
        return std::nullopt;
    const Motion::Vector d = Iio::apply(matrix, *v);
    return Motion::Vector { d.x / standardGravity * 1000, d.y / standardGravity * 1000,
        d.z / standardGravity * 1000 };
}

std::unique_ptr<SensorReader> accelReader(Sensor kind, const Sysfs &sysfs)
{
    return std::make_unique<AccelReader>(kind, sysfs);
}

} // namespace Vorna::Backend
