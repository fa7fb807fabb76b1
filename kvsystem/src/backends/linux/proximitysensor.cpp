// Proximity from an IIO proximity sensor's raw value, as the driver gives it.

#include "iio.h"
#include "sensorreaders.h"

namespace Vorna::Backend {

namespace {

class ProximityReader : public SensorReader
{
public:
    explicit ProximityReader(const Sysfs &sysfs)
        : dir(Iio::findDevice(sysfs, { QStringLiteral("in_proximity_raw") }))
    {
        if (dir.isEmpty())
            why = Iio::missingText("proximity sensor", sysfs, QStringLiteral("in_proximity_raw"));
    }

    QString missing() const override { return why; }

    std::optional<Sample> measure(const std::optional<Sample> &, QString *failed) const override
    {
        const std::optional<double> p
            = Iio::Device(dir, failed).real(QStringLiteral("in_proximity_raw"));
        if (!p)
            return std::nullopt;
        Sample s;
        s.timestamp = monotonicMicroseconds();
        s.values[0] = Iio::whole(*p);
        return s;
    }

private:
    const QString dir;
    QString why;
};

} // namespace

std::unique_ptr<SensorReader> proximityReader(const Sysfs &sysfs)
{
    return std::make_unique<ProximityReader>(sysfs);
}

} // namespace Vorna::Backend
