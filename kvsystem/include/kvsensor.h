// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVSENSOR_H
#define KVSYSTEM_INCLUDE_KVSENSOR_H

#include "kvsystem2_export.h"

#include <QObject>
#include <QString>

#include <memory>

namespace Vorna {

class KvSensorPrivate;

// Base of the eight sensor classes. A program asks for a session, starts the
// sensor and then receives readings through the subclass's signal until it
// stops the sensor. Readings may be emitted from a thread of the library's
// own; connect with the automatic connection type and they arrive in the
// receiver's thread.
//
// Threads: create, call and delete a sensor in one thread, the one whose
// event loop runs. Constructing the process's first library object picks
// the backend (see kvsystem2(7)); a setting it cannot use ends the process
// there with exit status 2 and one line on standard error.
class KVSYSTEM2_EXPORT KvSensor : public QObject
{
    Q_OBJECT
public:
    enum SessionType : int {
        NoSession = 0, // none held or granted
        ListenSession = 1, // readings only; another client controls the sensor
        ControlSession = 2 // readings, and the sensor follows this client's settings
    };
    Q_ENUM(SessionType)

    ~KvSensor() override;

    // Asks for a session; returns the type granted, NoSession when refused.
    Vorna::KvSensor::SessionType requestSession(Vorna::KvSensor::SessionType type);
    // The type of the session held now; NoSession when none.
    Vorna::KvSensor::SessionType sessionType() const;
    // Starts delivering readings; true when started.
    bool start();
    // Stops the readings; none is delivered after it returns. Harmless
    // when not started.
    void stop();
    // Gives the session up; sessionType() is NoSession afterwards.
    void closeSession();
    // Describes the last failure; empty while nothing failed.
    QString lastError() const;

protected:
    explicit KvSensor(QObject *parent);
    std::unique_ptr<KvSensorPrivate> d;

private:
    Q_DISABLE_COPY(KvSensor)
};

} // namespace Vorna

#endif
