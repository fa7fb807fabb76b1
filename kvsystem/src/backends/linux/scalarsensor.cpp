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

#include <QFileInfo>

#include <mutex>

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

// A HID sensor hub's light sensor, which gives in_intensity_both only
// through its buffer (iio-sensor-proxy's drv-iio-buffer-light.c: a device
// named "als" with that scan element, 80-iio-sensor-proxy.rules' test, and
// its trigger als-dev<N>, get_trigger_name()). process_scan() takes the
// newest record's value times the channel's scale, in_intensity_both_scale
// else the generic in_intensity_scale (iioutils_get_param_float()), and
// calls it lux as Windows 8's HID usages do. -1 (no level yet) until the
// first record.
const QString intensityChannel = QStringLiteral("in_intensity_both");

QString findBufferedLight(const Sysfs &sysfs)
{
    for (const QString &d : Iio::devices(sysfs))
        if (Sysfs::read(d + QStringLiteral("/name")) == "als"
            && Sysfs::exists(d + QStringLiteral("/scan_elements/") + intensityChannel + "_en"))
            return d;
    return QString();
}

class BufferedLightReader : public SensorReader
{
public:
    BufferedLightReader(const Sysfs &sysfs, QString dir)
        : sysfs(sysfs)
        , dir(std::move(dir))
    { }

    QString missing() const override { return QString(); }
    QString device() const override { return dir; }

    bool prepare(QString *failed) override
    {
        const auto scaleOf
            = [&](const QString &name) { return Sysfs::readReal(dir + QLatin1Char('/') + name); };
        scale = scaleOf(intensityChannel + QStringLiteral("_scale"))
                    .value_or(scaleOf(QStringLiteral("in_intensity_scale")).value_or(0));
        if (scale == 0)
            scale = 1; // process_scan(): "if (scale)"
        if (buffer.open(sysfs, dir, { intensityChannel }))
            return true;
        if (failed)
            *failed = buffer.error();
        return false;
    }

    std::optional<Sample> measure(const std::optional<Sample> &, QString *) const override
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (const auto r = buffer.newest())
            level = Iio::whole(double((*r)[0]) * scale);
        Sample s;
        s.timestamp = monotonicMicroseconds();
        s.values[Field::Als::value] = level;
        return s;
    }

private:
    const Sysfs sysfs;
    const QString dir;
    double scale = 1;
    mutable Iio::Buffer buffer;
    mutable std::mutex mutex;
    mutable qint32 level = -1;
};

} // namespace

std::unique_ptr<SensorReader> scalarReader(Sensor kind, const Sysfs &sysfs)
{
    auto reader = std::make_unique<ScalarReader>(rowOf(kind), sysfs);
    if (kind == Sensor::Als && !reader->missing().isEmpty())
        if (const QString hub = findBufferedLight(sysfs); !hub.isEmpty())
            return std::make_unique<BufferedLightReader>(sysfs, hub);
    return reader;
}

} // namespace Vorna::Backend
