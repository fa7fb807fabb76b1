// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "linuxbattery.h"

#include <QFile>

#include <cstring>

namespace Vorna::Backend {

LinuxBattery::LinuxBattery(const Sysfs &sysfs)
    : reader(sysfs.path(QStringLiteral("class/power_supply")))
{ }

SupplyReading LinuxBattery::readSupplies() const
{
    SupplyReading r = reader.read();
    if (r.error != 0)
        warning("cannot read " + QFile::encodeName(reader.dir()) + ": "
            + QByteArray(std::strerror(r.error)) + ": battery values read -1 while it fails");
    return r;
}

BatteryModel::Display LinuxBattery::display() const
{
    return BatteryModel::display(readSupplies().supplies);
}

bool LinuxBattery::hasBattery(int *error) const
{
    const SupplyReading r = readSupplies();
    if (error)
        *error = r.error;
    for (const BatteryModel::Supply &s : r.supplies)
        if (BatteryModel::isSystemBattery(s))
            return true;
    return false;
}

int LinuxBattery::read(BatteryValue value, KvBattery::RemainingTimeMode /* Linux keeps no figures per power mode */)
{
    return BatteryModel::answer(display(), value);
}

} // namespace Vorna::Backend
