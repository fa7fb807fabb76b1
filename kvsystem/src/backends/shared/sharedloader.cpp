// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "sharedloader.h"

#include <QByteArray>
#include <QString>

#include <dlfcn.h>

namespace Vorna::Backend {

namespace {

// The directory of the binary that holds this code: libkvsystem2.so.1 in a
// program, the test itself where the backend is linked in statically.
QByteArray ownDirectory()
{
    Dl_info info {};
    if (!dladdr(reinterpret_cast<void *>(&sharedBackend), &info) || !info.dli_fname)
        return {};
    QByteArray path = info.dli_fname;
    return path.left(path.lastIndexOf('/') + 1);
}

} // namespace

std::unique_ptr<Backend> sharedBackend()
{
    using Create = Backend *(*)(QString * error);
    // Never closed: the backend it makes runs the module's code until the end.
    const QByteArray module = ownDirectory() + "kvsystem2/shared.so";
    void *handle = dlopen(module.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        usageError(QByteArray("KVSYSTEM_BACKEND=shared: cannot load ")
                       .append(module)
                       .append(": ")
                       .append(dlerror()));
    auto create = reinterpret_cast<Create>(dlsym(handle, "kvsystem2_shared_create"));
    if (!create)
        usageError(QByteArray("KVSYSTEM_BACKEND=shared: ")
                       .append(module)
                       .append(" is not the shared handset's module"));
    QString error;
    std::unique_ptr<Backend> backend(create(&error));
    if (!backend)
        usageError("KVSYSTEM_BACKEND=shared: " + error);
    return backend;
}

} // namespace Vorna::Backend
