// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVMAGNETOMETER_H
#define KVSYSTEM_INCLUDE_KVMAGNETOMETER_H

#include "kvsensor.h"

namespace Vorna {

// Magnetic field in nanotesla, calibrated and raw, with the calibration level (0 to 3).
struct KvMagnetometerReading
{
    quint64 timestamp = 0; // microseconds of the device's monotonic clock
    qint32 x = 0;
    qint32 y = 0;
    qint32 z = 0;
    qint32 rx = 0;
    qint32 ry = 0;
    qint32 rz = 0;
    qint32 level = 0;
};

class KVSYSTEM2_EXPORT KvMagnetometer : public KvSensor
{
    Q_OBJECT
public:
    explicit KvMagnetometer(QObject *parent = nullptr);
    ~KvMagnetometer() override;

    // The field now, also before the sensor is started.
    Vorna::KvMagnetometerReading magneticField() const;

signals:
    // Every reading between start() and stop(), in the order measured.
    void dataAvailable(const Vorna::KvMagnetometerReading &reading);
};

} // namespace Vorna

Q_DECLARE_METATYPE(Vorna::KvMagnetometerReading)

#endif
