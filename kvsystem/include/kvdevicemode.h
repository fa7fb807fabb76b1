#ifndef KVSYSTEM_INCLUDE_KVDEVICEMODE_H
#define KVSYSTEM_INCLUDE_KVDEVICEMODE_H

#include <QObject>

#include <memory>

namespace Vorna {

class KvDeviceModePrivate;

// The device's operation mode: normal, or flight mode with every radio off.
class KvDeviceMode : public QObject
{
    Q_OBJECT
public:
    enum DeviceMode : int { Error = -1, Normal = 0, Flight = 1 };
    Q_ENUM(DeviceMode)

    explicit KvDeviceMode(QObject *parent = nullptr);
    ~KvDeviceMode() override;

    Vorna::KvDeviceMode::DeviceMode getMode() const;

signals:
    void deviceModeChanged(Vorna::KvDeviceMode::DeviceMode mode);

private:
    Q_DISABLE_COPY(KvDeviceMode)
    std::unique_ptr<KvDeviceModePrivate> d;
};

} // namespace Vorna

#endif
