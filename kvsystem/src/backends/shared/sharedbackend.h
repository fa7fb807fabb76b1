// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_SHAREDBACKEND_H
#define KVSYSTEM_SRC_SHAREDBACKEND_H

// A program joined to the shared handset: a copy of the service's values,
// kept up to date by its Changed signal, that the program's sources answer
// from. When the service goes away the program says so once and keeps the
// last values (the battery model goes on running); when one comes back,
// the program takes up its values.

#include "backend.h"
#include "handsetstate.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <functional>
#include <map>
#include <mutex>

namespace Vorna::Backend {

class HandsetLink : public QObject
{
    Q_OBJECT
public:
    using Listener = std::function<void(const HandsetBus::Value &)>;

    explicit HandsetLink(const QDBusConnection &bus);
    // Asks the service for the handset; empty, or why it cannot be joined.
    QString join();

    HandsetState state() const;
    // Seconds the service's battery model has run.
    double batterySeconds() const;
    // Asks the service to change a value; does not wait.
    void set(const HandsetBus::Value &value);

    // Listeners hear every value that changes, on this object's thread.
    int listen(Listener listener);
    void forget(int id);

public slots:
    void changed(const QDBusMessage &message);
    void ownerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);

private:
    // Keeps the values and tells the listeners. A listener may forget
    // itself or others from inside.
    void take(const QVector<HandsetBus::Value> &values);

    QDBusConnection bus;
    mutable std::mutex mutex;
    HandsetState values;
    quint64 batteryOrigin = 0; // µs of the monotonic clock when the service's model started
    std::map<int, Listener> listeners;
    int nextId = 0;
};

} // namespace Vorna::Backend

#endif
