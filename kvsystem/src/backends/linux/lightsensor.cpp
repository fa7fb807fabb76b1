// Ambient light in lux, from an IIO light sensor: the processed
// in_illuminance[Y]_input where the driver gives it, else the raw value
// converted with its scale and offset, as the IIO ABI defines them.
//
// iio-sensor-proxy 3.0 differs on two points, both against the ABI: it
// multiplies a processed _input by the scale, and it leaves out
// in_illuminance_offset. The library follows the ABI.

#include "iio.h"
#include "sensorreaders.h"

namespace Vorna::Backend {

namespace {

const QString channel = QStringLiteral("illuminance");

class LightReader : public SensorReader
{
public:
    explicit LightReader(const Sysfs &sysfs)
    {
        for (const QString &d : Iio::devices(sysfs))
            if (!Iio::Scalar::find(d, channel).isEmpty()) {
                dir = d;
                break;
            }
        if (dir.isEmpty())
            why = Iio::missingText("ambient light sensor", sysfs,
                QStringLiteral("in_illuminance_input or in_illuminance_raw"));
    }

    QString missing() const override { return why; }
    QString device() const override { return dir; }
    bool prepare(QString *failed) override { return light.prepare(dir, channel, failed); }

    std::optional<Sample> measure(const std::optional<Sample> &, QString *failed) const override
    {
        const std::optional<double> lux = light.read(failed);
        if (!lux)
            return std::nullopt;
        Sample s;
        s.timestamp = monotonicMicroseconds();
        s.values[0] = Iio::whole(*lux);
        return s;
    }

private:
    QString dir;
    Iio::Scalar light;
    QString why;
};

} // namespace

std::unique_ptr<SensorReader> lightReader(const Sysfs &sysfs)
{
    return std::make_unique<LightReader>(sysfs);
}

} // namespace Vorna::Backend
