// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvsensor.h"

#include "kvsensor_p.h"

namespace Vorna {

KvSensor::KvSensor(QObject *parent)
    : QObject(parent)
    , d(new KvSensorPrivate)
{
    qRegisterMetaType<Vorna::KvSensor::SessionType>();
}

KvSensor::~KvSensor()
{
    // Each sensor class closes its source in its own destructor, while its
    // signal can still be emitted: past that, a reading on its way from the
    // backend's thread would reach a half-destroyed object.
    Q_ASSERT_X(!d->source, "KvSensor", "a sensor class left its source open");
}

KvSensor::SessionType KvSensor::requestSession(SessionType type)
{
    return Trace::Call(this, "requestSession").arg(type).returns(d->source->requestSession(type));
}

KvSensor::SessionType KvSensor::sessionType() const
{
    return Trace::Call(this, "sessionType").returns(d->source->sessionType());
}

bool KvSensor::start()
{
    return Trace::Call(this, "start").returns(d->source->start());
}

void KvSensor::stop()
{
    d->source->stop();
    Trace::Call(this, "stop");
}

void KvSensor::closeSession()
{
    d->source->closeSession();
    Trace::Call(this, "closeSession");
}

QString KvSensor::lastError() const
{
    return Trace::Call(this, "lastError").returns(d->source->lastError());
}

} // namespace Vorna
