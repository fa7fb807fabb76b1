#include "linuxbattery.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace Vorna::Backend {

namespace {

QString firstBattery(const QString &supplies)
{
    for (const QString &dir : Sysfs::entries(supplies, QString()))
        if (Sysfs::read(dir + QStringLiteral("/type")) == QByteArray("Battery"))
            return dir;
    return QString();
}

int clampToInt(double v)
{
    if (std::isnan(v))
        return 0;
    // Truncated, as the kernel's micro-units divided down to milli-units.
    return int(std::clamp<double>(std::trunc(v), INT_MIN, INT_MAX));
}

} // namespace

LinuxBattery::LinuxBattery(const Sysfs &sysfs)
    : supplies(sysfs.path(QStringLiteral("class/power_supply")))
    , battery(firstBattery(supplies))
{ }

std::optional<QByteArray> LinuxBattery::text(const char *name) const
{
    return Sysfs::read(battery + QLatin1Char('/') + QLatin1String(name));
}

std::optional<qint64> LinuxBattery::number(const char *name) const
{
    return Sysfs::readInt(battery + QLatin1Char('/') + QLatin1String(name));
}

KvBattery::ChargerType LinuxBattery::chargerType() const
{
    bool anyCharger = false;
    bool usbOnline = false;
    for (const QString &dir : Sysfs::entries(supplies, QString())) {
        const QByteArray type = Sysfs::read(dir + QStringLiteral("/type")).value_or(QByteArray());
        // Older kernels name USB chargers by port kind: USB_DCP, USB_CDP, USB_C, ...
        const bool mains = type == "Mains";
        const bool usb = type == "USB" || type.startsWith("USB_");
        if (!mains && !usb)
            continue;
        anyCharger = true;
        if (Sysfs::readInt(dir + QStringLiteral("/online")).value_or(0) == 0)
            continue;
        if (mains)
            return KvBattery::Wall; // feeds the device whatever else is plugged in
        usbOnline = true;
    }
    return usbOnline ? KvBattery::USB_500mA : anyCharger ? KvBattery::None : KvBattery::Unknown;
}

KvBattery::ChargingState LinuxBattery::chargingState() const
{
    const QByteArray status = text("status").value_or(QByteArray());
    if (status == "Charging")
        return KvBattery::StateCharging;
    if (status == "Discharging" || status == "Not charging" || status == "Full")
        return KvBattery::StateNotCharging;
    return KvBattery::StateChargingFailed;
}

KvBattery::BatteryState LinuxBattery::batteryState() const
{
    // "Unknown" is a driver that cannot tell, not a fault of the battery.
    const std::optional<QByteArray> health = text("health");
    if (health && *health != "Good" && *health != "Unknown")
        return KvBattery::StateError;
    const QByteArray level = text("capacity_level").value_or(QByteArray());
    if (level == "Critical")
        return KvBattery::StateEmpty;
    if (level == "Low")
        return KvBattery::StateLow;
    if (level == "Normal" || level == "High")
        return KvBattery::StateOK;
    if (level == "Full")
        return KvBattery::StateFull;
    const int pct = percent();
    if (pct < 0)
        return KvBattery::StateError;
    return pct <= 5  ? KvBattery::StateEmpty
        : pct <= 15  ? KvBattery::StateLow
        : pct >= 100 ? KvBattery::StateFull
                     : KvBattery::StateOK;
}

int LinuxBattery::percent() const
{
    const std::optional<qint64> capacity = number("capacity");
    return capacity ? int(std::clamp<qint64>(*capacity, 0, 100)) : LinuxBackend::noValue;
}

std::optional<double> LinuxBattery::chargeMah() const
{
    if (const std::optional<qint64> charge = number("charge_now"))
        return double(*charge) / 1000.0; // µAh
    const std::optional<qint64> energy = number("energy_now"); // µWh
    const std::optional<qint64> voltage = number("voltage_now"); // µV
    if (energy && voltage && *voltage > 0)
        return double(*energy) / double(*voltage) * 1000.0;
    return std::nullopt;
}

std::optional<double> LinuxBattery::currentMa() const
{
    std::optional<double> ma;
    if (const std::optional<qint64> current = number("current_now")) {
        ma = double(*current) / 1000.0; // µA
    } else {
        // Batteries that count energy report power instead of current.
        const std::optional<qint64> power = number("power_now"); // µW
        const std::optional<qint64> voltage = number("voltage_now"); // µV
        if (power && voltage && *voltage > 0)
            ma = double(*power) / double(*voltage) * 1000.0;
    }
    // The kernel's sign is negative while discharging, but ACPI and some
    // fuel gauges report the magnitude only: the status tells the direction.
    if (ma && *ma > 0 && text("status") == QByteArray("Discharging"))
        *ma = -*ma;
    return ma;
}

int LinuxBattery::remainingChargingTime() const
{
    if (const std::optional<qint64> seconds = number("time_to_full_now"))
        return clampToInt(double(*seconds));
    const QByteArray status = text("status").value_or(QByteArray());
    if (status == "Full")
        return 0;
    const std::optional<qint64> full = number("charge_full");
    const std::optional<double> now = chargeMah();
    const std::optional<double> ma = currentMa();
    if (status == "Charging" && full && now && ma && *ma > 0)
        return clampToInt(std::max(0.0, double(*full) / 1000.0 - *now) / *ma * 3600.0);
    return LinuxBackend::noTime;
}

int LinuxBattery::averageActiveCurrent() const
{
    // The kernel's running average, as the current the device draws now.
    if (const std::optional<qint64> average = number("current_avg"))
        return clampToInt(std::abs(double(*average)) / 1000.0);
    return LinuxBackend::noValue;
}

int LinuxBattery::remainingActiveTime() const
{
    if (const std::optional<qint64> seconds = number("time_to_empty_now"))
        return clampToInt(double(*seconds));
    const std::optional<double> mah = chargeMah();
    const std::optional<double> ma = currentMa();
    if (mah && ma && *ma < 0)
        return clampToInt(*mah / -*ma * 3600.0);
    return LinuxBackend::noTime;
}

int LinuxBattery::read(BatteryValue value, int /* mode: Linux keeps no figures per power mode */)
{
    if (battery.isEmpty())
        return 0;
    switch (value) {
    case BatteryValue::ChargerType:
        return chargerType();
    case BatteryValue::ChargingState:
        return chargingState();
    case BatteryValue::RemainingChargingTime:
        return remainingChargingTime();
    case BatteryValue::BatteryState:
        return batteryState();
    case BatteryValue::RemainingCapacityBars: {
        // Seven bars, as the handset's indicator; a bar shows while any charge is left in it.
        const int pct = percent();
        return pct < 0 ? LinuxBackend::noValue : (pct * 7 + 99) / 100;
    }
    case BatteryValue::RemainingCapacityPct:
        return percent();
    case BatteryValue::RemainingCapacitymAh: {
        const std::optional<double> mah = chargeMah();
        return mah ? clampToInt(*mah) : LinuxBackend::noValue;
    }
    case BatteryValue::Voltage: {
        const std::optional<qint64> uv = number("voltage_now");
        return uv ? clampToInt(double(*uv) / 1000.0) : LinuxBackend::noValue;
    }
    case BatteryValue::BatteryCurrent:
        return clampToInt(currentMa().value_or(0));
    case BatteryValue::CumulativeBatteryCurrent: {
        // µAh times 3.6 is mA·s; the charge counter runs down while discharging.
        if (const std::optional<qint64> counter = number("charge_counter"))
            return clampToInt(double(*counter) * 3.6);
        const std::optional<double> mah = chargeMah();
        return mah ? clampToInt(*mah * 3600.0) : 0;
    }
    case BatteryValue::AverageActiveCurrent:
        return averageActiveCurrent();
    case BatteryValue::RemainingActiveTime:
        return remainingActiveTime();
    case BatteryValue::AverageTalkCurrent:
    case BatteryValue::AverageIdleCurrent:
        return LinuxBackend::noValue; // Linux does not tell calls or idle time apart
    case BatteryValue::RemainingTalkTime:
    case BatteryValue::RemainingIdleTime:
        return LinuxBackend::noTime;
    }
    return 0;
}

} // namespace Vorna::Backend
