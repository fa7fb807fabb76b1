// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "handsetservice.h"

#include "backends/simulated/simulatedbackend.h"
#include "handsetdbus.h"

#include <QMetaObject>

namespace Vorna::Backend {

using namespace HandsetBus;

// What plays into the handset: a simulated backend's sources, all started,
// their readings and changes taken as the handset's values.
struct HandsetService::Player
{
    Player(std::optional<Scenario> scenario, HandsetService *service)
        : backend(std::move(scenario))
    {
        // Sinks may run on threads of the backend's own: the values are
        // handed to the service's thread.
        const auto post = [service](Property property, QVector<qint32> fields) {
            QMetaObject::invokeMethod(
                service,
                [service, property, fields] {
                    service->change({ { property, fields } });
                },
                Qt::QueuedConnection);
        };
        for (int i = 0; i < SensorCount; ++i) {
            const Sensor kind = Sensor(i);
            const int count = describe(kind).fieldCount();
            sensors.push_back(backend.sensor(kind, [post, kind, count](const Sample &s) {
                post(Property(kind), QVector<qint32>(s.values.begin(), s.values.begin() + count));
            }));
            sensors.back()->requestSession(KvSensor::ListenSession);
            sensors.back()->start();
        }
        const auto follow = [post](Property property) {
            return [post, property](auto value) { post(property, { qint32(value) }); };
        };
        display = backend.display(follow(Property::DisplayState));
        systemState = backend.systemState(follow(Property::SystemState));
        activity = backend.activity(follow(Property::Activity));
        thermal = backend.thermal(follow(Property::Thermal));
        // Where the scenario starts.
        service->change({ { Property::DisplayState, { display->get() } },
            { Property::Activity, { activity->get() } },
            { Property::Thermal, { thermal->get() } } });
    }

    SimulatedBackend backend;
    std::vector<std::unique_ptr<SensorSource>> sensors;
    std::unique_ptr<DisplaySource> display;
    std::unique_ptr<SystemStateSource> systemState;
    std::unique_ptr<StateSource<KvActivity::Activity>> activity;
    std::unique_ptr<StateSource<KvThermal::ThermalState>> thermal;
};

HandsetService::HandsetService(const QDBusConnection &bus)
    : bus(bus)
{
    batteryClock.start();
}

HandsetService::~HandsetService() = default;

void HandsetService::play(std::optional<Scenario> scenario)
{
    player.reset();
    player = std::make_unique<Player>(std::move(scenario), this);
}

QString HandsetService::introspect(const QString &) const
{
    return QStringLiteral("<interface name=\"%1\">"
                          "<method name=\"%2\"><arg name=\"names\" type=\"as\" direction=\"in\"/>"
                          "<arg name=\"values\" type=\"ai\" direction=\"in\"/></method>"
                          "<method name=\"%3\"><arg name=\"names\" type=\"as\" direction=\"out\"/>"
                          "<arg name=\"values\" type=\"ai\" direction=\"out\"/></method>"
                          "<method name=\"%4\"><arg name=\"scenario\" type=\"ay\" "
                          "direction=\"in\"/></method>"
                          "<signal name=\"%5\"><arg name=\"names\" type=\"as\"/>"
                          "<arg name=\"values\" type=\"ai\"/></signal></interface>")
        .arg(QLatin1String(interfaceName), QLatin1String(setMethod), QLatin1String(stateMethod),
            QLatin1String(playMethod), QLatin1String(changedSignal));
}

bool HandsetService::handleMessage(const QDBusMessage &message, const QDBusConnection &)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    // Qt D-Bus may call this on a thread of its own: the handset is
    // changed on the service's thread only.
    QMetaObject::invokeMethod(
        this, [this, message] { handle(message); }, Qt::QueuedConnection);
    return true;
}

void HandsetService::handle(const QDBusMessage &message)
{
    const auto refuse = [&](const QString &why) {
        bus.send(message.createErrorReply(QLatin1String(invalidError), why));
    };
    if (message.interface() != QLatin1String(interfaceName)) {
        bus.send(message.createErrorReply(QDBusError::UnknownInterface,
            QStringLiteral("no interface '%1' here").arg(message.interface())));
        return;
    }
    const QString member = message.member();
    if (member == QLatin1String(stateMethod) && message.signature().isEmpty()) {
        state.apply({ Property::BatteryClock, { qint32(batteryClock.elapsed() / 1000) } });
        bus.send(message.createReply(encode(state.all())));
    } else if (member == QLatin1String(setMethod)) {
        QString error;
        const std::optional<QVector<Value>> values = decode(argumentsOf(message), &error);
        if (!values)
            return refuse(error);
        for (const Value &value : *values)
            if (propertyTable[int(value.property)].behaviour == Behaviour::ServiceOnly)
                return refuse(propertyName(value.property) + QStringLiteral(" cannot be set"));
        bus.send(message.createReply());
        change(*values);
    } else if (member == QLatin1String(playMethod)) {
        const QVariantList arguments = message.arguments();
        if (arguments.size() != 1 || arguments[0].userType() != QMetaType::QByteArray)
            return refuse(QStringLiteral("expected the scenario's bytes"));
        QString error;
        std::optional<Scenario> scenario = parseScenario(arguments[0].toByteArray(), &error);
        if (!scenario)
            return refuse(error);
        bus.send(message.createReply());
        play(std::move(scenario));
    } else {
        bus.send(message.createErrorReply(QDBusError::UnknownMethod,
            QStringLiteral("no method '%1' with arguments '%2'").arg(member, message.signature())));
    }
}

void HandsetService::change(const QVector<Value> &values)
{
    for (const Value &value : values)
        state.apply(value);
    QDBusMessage signal = QDBusMessage::createSignal(
        QLatin1String(objectPath), QLatin1String(interfaceName), QLatin1String(changedSignal));
    signal.setArguments(encode(values));
    bus.send(signal);
}

} // namespace Vorna::Backend
