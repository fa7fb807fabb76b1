#include "kvactivity.h"

#include "backend.h"
#include "trace.h"

namespace Vorna {

class KvActivityPrivate
{
public:
    std::unique_ptr<Backend::StateSource<KvActivity::Activity>> source;
};

KvActivity::KvActivity(QObject *parent)
    : QObject(parent)
    , d(new KvActivityPrivate)
{
    qRegisterMetaType<Vorna::KvActivity::Activity>();
    Backend::Backend &backend = Backend::instance();
    Trace::constructed(staticMetaObject, parent);
    d->source = backend.activity([this](Activity activity) { emit activityChanged(activity); });
}

KvActivity::~KvActivity()
{
    Trace::destroyed(staticMetaObject);
}

KvActivity::Activity KvActivity::get() const
{
    return Trace::Call(this, "get").returns(d->source->get());
}

} // namespace Vorna
