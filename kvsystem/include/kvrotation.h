// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVROTATION_H
#define KVSYSTEM_INCLUDE_KVROTATION_H

#include "kvsensor.h"

namespace Vorna {

// Rotation about the three axes, in degrees.
struct KvRotationReading
{
    quint64 timestamp = 0; // microseconds of the device's monotonic clock
    qint32 x = 0;
    qint32 y = 0;
    qint32 z = 0;
};

class KVSYSTEM2_EXPORT KvRotation : public KvSensor
{
    Q_OBJECT
public:
    explicit KvRotation(QObject *parent = nullptr);
    ~KvRotation() override;

    // The rotation now, also before the sensor is started.
    Vorna::KvRotationReading rotation() const;
    // Whether the sensor measures the rotation about the Z axis.
    bool hasZ() const;

signals:
    // Every reading between start() and stop(), in the order measured.
    void dataAvailable(const Vorna::KvRotationReading &reading);
};

} // namespace Vorna

Q_DECLARE_METATYPE(Vorna::KvRotationReading)

#endif
