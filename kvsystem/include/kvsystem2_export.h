// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVSYSTEM2_EXPORT_H
#define KVSYSTEM_INCLUDE_KVSYSTEM2_EXPORT_H

#include <QtGlobal>

// Marks the classes that libkvsystem2 exports. The library is compiled with
// hidden visibility, so everything without this mark (the backends, the
// trace, the scenario parser) stays inside it.
#if defined(KVSYSTEM2_LIBRARY)
#define KVSYSTEM2_EXPORT Q_DECL_EXPORT
#else
#define KVSYSTEM2_EXPORT Q_DECL_IMPORT
#endif

#endif
