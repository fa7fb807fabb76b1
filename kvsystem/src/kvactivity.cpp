// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvactivity.h"

#include "kvopen_p.h"

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
    d->source = openSource(staticMetaObject, parent, [this](Backend::Backend &backend) {
        return backend.activity([this](Activity activity) { emit activityChanged(activity); });
    });
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
