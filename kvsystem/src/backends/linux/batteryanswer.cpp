// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The handset's battery getters answered from upowerd's display device
// (batterymodel.cpp): the values map one to one, except where the handset
// has a scale of its own that upowerd does not have, the battery state's
// levels and the indicator's bars. Each limit below says where it comes
// from.

#include "batterymodel.h"

namespace Vorna::Backend::BatteryModel {

namespace {

// The handset's indicator has seven bars, as the virtual handset's has
// (virtualhandset.cpp, battery()): the two backends show the same count
// for the same percentage. A bar shows while any charge is left in it, so
// 1 % shows one bar and only 0 % shows none.
constexpr int indicatorBars = 7;

int capacityBars(int percent)
{
    return percent < 0 ? KvBattery::NoValue : (percent * indicatorBars + 99) / 100;
}

} // namespace

KvBattery::BatteryState stateFromPercent(int percent)
{
    // At or below upowerd's critical percentage the battery is empty: the
    // display device's warning level turns Critical there
    // (up_daemon_compute_warning_level in src/up-daemon.c), at
    // PercentageCritical, 5 unless /etc/UPower/UPower.conf says otherwise
    // (load_percentage_policy, same file).
    constexpr int critical = 5;
    // Low from 15 % down, where the virtual handset's battery turns low
    // too. upowerd's own low level (PercentageLow, 20 by default) only
    // warns while the battery discharges; the handset's state does not
    // depend on the charger.
    constexpr int low = 15;
    if (percent < 0)
        return KvBattery::StateError;
    return percent <= critical ? KvBattery::StateEmpty
        : percent <= low       ? KvBattery::StateLow
        : percent >= 100       ? KvBattery::StateFull
                               : KvBattery::StateOK;
}

int answer(const Display &d, BatteryValue value)
{
    switch (value) {
    case BatteryValue::ChargerType:
        return d.charger;
    case BatteryValue::AverageTalkCurrent:
    case BatteryValue::AverageIdleCurrent:
        return KvBattery::NoValue; // Linux does not tell calls or idle time apart
    case BatteryValue::RemainingTalkTime:
    case BatteryValue::RemainingIdleTime:
        return KvBattery::NoTime;
    default:
        break;
    }
    if (d.packs.isEmpty()) {
        // No battery now (a desktop, or a pack taken out): nothing to read.
        switch (value) {
        case BatteryValue::CumulativeBatteryCurrent:
            return KvBattery::NoCounter;
        case BatteryValue::RemainingChargingTime:
        case BatteryValue::RemainingActiveTime:
            return KvBattery::NoTime;
        default:
            return KvBattery::NoValue;
        }
    }
    switch (value) {
    case BatteryValue::ChargingState:
        return chargingState(d);
    case BatteryValue::BatteryState:
        return batteryState(d);
    case BatteryValue::RemainingCapacityBars:
        return capacityBars(roundedPercent(d));
    case BatteryValue::RemainingCapacityPct:
        return roundedPercent(d);
    case BatteryValue::RemainingCapacitymAh: {
        const std::optional<double> m = milliampHours(d);
        return m ? toInt(*m) : KvBattery::NoValue;
    }
    case BatteryValue::Voltage: {
        const std::optional<double> uv = d.packs.first().voltage;
        return uv ? milli(*uv) : KvBattery::NoValue;
    }
    case BatteryValue::BatteryCurrent:
        return batteryCurrent(d);
    case BatteryValue::CumulativeBatteryCurrent:
        return cumulativeCurrent(d);
    case BatteryValue::RemainingChargingTime:
        return chargingTime(d);
    case BatteryValue::RemainingActiveTime:
        return activeTime(d);
    case BatteryValue::AverageActiveCurrent:
        return averageCurrent(d);
    default:
        return KvBattery::NoValue;
    }
}

} // namespace Vorna::Backend::BatteryModel
