// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "supplyreader.h"

#include "sysfs.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>

namespace Vorna::Backend {

bool SupplyReader::meansAbsent(int error)
{
    return error == ENOENT || error == ENOTDIR || error == EISDIR || error == EACCES
        || error == EPERM || error == ENODEV || error == ENODATA || error == EINVAL
        || error == ENXIO || error == EAGAIN;
}

namespace {

// The attributes of one supply directory, remembering the first real failure.
struct Attributes
{
    const QString &dir;
    int &error;

    std::optional<QByteArray> text(const char *name) const
    {
        errno = 0;
        std::optional<QByteArray> t = Sysfs::read(dir + QLatin1Char('/') + QLatin1String(name));
        if (!t && errno != 0 && !SupplyReader::meansAbsent(errno) && error == 0)
            error = errno;
        return t;
    }
    QByteArray word(const char *name) const { return text(name).value_or(QByteArray()); }
    static std::optional<double> number(const std::optional<QByteArray> &t)
    {
        bool ok = false;
        const qint64 n = t ? t->toLongLong(&ok) : 0;
        return ok ? std::optional<double>(double(n)) : std::nullopt;
    }
    std::optional<double> number(const char *name) const { return number(text(name)); }
};

BatteryModel::Gauge gauge(const Attributes &a)
{
    BatteryModel::Gauge g;
    g.energyNow = a.number("energy_now");
    g.energyAvg = a.number("energy_avg");
    g.energyFull = a.number("energy_full");
    g.energyFullDesign = a.number("energy_full_design");
    g.chargeNow = a.number("charge_now");
    g.chargeAvg = a.number("charge_avg");
    g.chargeFull = a.number("charge_full");
    g.chargeFullDesign = a.number("charge_full_design");
    g.currentNow = a.number("current_now");
    g.currentAvg = a.number("current_avg");
    g.powerNow = a.number("power_now");
    g.voltageNow = a.number("voltage_now");
    g.voltageAvg = a.number("voltage_avg");
    g.voltageMaxDesign = a.number("voltage_max_design");
    g.voltageMinDesign = a.number("voltage_min_design");
    g.voltagePresent = a.number("voltage_present");
    g.capacity = a.number("capacity");
    g.chargeCounter = a.number("charge_counter");
    g.timeToEmpty = a.number("time_to_empty_now");
    g.timeToFull = a.number("time_to_full_now");
    g.status = a.word("status");
    g.health = a.word("health");
    g.level = a.word("capacity_level");
    return g;
}

} // namespace

SupplyReading SupplyReader::read() const
{
    SupplyReading r;
    // A directory that cannot be listed for want of descriptors is no
    // machine without a battery.
    if (DIR *d = ::opendir(QFile::encodeName(supplies).constData()))
        ::closedir(d);
    else if (!meansAbsent(errno))
        r.error = errno;

    for (const QString &dir : Sysfs::entries(supplies, QString())) {
        const Attributes a { dir, r.error };
        BatteryModel::Supply s;
        s.name = dir.section(QLatin1Char('/'), -1);
        s.type = a.word("type");
        s.scope = a.word("scope");
        s.present = a.number("present");
        if (s.type == "Battery")
            s.gauge = gauge(a);
        else if (const std::optional<QByteArray> online = a.text("online")) {
            s.hasOnline = true;
            s.online = Attributes::number(online);
        }
        r.supplies.append(s);
    }
    return r;
}

} // namespace Vorna::Backend
