// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvorientation.h"

#include "kvsensor_p.h"

namespace Vorna {

KvOrientation::KvOrientation(QObject *parent)
    : KvSensor(parent)
{
    qRegisterMetaType<Vorna::KvOrientationReading>();
    d->open(this, staticMetaObject, Backend::Sensor::Orientation, [this](const Backend::Sample &s) {
        KvOrientationReading reading;
        reading.timestamp = s.timestamp;
        reading.value = s.values[Backend::Field::Orientation::value];
        emit orientationChanged(reading);
    });
}

KvOrientation::~KvOrientation()
{
    d->close(staticMetaObject);
}

} // namespace Vorna
