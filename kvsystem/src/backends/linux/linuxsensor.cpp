// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

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
    case Sensor::Proximity:
        return scalarReader(kind, sysfs);
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

// One run of the sensor, from start() to stop(): what the reader thread
// touches, owned by that thread's poll, so that a poll stuck in a read
// outlives the sensor safely and delivers nothing (its mailbox is closed).
class LinuxSensor::Run
{
public:
    Run(std::shared_ptr<const SensorReader> reader, Reporting reporting,
        std::shared_ptr<Mailbox> mailbox)
        : reader(std::move(reader))
        , reporting(reporting)
        , mailbox(std::move(mailbox))
    { }

    void poll()
    {
        const std::optional<Sample> s = reader->measure(lastDelivered, nullptr);
        if (!s)
            return; // a driver that did not answer this time; the next poll tries again
        if (reporting == Reporting::OnChange && lastDelivered && lastDelivered->values == s->values)
            return;
        lastDelivered = s;
        mailbox->post(*s);
    }

private:
    const std::shared_ptr<const SensorReader> reader;
    const Reporting reporting;
    const std::shared_ptr<Mailbox> mailbox;
    std::optional<Sample> lastDelivered;
};

LinuxSensor::LinuxSensor(Sensor kind, const Sysfs &sysfs, SampleSink sink)
    : kind(kind)
    , sysfs(sysfs)
    , reporting(describe(kind).reporting)
    , sink(std::move(sink))
    , reader(readerFor(kind, sysfs))
{ }

LinuxSensor::~LinuxSensor()
{
    stop();
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
    if (poller && poller->running())
        return true;
    stop(); // what is left of an earlier run
    if (poller)
        reader = readerFor(kind, sysfs);
    // Scale, offset and mount matrix are read once a run, not every poll.
    QString failed;
    const bool prepared = reader->prepare(&failed);
    lastNote = reader->note();
    if (!prepared || !reader->measure(std::nullopt, &failed)) {
        error = QStringLiteral("cannot read a value from %1").arg(failed);
        return false;
    }
    const bool onChange = reporting == Reporting::OnChange;
    mailbox = std::make_shared<Mailbox>(onChange ? 1 : motionBacklog, sink, &receiver);
    const auto run = std::make_shared<Run>(reader, reporting, mailbox);
    poller = std::make_unique<Poller>(
        Delivery::WorkerThread, onChange ? changePollMs : motionPollMs, [run] { run->poll(); });
    poller->start();
    return true;
}

void LinuxSensor::stop()
{
    if (poller)
        poller->stop();
    if (mailbox)
        mailbox->close();
}

void LinuxSensor::closeSession()
{
    stop();
    session = KvSensor::NoSession;
}

Sample LinuxSensor::current() const
{
    // While the sensor runs, its reader is prepared and only read from;
    // otherwise a reader of its own, since a stuck poll may still use the
    // last run's.
    if (poller && poller->running())
        return reader->measure(std::nullopt, nullptr).value_or(Sample());
    const std::unique_ptr<SensorReader> now = readerFor(kind, sysfs);
    const bool prepared = now->prepare(nullptr);
    lastNote = now->note();
    if (!prepared)
        return Sample();
    return now->measure(std::nullopt, nullptr).value_or(Sample());
}

} // namespace Vorna::Backend
