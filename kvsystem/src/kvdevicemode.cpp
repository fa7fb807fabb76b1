#include "kvdevicemode.h"

#include "backend.h"
#include "trace.h"

namespace Vorna {

class KvDeviceModePrivate
{
public:
    std::unique_ptr<Backend::StateSource> source;
};

KvDeviceMode::KvDeviceMode(QObject *parent)
    : QObject(parent)
    , d(new KvDeviceModePrivate)
{
    qRegisterMetaType<Vorna::KvDeviceMode::DeviceMode>();
    Backend::Backend &backend = Backend::Backend::instance();
    Trace::constructed(staticMetaObject, parent);
    d->source
        = backend.deviceMode([this](int value) { emit deviceModeChanged(DeviceMode(value)); });
}

KvDeviceMode::~KvDeviceMode()
{
    Trace::destroyed(staticMetaObject);
}

KvDeviceMode::DeviceMode KvDeviceMode::getMode() const
{
    return DeviceMode(Trace::Call(this, "getMode").returns(d->source->get()));
}

} // namespace Vorna
