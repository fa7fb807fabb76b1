// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvthermal.h"

#include "kvopen_p.h"

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
    d->source = openSource(staticMetaObject, parent, [this](Backend::Backend &backend) {
        return backend.thermal([this](ThermalState state) { emit thermalChanged(state); });
    });
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
