// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_SUPPLYREADER_H
#define KVSYSTEM_SRC_SUPPLYREADER_H

// Reads the kernel's power supply class (<sysfs>/class/power_supply) into
// plain values, one Supply a directory, deciding nothing: what the values
// mean is the battery model's. Every call reads the files afresh, so a
// battery that comes or goes shows in the next one.

#include "batterymodel.h"

#include <QString>
#include <QVector>

namespace Vorna::Backend {

struct SupplyReading
{
    QVector<BatteryModel::Supply> supplies;
    // The first failure that does not mean "no such attribute" (no
    // descriptor left, an I/O error of the driver): its errno, 0 when
    // none. The supplies are then what could be read.
    int error = 0;
};

class SupplyReader
{
public:
    explicit SupplyReader(QString dir) : supplies(std::move(dir)) { }
    QString dir() const { return supplies; }
    SupplyReading read() const;

    // Failures of a read that mean the attribute is not there (or not
    // now): the driver has no such value, may not give it, or a directory
    // stands where a file should be.
    static bool meansAbsent(int error);

private:
    const QString supplies;
};

} // namespace Vorna::Backend

#endif
