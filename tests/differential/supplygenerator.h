// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_DIFFERENTIAL_SUPPLYGENERATOR_H
#define TESTS_DIFFERENTIAL_SUPPLYGENERATOR_H

// Random but plausible power supply trees, the same for the same seed on
// every machine: one to three system batteries with any subset of the
// kernel's attributes (values at 0, tiny, ordinary, huge, negative or not
// a number), perhaps a mouse's battery or a bay without its pack, and up to
// three chargers (mains, USB, wireless) online or not. A tree is a list of
// DeviceTable devices, so that a machine that matters becomes a row of
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

inline QStringList battery(Random &r)
{
    QStringList a { "type=Battery" };
    if (r.chance(10))
        a << QStringLiteral("present=%1").arg(r.below(2));
    if (r.chance(30))
        a << "scope=System";
    a << "status="
            + r.pick({ QStringLiteral("Charging"), QStringLiteral("Discharging"),
                QStringLiteral("Full"), QStringLiteral("Not charging"), QStringLiteral("Unknown"),
                QStringLiteral("Empty") });
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

inline QVector<DeviceTable::SysDevice> machine(quint64 seed)
{
    Random r(seed);
    QVector<DeviceTable::SysDevice> devices;
    const int batteries = 1 + (r.chance(25) ? 1 + r.below(2) : 0);
    for (int i = 0; i < batteries; ++i)
        devices << DeviceTable::supply(QStringLiteral("BAT%1").arg(i), battery(r));
    if (r.chance(10))
        devices << DeviceTable::supply("hid-mouse-battery", DeviceTable::mouse());
    const int chargers = r.below(4);
    for (int i = 0; i < chargers; ++i) {
        const QString type
            = r.pick({ QStringLiteral("Mains"), QStringLiteral("USB"), QStringLiteral("Wireless") });
        devices << DeviceTable::supply(type.toLower() + QString::number(i),
            { "type=" + type, QStringLiteral("online=%1").arg(r.below(2)) });
    }
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
