// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVTAP_H
#define KVSYSTEM_INCLUDE_KVTAP_H

#include "kvsensor.h"

namespace Vorna {

// One tap or double tap on the case.
struct KvTapReading
{
    quint64 timestamp = 0; // microseconds of the device's monotonic clock
    qint32 firstValue = 0; // a KvTap::Direction
    qint32 secondValue = 0; // a KvTap::Type
};

class KVSYSTEM2_EXPORT KvTap : public KvSensor
{
    Q_OBJECT
public:
    explicit KvTap(QObject *parent = nullptr);
    ~KvTap() override;

    enum Direction : int { X = 0, Y = 1, Z = 2 };
    Q_ENUM(Direction)
    enum Type : int { SingleTap = 0, DoubleTap = 1 };
    Q_ENUM(Type)

signals:
    // Every reading between start() and stop(), in the order measured.
    void tapped(const Vorna::KvTapReading reading);
};

} // namespace Vorna

Q_DECLARE_METATYPE(Vorna::KvTapReading)

#endif
