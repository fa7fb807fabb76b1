// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvsystemstate.h"

#include "kvopen_p.h"

namespace Vorna {

class KvSystemStatePrivate
{
public:
    std::unique_ptr<Backend::SystemStateSource> source;
};

KvSystemState::KvSystemState(QObject *parent)
    : QObject(parent)
    , d(new KvSystemStatePrivate)
{
    qRegisterMetaType<Vorna::KvSystemState::StateIndication>();
    d->source = openSource(staticMetaObject, parent, [this](Backend::Backend &backend) {
        return backend.systemState([this](StateIndication what) { emit systemStateChanged(what); });
    });
}

KvSystemState::~KvSystemState()
{
    Trace::destroyed(staticMetaObject);
}

bool KvSystemState::set(NextState nextState)
{
    return Trace::Call(this, "set").arg(nextState).returns(d->source->set(nextState));
}

} // namespace Vorna
