// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVALS_H
#define KVSYSTEM_INCLUDE_KVALS_H

#include "kvsensor.h"

namespace Vorna {

// Ambient light.
struct KvAlsReading
{
    quint64 timestamp = 0; // microseconds of the device's monotonic clock
    qint32 value = 0; // light level in lux
};

class KVSYSTEM2_EXPORT KvALS : public KvSensor
{
    Q_OBJECT
public:
    explicit KvALS(QObject *parent = nullptr);
    ~KvALS() override;

signals:
    // Every reading between start() and stop(), in the order measured.
    void ALSChanged(const Vorna::KvAlsReading reading);
};

} // namespace Vorna

Q_DECLARE_METATYPE(Vorna::KvAlsReading)

#endif
