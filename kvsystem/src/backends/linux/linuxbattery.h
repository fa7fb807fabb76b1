#ifndef KVSYSTEM_SRC_LINUXBATTERY_H
#define KVSYSTEM_SRC_LINUXBATTERY_H

// The battery of a Linux machine, from the kernel's power supply class:
// the first supply of type "Battery", with the "Mains" and "USB" supplies
// as its chargers. Every getter reads the files afresh.

#include "backend.h"
#include "kvbattery.h"
#include "linuxbackend.h"
#include "sysfs.h"

namespace Vorna::Backend {

class LinuxBattery : public BatterySource
{
public:
    explicit LinuxBattery(const Sysfs &sysfs);

    // The directory that holds the supplies, and the battery's own; the
    // latter is empty when there is no battery.
    QString suppliesDir() const { return supplies; }
    QString batteryDir() const { return battery; }

    int read(BatteryValue value, int mode) override;

private:
    std::optional<QByteArray> text(const char *name) const;
    std::optional<qint64> number(const char *name) const;
    KvBattery::ChargerType chargerType() const;
    KvBattery::ChargingState chargingState() const;
    KvBattery::BatteryState batteryState() const;
    int percent() const;
    std::optional<double> chargeMah() const;
    std::optional<double> currentMa() const;
    int remainingChargingTime() const;
    int remainingActiveTime() const;
    int averageActiveCurrent() const;

    const QString supplies;
    const QString battery;
};

} // namespace Vorna::Backend

#endif
