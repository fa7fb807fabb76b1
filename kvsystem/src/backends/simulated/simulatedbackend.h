// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_SIMULATEDBACKEND_H
#define KVSYSTEM_SRC_SIMULATEDBACKEND_H

// The simulated device: a scenario file decides what every call returns and
// what every signal delivers; without one, the virtual handset does. Battery
// getters that a scenario leaves out follow the virtual handset too.

#include "backend.h"
#include "scenario.h"

#include <QElapsedTimer>

#include <optional>

namespace Vorna::Backend {

class SimulatedBackend : public Backend
{
public:
    explicit SimulatedBackend(std::optional<Scenario> scenario);

    std::unique_ptr<SensorSource> sensor(Sensor kind, SampleSink sink) override;
    std::unique_ptr<DisplaySource> display(ChangeSink<KvDisplayState::DisplayState> sink) override;
    std::unique_ptr<SystemStateSource> systemState(
        ChangeSink<KvSystemState::StateIndication> sink) override;
    std::unique_ptr<StateSource<KvActivity::Activity>> activity(
        ChangeSink<KvActivity::Activity> sink) override;
    std::unique_ptr<StateSource<KvThermal::ThermalState>> thermal(
        ChangeSink<KvThermal::ThermalState> sink) override;
    std::unique_ptr<StateSource<KvDeviceMode::DeviceMode>> deviceMode(
        ChangeSink<KvDeviceMode::DeviceMode> sink) override;
    std::unique_ptr<BatterySource> battery() override;

private:
    // What the scenario says of one class: null on the virtual handset, the
    // defaults where the scenario leaves the class out.
    template <typename Section>
    const Section *section(const std::optional<Section> Scenario::*member) const
    {
        static const Section defaults;
        if (!scenario)
            return nullptr;
        const std::optional<Section> &given = (*scenario).*member;
        return given ? &*given : &defaults;
    }

    const std::optional<Scenario> scenario;
    QElapsedTimer modelClock; // the virtual handset's time
};

} // namespace Vorna::Backend

#endif
