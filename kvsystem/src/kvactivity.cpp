#include "kvactivity.h"

#include "backend.h"
#include "trace.h"

namespace Vorna {

class KvActivityPrivate
{
public:
    std::unique_ptr<Backend::StateSource> source;
};

KvActivity::KvActivity(QObject *parent)
    : QObject(parent)
    , d(new KvActivityPrivate)
{
    qRegisterMetaType<Vorna::KvActivity::Activity>();
    Backend::Backend &backend = Backend::Backend::instance();
    Trace::constructed(staticMetaObject, parent);
    d->source = backend.activity([this](int value) { emit activityChanged(Activity(value)); });
}

KvActivity::~KvActivity()
{
    Trace::destroyed(staticMetaObject);
}

KvActivity::Activity KvActivity::get() const
{
    return Activity(Trace::Call(this, "get").returns(d->source->get()));
}

} // namespace Vorna
