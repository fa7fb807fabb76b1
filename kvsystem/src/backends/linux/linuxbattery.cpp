#include "linuxbattery.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>

namespace Vorna::Backend {

namespace {

using State = LinuxBattery::State;

// upowerd's thresholds, in the kernel's micro-units.
constexpr double tinyEnergy = 10000; // 0.01 Wh: an energy file that holds nothing
constexpr double lowEnergy = 100000; // 0.1 Wh: below it the rate is not trusted
constexpr double maxRate = 100e6; // 100 W: a larger rate is a firmware's garbage
constexpr double maxTimeToEmpty = 240 * 3600.0; // ten days
constexpr double maxTimeToFull = 20 * 3600.0;
// A battery that is neither charging nor discharging, on mains, above
// this percentage counts as full.
constexpr double chargedThreshold = 90.0;

int clampToInt(double v)
{
    if (std::isnan(v))
        return LinuxBackend::noValue;
    // Truncated, as the kernel's micro-units divided down to milli-units.
    return int(std::clamp<double>(std::trunc(v), INT_MIN + 1, INT_MAX));
}

// Failures that mean the attribute is not there (or not now): the driver
// has no such value, or a directory stands where a file should be.
bool meansAbsent(int error)
{
    return error == ENOENT || error == ENOTDIR || error == EISDIR || error == EACCES
        || error == EPERM || error == ENODEV || error == ENODATA || error == EINVAL
        || error == ENXIO || error == EAGAIN;
}

State stateFromStatus(const QByteArray &status)
{
    if (status == "Charging")
        return State::Charging;
    if (status == "Discharging")
        return State::Discharging;
    if (status == "Full")
        return State::FullyCharged;
    if (status == "Not charging")
        return State::PendingCharge;
    if (status == "Empty")
        return State::Empty;
    return State::Unknown;
}

bool isLinePower(const QByteArray &type)
{
    // Older kernels name USB chargers by port kind: USB_DCP, USB_CDP, USB_C, ...
    return type == "Mains" || type == "Wireless" || type == "USB" || type.startsWith("USB_");
}

} // namespace

LinuxBattery::LinuxBattery(const Sysfs &sysfs)
    : supplies(sysfs.path(QStringLiteral("class/power_supply")))
{ }

std::optional<QByteArray> LinuxBattery::text(const QString &dir, const char *name) const
{
    const QString file = dir + QLatin1Char('/') + QLatin1String(name);
    errno = 0;
    std::optional<QByteArray> t = Sysfs::read(file);
    if (!t && errno != 0 && !meansAbsent(errno) && !warnedError) {
        warnedError = true;
        std::fprintf(stderr,
            "kvsystem2: cannot read %s: %s: battery values read -1 while it fails\n",
            QFile::encodeName(file).constData(), std::strerror(errno));
        std::fflush(stderr);
    }
    return t;
}

std::optional<qint64> LinuxBattery::number(const QString &dir, const char *name) const
{
    const std::optional<QByteArray> t = text(dir, name);
    if (!t)
        return std::nullopt;
    bool ok = false;
    const qint64 n = t->toLongLong(&ok);
    return ok ? std::optional<qint64>(n) : std::nullopt;
}

void LinuxBattery::readPack(Pack &p) const
{
    const auto num = [&](const char *name) { return number(p.dir, name); };
    const auto positive = [&](const char *name) -> std::optional<double> {
        const std::optional<qint64> n = num(name);
        return n && *n > 0 ? std::optional<double>(double(*n)) : std::nullopt;
    };

    // The voltage that turns charge into energy, as upowerd chooses it.
    p.designVoltage = 10.0; // upowerd's guess when the battery names none
    for (const char *name :
        { "voltage_max_design", "voltage_min_design", "voltage_present", "voltage_now" }) {
        const std::optional<qint64> uv = num(name);
        if (uv && *uv > 1000000) {
            p.designVoltage = double(*uv) / 1e6;
            break;
        }
    }
    const double v = p.designVoltage;

    std::optional<double> energy = positive("energy_now");
    if (!energy || *energy < tinyEnergy)
        energy = positive("energy_avg");
    if (!energy || *energy < tinyEnergy) {
        std::optional<double> charge = positive("charge_now");
        if (!charge)
            charge = positive("charge_avg");
        if (charge) {
            energy = *charge * v;
            p.charge = charge;
            p.countsCharge = true;
        }
    }
    std::optional<double> full = positive("energy_full");
    if (!full || *full < tinyEnergy) {
        if (const std::optional<double> charge = positive("charge_full")) {
            full = *charge * v;
            p.countsCharge = true;
        }
    }
    if (!full || *full < tinyEnergy) {
        full = positive("energy_full_design");
        if (!full || *full < tinyEnergy) {
            const std::optional<double> design = positive("charge_full_design");
            full = design ? std::optional<double>(*design * v) : std::nullopt;
        }
    }

    const std::optional<qint64> capacity = num("capacity");
    if (capacity) {
        p.percent = std::clamp<double>(double(*capacity), 0, 100);
        // A gauge that gives the percentage only.
        if ((!energy || *energy < lowEnergy) && full)
            energy = *full * *p.percent / 100.0;
    }
    if (energy && full && *energy > *full)
        full = energy; // a battery that does not update its last full charge
    if (!p.percent && energy && full && *full > 0)
        p.percent = std::clamp(100.0 * *energy / *full, 0.0, 100.0);

    const std::optional<qint64> current = num("current_now");
    if (current)
        p.currentUa = double(*current);
    std::optional<double> rate;
    if (const std::optional<qint64> power = num("power_now"))
        rate = std::abs(double(*power));
    if ((!rate || *rate < tinyEnergy) && current) {
        // current_now is in µA where the battery counts charge; an old
        // energy-only ACPI battery without power_now puts µW there.
        const bool charge = num("charge_full").has_value() || num("charge_full_design").has_value();
        rate = std::abs(double(*current)) * (charge ? v : 1.0);
    }
    if (rate && *rate > maxRate)
        rate = 0.0;
    if (energy && *energy < lowEnergy)
        rate = 0.0; // some batteries give huge rates when nearly empty

    if (!p.charge && energy)
        p.charge = *energy / v;
    p.energy = energy;
    p.full = full;
    p.rate = rate;
    p.voltage = num("voltage_now");
    if (!p.voltage)
        p.voltage = num("voltage_avg");
    p.counter = num("charge_counter");
    p.currentAvg = num("current_avg");
    p.timeToEmpty = num("time_to_empty_now");
    p.timeToFull = num("time_to_full_now");
    p.status = text(p.dir, "status").value_or(QByteArray());
    p.health = text(p.dir, "health").value_or(QByteArray());
    p.level = text(p.dir, "capacity_level").value_or(QByteArray());
    p.state = stateFromStatus(p.status);
}

LinuxBattery::Snapshot LinuxBattery::snapshot() const
{
    Snapshot s;
    // A directory that cannot be listed for want of descriptors is no
    // machine without a battery: say so.
    if (DIR *d = ::opendir(QFile::encodeName(supplies).constData()))
        ::closedir(d);
    else if (!meansAbsent(errno) && !warnedError) {
        warnedError = true;
        std::fprintf(stderr,
            "kvsystem2: cannot read %s: %s: battery values read -1 while it fails\n",
            QFile::encodeName(supplies).constData(), std::strerror(errno));
        std::fflush(stderr);
    }

    bool anyCharger = false, usbOnline = false, wallOnline = false;
    for (const QString &dir : Sysfs::entries(supplies, QString())) {
        const QByteArray type = text(dir, "type").value_or(QByteArray());
        const QByteArray scope = text(dir, "scope").value_or(QByteArray());
        if (type == "Battery") {
            // A mouse's or a headset's battery does not feed this machine,
            // and a bay without its pack holds none.
            if (scope == "Device" || number(dir, "present").value_or(1) == 0)
                continue;
            Pack p;
            p.dir = dir;
            readPack(p);
            s.packs.append(p);
            continue;
        }
        if (!isLinePower(type) || scope == "Device")
            continue;
        anyCharger = true;
        const std::optional<qint64> online = number(dir, "online");
        if (online)
            s.anyLinePower = true;
        if (online.value_or(0) == 0)
            continue;
        s.lineOnline = true;
        // A wireless pad and a mains adapter both feed the device from the wall.
        if (type == "Mains" || type == "Wireless")
            wallOnline = true;
        else
            usbOnline = true;
    }
    s.charger = wallOnline ? KvBattery::Wall
        : usbOnline        ? KvBattery::USB_500mA
        : anyCharger       ? KvBattery::None
                           : KvBattery::Unknown;

    // upowerd's guess for a battery whose driver does not say what it does.
    for (Pack &p : s.packs) {
        const double pct = p.percent.value_or(0);
        if (p.state == State::Unknown) {
            if (s.anyLinePower) {
                if (s.lineOnline)
                    p.state = pct > chargedThreshold ? State::FullyCharged : State::Charging;
                else
                    p.state = pct < 1.0 ? State::Empty : State::Discharging;
            } else if (s.packs.size() == 1) {
                p.state = pct < 1.0 ? State::Empty : State::Discharging;
            }
        }
        if (p.state == State::Unknown && p.energy.value_or(0) < tinyEnergy)
            p.state = State::Empty;
    }

    // The display device: one battery charging makes the whole charging,
    // else one discharging makes it discharging; full only when none is
    // doing anything.
    for (const Pack &p : s.packs) {
        if (p.state == State::Charging)
            s.state = State::Charging;
        else if (p.state == State::Discharging && s.state != State::Charging)
            s.state = State::Discharging;
        else if ((p.state == State::FullyCharged || p.state == State::Empty)
            && s.state == State::Unknown)
            s.state = p.state;
        else if (p.state == State::PendingCharge
            && (s.state == State::Unknown || s.state == State::FullyCharged))
            s.state = State::PendingCharge;
        if (p.energy)
            s.energy = s.energy.value_or(0) + *p.energy;
        if (p.full)
            s.full = s.full.value_or(0) + *p.full;
        if (p.rate)
            s.rate = s.rate.value_or(0) + *p.rate;
    }
    if (s.packs.size() == 1)
        s.percent = s.packs.first().percent;
    else if (s.energy && s.full && *s.full > 0)
        s.percent = std::clamp(100.0 * *s.energy / *s.full, 0.0, 100.0);
    return s;
}

bool LinuxBattery::hasBattery() const
{
    return !snapshot().packs.isEmpty();
}

int LinuxBattery::value(const Snapshot &s, BatteryValue value) const
{
    const bool single = s.packs.size() == 1;
    const auto percent = [&]() -> int {
        return s.percent ? int(std::floor(*s.percent + 0.5)) : LinuxBackend::noValue;
    };
    // mAh: energy over the design voltage, so that a charge-counting
    // battery gives back its own charge_now.
    const auto mah = [&]() -> std::optional<double> {
        std::optional<double> sum;
        for (const Pack &p : s.packs)
            if (p.charge)
                sum = sum.value_or(0) + *p.charge / 1000.0;
        return sum;
    };

    switch (value) {
    case BatteryValue::ChargerType:
        return s.charger;
    case BatteryValue::ChargingState:
        switch (s.state) {
        case State::Charging:
            return KvBattery::StateCharging;
        case State::Unknown:
            return KvBattery::StateChargingFailed;
        default:
            return KvBattery::StateNotCharging;
        }
    case BatteryValue::BatteryState: {
        for (const Pack &p : s.packs)
            // "Unknown" is a driver that cannot tell, not a fault of the battery.
            if (!p.health.isEmpty() && p.health != "Good" && p.health != "Unknown")
                return KvBattery::StateError;
        if (s.state == State::FullyCharged)
            return KvBattery::StateFull;
        if (single) {
            const QByteArray &level = s.packs.first().level;
            if (level == "Critical")
                return KvBattery::StateEmpty;
            if (level == "Low")
                return KvBattery::StateLow;
            if (level == "Normal" || level == "High")
                return KvBattery::StateOK;
            if (level == "Full")
                return KvBattery::StateFull;
        }
        const int pct = percent();
        if (pct < 0)
            return KvBattery::StateError;
        return pct <= 5  ? KvBattery::StateEmpty
            : pct <= 15  ? KvBattery::StateLow
            : pct >= 100 ? KvBattery::StateFull
                         : KvBattery::StateOK;
    }
    case BatteryValue::RemainingCapacityBars: {
        // Seven bars, as the handset's indicator; a bar shows while any charge is left in it.
        const int pct = percent();
        return pct < 0 ? LinuxBackend::noValue : (pct * 7 + 99) / 100;
    }
    case BatteryValue::RemainingCapacityPct:
        return percent();
    case BatteryValue::RemainingCapacitymAh: {
        const std::optional<double> m = mah();
        return m ? clampToInt(*m) : LinuxBackend::noValue;
    }
    case BatteryValue::Voltage: {
        const std::optional<qint64> uv = s.packs.first().voltage;
        return uv ? clampToInt(double(*uv) / 1000.0) : LinuxBackend::noValue;
    }
    case BatteryValue::BatteryCurrent: {
        std::optional<double> sum;
        for (const Pack &p : s.packs) {
            double ma;
            if (p.countsCharge && p.currentUa)
                ma = *p.currentUa / 1000.0;
            else if (p.rate)
                ma = *p.rate / p.designVoltage / 1000.0;
            else if (p.currentUa)
                ma = *p.currentUa / 1000.0;
            else
                continue;
            // ACPI and some gauges give the magnitude only, and some chargers
            // a negative current while charging: the state tells the direction.
            if (p.state == State::Charging)
                ma = std::abs(ma);
            else if (p.state == State::Discharging)
                ma = -std::abs(ma);
            sum = sum.value_or(0) + ma;
        }
        return sum ? clampToInt(*sum) : LinuxBackend::noValue;
    }
    case BatteryValue::CumulativeBatteryCurrent: {
        // µAh times 3.6 is mA·s; the charge counter runs down while discharging.
        if (single && s.packs.first().counter)
            return clampToInt(double(*s.packs.first().counter) * 3.6);
        const std::optional<double> m = mah();
        return m ? clampToInt(*m * 3600.0) : noCounter;
    }
    case BatteryValue::RemainingChargingTime:
        if (s.state == State::FullyCharged)
            return 0;
        if (s.state == State::Charging && s.rate && *s.rate > 0 && s.energy && s.full) {
            const double t = 3600.0 * std::max(0.0, *s.full - *s.energy) / *s.rate;
            return t <= maxTimeToFull ? clampToInt(t) : LinuxBackend::noTime;
        }
        if (single && s.state == State::Charging && s.packs.first().timeToFull)
            return clampToInt(double(*s.packs.first().timeToFull));
        return LinuxBackend::noTime;
    case BatteryValue::RemainingActiveTime:
        if (s.state == State::Discharging && s.rate && *s.rate > 0 && s.energy) {
            const double t = 3600.0 * *s.energy / *s.rate;
            return t <= maxTimeToEmpty ? clampToInt(t) : LinuxBackend::noTime;
        }
        if (single && s.state == State::Discharging && s.packs.first().timeToEmpty)
            return clampToInt(double(*s.packs.first().timeToEmpty));
        return LinuxBackend::noTime;
    case BatteryValue::AverageActiveCurrent: {
        // The kernel's running average, as the current the device draws now.
        std::optional<double> sum;
        for (const Pack &p : s.packs)
            if (p.currentAvg)
                sum = sum.value_or(0) + std::abs(double(*p.currentAvg)) / 1000.0;
        return sum ? clampToInt(*sum) : LinuxBackend::noValue;
    }
    case BatteryValue::AverageTalkCurrent:
    case BatteryValue::AverageIdleCurrent:
        return LinuxBackend::noValue; // Linux does not tell calls or idle time apart
    case BatteryValue::RemainingTalkTime:
    case BatteryValue::RemainingIdleTime:
        return LinuxBackend::noTime;
    }
    return LinuxBackend::noValue;
}

int LinuxBattery::read(BatteryValue v, int /* mode: Linux keeps no figures per power mode */)
{
    const Snapshot s = snapshot();
    if (v == BatteryValue::ChargerType)
        return s.charger;
    if (s.packs.isEmpty()) {
        // No battery now (a desktop, or a pack taken out): nothing to read.
        switch (v) {
        case BatteryValue::CumulativeBatteryCurrent:
            return noCounter;
        case BatteryValue::RemainingChargingTime:
        case BatteryValue::RemainingActiveTime:
        case BatteryValue::RemainingTalkTime:
        case BatteryValue::RemainingIdleTime:
            return LinuxBackend::noTime;
        default:
            return LinuxBackend::noValue;
        }
    }
    return value(s, v);
}

} // namespace Vorna::Backend
