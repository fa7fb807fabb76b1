// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvmagnetometer.h"

#include "kvsensor_p.h"

namespace Vorna {

namespace {

KvMagnetometerReading toReading(const Backend::Sample &s)
{
    KvMagnetometerReading reading;
    reading.timestamp = s.timestamp;
    reading.x = s.values[Backend::Field::Magnetometer::x];
    reading.y = s.values[Backend::Field::Magnetometer::y];
    reading.z = s.values[Backend::Field::Magnetometer::z];
    reading.rx = s.values[Backend::Field::Magnetometer::rx];
    reading.ry = s.values[Backend::Field::Magnetometer::ry];
    reading.rz = s.values[Backend::Field::Magnetometer::rz];
    reading.level = s.values[Backend::Field::Magnetometer::level];
    return reading;
}

} // namespace

KvMagnetometer::KvMagnetometer(QObject *parent)
    : KvSensor(parent)
{
    qRegisterMetaType<Vorna::KvMagnetometerReading>();
    d->open(this, staticMetaObject, Backend::Sensor::Magnetometer,
        [this](const Backend::Sample &s) { emit dataAvailable(toReading(s)); });
}

KvMagnetometer::~KvMagnetometer()
{
    d->close(staticMetaObject);
}

KvMagnetometerReading KvMagnetometer::magneticField() const
{
    return toReading(Trace::Call(this, "magneticField")
                         .returns(d->source->current(), Backend::Sensor::Magnetometer));
}

} // namespace Vorna
