// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_VIRTUALHANDSET_H
#define KVSYSTEM_SRC_VIRTUALHANDSET_H

// The virtual handset: a device lying on a desk or held in a hand, whose
// values are smooth functions of the time since the model started. Pure
// functions, so that tests can ask for any moment.

#include "backend.h"

#include <QVector>

namespace Vorna::Backend::VirtualHandset {

// The reading of a sensor at ms after the model started; timestamp is what
// the reading carries.
Sample reading(Sensor kind, qint64 ms, quint64 timestamp);

// A battery getter at seconds after the model started. The battery
// discharges steadily; at 15 % the charger is plugged in until the battery
// has been full for a while, day after day. All values agree with one another.
int battery(BatteryValue value, int mode, double seconds);

// The cell behind the battery getters at a moment.
struct Cell
{
    double charge; // mA·s
    double current; // mA, positive into the cell
    bool plugged; // on the charger
    bool charging; // the charger is filling the cell
    double toFull; // s until full, while charging
};
Cell cell(double seconds);
// A cell held at a percentage, on the charger (filling it as the model
// does) or drawing dischargeCurrent (mA, positive).
Cell cellAt(int percentage, bool plugged, double dischargeCurrent);
int battery(BatteryValue value, int mode, const Cell &cell);

// A state that flips now and then: its value at a moment, and the moments
// (ms after the model started) at which it changes: first, first + every, ...
struct Cycle
{
    QVector<int> values; // value k holds from change k on; values[0] before the first change
    qint64 first = 0;
    qint64 every = 0;
    int at(qint64 ms) const;
    int afterChange(qint64 k) const { return values[int((k + 1) % values.size())]; }
};

Cycle displayCycle();
Cycle activityCycle();
Cycle thermalCycle();
// Indications that a healthy device sends now and then; values[0] is unused.
Cycle systemStateCycle();

} // namespace Vorna::Backend::VirtualHandset

#endif
