// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_LINUXBATTERY_H
#define KVSYSTEM_SRC_LINUXBATTERY_H

// The battery of a Linux machine, from the kernel's power supply class, as
// upowerd reads it: the system batteries combined as upowerd's display
// device combines them, with the "Mains", "USB" and "Wireless" supplies as
// chargers. Every getter reads the files afresh (SupplyReader) and decides
// with the battery model (BatteryModel).

#include "backend.h"
#include "supplyreader.h"
#include "sysfs.h"

namespace Vorna::Backend {

class LinuxBattery : public BatterySource
{
public:
    explicit LinuxBattery(const Sysfs &sysfs);

    // The directory that holds the supplies.
    QString suppliesDir() const { return reader.dir(); }

    // The machine now. A failure to read that is no missing attribute (no
    // descriptor left, an I/O error of the driver) is said on standard
    // error, once a cause; what could not be read has no value.
    BatteryModel::Display display() const;

    // Whether a system battery is there now; a failure to read is said
    // and counts as no answer either way (error holds its errno, else 0).
    bool hasBattery(int *error = nullptr) const;

    int read(BatteryValue value, KvBattery::RemainingTimeMode mode) override;

private:
    SupplyReading readSupplies() const;

    const SupplyReader reader;
};

} // namespace Vorna::Backend

#endif
