// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_KVOPEN_P_H
#define KVSYSTEM_SRC_KVOPEN_P_H

#include "backend.h"
#include "trace.h"

#include <QObject>

namespace Vorna {

// What every library class's constructor does first: checks the
// environment (a usage error ends the process here), traces the
// construction, then asks the backend for the class's source.
template <typename Make> auto openSource(const QMetaObject &cls, const QObject *parent, Make make)
{
    Backend::Backend &backend = Backend::instance();
    Trace::constructed(cls, parent);
    return make(backend);
}

} // namespace Vorna

#endif
