#include "kvaccelerometer.h"

#include "kvsensor_p.h"

namespace Vorna {

KvAccelerometer::KvAccelerometer(QObject *parent)
    : KvSensor(parent)
{
    qRegisterMetaType<Vorna::KvAccelerometerReading>();
    d->open(
        this, staticMetaObject, Backend::Sensor::Accelerometer, [this](const Backend::Sample &s) {
            KvAccelerometerReading reading;
            reading.timestamp = s.timestamp;
            reading.x = s.values[0];
            reading.y = s.values[1];
            reading.z = s.values[2];
            emit dataAvailable(reading);
        });
}

KvAccelerometer::~KvAccelerometer()
{
    d->close(staticMetaObject);
}

} // namespace Vorna
