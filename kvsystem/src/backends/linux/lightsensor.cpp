// Ambient light in lux, from an IIO light sensor: the processed
// in_illuminance_input where the driver gives it, else the raw value
// converted with its scale and offset.

#include "iio.h"
#include "sensorreaders.h"

namespace Vorna::Backend {

namespace {

class LightReader : public SensorReader
{
public:
    explicit LightReader(const Sysfs &sysfs)
        : dir(Iio::findDevice(sysfs, { QStringLiteral("in_illuminance_input") }))
    {
        if (dir.isEmpty())
            dir = Iio::findDevice(sysfs, { QStringLiteral("in_illuminance_raw") });
        if (dir.isEmpty())
            why = Iio::missingText("ambient light sensor", sysfs,
                QStringLiteral("in_illuminance_input or in_illuminance_raw"));
    }

    QString missing() const override { return why; }

    std::optional<Sample> measure(const std::optional<Sample> &, QString *failed) const override
    {
        const std::optional<double> lux = this->lux(failed);
        if (!lux)
            return std::nullopt;
        Sample s;
        s.timestamp = monotonicMicroseconds();
        s.values[0] = Iio::whole(*lux);
        return s;
    }

private:
    std::optional<double> lux(QString *failed) const
    {
        const Iio::Device d(dir, failed);
        if (d.has(QStringLiteral("in_illuminance_input")))
            return d.real(QStringLiteral("in_illuminance_input"));
        const std::optional<double> raw = d.real(QStringLiteral("in_illuminance_raw"));
        const std::optional<double> scale
            = raw ? d.realOr(QStringLiteral("in_illuminance_scale"), 1.0) : std::nullopt;
        const std::optional<double> offset
            = scale ? d.realOr(QStringLiteral("in_illuminance_offset"), 0.0) : std::nullopt;
        if (!offset)
            return std::nullopt;
        return (*raw + *offset) * *scale;
    }

    QString dir;
    QString why;
};

} // namespace

std::unique_ptr<SensorReader> lightReader(const Sysfs &sysfs)
{
    return std::make_unique<LightReader>(sysfs);
}

} // namespace Vorna::Backend
