#include "kvthermal.h"

#include "backend.h"
#include "trace.h"

namespace Vorna {

class KvThermalPrivate
{
public:
    std::unique_ptr<Backend::StateSource<KvThermal::ThermalState>> source;
};

KvThermal::KvThermal(QObject *parent)
    : QObject(parent)
    , d(new KvThermalPrivate)
{
    qRegisterMetaType<Vorna::KvThermal::ThermalState>();
    Backend::Backend &backend = Backend::instance();
    Trace::constructed(staticMetaObject, parent);
    d->source = backend.thermal([this](ThermalState state) { emit thermalChanged(state); });
}

KvThermal::~KvThermal()
{
    Trace::destroyed(staticMetaObject);
}

KvThermal::ThermalState KvThermal::get() const
{
    return Trace::Call(this, "get").returns(d->source->get());
}

} // namespace Vorna
