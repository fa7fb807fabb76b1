// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVDEVICEMODE_H
#define KVSYSTEM_INCLUDE_KVDEVICEMODE_H

#include "kvsystem2_export.h"

#include <QObject>

#include <memory>

namespace Vorna {

class KvDeviceModePrivate;

// The device's operation mode: normal, or flight mode with every radio off.
class KVSYSTEM2_EXPORT KvDeviceMode : public QObject
{
    Q_OBJECT
public:
    enum DeviceMode : int { Error = -1, Normal = 0, Flight = 1 };
    Q_ENUM(DeviceMode)

    explicit KvDeviceMode(QObject *parent = nullptr);
    ~KvDeviceMode() override;

    // The mode now; Error when the device cannot tell.
    Vorna::KvDeviceMode::DeviceMode getMode() const;

signals:
    // Each change of mode; may come from a thread of the library's own.
    void deviceModeChanged(Vorna::KvDeviceMode::DeviceMode mode);

private:
    Q_DISABLE_COPY(KvDeviceMode)
    std::unique_ptr<KvDeviceModePrivate> d;
};

} // namespace Vorna

#endif
