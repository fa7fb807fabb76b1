// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVBATTERY_H
#define KVSYSTEM_INCLUDE_KVBATTERY_H

#include "kvsystem2_export.h"

#include <QObject>

#include <climits>
#include <memory>

namespace Vorna {

class KvBatteryPrivate;

// The battery and its charger. Every getter asks the device afresh and may
// take a while (it blocks the calling thread); units are mV, mA, mAh, mA·s
// and seconds. Where the device has no figure a getter returns NoValue,
// NoTime or NoCounter (below): the Linux backend does so for every figure
// the kernel does not give, for the talk and idle figures always, and for
// every getter but getChargerType() while no battery is there. The
// simulated handset always has a battery and a figure; a scenario answers
// what it says. Create, call and delete it in one thread.
class KVSYSTEM2_EXPORT KvBattery : public QObject
{
    Q_OBJECT
public:
    enum ChargerType : int { Unknown = -1, None = 0, Wall = 1, USB_500mA = 2, USB_100mA = 3 };
    Q_ENUM(ChargerType)
    enum ChargingState : int { StateNotCharging = 0, StateCharging = 1, StateChargingFailed = 2 };
    Q_ENUM(ChargingState)
    enum BatteryState : int {
        StateEmpty = 0,
        StateLow = 1,
        StateOK = 2,
        StateFull = 3,
        StateError = 4
    };
    Q_ENUM(BatteryState)
    // Which use of the device a remaining time or average current assumes.
    enum RemainingTimeMode : int { NormalMode = 0, PowersaveMode = 1 };
    Q_ENUM(RemainingTimeMode)

    // What a getter answers where the device has no figure for it: NoTime
    // for the times, NoCounter for the cumulative current, NoValue for the
    // rest.
    static constexpr int NoValue = -1;
    static constexpr int NoTime = -60;
    static constexpr int NoCounter = INT_MIN;

    explicit KvBattery(QObject *parent = nullptr);
    ~KvBattery() override;

    int getChargerType(); // a ChargerType
    int getChargingState(); // a ChargingState
    int getRemainingChargingTime(); // seconds until full
    int getBatteryState(); // a BatteryState
    int getRemainingCapacityBars(); // bars shown, 0 to 7
    int getRemainingCapacityPct(); // percent, 0 to 100
    int getRemainingCapacitymAh(); // charge left in mAh
    int getVoltage(); // mV
    int getBatteryCurrent(); // mA, negative while discharging
    // Charge that has flowed, in mA·s: it counts down while the battery discharges.
    int getCumulativeBatteryCurrent();
    // Average current in mA and seconds left for talking, active use and
    // idling, assuming the given mode.
    int getAverageTalkCurrent(Vorna::KvBattery::RemainingTimeMode mode);
    int getRemainingTalkTime(Vorna::KvBattery::RemainingTimeMode mode);
    int getAverageActiveCurrent(Vorna::KvBattery::RemainingTimeMode mode);
    int getRemainingActiveTime(Vorna::KvBattery::RemainingTimeMode mode);
    int getAverageIdleCurrent(Vorna::KvBattery::RemainingTimeMode mode);
    int getRemainingIdleTime(Vorna::KvBattery::RemainingTimeMode mode);

private:
    Q_DISABLE_COPY(KvBattery)
    std::unique_ptr<KvBatteryPrivate> d;
};

} // namespace Vorna

#endif
