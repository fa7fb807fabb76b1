// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVTHERMAL_H
#define KVSYSTEM_INCLUDE_KVTHERMAL_H

#include "kvsystem2_export.h"

#include <QObject>

#include <memory>

namespace Vorna {

class KvThermalPrivate;

// The device's thermal state.
class KVSYSTEM2_EXPORT KvThermal : public QObject
{
    Q_OBJECT
public:
    enum ThermalState : int {
        Normal = 0, // within the operating range
        Warning = 1, // warm; the system starts to save power
        Alert = 2, // hot; the system limits what runs
        Error = 3 // the temperature cannot be read
    };
    Q_ENUM(ThermalState)

    explicit KvThermal(QObject *parent = nullptr);
    ~KvThermal() override;

    // The state now.
    Vorna::KvThermal::ThermalState get() const;

signals:
    // Each change of state; may come from a thread of the library's own.
    void thermalChanged(Vorna::KvThermal::ThermalState state);

private:
    Q_DISABLE_COPY(KvThermal)
    std::unique_ptr<KvThermalPrivate> d;
};

} // namespace Vorna

#endif
