#ifndef KVSYSTEM_INCLUDE_KVPROXIMITY_H
#define KVSYSTEM_INCLUDE_KVPROXIMITY_H

#include "kvsensor.h"

namespace Vorna {

// Proximity: 0 when nothing is near the sensor, larger values when something is.
struct KvProximityReading
{
    quint64 timestamp = 0;
    qint32 value = 0;
};

class KvProximity : public KvSensor
{
    Q_OBJECT
public:
    explicit KvProximity(QObject *parent = nullptr);
    ~KvProximity() override;

signals:
    void ProximityChanged(const Vorna::KvProximityReading reading);
};

} // namespace Vorna

Q_DECLARE_METATYPE(Vorna::KvProximityReading)

#endif
