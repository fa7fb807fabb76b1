// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvdevicemode.h"

#include "kvopen_p.h"

namespace Vorna {

class KvDeviceModePrivate
{
public:
    std::unique_ptr<Backend::StateSource<KvDeviceMode::DeviceMode>> source;
};

KvDeviceMode::KvDeviceMode(QObject *parent)
    : QObject(parent)
    , d(new KvDeviceModePrivate)
{
    qRegisterMetaType<Vorna::KvDeviceMode::DeviceMode>();
    d->source = openSource(staticMetaObject, parent, [this](Backend::Backend &backend) {
        return backend.deviceMode([this](DeviceMode mode) { emit deviceModeChanged(mode); });
    });
}

KvDeviceMode::~KvDeviceMode()
{
    Trace::destroyed(staticMetaObject);
}

KvDeviceMode::DeviceMode KvDeviceMode::getMode() const
{
    return Trace::Call(this, "getMode").returns(d->source->get());
}

} // namespace Vorna
