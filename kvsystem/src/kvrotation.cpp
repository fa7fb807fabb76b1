// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvrotation.h"

#include "kvsensor_p.h"

namespace Vorna {

namespace {

KvRotationReading toReading(const Backend::Sample &s)
{
    KvRotationReading reading;
    reading.timestamp = s.timestamp;
    reading.x = s.values[Backend::Field::Rotation::x];
    reading.y = s.values[Backend::Field::Rotation::y];
    reading.z = s.values[Backend::Field::Rotation::z];
    return reading;
}

} // namespace

KvRotation::KvRotation(QObject *parent)
    : KvSensor(parent)
{
    qRegisterMetaType<Vorna::KvRotationReading>();
    d->open(this, staticMetaObject, Backend::Sensor::Rotation,
        [this](const Backend::Sample &s) { emit dataAvailable(toReading(s)); });
}

KvRotation::~KvRotation()
{
    d->close(staticMetaObject);
}

KvRotationReading KvRotation::rotation() const
{
    return toReading(
        Trace::Call(this, "rotation").returns(d->source->current(), Backend::Sensor::Rotation));
}

bool KvRotation::hasZ() const
{
    return Trace::Call(this, "hasZ").returns(d->source->hasZ());
}

} // namespace Vorna
