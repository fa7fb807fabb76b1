// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVORIENTATION_H
#define KVSYSTEM_INCLUDE_KVORIENTATION_H

#include "kvsensor.h"

namespace Vorna {

// The side of the handset that faces up, as a KvOrientation::Orientation.
struct KvOrientationReading
{
    quint64 timestamp = 0; // microseconds of the device's monotonic clock
    qint32 value = 0;
};

class KVSYSTEM2_EXPORT KvOrientation : public KvSensor
{
    Q_OBJECT
public:
    explicit KvOrientation(QObject *parent = nullptr);
    ~KvOrientation() override;

    enum Orientation : int {
        Undefined = 0,
        BottomUp = 1,
        BottomDown = 2,
        LeftUp = 3,
        RightUp = 4,
        FaceDown = 5,
        FaceUp = 6
    };
    Q_ENUM(Orientation)

signals:
    // Every reading between start() and stop(), in the order measured.
    void orientationChanged(const Vorna::KvOrientationReading reading);
};

} // namespace Vorna

Q_DECLARE_METATYPE(Vorna::KvOrientationReading)

#endif
