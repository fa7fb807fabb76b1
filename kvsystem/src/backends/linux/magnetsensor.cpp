// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// What comes from an IIO magnetometer: the field itself in nT and the
// compass heading, tilt compensated with the accelerometer. A machine
// whose sensor hub gives the heading itself, only through its buffer
// (in_rot_from_north_magnetic_tilt_comp, as iio-sensor-proxy 3.0 reads it
// in drv-iio-buffer-compass.c), has the compass that way.

#include "iio.h"
#include "iiobuffer.h"
#include "sensorreaders.h"

#include <QFileInfo>

namespace Vorna::Backend {

namespace {

constexpr double nanoteslaPerGauss = 100000.0;

class MagnetReader : public SensorReader
{
public:
    MagnetReader(Sensor kind, const Sysfs &sysfs)
        : kind(kind)
        , sysfs(sysfs)
        , accelDir(kind == Sensor::Compass ? findAccelerometer(sysfs) : QString())
        , magnetDir(findMagnetometer(sysfs))
    {
        // The compass names the accelerometer first when both are missing.
        if (kind == Sensor::Compass && accelDir.isEmpty())
            why = accelerometerMissing(sysfs);
        else if (magnetDir.isEmpty())
            why = magnetometerMissing(sysfs);
    }

    QString missing() const override { return why; }
    QString device() const override
    {
        return accelDir.isEmpty() ? magnetDir : accelDir + QStringLiteral(" and ") + magnetDir;
    }

    bool prepare(QString *failed) override
    {
        return (accelDir.isEmpty() || accel.prepare(sysfs, accelDir, failed))
            && magnet.prepare(magnetDir, failed);
    }

    std::optional<Sample> measure(const std::optional<Sample> &, QString *failed) const override
    {
        std::optional<Motion::Vector> a;
        if (kind == Sensor::Compass && !(a = accel.read(failed)))
            return std::nullopt;
        const std::optional<MagneticField> f = magnet.read(failed);
        if (!f)
            return std::nullopt;
        Sample s;
        s.timestamp = monotonicMicroseconds();
        auto &v = s.values;
        if (kind == Sensor::Compass) {
            using F = Field::Compass;
            // The heading takes the reaction to gravity: the reading turned round.
            v[F::firstValue] = Motion::heading({ -a->x, -a->y, -a->z }, f->calibrated);
            v[F::secondValue] = f->level;
        } else {
            using F = Field::Magnetometer;
            v[F::x] = Iio::whole(f->calibrated.x);
            v[F::y] = Iio::whole(f->calibrated.y);
            v[F::z] = Iio::whole(f->calibrated.z);
            v[F::rx] = Iio::whole(f->raw.x);
            v[F::ry] = Iio::whole(f->raw.y);
            v[F::rz] = Iio::whole(f->raw.z);
            v[F::level] = f->level;
        }
        return s;
    }

private:
    const Sensor kind;
    const Sysfs sysfs;
    const QString accelDir; // the compass's only
    const QString magnetDir;
    Accelerometer accel;
    Magnetometer magnet;
    QString why;
};

const QString headingChannel = QStringLiteral("in_rot_from_north_magnetic_tilt_comp");

QString findHeading(const Sysfs &sysfs)
{
    return Iio::findDevice(sysfs, { QStringLiteral("scan_elements/") + headingChannel + "_en" });
}

// The hub's own heading, in degrees once scaled; -1 (no direction) until
// its first record.
class HeadingReader : public SensorReader
{
public:
    HeadingReader(const Sysfs &sysfs, QString dir)
        : sysfs(sysfs)
        , dir(std::move(dir))
    { }

    QString missing() const override { return QString(); }
    QString device() const override { return dir; }

    bool prepare(QString *failed) override
    {
        // iio-buffer-utils.c, iioutils_get_param_float(): the channel's
        // scale, else the generic in_rot_scale.
        const auto scaleOf
            = [&](const QString &name) { return Sysfs::readReal(dir + QLatin1Char('/') + name); };
        scale = scaleOf(headingChannel + QStringLiteral("_scale"))
                    .value_or(scaleOf(QStringLiteral("in_rot_scale")).value_or(1.0));
        if (buffer.open(sysfs, dir, { headingChannel }))
            return true;
        if (failed)
            *failed = buffer.error();
        return false;
    }

    std::optional<Sample> measure(const std::optional<Sample> &, QString *) const override
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (const auto r = buffer.newest())
            heading = ((Iio::whole((*r)[0] * scale) % 360) + 360) % 360;
        Sample s;
        s.timestamp = monotonicMicroseconds();
        s.values[Field::Compass::firstValue] = heading;
        s.values[Field::Compass::secondValue] = 0; // the kernel tells no calibration
        return s;
    }

private:
    const Sysfs sysfs;
    const QString dir;
    double scale = 1;
    mutable Iio::Buffer buffer;
    mutable std::mutex mutex;
    mutable int heading = -1;
};

} // namespace

QString findMagnetometer(const Sysfs &sysfs)
{
    return Iio::findDevice(sysfs, Iio::axisFiles(QStringLiteral("magn")));
}

QString magnetometerMissing(const Sysfs &sysfs)
{
    return Iio::missingText(
        "magnetometer", sysfs, QStringLiteral("in_magn_x_raw, in_magn_y_raw and in_magn_z_raw"));
}

bool Magnetometer::prepare(const QString &dir, QString *failed)
{
    return axes.prepare(dir, QStringLiteral("magn"), failed);
}

std::optional<MagneticField> Magnetometer::read(QString *failed) const
{
    // The kernel gives Gauss, (raw + offset) × scale: the offset is part
    // of the unit conversion (HID magnetometers always have one), not a
    // calibration. The kernel tells nothing of calibration, so the field
    // is given as measured, both ways, at level 0.
    const std::optional<Motion::Vector> g = axes.read(failed);
    if (!g)
        return std::nullopt;
    const Motion::Vector nt { g->x * nanoteslaPerGauss, g->y * nanoteslaPerGauss,
        g->z * nanoteslaPerGauss };
    return MagneticField { nt, nt, 0 };
}

std::unique_ptr<SensorReader> magnetReader(Sensor kind, const Sysfs &sysfs)
{
    if (kind == Sensor::Compass && findMagnetometer(sysfs).isEmpty())
        if (const QString hub = findHeading(sysfs); !hub.isEmpty())
            return std::make_unique<HeadingReader>(sysfs, hub);
    return std::make_unique<MagnetReader>(kind, sysfs);
}

} // namespace Vorna::Backend
