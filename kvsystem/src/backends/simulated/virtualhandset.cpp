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
constexpr double fullCharge = 1320.0; // mAh
constexpr double startCharge = 1056.0; // mAh
constexpr double baseCurrent = 210.0; // mA
constexpr double swingCurrent = 35.0; // mA
constexpr double swingPeriod = 240.0; // s

double drawn(double s) // mA·s drawn since the start
{
    return baseCurrent * s
        + swingCurrent * swingPeriod / (2 * pi) * (1 - std::cos(2 * pi * s / swingPeriod));
}

double current(double s) // mA, positive while discharging
{
    return baseCurrent + swingCurrent * std::sin(2 * pi * s / swingPeriod);
}

} // namespace

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
        v[0]
            = std::max(0, round(320 + wave(t, 40000, 140) + wave(t, 3100, 12) + 3 * jitter(id, k)));
        break;
    case Sensor::Proximity: // a hand comes near for six seconds out of every 25
        v[0] = (ms / 1000) % 25 >= 19 ? 1 : 0;
        break;
    case Sensor::Tap: // single and double taps along each axis in turn
        v[0] = int(k % 3);
        v[1] = int((k / 3) % 2);
        break;
    case Sensor::Orientation: { // picked up, turned, put down again
        using O = KvOrientation;
        static const O::Orientation sides[] = { O::FaceUp, O::FaceUp, O::BottomDown, O::BottomDown,
            O::LeftUp, O::BottomDown, O::RightUp, O::BottomDown, O::FaceUp, O::FaceDown };
        v[0] = sides[(ms / 4000) % 10];
        break;
    }
    case Sensor::Rotation:
        v[0] = round(12 + wave(t, 2300, 4) + jitter(id, k));
        v[1] = round(-5 + wave(t, 3700, 3) + jitter(id + 8, k));
        v[2] = round(heading(ms));
        break;
    case Sensor::Magnetometer: {
        // Earth's field in nT; the raw values carry the handset's own hard-iron offset.
        const double h = heading(ms) * pi / 180;
        v[0] = round(20000 * std::cos(h) + 150 * jitter(id, k));
        v[1] = round(-20000 * std::sin(h) + 150 * jitter(id + 8, k));
        v[2] = round(-45000 + 150 * jitter(id + 16, k));
        v[3] = v[0] + 1520;
        v[4] = v[1] - 830;
        v[5] = v[2] + 410;
        v[6] = calibrationLevel(ms);
        break;
    }
    case Sensor::Compass:
        v[0] = round(heading(ms)) % 360;
        v[1] = calibrationLevel(ms);
        break;
    case Sensor::Accelerometer: // held in a hand, tilted towards the user: gravity plus a tremor
        v[0] = round(35 + wave(t, 2900, 30) + 8 * jitter(id, k));
        v[1] = round(-640 + wave(t, 1700, 25) + 8 * jitter(id + 8, k));
        v[2] = round(-760 + wave(t, 2300, 20) + 8 * jitter(id + 16, k));
        break;
    }
    return s;
}

int battery(BatteryValue value, int mode, double seconds)
{
    const double charge = startCharge * 3600 - drawn(seconds); // mA·s
    const int mAh = int(charge / 3600);
    const int pct = std::clamp(round(mAh * 100 / fullCharge), 0, 100);
    const double amps = current(seconds);
    const bool powersave = mode == KvBattery::PowersaveMode;
    const auto remaining = [&](double use) { return int(mAh * 3600.0 / use); };
    switch (value) {
    case BatteryValue::ChargerType:
        return KvBattery::None;
    case BatteryValue::ChargingState:
        return KvBattery::StateNotCharging;
    case BatteryValue::RemainingChargingTime:
        return 0;
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
    case BatteryValue::Voltage: // open-circuit voltage less the drop across the cell
        return round(3450 + 7 * pct - 0.12 * amps);
    case BatteryValue::BatteryCurrent:
        return -round(amps);
    case BatteryValue::CumulativeBatteryCurrent:
        return round(charge);
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
