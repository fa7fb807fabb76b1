// Proximity from an IIO proximity sensor (in_proximity[Y]_raw or _input),
// as the driver gives it: larger is nearer. What counts as near is the
// driver's in_proximity_nearlevel or udev's PROXIMITY_NEAR_LEVEL, as for
// iio-sensor-proxy; the reading carries the value itself.

#include "iio.h"
#include "sensorreaders.h"

namespace Vorna::Backend {

namespace {

const QString channel = QStringLiteral("proximity");

class ProximityReader : public SensorReader
{
public:
    explicit ProximityReader(const Sysfs &sysfs)
    {
        for (const QString &d : Iio::devices(sysfs))
            if (!Iio::Scalar::find(d, channel).isEmpty()) {
                dir = d;
                break;
            }
        if (dir.isEmpty())
            why = Iio::missingText("proximity sensor", sysfs, QStringLiteral("in_proximity_raw"));
    }

    QString missing() const override { return why; }
    QString device() const override { return dir; }
    bool prepare(QString *failed) override { return proximity.prepare(dir, channel, failed); }

    std::optional<Sample> measure(const std::optional<Sample> &, QString *failed) const override
    {
        const std::optional<double> p = proximity.read(failed);
        if (!p)
            return std::nullopt;
        Sample s;
        s.timestamp = monotonicMicroseconds();
        s.values[0] = Iio::whole(*p);
        return s;
    }

private:
    QString dir;
    Iio::Scalar proximity;
    QString why;
};

} // namespace

std::unique_ptr<SensorReader> proximityReader(const Sysfs &sysfs)
{
    return std::make_unique<ProximityReader>(sysfs);
}

} // namespace Vorna::Backend
