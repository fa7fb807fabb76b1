// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

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

// Where each kind's fields sit in a reading's values, by the names of its
// row above: values[Field::Magnetometer::rx]. The checks below the list
// hold each name to its row, so a row reordered or renamed stops the build
// instead of swapping values.
namespace Field {
struct Als
{
    enum : size_t { value, count };
};
struct Proximity
{
    enum : size_t { value, count };
};
struct Tap
{
    enum : size_t { firstValue, secondValue, count };
};
struct Orientation
{
    enum : size_t { value, count };
};
struct Rotation
{
    enum : size_t { x, y, z, count };
};
struct Magnetometer
{
    enum : size_t { x, y, z, rx, ry, rz, level, count };
};
struct Compass
{
    enum : size_t { firstValue, secondValue, count };
};
struct Accelerometer
{
    enum : size_t { x, y, z, count };
};
} // namespace Field

constexpr bool sameText(const char *a, const char *b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

// The kind's row names this field at this index.
constexpr bool fieldIs(Sensor kind, size_t index, const char *name)
{
    return index < size_t(describe(kind).fieldCount())
        && sameText(describe(kind).fields[index], name);
}

template <typename Fields> constexpr bool countIs(Sensor kind)
{
    return size_t(describe(kind).fieldCount()) == Fields::count;
}

static_assert(fieldIs(Sensor::Als, Field::Als::value, "value") && countIs<Field::Als>(Sensor::Als));
static_assert(fieldIs(Sensor::Proximity, Field::Proximity::value, "value")
    && countIs<Field::Proximity>(Sensor::Proximity));
static_assert(fieldIs(Sensor::Tap, Field::Tap::firstValue, "firstValue")
    && fieldIs(Sensor::Tap, Field::Tap::secondValue, "secondValue")
    && countIs<Field::Tap>(Sensor::Tap));
static_assert(fieldIs(Sensor::Orientation, Field::Orientation::value, "value")
    && countIs<Field::Orientation>(Sensor::Orientation));
static_assert(fieldIs(Sensor::Rotation, Field::Rotation::x, "x")
    && fieldIs(Sensor::Rotation, Field::Rotation::y, "y")
    && fieldIs(Sensor::Rotation, Field::Rotation::z, "z")
    && countIs<Field::Rotation>(Sensor::Rotation));
static_assert(fieldIs(Sensor::Magnetometer, Field::Magnetometer::x, "x")
    && fieldIs(Sensor::Magnetometer, Field::Magnetometer::y, "y")
    && fieldIs(Sensor::Magnetometer, Field::Magnetometer::z, "z")
    && fieldIs(Sensor::Magnetometer, Field::Magnetometer::rx, "rx")
    && fieldIs(Sensor::Magnetometer, Field::Magnetometer::ry, "ry")
    && fieldIs(Sensor::Magnetometer, Field::Magnetometer::rz, "rz")
    && fieldIs(Sensor::Magnetometer, Field::Magnetometer::level, "level")
    && countIs<Field::Magnetometer>(Sensor::Magnetometer));
static_assert(fieldIs(Sensor::Compass, Field::Compass::firstValue, "firstValue")
    && fieldIs(Sensor::Compass, Field::Compass::secondValue, "secondValue")
    && countIs<Field::Compass>(Sensor::Compass));
static_assert(fieldIs(Sensor::Accelerometer, Field::Accelerometer::x, "x")
    && fieldIs(Sensor::Accelerometer, Field::Accelerometer::y, "y")
    && fieldIs(Sensor::Accelerometer, Field::Accelerometer::z, "z")
    && countIs<Field::Accelerometer>(Sensor::Accelerometer));

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
