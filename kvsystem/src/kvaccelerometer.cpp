// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvaccelerometer.h"

#include "kvsensor_p.h"

namespace Vorna {

KvAccelerometer::KvAccelerometer(QObject *parent)
    : KvSensor(parent)
{
    qRegisterMetaType<Vorna::KvAccelerometerReading>();
    d->open(
        this, staticMetaObject, Backend::Sensor::Accelerometer, [this](const Backend::Sample &s) {
            KvAccelerometerReading reading;
            reading.timestamp = s.timestamp;
            reading.x = s.values[Backend::Field::Accelerometer::x];
            reading.y = s.values[Backend::Field::Accelerometer::y];
            reading.z = s.values[Backend::Field::Accelerometer::z];
            emit dataAvailable(reading);
        });
}

KvAccelerometer::~KvAccelerometer()
{
    d->close(staticMetaObject);
}

} // namespace Vorna
