// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "loginmanager.h"

#include <QByteArray>

#include <dlfcn.h>

namespace Vorna::Backend {

namespace {

// Stands in where no login manager can be reached.
class NoLoginManager : public LoginManager
{
public:
    std::optional<bool> idleHint() override { return std::nullopt; }
    bool reboot() override { return false; }
    bool powerOff() override { return false; }
};

// The directory of the binary that holds this code: libkvsystem2.so.1 in a
// program, the test itself where the backend is linked in statically.
QByteArray ownDirectory()
{
    Dl_info info {};
    if (!dladdr(reinterpret_cast<void *>(&systemLoginManager), &info) || !info.dli_fname)
        return {};
    QByteArray path = info.dli_fname;
    return path.left(path.lastIndexOf('/') + 1);
}

} // namespace

std::shared_ptr<LoginManager> systemLoginManager()
{
    using Create = LoginManager *(*)();
    // Never closed: the manager it makes runs the module's code until the end.
    const QByteArray module = ownDirectory() + "kvsystem2/logind.so";
    if (void *handle = dlopen(module.constData(), RTLD_NOW | RTLD_LOCAL)) {
        if (auto create = reinterpret_cast<Create>(dlsym(handle, "kvsystem2_logind_create")))
            return std::shared_ptr<LoginManager>(create());
    }
    return std::make_shared<NoLoginManager>();
}

} // namespace Vorna::Backend
