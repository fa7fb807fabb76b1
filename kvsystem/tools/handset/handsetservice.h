// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_TOOLS_HANDSETSERVICE_H
#define KVSYSTEM_TOOLS_HANDSETSERVICE_H

// The shared handset on the session bus: holds the values, answers Set(),
// State() and Play(), and says every change with the Changed signal. A
// scenario's timeline (or the live virtual handset's) plays into it.

#include "backend.h"
#include "backends/shared/handsetstate.h"
#include "backends/simulated/scenario.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QElapsedTimer>

#include <memory>
#include <optional>

namespace Vorna::Backend {

class Timeline;

class HandsetService : public QDBusVirtualObject
{
public:
    explicit HandsetService(const QDBusConnection &bus);
    ~HandsetService() override;

    // Plays a scenario's timeline, or the live virtual handset's where
    // none is given, in place of what played before.
    void play(std::optional<Scenario> scenario);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    void handle(const QDBusMessage &message);
    // Keeps the values and says them on the bus.
    void change(const QVector<HandsetBus::Value> &values);

    QDBusConnection bus;
    HandsetState state;
    QElapsedTimer batteryClock;
    struct Player;
    std::unique_ptr<Player> player;
};

} // namespace Vorna::Backend

#endif
