// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_HANDSETBUS_H
#define KVSYSTEM_SRC_HANDSETBUS_H

// The shared handset on the session bus: the service's name, its object and
// interface, and the one table of what the handset holds. The service, the
// programs that join it and the console all read this file, and what comes
// off the bus is checked here against the table. Plain Qt Core: the
// programs that do not join never load D-Bus code for it.

#include "backend.h"
#include "sensors.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include <climits>
#include <optional>

namespace Vorna::Backend::HandsetBus {

inline const char serviceName[] = "org.vorna.KvSystem2.Handset";
inline const char objectPath[] = "/org/vorna/KvSystem2/Handset";
inline const char interfaceName[] = "org.vorna.KvSystem2.Handset";
// Set(as names, ai values): changes values, each name followed by its
// fields in values. Replies nothing, or the error below.
inline const char setMethod[] = "Set";
// State() -> (as names, ai values): every value the handset holds now.
inline const char stateMethod[] = "State";
// Play(ay scenario): plays a scenario's timeline into the handset.
inline const char playMethod[] = "Play";
// Changed(as names, ai values): what changed, as Set() carries it.
inline const char changedSignal[] = "Changed";
inline const char invalidError[] = "org.vorna.KvSystem2.Handset.Error.InvalidArgs";

// What the handset holds. The sensors come first, numbered as the Sensor
// enumeration numbers them, named by their scenario keys.
enum class Property {
    Als = int(Sensor::Als),
    Proximity = int(Sensor::Proximity),
    Tap = int(Sensor::Tap),
    Orientation = int(Sensor::Orientation),
    Rotation = int(Sensor::Rotation),
    Magnetometer = int(Sensor::Magnetometer),
    Compass = int(Sensor::Compass),
    Accelerometer = int(Sensor::Accelerometer),
    DisplayState,
    Brightness,
    SystemState,
    Activity,
    Thermal,
    DeviceMode,
    BatteryPercentage,
    BatteryVoltage,
    BatteryCurrent,
    Charger,
    BatteryClock
};
constexpr int PropertyCount = int(Property::BatteryClock) + 1;

enum class Behaviour {
    Held, // a state: the handset keeps the last value
    Event, // something that happens (a tap, an indication): delivered, not kept
    ServiceOnly // the service says it; nobody sets it
};

// A battery value that is not held follows the battery model.
constexpr qint32 followsModel = INT_MIN;

struct PropertyDescription
{
    Property property;
    const char *name; // null for a sensor: its scenario key
    int fields; // 0 for a sensor: its reading's fields
    qint32 min; // each field's range
    qint32 max;
    Behaviour behaviour;
    bool battery = false; // may also be followsModel
};

inline constexpr PropertyDescription propertyTable[PropertyCount] = {
    { Property::Als, nullptr, 0, 0, 1000000, Behaviour::Held },
    { Property::Proximity, nullptr, 0, 0, 1, Behaviour::Held },
    { Property::Tap, nullptr, 0, 0, 2, Behaviour::Event },
    { Property::Orientation, nullptr, 0, 0, 6, Behaviour::Held },
    { Property::Rotation, nullptr, 0, -360, 360, Behaviour::Held },
    { Property::Magnetometer, nullptr, 0, -10000000, 10000000, Behaviour::Held },
    { Property::Compass, nullptr, 0, 0, 359, Behaviour::Held },
    { Property::Accelerometer, nullptr, 0, -160000, 160000, Behaviour::Held },
    { Property::DisplayState, "displayState", 1, -1, 1, Behaviour::Held },
    { Property::Brightness, "brightness", 1, 0, 100, Behaviour::Held },
    { Property::SystemState, "systemState", 1, 0, 6, Behaviour::Event },
    { Property::Activity, "activity", 1, 0, 1, Behaviour::Held },
    { Property::Thermal, "thermal", 1, 0, 3, Behaviour::Held },
    { Property::DeviceMode, "deviceMode", 1, -1, 1, Behaviour::Held },
    { Property::BatteryPercentage, "battery.percentage", 1, 0, 100, Behaviour::Held, true },
    { Property::BatteryVoltage, "battery.voltage", 1, 0, 10000, Behaviour::Held, true },
    { Property::BatteryCurrent, "battery.current", 1, -20000, 20000, Behaviour::Held, true },
    { Property::Charger, "battery.charger", 1, -1, 3, Behaviour::Held, true },
    // Seconds the battery model has run: the joined programs run the same model.
    { Property::BatteryClock, "battery.clock", 1, 0, INT_MAX, Behaviour::ServiceOnly },
};

constexpr bool tableFollowsEnum()
{
    for (int i = 0; i < PropertyCount; ++i)
        if (propertyTable[i].property != Property(i))
            return false;
    for (int i = 0; i < SensorCount; ++i)
        if (propertyTable[i].name || propertyTable[i].fields)
            return false;
    return true;
}
static_assert(tableFollowsEnum(), "one row per Property in enum order; sensors first, unnamed");

QString propertyName(Property property);
int fieldCount(Property property);
std::optional<Property> propertyNamed(const QString &name);
inline bool isSensor(Property property)
{
    return int(property) < SensorCount;
}

struct Value
{
    Property property;
    QVector<qint32> fields;
    bool operator==(const Value &o) const { return property == o.property && fields == o.fields; }
};

// Why a field is refused ("N is out of range (MIN to MAX)"), or empty
// when it is in the property's range.
QString checkField(Property property, qint64 field);

// The values of a Set() call or a Changed() signal, from the message's
// arguments (as names, ai values): each name known, as many fields as its
// row says, all in range, nothing left over. None, and the reason in
// *error, otherwise; the reason quotes what it refuses, escaped.
std::optional<QVector<Value>> decode(const QVariantList &arguments, QString *error);

// The arguments for a Set() call or a Changed() signal.
QVariantList encode(const QVector<Value> &values);

// A scenario file's bytes for Play(): a regular file, opened without
// blocking (a FIFO is refused, never waited on), of at most
// maxScenarioBytes. None, and why, otherwise.
std::optional<QByteArray> readScenarioFile(const QByteArray &path, QString *error);

} // namespace Vorna::Backend::HandsetBus

#endif
