#ifndef KVSYSTEM_SRC_BACKENDS_LINUX_LINUXSENSOR_H
#define KVSYSTEM_SRC_BACKENDS_LINUX_LINUXSENSOR_H

// A sensor of a Linux machine: sessions, start and stop, and a reader
// thread that polls the sensor's reader (sensorreaders.h) while it runs.
// Sensors reported on change go out when their value differs from the last
// one delivered; the others at every poll.

#include "backend.h"
#include "poller.h"
#include "sensorreaders.h"

namespace Vorna::Backend {

class LinuxSensor : public SensorSource
{
public:
    static constexpr int changePollMs = 200; // light, proximity, orientation
    static constexpr int motionPollMs = 100; // accelerometer, magnetometer, rotation, compass

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

private:
    void poll();

    const Reporting reporting;
    const SampleSink sink;
    const std::unique_ptr<SensorReader> reader;
    KvSensor::SessionType session = KvSensor::NoSession;
    QString error;
    // Touched by the reader thread only while it runs.
    std::optional<Sample> lastDelivered;
    Poller poller; // declared last: stopped before anything it reads goes
};

} // namespace Vorna::Backend

#endif
