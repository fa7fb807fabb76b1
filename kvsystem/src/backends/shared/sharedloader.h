// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_SHAREDLOADER_H
#define KVSYSTEM_SRC_SHAREDLOADER_H

#include "backend.h"

namespace Vorna::Backend {

// The backend of a program that joins the shared handset
// (KVSYSTEM_BACKEND=shared), from the module kvsystem2/shared.so beside
// the library. Without the module, a session bus or the service, the
// program ends with a usage error that says how to start the service.
std::unique_ptr<Backend> sharedBackend();

} // namespace Vorna::Backend

#endif
