#include "kvthermal.h"

#include "backend.h"
#include "trace.h"

namespace Vorna {

class KvThermalPrivate
{
public:
    std::unique_ptr<Backend::StateSource> source;
};

KvThermal::KvThermal(QObject *parent)
    : QObject(parent)
    , d(new KvThermalPrivate)
{
    qRegisterMetaType<Vorna::KvThermal::ThermalState>();
    Backend::Backend &backend = Backend::Backend::instance();
    Trace::constructed(staticMetaObject, parent);
    d->source = backend.thermal([this](int value) { emit thermalChanged(ThermalState(value)); });
}

KvThermal::~KvThermal()
{
    Trace::destroyed(staticMetaObject);
}

KvThermal::ThermalState KvThermal::get() const
{
    return ThermalState(Trace::Call(this, "get").returns(d->source->get()));
}

} // namespace Vorna
