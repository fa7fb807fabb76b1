// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "batterymodel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace Vorna::Backend::BatteryModel {

int toInt(double v)
{
    if (std::isnan(v))
        return KvBattery::NoValue;
    return int(std::clamp<double>(std::trunc(v), INT_MIN + 1, INT_MAX));
}

int milli(double micro)
{
    return toInt(micro / 1000.0);
}

double designVoltage(const Gauge &g)
{
    // The design maximum, the design minimum, the present voltage and its
    // other name: the first above 1 V. upowerd's 5 V for USB concerns
    // supplies that are no system battery.
    for (const std::optional<double> &uv :
        { g.voltageMaxDesign, g.voltageMinDesign, g.voltagePresent, g.voltageNow })
        if (uv.value_or(0) / 1e6 > 1.0)
            return *uv / 1e6;
    return 10.0; // upowerd's guess "to avoid getting zero values"
}

State stateFromStatus(const QByteArray &status)
{
    static const struct
    {
        const char *word;
        State state;
    } words[] = {
        { "charging", State::Charging },
        { "discharging", State::Discharging },
        { "full", State::FullyCharged },
        { "empty", State::Empty },
        { "not charging", State::PendingCharge },
    };
    for (const auto &w : words)
        if (qstricmp(status.constData(), w.word) == 0)
            return w.state;
    return State::Unknown;
}

std::optional<double> withFallback(
    std::optional<double> first, std::optional<double> fallback, double tiny)
{
    if (first.value_or(0) >= tiny)
        return first;
    if (fallback)
        return fallback;
    return first ? std::optional<double>(0.0) : std::nullopt;
}

std::optional<double> saneRate(std::optional<double> rate)
{
    // up_device_supply_refresh_battery: ACPI's "Ones" when the firmware
    // cannot tell, and more than 300 W, are no rate. (Its 100 W limit is
    // for the rate it computes from the energy's history, which we keep none of.)
    // Below 0.01 W it takes "the hardware reporting failed" and computes
    // a rate from the energy's history, of which we keep none.
    if (rate && (*rate == acpiUnknownRate || *rate > maxRate || *rate < minRate))
        return 0.0;
    return rate;
}

std::optional<double> timeToEmpty(State state, double energy, double rate)
{
    if (state != State::Discharging || !(rate > 0))
        return std::nullopt;
    const double t = 3600.0 * energy / rate;
    // up_device_supply_refresh_battery: "broken primary batteries rate".
    // upowerd keeps whole seconds, and 0 is no time.
    return t >= 1 && t <= maxTimeToEmpty ? std::optional<double>(t) : std::nullopt;
}

std::optional<double> timeToFull(State state, double energy, double full, double rate)
{
    if (state != State::Charging || !(rate > 0))
        return std::nullopt;
    const double t = 3600.0 * (full - energy) / rate;
    return t >= 1 && t <= maxTimeToFull ? std::optional<double>(t) : std::nullopt;
}

CurrentSource currentSource(const Gauge &g)
{
    const bool energyOnly = (g.energyNow || g.energyAvg || g.energyFull || g.energyFullDesign)
        && !(g.chargeNow || g.chargeAvg || g.chargeFull || g.chargeFullDesign);
    if (g.currentNow)
        return energyOnly && !g.powerNow ? CurrentSource::CurrentNowMicrowatts
                                         : CurrentSource::CurrentNow;
    return g.powerNow ? CurrentSource::PowerNow : CurrentSource::None;
}

Pack pack(const Gauge &g)
{
    Pack p;
    const double v = p.designVoltage = designVoltage(g);

    // The energy now, or the charge now times the design voltage. upowerd
    // 0.99.20 reads the charge only where power_now is missing (later
    // upowerd whatever gives the rate): the charge is what the gauge
    // counts, so we read it always.
    p.energy = withFallback(g.energyNow, g.energyAvg, tinyEnergy);
    if (p.energy.value_or(0) < tinyEnergy) {
        if (const std::optional<double> charge = withFallback(g.chargeNow, g.chargeAvg, tinyEnergy)) {
            p.energy = *charge * v;
            p.charge = charge;
        } else if (p.energy) {
            p.energy = 0.0; // as upowerd reads the missing charge: no negative energy
        }
    }

    // The last full charge, else the design's, in energy.
    double full = g.energyFull.value_or(0);
    double design = g.energyFullDesign.value_or(0);
    if (full < tinyEnergy) {
        full = g.chargeFull.value_or(0) * v;
        design = g.chargeFullDesign.value_or(0) * v;
    }
    if (full < tinyEnergy && design > tinyEnergy)
        full = design;
    if (full > 0)
        p.full = full;

    // current_now is in µA where the battery names a full charge; an old
    // energy-only ACPI battery without power_now puts µW there.
    const double chargeFull = g.chargeFull.value_or(0) >= tinyEnergy ? *g.chargeFull
                                                                     : g.chargeFullDesign.value_or(0);
    p.countsCharge = chargeFull != 0;
    if (g.powerNow)
        p.rate = std::abs(*g.powerNow);
    else if (g.currentNow)
        p.rate = std::abs(*g.currentNow) * (p.countsCharge ? v : 1.0);
    p.rate = saneRate(p.rate);

    // A battery that does not update its last full charge.
    if (p.energy && *p.energy > p.full.value_or(0) && *p.energy > 0)
        p.full = p.energy;

    if (g.capacity) {
        p.percent = std::clamp(*g.capacity, 0.0, 100.0);
        // A gauge that gives the percentage only.
        if (p.energy.value_or(0) < lowEnergy && p.full)
            p.energy = *p.full * *p.percent / 100.0;
    } else if (p.energy && p.full) {
        p.percent = std::clamp(100.0 * *p.energy / *p.full, 0.0, 100.0);
    }

    p.state = stateFromStatus(g.status);
    const double percent = p.percent.value_or(0);
    // "Not charging" on mains when the battery is full.
    if (p.state == State::PendingCharge && percent >= fullyChargedThreshold)
        p.state = State::FullyCharged;
    // A driver that does not know, with nothing left: empty, before any
    // guess from the chargers.
    if (p.state == State::Unknown && percent < 1)
        p.state = State::Empty;
    // Some batteries give huge rates when nearly empty.
    if (p.rate && p.energy.value_or(0) < lowEnergy)
        p.rate = 0.0;

    if (!p.charge && p.energy)
        p.charge = *p.energy / v;
    p.current = g.currentNow;
    p.currentFrom = currentSource(g);
    p.currentAvg = g.currentAvg;
    p.voltage = withFallback(g.voltageNow, g.voltageAvg, tinyEnergy);
    p.counter = g.chargeCounter;
    p.timeToEmpty = g.timeToEmpty;
    p.timeToFull = g.timeToFull;
    p.health = g.health;
    p.level = g.level;
    return p;
}

State combined(std::optional<State> total, State next)
{
    // The first battery that charges or discharges decides (upowerd warns
    // of the conflict and keeps it).
    if (total && (*total == State::Charging || *total == State::Discharging))
        return *total;
    switch (next) {
    case State::Charging:
    case State::Discharging:
    case State::Unknown:
    case State::PendingCharge:
        return next;
    case State::FullyCharged:
    case State::Empty:
        // Full or empty only when all are.
        return !total || *total == next ? next : State::Unknown;
    }
    return State::Unknown;
}

State guessed(double percent, bool chargerOnline)
{
    if (chargerOnline)
        return percent >= fullyChargedThreshold ? State::FullyCharged : State::Charging;
    return percent < 1 ? State::Empty : State::Discharging;
}

KvBattery::ChargerType chargerType(const Chargers &c)
{
    // A wireless pad and a mains adapter both feed the device from the wall.
    return c.wall ? KvBattery::Wall
        : c.usb   ? KvBattery::USB_500mA
        : c.any   ? KvBattery::None
                  : KvBattery::Unknown;
}

Display display(const QVector<Pack> &packs, const Chargers &chargers)
{
    Display d;
    d.packs = packs;
    d.charger = chargerType(chargers);
    std::optional<State> total;
    double percentSum = 0;
    int percents = 0;
    for (const Pack &p : packs) {
        total = combined(total, p.state);
        if (p.energy)
            d.energy = d.energy.value_or(0) + *p.energy;
        if (p.full)
            d.full = d.full.value_or(0) + *p.full;
        d.rate += p.rate.value_or(0);
        if (p.percent) {
            percentSum += *p.percent;
            ++percents;
        }
    }
    // Several batteries: weighted by their full charges, else their average.
    if (packs.size() == 1)
        d.percent = packs.first().percent;
    else if (d.energy && d.full.value_or(0) > 0)
        d.percent = std::clamp(100.0 * *d.energy / *d.full, 0.0, 100.0);
    else if (percents > 0)
        d.percent = percentSum / percents;
    d.state = total.value_or(State::Unknown);
    if (total && d.state == State::Unknown)
        d.state = guessed(d.percent.value_or(0), chargers.wall || chargers.usb);
    return d;
}

bool isSystemBattery(const Supply &s)
{
    return s.type == "Battery" && s.scope != "Device" && s.present.value_or(1) != 0;
}

bool isCharger(const Supply &s)
{
    // up_device_supply_coldplug: "we don't use separate ACs for devices".
    if (s.scope == "Device" || s.type.isEmpty() || s.type == "Battery")
        return false;
    return s.type == "Mains" || s.hasOnline;
}

KvBattery::ChargerType chargerKind(const QByteArray &type)
{
    // Android's Wipower is a wireless pad, ChromeOS's BrickID a barrel jack.
    static const char *const wall[] = { "Mains", "Wireless", "Wipower", "BrickID", "UPS" };
    for (const char *w : wall)
        if (type == w)
            return KvBattery::Wall;
    return KvBattery::USB_500mA;
}

bool isFault(const QByteArray &health)
{
    // Documentation/ABI/testing/sysfs-class-power, health: every other word
    // of its list (Overheat, Dead, Over voltage, Under voltage, Unspecified
    // failure, Cold, Watchdog timer expire, Safety timer expire, Over
    // current, Hot, No battery, Blown fuse, Cell imbalance) is a fault, and
    // so is a word it does not know.
    static const char *const fine[] = { "Good", "Unknown", "Warm", "Cool", "Calibration required" };
    if (health.isEmpty())
        return false;
    for (const char *f : fine)
        if (health == f)
            return false;
    return true;
}

Chargers chargers(const QVector<Supply> &supplies)
{
    Chargers c;
    for (const Supply &s : supplies) {
        if (!isCharger(s))
            continue;
        c.any = true;
        c.known = c.known || s.online.has_value();
        if (s.online.value_or(0) == 0)
            continue;
        if (chargerKind(s.type) == KvBattery::Wall)
            c.wall = true;
        else
            c.usb = true;
    }
    return c;
}

Display display(const QVector<Supply> &supplies)
{
    QVector<Pack> packs;
    for (const Supply &s : supplies)
        if (isSystemBattery(s)) {
            packs.append(pack(s.gauge));
            packs.last().name = s.name;
        }
    return display(packs, chargers(supplies));
}

int roundedPercent(const Display &d)
{
    return d.percent ? int(std::floor(*d.percent + 0.5)) : KvBattery::NoValue;
}

int chargingState(const Display &d)
{
    switch (d.state) {
    case State::Charging:
        return KvBattery::StateCharging;
    case State::Unknown:
        return KvBattery::StateChargingFailed;
    default:
        return KvBattery::StateNotCharging;
    }
}

int batteryState(const Display &d)
{
    for (const Pack &p : d.packs)
        if (isFault(p.health))
            return KvBattery::StateError;
    if (d.state == State::FullyCharged)
        return KvBattery::StateFull;
    if (d.packs.size() == 1) {
        static const struct
        {
            const char *level;
            KvBattery::BatteryState state;
        } levels[] = { { "Critical", KvBattery::StateEmpty }, { "Low", KvBattery::StateLow },
            { "Normal", KvBattery::StateOK }, { "High", KvBattery::StateOK },
            { "Full", KvBattery::StateFull } };
        for (const auto &l : levels)
            if (d.packs.first().level == l.level)
                return l.state;
    }
    return stateFromPercent(roundedPercent(d));
}

// mAh: the charges summed, so that a charge-counting battery gives back its own charge_now.
std::optional<double> milliampHours(const Display &d)
{
    std::optional<double> sum;
    for (const Pack &p : d.packs)
        if (p.charge)
            sum = sum.value_or(0) + *p.charge / 1000.0;
    return sum;
}

int batteryCurrent(const Display &d)
{
    std::optional<double> sum;
    for (const Pack &p : d.packs) {
        double ua;
        if (p.currentFrom == CurrentSource::CurrentNow)
            ua = *p.current;
        else if (p.currentFrom != CurrentSource::None && p.rate)
            ua = *p.rate / p.designVoltage; // µW (upowerd's sane rate) over V
        else
            continue;
        // ACPI and some gauges give the magnitude only, and some chargers
        // a negative current while charging: the state tells the direction
        // (the guessed one where the battery does not say).
        const State state = p.state == State::Unknown ? d.state : p.state;
        if (state == State::Charging)
            ua = std::abs(ua);
        else if (state == State::Discharging)
            ua = -std::abs(ua);
        sum = sum.value_or(0) + ua;
    }
    return sum ? milli(*sum) : KvBattery::NoValue;
}

int cumulativeCurrent(const Display &d)
{
    // µAh times 3.6 is mA·s; the charge counter runs down while discharging.
    if (d.packs.size() == 1 && d.packs.first().counter)
        return toInt(*d.packs.first().counter * 3.6);
    const std::optional<double> m = milliampHours(d);
    return m ? toInt(*m * 3600.0) : KvBattery::NoCounter;
}

// The display device's time where its own state gives none: the sum of the
// batteries' own times (one battery charging while the first discharges).
template <typename PackTime> std::optional<double> packsTime(const Display &d, PackTime time)
{
    double sum = 0;
    for (const Pack &p : d.packs)
        if (p.energy && p.rate)
            sum += time(p).value_or(0);
    return sum > 0 ? std::optional<double>(sum) : std::nullopt;
}

int chargingTime(const Display &d)
{
    if (d.state == State::FullyCharged)
        return 0;
    if (d.state == State::Charging && d.rate > 0) {
        const auto t = d.energy && d.full ? timeToFull(d.state, *d.energy, *d.full, d.rate)
                                          : std::nullopt;
        return t ? toInt(*t) : KvBattery::NoTime;
    }
    if (const auto t = packsTime(d, [](const Pack &p) {
            return p.full ? timeToFull(p.state, *p.energy, *p.full, *p.rate) : std::nullopt;
        }))
        return toInt(*t);
    // The gauge's own estimate where there is no rate to compute one.
    if (d.packs.size() == 1 && d.state == State::Charging && d.packs.first().timeToFull)
        return toInt(*d.packs.first().timeToFull);
    return KvBattery::NoTime;
}

int activeTime(const Display &d)
{
    if (d.state == State::Discharging && d.rate > 0) {
        const auto t = d.energy ? timeToEmpty(d.state, *d.energy, d.rate) : std::nullopt;
        return t ? toInt(*t) : KvBattery::NoTime;
    }
    if (const auto t = packsTime(
            d, [](const Pack &p) { return timeToEmpty(p.state, *p.energy, *p.rate); }))
        return toInt(*t);
    if (d.packs.size() == 1 && d.state == State::Discharging && d.packs.first().timeToEmpty)
        return toInt(*d.packs.first().timeToEmpty);
    return KvBattery::NoTime;
}

int averageCurrent(const Display &d)
{
    // The kernel's running average, as the current the device draws now.
    std::optional<double> sum;
    for (const Pack &p : d.packs)
        if (p.currentAvg)
            sum = sum.value_or(0) + std::abs(*p.currentAvg);
    return sum ? milli(*sum) : KvBattery::NoValue;
}

} // namespace Vorna::Backend::BatteryModel
