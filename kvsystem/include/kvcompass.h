// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVCOMPASS_H
#define KVSYSTEM_INCLUDE_KVCOMPASS_H

#include "kvsensor.h"

namespace Vorna {

// Heading: firstValue in degrees from magnetic north, secondValue the calibration level (0 to 3).
struct KvCompassReading
{
    quint64 timestamp = 0; // microseconds of the device's monotonic clock
    qint32 firstValue = 0;
    qint32 secondValue = 0;
};

class KVSYSTEM2_EXPORT KvCompass : public KvSensor
{
    Q_OBJECT
public:
    explicit KvCompass(QObject *parent = nullptr);
    ~KvCompass() override;

signals:
    // Every reading between start() and stop(), in the order measured.
    void dataAvailable(const Vorna::KvCompassReading reading);
};

} // namespace Vorna

Q_DECLARE_METATYPE(Vorna::KvCompassReading)

#endif
