#include "kvsystemstate.h"

#include "backend.h"
#include "trace.h"

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
    Backend::Backend &backend = Backend::instance();
    Trace::constructed(staticMetaObject, parent);
    d->source
        = backend.systemState([this](StateIndication what) { emit systemStateChanged(what); });
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
