// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvproximity.h"

#include "kvsensor_p.h"

namespace Vorna {

KvProximity::KvProximity(QObject *parent)
    : KvSensor(parent)
{
    qRegisterMetaType<Vorna::KvProximityReading>();
    d->open(this, staticMetaObject, Backend::Sensor::Proximity, [this](const Backend::Sample &s) {
        KvProximityReading reading;
        reading.timestamp = s.timestamp;
        reading.value = s.values[Backend::Field::Proximity::value];
        emit ProximityChanged(reading);
    });
}

KvProximity::~KvProximity()
{
    d->close(staticMetaObject);
}

} // namespace Vorna
