// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVSYSTEMSTATE_H
#define KVSYSTEM_INCLUDE_KVSYSTEMSTATE_H

#include "kvsystem2_export.h"

#include <QObject>

#include <memory>

namespace Vorna {

class KvSystemStatePrivate;

// Power-up, reboot and shutdown requests, and the indications the system
// sends before it changes state.
class KVSYSTEM2_EXPORT KvSystemState : public QObject
{
    Q_OBJECT
public:
    enum NextState : int { Powerup = 0, Reboot = 1, Shutdown = 2 };
    Q_ENUM(NextState)

    enum StateIndication : int {
        ShutdownIndication = 0, // the system is about to shut down
        ThermalStateFatal = 1, // shutting down because the device is too hot
        BatteryStateEmpty = 2, // shutting down because the battery is empty
        SaveData = 3, // applications should save their data now
        RebootDeniedUSB = 4, // a reboot was refused: USB mass storage is in use
        ShutdownDeniedUSB = 5, // a shutdown was refused: USB mass storage is in use
        RebootIndication = 6 // the system is about to reboot
    };
    Q_ENUM(StateIndication)

    explicit KvSystemState(QObject *parent = nullptr);
    ~KvSystemState() override;

    // Requests the next system state; true when the request was accepted.
    // The simulated device accepts and ignores reboot and shutdown; the
    // Linux backend refuses them unless KVSYSTEM_ALLOW_POWER is 1.
    bool set(Vorna::KvSystemState::NextState nextState);

signals:
    // Each indication; may come from a thread of the library's own, or from
    // inside set() on the calling thread before set() returns.
    void systemStateChanged(Vorna::KvSystemState::StateIndication what);

private:
    Q_DISABLE_COPY(KvSystemState)
    std::unique_ptr<KvSystemStatePrivate> d;
};

} // namespace Vorna

#endif
