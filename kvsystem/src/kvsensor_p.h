// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_KVSENSOR_P_H
#define KVSYSTEM_SRC_KVSENSOR_P_H

#include "kvopen_p.h"

#include <QObject>

namespace Vorna {

class KvSensorPrivate
{
public:
    // Called by each sensor class's constructor: opens the sensor, whose
    // samples the sink turns into the class's signal.
    void open(
        const QObject *q, const QMetaObject &cls, Backend::Sensor kind, Backend::SampleSink sink)
    {
        source = openSource(cls, q->parent(),
            [&](Backend::Backend &backend) { return backend.sensor(kind, std::move(sink)); });
    }

    // Called by each sensor class's destructor, while its signal can still be
    // emitted: once the source is gone no sample is delivered any more.
    void close(const QMetaObject &cls)
    {
        Trace::destroyed(cls);
        source.reset();
    }

    std::unique_ptr<Backend::SensorSource> source;
};

} // namespace Vorna

#endif
