// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_HANDSETDBUS_H
#define KVSYSTEM_SRC_HANDSETDBUS_H

// What the service, the joined programs and the console share of Qt D-Bus.

#include "handsetbus.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace Vorna::Backend::HandsetBus {

// A message's arguments as decode() takes them: an array of 32-bit
// integers, which Qt D-Bus hands over unread, is read into a list of ints;
// any other argument is left as it came, for decode() to refuse.
QVariantList argumentsOf(const QDBusMessage &message);

// A call of the service's interface.
QDBusMessage call(const char *method);

// Milliseconds a joined program or the console waits for the service: a
// service that the bus starts on demand, on a loaded machine, takes
// seconds; one that is stopped (SIGSTOP) must not hold a program longer.
constexpr int callTimeoutMs = 10000;

} // namespace Vorna::Backend::HandsetBus

#endif
