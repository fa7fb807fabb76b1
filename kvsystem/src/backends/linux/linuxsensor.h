// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_BACKENDS_LINUX_LINUXSENSOR_H
#define KVSYSTEM_SRC_BACKENDS_LINUX_LINUXSENSOR_H

// A sensor of a Linux machine: sessions, start and stop, and a reader
// thread that polls the sensor's reader (sensorreaders.h) while it runs.
// Sensors reported on change go out when their value differs from the last
// one delivered; the others at every poll. Readings reach the sink on the
// thread that made the sensor, through its event loop; while that thread
// does not take them, an on-change sensor keeps only its latest reading
// and a motion sensor its newest motionBacklog (Mailbox).

#include "backend.h"
#include "poller.h"
#include "sensorreaders.h"

#include <QObject>

namespace Vorna::Backend {

class LinuxSensor : public SensorSource
{
public:
    static constexpr int changePollMs = 200; // light, proximity, orientation
    static constexpr int motionPollMs = 100; // accelerometer, magnetometer, rotation, compass
    static constexpr int motionBacklog = 50; // five seconds of motion readings

    LinuxSensor(Sensor kind, const Sysfs &sysfs, SampleSink sink);
    ~LinuxSensor() override;

    KvSensor::SessionType requestSession(KvSensor::SessionType type) override;
    KvSensor::SessionType sessionType() const override { return session; }
    bool start() override;
    void stop() override;
    void closeSession() override;
    QString lastError() const override { return error; }
    Sample current() const override;
    bool hasZ() const override { return reader->hasZ(); }
    // The IIO device(s) that serve the sensor; empty where it is refused.
    QString device() const { return reader->device(); }
    // The note of the reader prepared last, by start() or current().
    QString note() const { return lastNote; }

private:
    class Run;

    const Sensor kind;
    const Sysfs sysfs;
    const Reporting reporting;
    const SampleSink sink;
    // Shared with the reader thread: a poll stuck in a read keeps it alive.
    // Each run prepares a reader of its own (scale, offset and matrix read
    // once), so that a poll of an earlier run that is still stuck never
    // shares one with a later run.
    std::shared_ptr<SensorReader> reader;
    KvSensor::SessionType session = KvSensor::NoSession;
    QString error;
    mutable QString lastNote;
    QObject receiver; // lives in the thread that made the sensor
    std::shared_ptr<Mailbox> mailbox; // the current run's
    std::unique_ptr<Poller> poller; // declared last: stopped before the rest goes
};

} // namespace Vorna::Backend

#endif
