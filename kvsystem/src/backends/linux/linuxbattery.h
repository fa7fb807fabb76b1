#ifndef KVSYSTEM_SRC_LINUXBATTERY_H
#define KVSYSTEM_SRC_LINUXBATTERY_H

// The battery of a Linux machine, from the kernel's power supply class, as
// upowerd reads it: the system batteries (scope not "Device", present),
// combined as upowerd's display device combines them, with the "Mains",
// "USB" and "Wireless" supplies as chargers. Every getter reads the files
// afresh, so a battery that comes or goes shows in the next call.

#include "backend.h"
#include "kvbattery.h"
#include "linuxbackend.h"
#include "sysfs.h"

#include <QVector>

#include <climits>

namespace Vorna::Backend {

class LinuxBattery : public BatterySource
{
public:
    // The cumulative current when no battery gives a charge: no counter
    // reads -2147483648 mA·s (that is -596523 mAh).
    static constexpr int noCounter = INT_MIN;

    // What a battery does, in upowerd's words.
    enum class State { Unknown, Charging, Discharging, Empty, FullyCharged, PendingCharge };

    // One system battery, in the kernel's µWh and µW where it counts
    // energy, its charge converted with the design voltage where it counts
    // charge.
    struct Pack
    {
        QString dir;
        double designVoltage = 0; // V
        bool countsCharge = false;
        std::optional<double> energy, full, rate; // µWh, µWh, µW (a magnitude)
        std::optional<double> charge; // µAh: the gauge's own, or the energy over the design voltage
        std::optional<double> percent;
        std::optional<double> currentUa; // the kernel's own current where it gives one
        std::optional<qint64> voltage, counter, currentAvg, timeToEmpty, timeToFull;
        QByteArray status, health, level;
        State state = State::Unknown;
    };

    // Everything one getter call looks at.
    struct Snapshot
    {
        QVector<Pack> packs;
        KvBattery::ChargerType charger = KvBattery::Unknown;
        bool anyLinePower = false;
        bool lineOnline = false;
        // The combination, as upowerd's display device gives it.
        State state = State::Unknown;
        std::optional<double> energy, full, rate, percent;
    };

    explicit LinuxBattery(const Sysfs &sysfs);

    // The directory that holds the supplies.
    QString suppliesDir() const { return supplies; }
    // Whether a system battery is there now.
    bool hasBattery() const;

    int read(BatteryValue value, int mode) override;

    Snapshot snapshot() const;

private:
    int value(const Snapshot &s, BatteryValue value) const;
    // A file's text; no value when it is missing. Any other failure (no
    // descriptor left, an I/O error of the driver) is said once on
    // standard error and gives no value either.
    std::optional<QByteArray> text(const QString &dir, const char *name) const;
    std::optional<qint64> number(const QString &dir, const char *name) const;
    void readPack(Pack &pack) const;

    const QString supplies;
    mutable bool warnedError = false;
};

} // namespace Vorna::Backend

#endif
