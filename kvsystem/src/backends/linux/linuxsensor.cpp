#include "linuxsensor.h"

namespace Vorna::Backend {

namespace {

// The kernel's IIO devices report no taps.
class NoTapReader : public SensorReader
{
public:
    QString missing() const override
    {
        return QStringLiteral("no tap sensor: the kernel's IIO devices report no taps to read");
    }
    bool prepare(QString *) override { return false; }
    std::optional<Sample> measure(const std::optional<Sample> &, QString *) const override
    {
        return std::nullopt;
    }
};

std::unique_ptr<SensorReader> readerFor(Sensor kind, const Sysfs &sysfs)
{
    switch (kind) {
    case Sensor::Als:
        return lightReader(sysfs);
    case Sensor::Proximity:
        return proximityReader(sysfs);
    case Sensor::Tap:
        return std::make_unique<NoTapReader>();
    case Sensor::Orientation:
    case Sensor::Rotation:
    case Sensor::Accelerometer:
        return accelReader(kind, sysfs);
    case Sensor::Magnetometer:
    case Sensor::Compass:
        return magnetReader(kind, sysfs);
    }
    return std::make_unique<NoTapReader>();
}

} // namespace

LinuxSensor::LinuxSensor(Sensor kind, const Sysfs &sysfs, SampleSink sink)
    : reporting(describe(kind).reporting)
    , sink(std::move(sink))
    , reader(readerFor(kind, sysfs))
    , poller(Delivery::WorkerThread, reporting == Reporting::OnChange ? changePollMs : motionPollMs,
          [this] { poll(); })
{ }

LinuxSensor::~LinuxSensor()
{
    poller.stop();
}

KvSensor::SessionType LinuxSensor::requestSession(KvSensor::SessionType type)
{
    // No daemon shares the sensor out: every session asked for is granted.
    const QString missing = reader->missing();
    if (!missing.isEmpty()) {
        session = KvSensor::NoSession;
        error = missing;
    } else if (type != KvSensor::ListenSession && type != KvSensor::ControlSession) {
        session = KvSensor::NoSession;
        error = QStringLiteral("unknown session type %1").arg(type);
    } else {
        session = type;
    }
    return session;
}

bool LinuxSensor::start()
{
    if (session == KvSensor::NoSession) {
        const QString missing = reader->missing();
        error = missing.isEmpty() ? QStringLiteral("cannot start without a session") : missing;
        return false;
    }
    if (poller.running())
        return true;
    // Scale, offset and mount matrix are read once a session, not every poll.
    QString failed;
    if (!reader->prepare(&failed) || !reader->measure(std::nullopt, &failed)) {
        error = QStringLiteral("cannot read a value from %1").arg(failed);
        return false;
    }
    lastDelivered.reset();
    poller.start();
    return true;
}

void LinuxSensor::stop()
{
    poller.stop();
}

void LinuxSensor::closeSession()
{
    poller.stop();
    session = KvSensor::NoSession;
}

Sample LinuxSensor::current() const
{
    // While the sensor runs, the reader thread uses what start() prepared.
    if (!poller.running() && !reader->prepare(nullptr))
        return Sample();
    return reader->measure(std::nullopt, nullptr).value_or(Sample());
}

void LinuxSensor::poll()
{
    const std::optional<Sample> s = reader->measure(lastDelivered, nullptr);
    if (!s)
        return; // a driver that did not answer this time; the next poll tries again
    if (reporting == Reporting::OnChange && lastDelivered && lastDelivered->values == s->values)
        return;
    lastDelivered = s;
    sink(*s);
}

} // namespace Vorna::Backend
