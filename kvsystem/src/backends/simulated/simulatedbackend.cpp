// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "simulatedbackend.h"

#include "pump.h"
#include "virtualhandset.h"

#include <chrono>
#include <thread>

namespace Vorna::Backend {

namespace {

// A scenario's list of readings or changes, in order.
template <typename Entries, typename Entry> class ListTimeline : public Timeline
{
public:
    using Fire = std::function<void(const Entry &)>;
    ListTimeline(Entries entries, Fire fire)
        : entries(std::move(entries))
        , fire(std::move(fire))
    { }
    qint64 nextDue() const override { return next < entries.size() ? entries[next].at : -1; }
    void fireNext() override { fire(entries[next++]); }

private:
    const Entries entries;
    const Fire fire;
    int next = 0;
};

// Something the virtual handset does again and again: event k at first + k * every.
class EndlessTimeline : public Timeline
{
public:
    using Fire = std::function<void(qint64 k)>;
    EndlessTimeline(qint64 first, qint64 every, Fire fire)
        : first(first)
        , every(every)
        , fire(std::move(fire))
    { }
    qint64 nextDue() const override { return first + k * every; }
    void fireNext() override { fire(k++); }

private:
    const qint64 first;
    const qint64 every;
    const Fire fire;
    qint64 k = 0;
};

// Change notifications of a system-state object, from the scenario or the
// virtual handset, running from the object's construction on.
class Changes
{
public:
    template <typename Value>
    Changes(const ChangeList *list, const VirtualHandset::Cycle &cycle, const QElapsedTimer &clock,
        ChangeSink<Value> typed)
    {
        // Scenarios and the model script plain numbers, in or out of the enum.
        const ChangeSink<int> sink = [typed](int value) { typed(Value(value)); };
        if (list) {
            timeline.reset(new ListTimeline<QVector<TimedChange>, TimedChange>(
                list->changes, [sink](const TimedChange &c) { sink(c.value); }));
            pump.reset(new Pump(list->thread, timeline.get()));
        } else {
            // Line the changes up with the model's clock, which started before this object.
            const qint64 now = clock.elapsed();
            qint64 k = now <= cycle.first ? 0 : (now - cycle.first + cycle.every - 1) / cycle.every;
            timeline.reset(new EndlessTimeline(cycle.first + k * cycle.every - now, cycle.every,
                [sink, cycle, k](qint64 n) { sink(cycle.afterChange(k + n)); }));
            pump.reset(new Pump(Delivery::MainThread, timeline.get()));
        }
        pump->start();
    }

private:
    std::unique_ptr<Timeline> timeline;
    std::unique_ptr<Pump> pump; // declared last: stopped before the timeline goes
};

class SimulatedSensor : public SensorSource
{
public:
    SimulatedSensor(
        Sensor kind, const SensorScenario *scenario, const QElapsedTimer &clock, SampleSink sink)
        : kind(kind)
        , scenario(scenario)
        , clock(clock)
    {
        if (scenario) {
            timeline.reset(new ListTimeline<ReadingList, TimedSample>(
                scenario->readings, [sink](const TimedSample &r) { sink(r.sample); }));
            pump.reset(new Pump(scenario->thread, timeline.get()));
        } else {
            timeline.reset(
                new EndlessTimeline(0, describe(kind).virtualPeriodMs, [this, sink](qint64) {
                    sink(VirtualHandset::reading(
                        this->kind, this->clock.elapsed(), monotonicMicroseconds()));
                }));
            pump.reset(new Pump(Delivery::MainThread, timeline.get()));
        }
    }

    KvSensor::SessionType requestSession(KvSensor::SessionType type) override
    {
        const bool known = type == KvSensor::ListenSession || type == KvSensor::ControlSession;
        const int fallback = known ? type : KvSensor::NoSession;
        session = KvSensor::SessionType(
            scenario ? scenario->session.next(&calls.session, fallback) : fallback);
        if (session == KvSensor::NoSession)
            error = known ? QStringLiteral("no session granted")
                          : QStringLiteral("unknown session type %1").arg(type);
        return session;
    }

    KvSensor::SessionType sessionType() const override
    {
        return scenario
            ? KvSensor::SessionType(scenario->sessionType.next(&calls.sessionType, session))
            : session;
    }

    bool start() override
    {
        const bool fallback = sessionType() != KvSensor::NoSession;
        const bool ok = scenario ? scenario->start.next(&calls.start, fallback) : fallback;
        if (ok)
            pump->start();
        else
            error = sessionType() == KvSensor::NoSession
                ? QStringLiteral("cannot start without a session")
                : QStringLiteral("the sensor did not start");
        return ok;
    }

    void stop() override { pump->stop(); }

    void closeSession() override
    {
        pump->stop();
        session = KvSensor::NoSession;
    }

    QString lastError() const override
    {
        return scenario ? scenario->lastError.next(&calls.lastError, error) : error;
    }

    Sample current() const override
    {
        if (scenario)
            return scenario->current.next(&calls.current, Sample());
        return VirtualHandset::reading(kind, clock.elapsed(), monotonicMicroseconds());
    }

    bool hasZ() const override { return scenario ? scenario->hasZ.next(&calls.hasZ, true) : true; }

private:
    const Sensor kind;
    const SensorScenario *const scenario; // null on the virtual handset
    const QElapsedTimer &clock;
    KvSensor::SessionType session = KvSensor::NoSession;
    QString error;
    // How often each getter was called: call k returns the scenario's answer k.
    mutable struct
    {
        int session = 0, sessionType = 0, start = 0, lastError = 0, current = 0, hasZ = 0;
    } calls;
    std::unique_ptr<Timeline> timeline;
    std::unique_ptr<Pump> pump; // declared last: stopped before the timeline goes
};

class SimulatedDisplay : public DisplaySource
{
public:
    SimulatedDisplay(const DisplayScenario *scenario, const QElapsedTimer &clock,
        ChangeSink<KvDisplayState::DisplayState> sink)
        : scenario(scenario)
        , clock(clock)
        , changes(scenario ? &scenario->changes : nullptr, VirtualHandset::displayCycle(), clock,
              std::move(sink))
    { }

    KvDisplayState::DisplayState get() const override
    {
        if (!scenario)
            return KvDisplayState::DisplayState(VirtualHandset::displayCycle().at(clock.elapsed()));
        return KvDisplayState::DisplayState(scenario->get.next(&calls.get, KvDisplayState::On));
    }
    bool set(KvDisplayState::DisplayState state) override
    {
        return scenario ? scenario->set.next(&calls.set, state, true) : true;
    }
    void setBrightness(int value) override { brightnessSet = value; }
    int brightness() const override
    {
        return scenario ? scenario->brightness.next(&calls.brightness, brightnessSet)
                        : brightnessSet;
    }
    void setDimTimeout(int seconds) override { dimTimeoutSet = seconds; }
    int dimTimeout() const override
    {
        return scenario ? scenario->dimTimeout.next(&calls.dimTimeout, dimTimeoutSet)
                        : dimTimeoutSet;
    }
    bool setBlankingPause() override
    {
        return scenario ? scenario->blankingPause.next(&calls.blankingPause, true) : true;
    }

private:
    const DisplayScenario *const scenario;
    const QElapsedTimer &clock;
    int brightnessSet = 3;
    int dimTimeoutSet = 30;
    mutable struct
    {
        int get = 0, set = 0, brightness = 0, dimTimeout = 0, blankingPause = 0;
    } calls;
    Changes changes;
};

class SimulatedSystemState : public SystemStateSource
{
public:
    SimulatedSystemState(const SystemStateScenario *scenario, const QElapsedTimer &clock,
        ChangeSink<KvSystemState::StateIndication> sink)
        : scenario(scenario)
        , sink(sink)
        , changes(scenario ? &scenario->indications : nullptr, VirtualHandset::systemStateCycle(),
              clock, sink)
    { }

    // The simulated device answers every request and never acts on it.
    bool set(KvSystemState::NextState nextState) override
    {
        if (!scenario)
            return true;
        for (int indication : scenario->onSet.value(nextState))
            sink(KvSystemState::StateIndication(indication));
        return scenario->set.next(&setCalls, nextState, true);
    }

private:
    const SystemStateScenario *const scenario;
    const ChangeSink<KvSystemState::StateIndication> sink;
    int setCalls = 0;
    Changes changes;
};

template <typename State> class SimulatedState : public StateSource<State>
{
public:
    // scenario is null on the virtual handset, where the state follows the cycle.
    SimulatedState(const ValueScenario *scenario, State fallback,
        const VirtualHandset::Cycle &cycle, const QElapsedTimer &clock, ChangeSink<State> sink)
        : scenario(scenario)
        , fallback(fallback)
        , cycle(cycle)
        , clock(clock)
        , changes(scenario ? &scenario->changes : nullptr, cycle, clock, std::move(sink))
    { }

    State get() const override
    {
        return scenario ? State(scenario->get.next(&getCalls, fallback))
                        : State(cycle.at(clock.elapsed()));
    }

private:
    const ValueScenario *const scenario;
    const int fallback;
    mutable int getCalls = 0;
    const VirtualHandset::Cycle cycle;
    const QElapsedTimer &clock;
    Changes changes;
};

class SimulatedBattery : public BatterySource
{
public:
    SimulatedBattery(const Scenario *scenario, const QElapsedTimer &clock)
        : scenario(scenario)
        , clock(clock)
    { }

    int read(BatteryValue value, KvBattery::RemainingTimeMode mode) override
    {
        const int i = int(value);
        if (scenario && !scenario->battery[size_t(i)].isEmpty()) {
            const QVector<BatteryStep> &steps = scenario->battery[size_t(i)];
            const BatteryStep &step = nextStep(steps, calls[size_t(i)]);
            if (step.delayMs > 0) // a slow call, or a system that was suspended in it
                std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
            return step.value;
        }
        return VirtualHandset::battery(value, mode, double(clock.elapsed()) / 1000.0);
    }

private:
    const Scenario *const scenario;
    const QElapsedTimer &clock;
    std::array<int, BatteryValueCount> calls {};
};

} // namespace

SimulatedBackend::SimulatedBackend(std::optional<Scenario> scenario)
    : scenario(std::move(scenario))
{
    modelClock.start();
}

std::unique_ptr<SensorSource> SimulatedBackend::sensor(Sensor kind, SampleSink sink)
{
    const SensorScenario *sc = nullptr;
    static const SensorScenario silent; // a sensor that the scenario leaves out delivers nothing
    if (scenario)
        sc = scenario->sensors[size_t(kind)] ? &*scenario->sensors[size_t(kind)] : &silent;
    return std::make_unique<SimulatedSensor>(kind, sc, modelClock, std::move(sink));
}

std::unique_ptr<DisplaySource> SimulatedBackend::display(
    ChangeSink<KvDisplayState::DisplayState> sink)
{
    return std::make_unique<SimulatedDisplay>(
        section(&Scenario::displayState), modelClock, std::move(sink));
}

std::unique_ptr<SystemStateSource> SimulatedBackend::systemState(
    ChangeSink<KvSystemState::StateIndication> sink)
{
    return std::make_unique<SimulatedSystemState>(
        section(&Scenario::systemState), modelClock, std::move(sink));
}

std::unique_ptr<StateSource<KvActivity::Activity>> SimulatedBackend::activity(
    ChangeSink<KvActivity::Activity> sink)
{
    return std::make_unique<SimulatedState<KvActivity::Activity>>(section(&Scenario::activity),
        KvActivity::Active, VirtualHandset::activityCycle(), modelClock, std::move(sink));
}

std::unique_ptr<StateSource<KvThermal::ThermalState>> SimulatedBackend::thermal(
    ChangeSink<KvThermal::ThermalState> sink)
{
    return std::make_unique<SimulatedState<KvThermal::ThermalState>>(section(&Scenario::thermal),
        KvThermal::Normal, VirtualHandset::thermalCycle(), modelClock, std::move(sink));
}

std::unique_ptr<StateSource<KvDeviceMode::DeviceMode>> SimulatedBackend::deviceMode(
    ChangeSink<KvDeviceMode::DeviceMode> sink)
{
    // The device stays in normal mode, scripted or not: no change ever comes.
    static const ValueScenario normal;
    return std::make_unique<SimulatedState<KvDeviceMode::DeviceMode>>(
        &normal, KvDeviceMode::Normal, VirtualHandset::Cycle(), modelClock, std::move(sink));
}

std::unique_ptr<BatterySource> SimulatedBackend::battery()
{
    return std::make_unique<SimulatedBattery>(scenario ? &*scenario : nullptr, modelClock);
}

} // namespace Vorna::Backend
