// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVACCELEROMETER_H
#define KVSYSTEM_INCLUDE_KVACCELEROMETER_H

#include "kvsensor.h"

namespace Vorna {

// Acceleration along the three axes in milli-g, gravity included.
struct KvAccelerometerReading
{
    quint64 timestamp = 0; // microseconds of the device's monotonic clock
    qint32 x = 0;
    qint32 y = 0;
    qint32 z = 0;
};

class KVSYSTEM2_EXPORT KvAccelerometer : public KvSensor
{
    Q_OBJECT
public:
    explicit KvAccelerometer(QObject *parent = nullptr);
    ~KvAccelerometer() override;

signals:
    // Every reading between start() and stop(), in the order measured.
    void dataAvailable(const Vorna::KvAccelerometerReading &reading);
};

} // namespace Vorna

Q_DECLARE_METATYPE(Vorna::KvAccelerometerReading)

#endif
