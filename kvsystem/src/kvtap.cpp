// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvtap.h"

#include "kvsensor_p.h"

namespace Vorna {

KvTap::KvTap(QObject *parent)
    : KvSensor(parent)
{
    qRegisterMetaType<Vorna::KvTapReading>();
    d->open(this, staticMetaObject, Backend::Sensor::Tap, [this](const Backend::Sample &s) {
        KvTapReading reading;
        reading.timestamp = s.timestamp;
        reading.firstValue = s.values[Backend::Field::Tap::firstValue];
        reading.secondValue = s.values[Backend::Field::Tap::secondValue];
        emit tapped(reading);
    });
}

KvTap::~KvTap()
{
    d->close(staticMetaObject);
}

} // namespace Vorna
