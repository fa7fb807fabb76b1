#ifndef KVSYSTEM_SRC_SENSORS_H
#define KVSYSTEM_SRC_SENSORS_H

// The eight sensor kinds, one row each: how a scenario file names the
// sensor and its reading's fields, how often the virtual handset reports,
// and whether readings go out only when they change. The scenario parser,
// the virtual handset, the Linux sensors, the call trace and the sensor
// classes all read this table; a new sensor kind is one row here plus its
// own maths in each backend.

#include <array>
#include <cstddef>

namespace Vorna::Backend {

enum class Sensor {
    Als,
    Proximity,
    Tap,
    Orientation,
    Rotation,
    Magnetometer,
    Compass,
    Accelerometer
};
constexpr int SensorCount = int(Sensor::Accelerometer) + 1;

// The most fields a reading record has after its time stamp (the magnetometer's).
constexpr int MaxSampleFields = 7;

enum class Reporting {
    OnChange, // a reading goes out when the value differs from the last one
    EveryReading // every measurement (or event) goes out
};

struct SensorDescription
{
    Sensor kind;
    const char *key; // the sensor's section in a scenario file
    // The reading record's fields after its time stamp, in record order.
    std::array<const char *, MaxSampleFields> fields;
    int virtualPeriodMs; // how often the virtual handset reports
    Reporting reporting;
    // The class also reads the value now, started or not (rotation(),
    // magneticField()).
    bool readsCurrent = false;

    constexpr int fieldCount() const
    {
        int n = 0;
        while (n < MaxSampleFields && fields[size_t(n)])
            ++n;
        return n;
    }
};

inline constexpr std::array<SensorDescription, SensorCount> sensorTable { {
    { Sensor::Als, "als", { "value" }, 500, Reporting::OnChange },
    { Sensor::Proximity, "proximity", { "value" }, 500, Reporting::OnChange },
    { Sensor::Tap, "tap", { "firstValue", "secondValue" }, 1000, Reporting::EveryReading },
    { Sensor::Orientation, "orientation", { "value" }, 500, Reporting::OnChange },
    { Sensor::Rotation, "rotation", { "x", "y", "z" }, 100, Reporting::EveryReading, true },
    { Sensor::Magnetometer, "magnetometer", { "x", "y", "z", "rx", "ry", "rz", "level" }, 100,
        Reporting::EveryReading, true },
    { Sensor::Compass, "compass", { "firstValue", "secondValue" }, 100, Reporting::EveryReading },
    { Sensor::Accelerometer, "accelerometer", { "x", "y", "z" }, 100, Reporting::EveryReading },
} };

constexpr const SensorDescription &describe(Sensor kind)
{
    return sensorTable[size_t(kind)];
}

constexpr bool tableFollowsEnum()
{
    for (int i = 0; i < SensorCount; ++i)
        if (sensorTable[size_t(i)].kind != Sensor(i) || sensorTable[size_t(i)].fieldCount() == 0)
            return false;
    return true;
}
static_assert(tableFollowsEnum(), "one row per Sensor, in enum order, each with a field");

} // namespace Vorna::Backend

#endif
