// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvals.h"

#include "kvsensor_p.h"

namespace Vorna {

KvALS::KvALS(QObject *parent)
    : KvSensor(parent)
{
    qRegisterMetaType<Vorna::KvAlsReading>();
    d->open(this, staticMetaObject, Backend::Sensor::Als, [this](const Backend::Sample &s) {
        KvAlsReading reading;
        reading.timestamp = s.timestamp;
        reading.value = s.values[Backend::Field::Als::value];
        emit ALSChanged(reading);
    });
}

KvALS::~KvALS()
{
    d->close(staticMetaObject);
}

} // namespace Vorna
