// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Built as the module kvsystem2/shared.so: only a program that joins the
// shared handset loads it, and with it Qt's D-Bus module.

#include "sharedbackend.h"

#include "handsetdbus.h"
#include "pump.h"

#include <QDBusServiceWatcher>

namespace Vorna::Backend {

using namespace HandsetBus;

HandsetLink::HandsetLink(const QDBusConnection &bus)
    : bus(bus)
{ }

QString HandsetLink::join()
{
    if (!bus.isConnected())
        return QStringLiteral("no D-Bus session bus: %1").arg(bus.lastError().message());
    // Signals are taken from the service's owner only, before the state
    // is asked for, so that no change falls between the two.
    bus.connect(QLatin1String(serviceName), QLatin1String(objectPath), QLatin1String(interfaceName),
        QLatin1String(changedSignal), this, SLOT(changed(QDBusMessage)));
    auto *watcher = new QDBusServiceWatcher(
        QLatin1String(serviceName), bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, SIGNAL(serviceOwnerChanged(QString, QString, QString)), this,
        SLOT(ownerChanged(QString, QString, QString)));
    const QDBusMessage reply = bus.call(call(stateMethod), QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return QStringLiteral("no handset service on the session bus (%1); start one with "
                              "kvsystem2-handset")
            .arg(reply.errorMessage());
    QString error;
    const std::optional<QVector<Value>> state = decode(argumentsOf(reply), &error);
    if (!state)
        return QStringLiteral("the handset service answered wrongly: %1").arg(error);
    take(*state);
    return QString();
}

HandsetState HandsetLink::state() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return values;
}

double HandsetLink::batterySeconds() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return double(monotonicMicroseconds() - batteryOrigin) / 1e6;
}

void HandsetLink::set(const Value &value)
{
    QDBusMessage message = call(setMethod);
    message.setArguments(encode({ value }));
    bus.call(message, QDBus::NoBlock);
}

int HandsetLink::listen(Listener listener)
{
    const std::lock_guard<std::mutex> lock(mutex);
    listeners.emplace(nextId, std::move(listener));
    return nextId++;
}

void HandsetLink::forget(int id)
{
    const std::lock_guard<std::mutex> lock(mutex);
    listeners.erase(id);
}

void HandsetLink::changed(const QDBusMessage &message)
{
    QString error;
    const std::optional<QVector<Value>> changes = decode(argumentsOf(message), &error);
    if (!changes) {
        warning("the handset service sent a change that is refused: " + error.toUtf8());
        return;
    }
    take(*changes);
}

void HandsetLink::ownerChanged(const QString &, const QString &, const QString &newOwner)
{
    if (newOwner.isEmpty()) {
        warning("the handset service went away; the handset keeps its last values");
        return;
    }
    const QDBusMessage reply = bus.call(call(stateMethod), QDBus::Block, callTimeoutMs);
    QString error;
    const std::optional<QVector<Value>> state = reply.type() == QDBusMessage::ReplyMessage
        ? decode(argumentsOf(reply), &error)
        : std::nullopt;
    if (state)
        take(*state);
}

void HandsetLink::take(const QVector<Value> &changes)
{
    std::vector<int> ids;
    QVector<Value> news;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const Value &value : changes) {
            if (value.property == Property::BatteryClock) {
                batteryOrigin = monotonicMicroseconds() - quint64(value.fields.value(0)) * 1000000u;
                continue;
            }
            // Events always go out; a held value only when it changes.
            if (propertyTable[int(value.property)].behaviour == Behaviour::Event
                || values.fields(value.property) != value.fields)
                news.append(value);
            values.apply(value);
        }
        for (const auto &entry : listeners)
            ids.push_back(entry.first);
    }
    for (const Value &value : news)
        for (int id : ids) {
            Listener listener;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                const auto it = listeners.find(id);
                if (it == listeners.end())
                    continue;
                listener = it->second;
            }
            listener(value);
        }
}

namespace {

// Hears the link while it lives; forgets it on destruction.
class Subscription
{
public:
    Subscription(HandsetLink &link, HandsetLink::Listener listener)
        : link(link)
        , id(link.listen(std::move(listener)))
    { }
    ~Subscription() { link.forget(id); }

private:
    HandsetLink &link;
    const int id;
};

// The reading now, and then every period (0: once).
class Sampling : public Timeline
{
public:
    Sampling(qint64 period, std::function<void()> fire)
        : period(period)
        , fire(std::move(fire))
    { }
    void restart() { k = 0; }
    qint64 nextDue() const override { return period == 0 && k > 0 ? -1 : k * period; }
    void fireNext() override
    {
        ++k;
        fire();
    }

private:
    const qint64 period;
    const std::function<void()> fire;
    qint64 k = 0;
};

class SharedSensor : public SensorSource
{
public:
    SharedSensor(Sensor kind, HandsetLink &link, SampleSink sink)
        : kind(kind)
        , link(link)
        , sink(sink)
        , sampling(describe(kind).reporting == Reporting::EveryReading
                  ? describe(kind).virtualPeriodMs
                  : 0,
              [this] { sendNow(); })
        , pump(Delivery::MainThread, &sampling)
        , subscription(link, [this](const Value &value) { changed(value); })
    { }

    KvSensor::SessionType requestSession(KvSensor::SessionType type) override
    {
        const bool known = type == KvSensor::ListenSession || type == KvSensor::ControlSession;
        session = known ? type : KvSensor::NoSession;
        if (!known)
            error = QStringLiteral("unknown session type %1").arg(type);
        return session;
    }
    KvSensor::SessionType sessionType() const override { return session; }
    bool start() override
    {
        if (session == KvSensor::NoSession) {
            error = QStringLiteral("cannot start without a session");
            return false;
        }
        if (!pump.running() && !isEvent()) {
            sampling.restart();
            pump.start();
        }
        started = true;
        return true;
    }
    void stop() override
    {
        started = false;
        pump.stop();
    }
    void closeSession() override
    {
        stop();
        session = KvSensor::NoSession;
    }
    QString lastError() const override { return error; }
    Sample current() const override { return link.state().sample(kind, monotonicMicroseconds()); }
    bool hasZ() const override { return true; }

private:
    bool isEvent() const { return propertyTable[int(kind)].behaviour == Behaviour::Event; }

    void sendNow() { sink(link.state().sample(kind, monotonicMicroseconds())); }

    // A tap goes out as it comes; a value that reports on change goes out
    // at once; one that streams goes out with its next reading.
    void changed(const Value &value)
    {
        if (!started || value.property != Property(kind))
            return;
        if (isEvent() || describe(kind).reporting == Reporting::OnChange)
            sendNow();
    }

    const Sensor kind;
    HandsetLink &link;
    const SampleSink sink;
    KvSensor::SessionType session = KvSensor::NoSession;
    QString error;
    bool started = false;
    Sampling sampling;
    Pump pump;
    Subscription subscription;
};

// Tells sink of each change of one value.
template <typename Value> class Follower
{
public:
    Follower(HandsetLink &link, Property property, ChangeSink<Value> sink)
        : subscription(link, [property, sink](const HandsetBus::Value &value) {
            if (value.property == property)
                sink(Value(value.fields.value(0)));
        })
    { }

private:
    Subscription subscription;
};

class SharedDisplay : public DisplaySource
{
public:
    SharedDisplay(HandsetLink &link, ChangeSink<KvDisplayState::DisplayState> sink)
        : link(link)
        , follower(link, Property::DisplayState, std::move(sink))
    { }
    KvDisplayState::DisplayState get() const override
    {
        return KvDisplayState::DisplayState(link.state().field(Property::DisplayState));
    }
    // The handset is everyone's: what one program sets, all see.
    bool set(KvDisplayState::DisplayState state) override
    {
        if (!checkField(Property::DisplayState, state).isEmpty())
            return false;
        link.set({ Property::DisplayState, { state } });
        return true;
    }
    void setBrightness(int value) override
    {
        if (checkField(Property::Brightness, value).isEmpty())
            link.set({ Property::Brightness, { value } });
    }
    int brightness() const override { return link.state().field(Property::Brightness); }
    void setDimTimeout(int seconds) override { dimTimeoutSet = seconds; }
    int dimTimeout() const override { return dimTimeoutSet; }
    bool setBlankingPause() override { return true; }

private:
    HandsetLink &link;
    int dimTimeoutSet = 30;
    Follower<KvDisplayState::DisplayState> follower;
};

// Requests to reboot or shut down are accepted and ignored, as on the
// virtual handset; indications come from the service.
class SharedSystemState : public SystemStateSource
{
public:
    SharedSystemState(HandsetLink &link, ChangeSink<KvSystemState::StateIndication> sink)
        : follower(link, Property::SystemState, std::move(sink))
    { }
    bool set(KvSystemState::NextState) override { return true; }

private:
    Follower<KvSystemState::StateIndication> follower;
};

template <typename State> class SharedState : public StateSource<State>
{
public:
    SharedState(HandsetLink &link, Property property, ChangeSink<State> sink)
        : link(link)
        , property(property)
        , follower(link, property, std::move(sink))
    { }
    State get() const override { return State(link.state().field(property)); }

private:
    HandsetLink &link;
    const Property property;
    Follower<State> follower;
};

class SharedBattery : public BatterySource
{
public:
    explicit SharedBattery(HandsetLink &link)
        : link(link)
    { }
    int read(BatteryValue value, KvBattery::RemainingTimeMode mode) override
    {
        return link.state().battery(value, mode, link.batterySeconds());
    }

private:
    HandsetLink &link;
};

class SharedBackend : public Backend
{
public:
    explicit SharedBackend(std::unique_ptr<HandsetLink> link)
        : link(std::move(link))
    { }

    std::unique_ptr<SensorSource> sensor(Sensor kind, SampleSink sink) override
    {
        return std::make_unique<SharedSensor>(kind, *link, std::move(sink));
    }
    std::unique_ptr<DisplaySource> display(ChangeSink<KvDisplayState::DisplayState> sink) override
    {
        return std::make_unique<SharedDisplay>(*link, std::move(sink));
    }
    std::unique_ptr<SystemStateSource> systemState(
        ChangeSink<KvSystemState::StateIndication> sink) override
    {
        return std::make_unique<SharedSystemState>(*link, std::move(sink));
    }
    std::unique_ptr<StateSource<KvActivity::Activity>> activity(
        ChangeSink<KvActivity::Activity> sink) override
    {
        return std::make_unique<SharedState<KvActivity::Activity>>(
            *link, Property::Activity, std::move(sink));
    }
    std::unique_ptr<StateSource<KvThermal::ThermalState>> thermal(
        ChangeSink<KvThermal::ThermalState> sink) override
    {
        return std::make_unique<SharedState<KvThermal::ThermalState>>(
            *link, Property::Thermal, std::move(sink));
    }
    std::unique_ptr<StateSource<KvDeviceMode::DeviceMode>> deviceMode(
        ChangeSink<KvDeviceMode::DeviceMode> sink) override
    {
        return std::make_unique<SharedState<KvDeviceMode::DeviceMode>>(
            *link, Property::DeviceMode, std::move(sink));
    }
    std::unique_ptr<BatterySource> battery() override
    {
        return std::make_unique<SharedBattery>(*link);
    }

private:
    const std::unique_ptr<HandsetLink> link;
};

} // namespace

} // namespace Vorna::Backend

extern "C" Q_DECL_EXPORT Vorna::Backend::Backend *kvsystem2_shared_create(QString *error)
{
    using namespace Vorna::Backend;
    auto link = std::make_unique<HandsetLink>(QDBusConnection::sessionBus());
    *error = link->join();
    if (!error->isEmpty())
        return nullptr;
    return new SharedBackend(std::move(link));
}
