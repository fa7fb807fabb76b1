// What comes from an IIO magnetometer: the field itself in nT, calibrated
// and raw, and the compass heading, tilt compensated with the accelerometer.

#include "iio.h"
#include "sensorreaders.h"

namespace Vorna::Backend {

namespace {

constexpr double nanoteslaPerGauss = 100000.0;

class MagnetReader : public SensorReader
{
public:
    MagnetReader(Sensor kind, const Sysfs &sysfs)
        : kind(kind)
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

    std::optional<Sample> measure(const std::optional<Sample> &, QString *failed) const override
    {
        std::optional<Motion::Vector> a;
        if (kind == Sensor::Compass && !(a = acceleration(accelDir, failed)))
            return std::nullopt;
        const std::optional<MagneticField> f = magneticField(magnetDir, failed);
        if (!f)
            return std::nullopt;
        Sample s;
        s.timestamp = monotonicMicroseconds();
        auto &v = s.values;
        if (kind == Sensor::Compass) {
            v[0] = Motion::heading(*a, f->calibrated);
            v[1] = f->level;
        } else {
            v = { Iio::whole(f->calibrated.x), Iio::whole(f->calibrated.y),
                Iio::whole(f->calibrated.z), Iio::whole(f->raw.x), Iio::whole(f->raw.y),
                Iio::whole(f->raw.z), f->level };
        }
        return s;
    }

private:
    const Sensor kind;
    const QString accelDir; // the compass's only
    const QString magnetDir;
    QString why;
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

std::optional<MagneticField> magneticField(const QString &dir, QString *failed)
{
    // The kernel gives Gauss.
    const Iio::Device d(dir, failed);
    const std::optional<Motion::Vector> calibrated = d.vector(QStringLiteral("magn"), true);
    const std::optional<Motion::Vector> raw
        = calibrated ? d.vector(QStringLiteral("magn"), false) : std::nullopt;
    if (!raw)
        return std::nullopt;
    const auto nt = [](const Motion::Vector &g) {
        return Motion::Vector { g.x * nanoteslaPerGauss, g.y * nanoteslaPerGauss,
            g.z * nanoteslaPerGauss };
    };
    // Offsets in the driver mean the sensor is calibrated; without them
    // nothing has calibrated it.
    const bool offsets
        = d.has(QStringLiteral("in_magn_x_offset")) || d.has(QStringLiteral("in_magn_offset"));
    return MagneticField { nt(*calibrated), nt(*raw), offsets ? 3 : 0 };
}

std::unique_ptr<SensorReader> magnetReader(Sensor kind, const Sysfs &sysfs)
{
    return std::make_unique<MagnetReader>(kind, sysfs);
}

} // namespace Vorna::Backend
