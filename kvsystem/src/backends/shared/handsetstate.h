// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_HANDSETSTATE_H
#define KVSYSTEM_SRC_HANDSETSTATE_H

// The shared handset's values: what the service holds, and the copy a
// joined program keeps of them. Plain values; the battery getters are
// decided from them by the virtual handset's battery model.

#include "backend.h"
#include "handsetbus.h"

#include <array>

namespace Vorna::Backend {

class HandsetState
{
public:
    // The virtual handset at rest: its values at its first moment, the
    // display on, the user active, the battery following the model.
    HandsetState();

    // Keeps a value (an event's last one too); one of the wrong size is dropped.
    void apply(const HandsetBus::Value &value);
    // Every value held, in table order (the events' last ones included, so
    // that a program started later sees a whole handset).
    QVector<HandsetBus::Value> all() const;
    const QVector<qint32> &fields(HandsetBus::Property property) const
    {
        return values[size_t(property)];
    }
    qint32 field(HandsetBus::Property property) const { return values[size_t(property)].value(0); }

    // The reading of a sensor as the handset holds it, stamped now.
    Sample sample(Sensor kind, quint64 timestamp) const;
    // A battery getter, seconds after the battery model started: the
    // model's values, with what is held put in.
    int battery(BatteryValue value, int mode, double seconds) const;

private:
    std::array<QVector<qint32>, HandsetBus::PropertyCount> values;
};

} // namespace Vorna::Backend

#endif
