#ifndef KVSYSTEM_INCLUDE_KVBATTERY_H
#define KVSYSTEM_INCLUDE_KVBATTERY_H

#include <QObject>

#include <memory>

namespace Vorna {

class KvBatteryPrivate;

// The battery and its charger. Every getter asks the device afresh and may
// take a while; units are mV, mA, mAh, mA·s and seconds.
class KvBattery : public QObject
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

    explicit KvBattery(QObject *parent = nullptr);
    ~KvBattery() override;

    int getChargerType(); // a ChargerType
    int getChargingState(); // a ChargingState
    int getRemainingChargingTime(); // seconds until full
    int getBatteryState(); // a BatteryState
    int getRemainingCapacityBars();
    int getRemainingCapacityPct();
    int getRemainingCapacitymAh();
    int getVoltage();
    int getBatteryCurrent(); // negative while discharging
    // Charge that has flowed, in mA·s: it counts down while the battery discharges.
    int getCumulativeBatteryCurrent();
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
