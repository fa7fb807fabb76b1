// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvcompass.h"

#include "kvsensor_p.h"

namespace Vorna {

KvCompass::KvCompass(QObject *parent)
    : KvSensor(parent)
{
    qRegisterMetaType<Vorna::KvCompassReading>();
    d->open(this, staticMetaObject, Backend::Sensor::Compass, [this](const Backend::Sample &s) {
        KvCompassReading reading;
        reading.timestamp = s.timestamp;
        reading.firstValue = s.values[Backend::Field::Compass::firstValue];
        reading.secondValue = s.values[Backend::Field::Compass::secondValue];
        emit dataAvailable(reading);
    });
}

KvCompass::~KvCompass()
{
    d->close(staticMetaObject);
}

} // namespace Vorna
