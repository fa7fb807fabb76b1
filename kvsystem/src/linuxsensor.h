#ifndef KVSYSTEM_SRC_LINUXSENSOR_H
#define KVSYSTEM_SRC_LINUXSENSOR_H

// The sensors of a Linux machine, from the kernel's IIO devices
// (bus/iio/devices/iio:device*): light, proximity, accelerometer and
// magnetometer read directly; orientation, rotation and compass derived
// from the latter two. A reader thread polls the files while the sensor
// runs; light, proximity and orientation are delivered when they change,
// the motion sensors at every poll.

#include "backend.h"
#include "poller.h"
#include "sysfs.h"

namespace Vorna::Backend {

class LinuxSensor : public SensorSource
{
public:
    static constexpr int changePollMs = 200; // light, proximity, orientation
    static constexpr int motionPollMs = 100; // accelerometer, magnetometer, rotation, compass

    LinuxSensor(Sensor kind, const Sysfs &sysfs, SampleSink sink);
    ~LinuxSensor() override;

    int requestSession(int type) override;
    int sessionType() const override { return session; }
    bool start() override;
    void stop() override;
    void closeSession() override;
    QString lastError() const override { return error; }
    Sample current() const override;
    bool hasZ() const override;

private:
    // A reading now; orientation needs the pose reported before. Without a
    // value, failed names the file that could not be read.
    std::optional<Sample> measure(int previousPose, QString *failed) const;
    void poll();

    const Sensor kind;
    const SampleSink sink;
    QString lightDir, proximityDir, accelDir, magnetDir; // empty when absent
    QString missing; // what the machine lacks for this sensor; empty when complete
    int session = 0;
    QString error;
    // Touched by the reader thread only while it runs.
    std::optional<Sample> lastDelivered;
    Poller poller; // declared last: stopped before anything it reads goes
};

} // namespace Vorna::Backend

#endif
