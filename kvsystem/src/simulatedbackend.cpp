#include "simulatedbackend.h"

#include "pump.h"
#include "virtualhandset.h"

#include <chrono>
#include <thread>

namespace Vorna::Backend {

namespace {

// A scenario's list of readings or changes, in order.
template <typename Entry> class ListTimeline : public Timeline
{
public:
    using Fire = std::function<void(const Entry &)>;
    ListTimeline(QVector<Entry> entries, Fire fire)
        : entries(std::move(entries))
        , fire(std::move(fire))
    { }
    qint64 nextDue() const override { return next < entries.size() ? entries[next].at : -1; }
    void fireNext() override { fire(entries[next++]); }

private:
    const QVector<Entry> entries;
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
    Changes(const ChangeList *list, const VirtualHandset::Cycle &cycle, const QElapsedTimer &clock,
        ChangeSink sink)
    {
        if (list) {
            timeline.reset(new ListTimeline<TimedChange>(
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
            timeline.reset(new ListTimeline<TimedSample>(
                scenario->readings, [sink](const TimedSample &r) { sink(r.sample); }));
            pump.reset(new Pump(scenario->thread, timeline.get()));
        } else {
            timeline.reset(
                new EndlessTimeline(0, VirtualHandset::period(kind), [this, sink](qint64) {
                    sink(VirtualHandset::reading(
                        this->kind, this->clock.elapsed(), monotonicMicroseconds()));
                }));
            pump.reset(new Pump(Delivery::MainThread, timeline.get()));
        }
    }

    int requestSession(int type) override
    {
        const bool known = type == 1 || type == 2;
        session = scenario && scenario->session ? *scenario->session : known ? type : 0;
        if (session == 0)
            error = known ? QStringLiteral("no session granted")
                          : QStringLiteral("unknown session type %1").arg(type);
        return session;
    }

    int sessionType() const override
    {
        return scenario && scenario->sessionType ? *scenario->sessionType : session;
    }

    bool start() override
    {
        const bool ok = scenario && scenario->start ? *scenario->start : sessionType() != 0;
        if (ok)
            pump->start();
        else
            error = sessionType() == 0 ? QStringLiteral("cannot start without a session")
                                       : QStringLiteral("the sensor did not start");
        return ok;
    }

    void stop() override { pump->stop(); }

    void closeSession() override
    {
        pump->stop();
        session = 0;
    }

    QString lastError() const override
    {
        return scenario && scenario->lastError ? *scenario->lastError : error;
    }

    Sample current() const override
    {
        if (scenario)
            return scenario->current.value_or(Sample());
        return VirtualHandset::reading(kind, clock.elapsed(), monotonicMicroseconds());
    }

    bool hasZ() const override { return scenario ? scenario->hasZ : true; }

private:
    const Sensor kind;
    const SensorScenario *const scenario; // null on the virtual handset
    const QElapsedTimer &clock;
    int session = 0;
    QString error;
    std::unique_ptr<Timeline> timeline;
    std::unique_ptr<Pump> pump; // declared last: stopped before the timeline goes
};

class SimulatedDisplay : public DisplaySource
{
public:
    SimulatedDisplay(const DisplayScenario *scenario, const QElapsedTimer &clock, ChangeSink sink)
        : scenario(scenario)
        , clock(clock)
        , changes(scenario ? &scenario->changes : nullptr, VirtualHandset::displayCycle(), clock,
              std::move(sink))
    { }

    int get() const override
    {
        if (!scenario)
            return VirtualHandset::displayCycle().at(clock.elapsed());
        return scenario->get.value_or(1);
    }
    bool set(int state) override { return scenario ? scenario->set.answer(state, true) : true; }
    void setBrightness(int value) override { brightnessSet = value; }
    int brightness() const override
    {
        return scenario && scenario->brightness ? *scenario->brightness : brightnessSet;
    }
    void setDimTimeout(int seconds) override { dimTimeoutSet = seconds; }
    int dimTimeout() const override
    {
        return scenario && scenario->dimTimeout ? *scenario->dimTimeout : dimTimeoutSet;
    }
    bool setBlankingPause() override
    {
        return scenario ? scenario->blankingPause.value_or(true) : true;
    }

private:
    const DisplayScenario *const scenario;
    const QElapsedTimer &clock;
    int brightnessSet = 3;
    int dimTimeoutSet = 30;
    Changes changes;
};

class SimulatedSystemState : public SystemStateSource
{
public:
    SimulatedSystemState(
        const SystemStateScenario *scenario, const QElapsedTimer &clock, ChangeSink sink)
        : scenario(scenario)
        , sink(sink)
        , changes(scenario ? &scenario->indications : nullptr, VirtualHandset::systemStateCycle(),
              clock, sink)
    { }

    // The simulated device answers every request and never acts on it.
    bool set(int nextState) override
    {
        if (!scenario)
            return true;
        for (int indication : scenario->onSet.value(nextState))
            sink(indication);
        return scenario->set.answer(nextState, true);
    }

private:
    const SystemStateScenario *const scenario;
    const ChangeSink sink;
    Changes changes;
};

class SimulatedState : public StateSource
{
public:
    // scenario is null on the virtual handset, where the state follows the cycle.
    SimulatedState(const ValueScenario *scenario, int fallback, const VirtualHandset::Cycle &cycle,
        const QElapsedTimer &clock, ChangeSink sink)
        : scenario(scenario)
        , value(scenario ? scenario->get.value_or(fallback) : fallback)
        , cycle(cycle)
        , clock(clock)
        , changes(scenario ? &scenario->changes : nullptr, cycle, clock, std::move(sink))
    { }

    int get() const override { return scenario ? value : cycle.at(clock.elapsed()); }

private:
    const ValueScenario *const scenario;
    const int value;
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

    int read(BatteryValue value, int mode) override
    {
        const int i = int(value);
        if (scenario && !scenario->battery[size_t(i)].isEmpty()) {
            const QVector<BatteryStep> &steps = scenario->battery[size_t(i)];
            const BatteryStep &step = steps[std::min<qsizetype>(calls[size_t(i)]++, steps.size() - 1)];
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

std::unique_ptr<DisplaySource> SimulatedBackend::display(ChangeSink sink)
{
    return std::make_unique<SimulatedDisplay>(
        section(&Scenario::displayState), modelClock, std::move(sink));
}

std::unique_ptr<SystemStateSource> SimulatedBackend::systemState(ChangeSink sink)
{
    return std::make_unique<SimulatedSystemState>(
        section(&Scenario::systemState), modelClock, std::move(sink));
}

std::unique_ptr<StateSource> SimulatedBackend::activity(ChangeSink sink)
{
    return std::make_unique<SimulatedState>(section(&Scenario::activity), 1,
        VirtualHandset::activityCycle(), modelClock, std::move(sink));
}

std::unique_ptr<StateSource> SimulatedBackend::thermal(ChangeSink sink)
{
    return std::make_unique<SimulatedState>(section(&Scenario::thermal), 0,
        VirtualHandset::thermalCycle(), modelClock, std::move(sink));
}

std::unique_ptr<StateSource> SimulatedBackend::deviceMode(ChangeSink sink)
{
    // The device stays in normal mode, scripted or not: no change ever comes.
    static const ValueScenario normal;
    return std::make_unique<SimulatedState>(
        &normal, 0, VirtualHandset::Cycle(), modelClock, std::move(sink));
}

std::unique_ptr<BatterySource> SimulatedBackend::battery()
{
    return std::make_unique<SimulatedBattery>(scenario ? &*scenario : nullptr, modelClock);
}

} // namespace Vorna::Backend
