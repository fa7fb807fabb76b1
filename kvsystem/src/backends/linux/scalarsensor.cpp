// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Light and proximity: one value from one IIO channel, a row each.
//
// Light is in lux: the processed in_illuminance[Y]_input where the driver
// gives it, else the raw value converted with its (index's own, else the
// channel's) scale and offset, as the IIO ABI defines them. Proximity is
// the driver's raw in_proximity_raw count as it is (larger is nearer): the
// level that counts as near, udev's PROXIMITY_NEAR_LEVEL or the driver's
// in_proximity_nearlevel, is given in those counts, so a program compares
// the value with it as iio-sensor-proxy does.

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
    // iio-sensor-proxy 3.0 (80-iio-sensor-proxy.rules, drv-iio-poll-proximity.c,
    // poll_proximity()): in_proximity_raw only, the near level in its counts. An
    // indexed in_proximity0_raw alone is a Chromebook's SAR sensor (how near a
    // body is to the antenna), no face proximity.
    { Sensor::Proximity, "proximity", Iio::Channel::RawCounts, false, "proximity sensor",
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
