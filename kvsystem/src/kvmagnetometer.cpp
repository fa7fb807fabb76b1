#include "kvmagnetometer.h"

#include "kvsensor_p.h"

namespace Vorna {

namespace {

KvMagnetometerReading toReading(const Backend::Sample &s)
{
    KvMagnetometerReading reading;
    reading.timestamp = s.timestamp;
    reading.x = s.values[0];
    reading.y = s.values[1];
    reading.z = s.values[2];
    reading.rx = s.values[3];
    reading.ry = s.values[4];
    reading.rz = s.values[5];
    reading.level = s.values[6];
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
