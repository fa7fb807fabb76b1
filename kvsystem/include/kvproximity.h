// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVPROXIMITY_H
#define KVSYSTEM_INCLUDE_KVPROXIMITY_H

#include "kvsensor.h"

namespace Vorna {

// Proximity: 0 when nothing is near the sensor, larger values when something is.
struct KvProximityReading
{
    quint64 timestamp = 0; // microseconds of the device's monotonic clock
    qint32 value = 0;
};

class KVSYSTEM2_EXPORT KvProximity : public KvSensor
{
    Q_OBJECT
public:
    explicit KvProximity(QObject *parent = nullptr);
    ~KvProximity() override;

signals:
    // Every reading between start() and stop(), in the order measured.
    void ProximityChanged(const Vorna::KvProximityReading reading);
};

} // namespace Vorna

Q_DECLARE_METATYPE(Vorna::KvProximityReading)

#endif
