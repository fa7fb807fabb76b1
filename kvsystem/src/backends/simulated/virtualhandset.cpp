// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "virtualhandset.h"

#include "kvbattery.h"
#include "kvorientation.h"

#include <QVector>

#include <algorithm>
#include <cmath>

namespace Vorna::Backend::VirtualHandset {

namespace {

constexpr double pi = 3.14159265358979323846;

double wave(double ms, double periodMs, double amplitude)
{
    return amplitude * std::sin(2 * pi * ms / periodMs);
}

// A small, repeatable jitter in [-1, 1] for reading k of a sensor.
double jitter(int sensor, qint64 k)
{
    quint64 x = quint64(k) * 0x9E3779B97F4A7C15ull + quint64(sensor + 1) * 0xBF58476D1CE4E5B9ull;
    x ^= x >> 31;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 29;
    return double(x % 2001) / 1000.0 - 1.0;
}

int round(double v)
{
    return int(std::lround(v));
}

// The compass heading turns once a minute, as a hand slowly turning the device.
double heading(qint64 ms)
{
    return std::fmod(double(ms) * 0.006, 360.0);
}

// The magnetometer calibrates itself over the first seconds of use.
int calibrationLevel(qint64 ms)
{
    return ms < 2000 ? 0 : ms < 5000 ? 1 : ms < 9000 ? 2 : 3;
}

// Battery: 1320 mAh when full, 80 % at the start, drawing about 210 mA.
// At 15 % the owner plugs the charger in: it charges at a constant 650 mA
// up to 80 %, then at constant voltage with the current falling to nothing
// as the cell fills; the handset stays on the charger for two hours after
// it is full, then is unplugged and runs down from 100 % again, and so on.
constexpr double fullCharge = 1320.0; // mAh
constexpr double startCharge = 1056.0; // mAh
constexpr double plugCharge = 198.0; // mAh: 15 %, where the owner plugs in
constexpr double baseCurrent = 210.0; // mA
constexpr double swingCurrent = 35.0; // mA
constexpr double swingPeriod = 240.0; // s
constexpr double chargeCurrent = 650.0; // mA, constant-current phase
constexpr double constantVoltageCharge = 1056.0; // mAh: 80 %, where the voltage limit is reached
constexpr double chargeVoltage = 4200.0; // mV
constexpr double restOnCharger = 7200.0; // s on the charger after full
// How long a discharge lasts, at the average current, from the start and from full.
constexpr double firstDischarge = (startCharge - plugCharge) * 3600 / baseCurrent;
constexpr double fullDischarge = (fullCharge - plugCharge) * 3600 / baseCurrent;
// The constant-voltage phase: the current falls linearly from chargeCurrent
// to 0, which puts in exactly the charge from 80 % to full.
constexpr double taper = 2 * (fullCharge - constantVoltageCharge) * 3600 / chargeCurrent; // s

double drawn(double s) // mA·s drawn since a discharge began
{
    return baseCurrent * s
        + swingCurrent * swingPeriod / (2 * pi) * (1 - std::cos(2 * pi * s / swingPeriod));
}

double current(double s) // mA, positive while discharging
{
    return baseCurrent + swingCurrent * std::sin(2 * pi * s / swingPeriod);
}

Cell discharging(double from, double t)
{
    return { from - drawn(t), -current(t), false, false, 0 };
}

// The constant-current phase from a charge to 80 %.
double constantCurrentTime(double from)
{
    return std::max(0.0, (constantVoltageCharge * 3600 - from) / chargeCurrent);
}

Cell charging(double from, double t)
{
    const double cc = constantCurrentTime(from);
    if (t < cc)
        return { from + chargeCurrent * t, chargeCurrent, true, true, cc - t + taper };
    t -= cc;
    if (t < taper)
        return { constantVoltageCharge * 3600 + chargeCurrent * (t - t * t / (2 * taper)),
            chargeCurrent * (1 - t / taper), true, true, taper - t };
    return { fullCharge * 3600, 0, true, false, 0 };
}

} // namespace

// The first discharge starts at 80 %, the later ones at full; each charge
// starts where its discharge ended.
Cell cell(double s)
{
    const double start = startCharge * 3600;
    if (s < firstDischarge)
        return discharging(start, s);
    const double firstPlug = start - drawn(firstDischarge);
    const double firstCycle
        = firstDischarge + constantCurrentTime(firstPlug) + taper + restOnCharger;
    if (s < firstCycle)
        return charging(firstPlug, s - firstDischarge);
    const double full = fullCharge * 3600;
    const double plug = full - drawn(fullDischarge);
    const double cycle = fullDischarge + constantCurrentTime(plug) + taper + restOnCharger;
    const double t = std::fmod(s - firstCycle, cycle);
    return t < fullDischarge ? discharging(full, t) : charging(plug, t - fullDischarge);
}

Cell cellAt(int percentage, bool plugged, double dischargeCurrent)
{
    const double charge = fullCharge * 36 * percentage;
    if (!plugged)
        return { charge, -dischargeCurrent, false, false, 0 };
    if (percentage >= 100)
        return { charge, 0, true, false, 0 };
    // Above 80 % the cell is part-way through the constant-voltage phase,
    // whose current falls linearly: the rest takes sqrt(part left) of it.
    const double cv = constantVoltageCharge * 3600;
    const double toFull = charge < cv
        ? constantCurrentTime(charge) + taper
        : taper * std::sqrt((fullCharge * 3600 - charge) / (fullCharge * 3600 - cv));
    return { charge, chargeCurrent * std::min(1.0, toFull / taper), true, true, toFull };
}

Sample reading(Sensor kind, qint64 ms, quint64 timestamp)
{
    Sample s;
    s.timestamp = timestamp;
    auto &v = s.values;
    const double t = double(ms);
    const qint64 k = ms / describe(kind).virtualPeriodMs;
    const int id = int(kind);
    switch (kind) {
    case Sensor::Als: // an office light with a cloud passing the window
        v[Field::Als::value]
            = std::max(0, round(320 + wave(t, 40000, 140) + wave(t, 3100, 12) + 3 * jitter(id, k)));
        break;
    case Sensor::Proximity: // a hand comes near for six seconds out of every 25
        v[Field::Proximity::value] = (ms / 1000) % 25 >= 19 ? 1 : 0;
        break;
    case Sensor::Tap: // single and double taps along each axis in turn
        v[Field::Tap::firstValue] = int(k % 3);
        v[Field::Tap::secondValue] = int((k / 3) % 2);
        break;
    case Sensor::Orientation: { // picked up, turned, put down again
        using O = KvOrientation;
        static const O::Orientation sides[] = { O::FaceUp, O::FaceUp, O::BottomDown, O::BottomDown,
            O::LeftUp, O::BottomDown, O::RightUp, O::BottomDown, O::FaceUp, O::FaceDown };
        v[Field::Orientation::value] = sides[(ms / 4000) % 10];
        break;
    }
    case Sensor::Rotation:
        v[Field::Rotation::x] = round(12 + wave(t, 2300, 4) + jitter(id, k));
        v[Field::Rotation::y] = round(-5 + wave(t, 3700, 3) + jitter(id + 8, k));
        v[Field::Rotation::z] = round(heading(ms));
        break;
    case Sensor::Magnetometer: {
        // Earth's field in nT; the raw values carry the handset's own hard-iron offset.
        const double h = heading(ms) * pi / 180;
        v[Field::Magnetometer::x] = round(20000 * std::cos(h) + 150 * jitter(id, k));
        v[Field::Magnetometer::y] = round(-20000 * std::sin(h) + 150 * jitter(id + 8, k));
        v[Field::Magnetometer::z] = round(-45000 + 150 * jitter(id + 16, k));
        v[Field::Magnetometer::rx] = v[Field::Magnetometer::x] + 1520;
        v[Field::Magnetometer::ry] = v[Field::Magnetometer::y] - 830;
        v[Field::Magnetometer::rz] = v[Field::Magnetometer::z] + 410;
        v[Field::Magnetometer::level] = calibrationLevel(ms);
        break;
    }
    case Sensor::Compass:
        v[Field::Compass::firstValue] = round(heading(ms)) % 360;
        v[Field::Compass::secondValue] = calibrationLevel(ms);
        break;
    case Sensor::Accelerometer: // held in a hand, tilted towards the user: gravity plus a tremor
        v[Field::Accelerometer::x] = round(35 + wave(t, 2900, 30) + 8 * jitter(id, k));
        v[Field::Accelerometer::y] = round(-640 + wave(t, 1700, 25) + 8 * jitter(id + 8, k));
        v[Field::Accelerometer::z] = round(-760 + wave(t, 2300, 20) + 8 * jitter(id + 16, k));
        break;
    }
    return s;
}

int battery(BatteryValue value, int mode, double seconds)
{
    return battery(value, mode, cell(seconds));
}

int battery(BatteryValue value, int mode, const Cell &c)
{
    const int counter = round(c.charge); // mA·s
    const int mAh = counter / 3600;
    const int pct = std::clamp(round(mAh * 100 / fullCharge), 0, 100);
    const bool powersave = mode == KvBattery::PowersaveMode;
    const auto remaining = [&](double use) { return int(mAh * 3600.0 / use); };
    // Open-circuit voltage, plus the drop across the cell's resistance; on
    // the charger it rises to the charge voltage, where it is held.
    const double open = 3450 + 7 * pct;
    const double voltage = !c.plugged ? open + 0.12 * c.current
        : c.charging                  ? std::min(chargeVoltage, open + 0.12 * c.current + 1.4 * pct)
                                      : open;
    switch (value) {
    case BatteryValue::ChargerType:
        return c.plugged ? KvBattery::Wall : KvBattery::None;
    case BatteryValue::ChargingState:
        return c.charging ? KvBattery::StateCharging : KvBattery::StateNotCharging;
    case BatteryValue::RemainingChargingTime:
        return c.charging ? int(c.toFull) : 0;
    case BatteryValue::BatteryState:
        return pct >= 100 ? KvBattery::StateFull
            : pct <= 3    ? KvBattery::StateEmpty
            : pct <= 15   ? KvBattery::StateLow
                          : KvBattery::StateOK;
    case BatteryValue::RemainingCapacityBars:
        return (pct * 7 + 99) / 100;
    case BatteryValue::RemainingCapacityPct:
        return pct;
    case BatteryValue::RemainingCapacitymAh:
        return mAh;
    case BatteryValue::Voltage:
        return round(voltage);
    case BatteryValue::BatteryCurrent:
        return round(c.current);
    case BatteryValue::CumulativeBatteryCurrent:
        return counter;
    case BatteryValue::AverageTalkCurrent:
        return powersave ? 250 : 290;
    case BatteryValue::RemainingTalkTime:
        return remaining(powersave ? 250 : 290);
    case BatteryValue::AverageActiveCurrent:
        return powersave ? 180 : 210;
    case BatteryValue::RemainingActiveTime:
        return remaining(powersave ? 180 : 210);
    case BatteryValue::AverageIdleCurrent:
        return powersave ? 8 : 11;
    case BatteryValue::RemainingIdleTime:
        return remaining(powersave ? 8 : 11);
    }
    return 0;
}

int Cycle::at(qint64 ms) const
{
    if (ms < first || every <= 0)
        return values[0];
    return afterChange((ms - first) / every);
}

Cycle displayCycle()
{
    // Dims after 15 s of nothing, lights up again.
    return { { KvDisplayState::On, KvDisplayState::Dimmed }, 15000, 15000 };
}

Cycle activityCycle()
{
    return { { KvActivity::Active, KvActivity::Inactive }, 12000, 12000 };
}

Cycle thermalCycle()
{
    return { { KvThermal::Normal, KvThermal::Warning }, 25000, 25000 };
}

Cycle systemStateCycle()
{
    // "Save your data" once a minute.
    return { { KvSystemState::SaveData, KvSystemState::SaveData }, 60000, 60000 };
}

} // namespace Vorna::Backend::VirtualHandset
