// Light and proximity: one value from one IIO channel, a row each. Light
// is in lux: the processed in_illuminance[Y]_input where the driver gives
// it, else the raw value converted with its scale and offset, as the IIO
// ABI defines them. Proximity (in_proximity[Y]_raw or _input) is the
// driver's value: larger is nearer.

#include "iio.h"
#include "sensorreaders.h"

namespace Vorna::Backend {

namespace {

struct ScalarKind
{
    Sensor kind;
    const char *channel; // in_<channel>[Y]_{input,raw}
    Iio::Channel::Reading reading;
    bool indexed;
    const char *what; // the sensor in a refusal
    const char *files; // what the refusal says it looks for
    size_t field;
};

constexpr ScalarKind scalarKinds[] = {
    { Sensor::Als, "illuminance", Iio::Channel::Converted, true, "ambient light sensor",
        "in_illuminance_input or in_illuminance_raw", Field::Als::value },
    { Sensor::Proximity, "proximity", Iio::Channel::Converted, true, "proximity sensor",
        "in_proximity_raw", Field::Proximity::value },
};

const ScalarKind &rowOf(Sensor kind)
{
    for (const ScalarKind &row : scalarKinds)
        if (row.kind == kind)
            return row;
    Q_UNREACHABLE();
    return scalarKinds[0];
}

class ScalarReader : public SensorReader
{
public:
    ScalarReader(const ScalarKind &row, const Sysfs &sysfs)
        : row(row)
        , channel { QLatin1String(row.channel), row.reading, row.indexed }
    {
        for (const QString &d : Iio::devices(sysfs))
            if (!Iio::Scalar::find(d, channel).isEmpty()) {
                dir = d;
                break;
            }
        if (dir.isEmpty())
            why = Iio::missingText(row.what, sysfs, QLatin1String(row.files));
    }

    QString missing() const override { return why; }
    QString device() const override { return dir; }
    bool prepare(QString *failed) override { return scalar.prepare(dir, channel, failed); }

    std::optional<Sample> measure(const std::optional<Sample> &, QString *failed) const override
    {
        const std::optional<double> v = scalar.read(failed);
        if (!v)
            return std::nullopt;
        Sample s;
        s.timestamp = monotonicMicroseconds();
        s.values[row.field] = Iio::whole(*v);
        return s;
    }

private:
    const ScalarKind &row;
    const Iio::Channel channel;
    QString dir;
    Iio::Scalar scalar;
    QString why;
};

} // namespace

std::unique_ptr<SensorReader> scalarReader(Sensor kind, const Sysfs &sysfs)
{
    return std::make_unique<ScalarReader>(rowOf(kind), sysfs);
}

} // namespace Vorna::Backend
