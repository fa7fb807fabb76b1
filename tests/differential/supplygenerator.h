// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_DIFFERENTIAL_SUPPLYGENERATOR_H
#define TESTS_DIFFERENTIAL_SUPPLYGENERATOR_H

// Random but plausible power supply trees, the same for the same seed on
// every machine: one to three system batteries with any subset of the
// kernel's attributes (values at 0, tiny, ordinary, huge, negative or not
// a number), every health word of the ABI, gauges without status, with
// only a capacity_level, or counting charge_counter only; packs stopped by
// charge thresholds, or one charging while another discharges; peripherals
// (a mouse, game controllers, a tablet pen whose battery has type USB
// beside its own Mains supply of scope Device), a bay without its pack, a
// charger that registers as type Battery; and up to three chargers with
// the words of desktop, Android and ChromeOS kernels, online 0, 1 or 2 (a
// programmable USB-PD source), or without an online file. A tree is a list
// of DeviceTable devices, so that a machine that matters becomes a row of
// devicetable.h as it is printed (row()).

#include "devicetable.h"

#include <QStringList>
#include <QVector>

#include <algorithm>

namespace SupplyGenerator {

// splitmix64: small, seedable, and the same everywhere (the standard
// library's distributions are not).
class Random
{
public:
    explicit Random(quint64 seed) : state(seed) { }
    quint64 next()
    {
        quint64 z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % quint64(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T> const T &pick(std::initializer_list<T> list)
    {
        return *(list.begin() + below(int(list.size())));
    }

private:
    quint64 state;
};

// A value of an attribute whose ordinary values lie in [low, high]; empty
// for a missing attribute.
inline QString value(Random &r, qint64 low, qint64 high)
{
    switch (r.below(20)) {
    case 0:
        return QString();
    case 1:
        return QStringLiteral("0");
    case 2:
        return QString::number(1 + r.below(int(std::clamp<qint64>(low, 1, 20000))));
    case 3:
        return QString::number(high * (2 + r.below(200)));
    case 4:
        return QString::number(-(low + qint64(r.next() % quint64(high - low + 1))));
    case 5:
        // Text that is no number is rare: drivers write numbers.
        if (r.chance(10))
            return r.pick({ QStringLiteral("n/a"), QStringLiteral("0x10"), QStringLiteral("") });
        return QString::number(low);
    default:
        return QString::number(low + qint64(r.next() % quint64(high - low + 1)));
    }
}

// Documentation/ABI/testing/sysfs-class-power, health.
inline const QStringList &healthWords()
{
    static const QStringList words { "Unknown", "Good", "Overheat", "Dead", "Over voltage",
        "Under voltage", "Unspecified failure", "Cold", "Watchdog timer expire",
        "Safety timer expire", "Over current", "Calibration required", "Warm", "Cool", "Hot",
        "No battery", "Blown fuse", "Cell imbalance" };
    return words;
}

inline QString status(Random &r)
{
    return r.pick({ QStringLiteral("Charging"), QStringLiteral("Discharging"),
        QStringLiteral("Full"), QStringLiteral("Not charging"), QStringLiteral("Unknown"),
        QStringLiteral("Empty") });
}

// A phone's fuel gauge that counts charge_counter only (µAh), gives a
// negative current while charging and voltage_max instead of a design
// voltage.
inline QStringList counterGauge(Random &r)
{
    const bool charging = r.chance(50);
    return { "type=Battery", charging ? "status=Charging" : "status=Discharging",
        QStringLiteral("charge_counter=%1").arg(100000 + r.below(4000000)),
        QStringLiteral("current_now=%1").arg(-(10000 + r.below(3000000))),
        QStringLiteral("voltage_max=%1").arg(4200000 + r.below(400000)),
        QStringLiteral("voltage_now=%1").arg(3400000 + r.below(900000)),
        QStringLiteral("capacity=%1").arg(r.below(101)) };
}

inline QStringList battery(Random &r, const QString &givenStatus = QString())
{
    if (r.chance(4))
        return { "type=Battery", "status=" + status(r),
            "capacity_level="
                + r.pick({ QStringLiteral("Normal"), QStringLiteral("Low"),
                    QStringLiteral("Critical"), QStringLiteral("High"), QStringLiteral("Full") }) };
    if (r.chance(5))
        return counterGauge(r);
    QStringList a { "type=Battery" };
    if (r.chance(10))
        a << QStringLiteral("present=%1").arg(r.below(2));
    if (r.chance(30))
        a << "scope=System";
    if (!givenStatus.isEmpty())
        a << "status=" + givenStatus;
    else if (!r.chance(8)) // a gauge without status
        a << "status=" + status(r);
    if (r.chance(30))
        a << "health=" + healthWords().at(r.below(int(healthWords().size())));
    const bool energy = r.chance(50), charge = !energy || r.chance(15);
    struct Range
    {
        const char *name;
        qint64 low, high;
        int percent; // how often the attribute is there
    };
    const QVector<Range> ranges {
        { "energy_now", 100000, 90000000, energy ? 90 : 5 },
        { "energy_full", 10000000, 90000000, energy ? 85 : 5 },
        { "energy_full_design", 10000000, 90000000, energy ? 70 : 5 },
        { "energy_avg", 100000, 90000000, 5 },
        { "charge_now", 10000, 6000000, charge ? 90 : 5 },
        { "charge_full", 500000, 6000000, charge ? 85 : 5 },
        { "charge_full_design", 500000, 6000000, charge ? 70 : 5 },
        { "charge_avg", 10000, 6000000, 5 },
        { "power_now", 100000, 60000000, energy ? 75 : 20 },
        { "current_now", 10000, 4000000, charge ? 85 : 30 },
        { "current_avg", 10000, 4000000, 30 },
        { "voltage_now", 3000000, 17000000, 80 },
        { "voltage_max_design", 3800000, 17400000, 35 },
        { "voltage_min_design", 3000000, 15000000, 35 },
        { "capacity", 0, 100, 60 },
        { "charge_counter", 10000, 6000000, 15 },
        { "time_to_empty_now", 60, 90000, 15 },
        { "time_to_full_now", 60, 90000, 15 },
    };
    for (const Range &g : ranges) {
        if (!r.chance(g.percent))
            continue;
        const QString v = value(r, g.low, g.high);
        if (!v.isNull())
            a << QLatin1String(g.name) + '=' + v;
    }
    if (r.chance(40))
        a << "capacity_level="
                + r.pick({ QStringLiteral("Normal"), QStringLiteral("Low"),
                    QStringLiteral("Critical"), QStringLiteral("High"), QStringLiteral("Full"),
                    QStringLiteral("Unknown") });
    return a;
}

// A device's own supplies: scope Device, never the machine's.
inline QVector<DeviceTable::SysDevice> peripheral(Random &r)
{
    const QString level = QStringLiteral("capacity=%1").arg(r.below(101));
    switch (r.below(3)) {
    case 0:
        return { DeviceTable::supply("hid-mouse-battery", DeviceTable::mouse()) };
    case 1: // a game controller
        return { DeviceTable::supply(
            r.pick({ QStringLiteral("sony_controller_battery_00:11:22:33:44:55"),
                QStringLiteral("ps-controller-battery-00:11:22:33:44:56"),
                QStringLiteral("xpadneo-battery-1") }),
            { "type=Battery", "scope=Device", "status=" + status(r), level }) };
    default: // a tablet pen: its battery of type USB beside its own charger
        return { DeviceTable::supply("wacom_battery_0",
                     { "type=USB", "scope=Device", "status=" + status(r), level }),
            DeviceTable::supply("wacom_ac_0",
                { "type=Mains", "scope=Device", QStringLiteral("online=%1").arg(r.below(2)) }) };
    }
}

inline QVector<DeviceTable::SysDevice> charger(Random &r, int i)
{
    // Desktops', Android's and ChromeOS's words.
    const QString type = r.pick({ QStringLiteral("Mains"), QStringLiteral("USB"),
        QStringLiteral("Wireless"), QStringLiteral("USB_HVDCP"), QStringLiteral("USB_HVDCP_3"),
        QStringLiteral("USB_FLOAT"), QStringLiteral("USB_CDP"), QStringLiteral("USB_DCP"),
        QStringLiteral("Wipower"), QStringLiteral("Unknown"), QStringLiteral("USB_C"),
        QStringLiteral("BrickID"), QStringLiteral("USB_PD"), QStringLiteral("USB_PD_DRP") });
    QStringList a { "type=" + type };
    if (!r.chance(8)) // a supply without an online file
        a << QStringLiteral("online=%1").arg(r.chance(8) ? 2 : r.below(2));
    if (type == "USB" && r.chance(50))
        a << "usb_type=[SDP] DCP CDP";
    return { DeviceTable::supply(type.toLower() + QString::number(i), a) };
}

inline QVector<DeviceTable::SysDevice> machine(quint64 seed)
{
    Random r(seed);
    QVector<DeviceTable::SysDevice> devices;
    const int batteries = 1 + (r.chance(25) ? 1 + r.below(2) : 0);
    // Two packs whose combined state hangs on their order, or stopped by
    // charge thresholds: Not charging beside Full or Unknown.
    QStringList statuses;
    if (batteries > 1 && r.chance(50))
        statuses = r.chance(50) ? QStringList { "Charging", "Discharging", "Not charging" }
                                : QStringList { "Not charging", r.chance(50) ? "Full" : "Unknown",
                                      "Full" };
    if (r.chance(50))
        std::reverse(statuses.begin(), statuses.end());
    for (int i = 0; i < batteries; ++i)
        devices << DeviceTable::supply(
            QStringLiteral("BAT%1").arg(i), battery(r, statuses.value(i)));
    if (r.chance(15))
        devices << peripheral(r);
    if (r.chance(3)) // a charger that registers as type Battery
        devices << DeviceTable::supply(
            "dc-charger", { "type=Battery", QStringLiteral("online=%1").arg(r.below(2)) });
    const int chargers = r.below(4);
    for (int i = 0; i < chargers; ++i)
        devices << charger(r, i);
    return devices;
}

// The machine as C++ text for devicetable.h's machines(), with our answers
// as the expected values (check them by hand before adding the row).
inline QString row(quint64 seed, const QVector<DeviceTable::SysDevice> &devices,
    const QVector<int> &ours)
{
    QStringList supplies;
    for (const DeviceTable::SysDevice &d : devices) {
        QStringList quoted;
        for (const QString &a : d.attributes)
            quoted << '"' + a + '"';
        supplies << QStringLiteral("supply(\"%1\", { %2 })").arg(d.name, quoted.join(", "));
    }
    QStringList values;
    for (int v : ours)
        values << QString::number(v);
    return QStringLiteral("        { \"generated machine %1: <what it shows>\",\n"
                          "            { %2 },\n            { %3 } },\n")
        .arg(seed)
        .arg(supplies.join(",\n                "), values.join(", "));
}

} // namespace SupplyGenerator

#endif
