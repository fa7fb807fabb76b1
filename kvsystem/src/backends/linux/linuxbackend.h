// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_LINUXBACKEND_H
#define KVSYSTEM_SRC_LINUXBACKEND_H

// A real Linux machine, handset or laptop: the kernel's sysfs for the
// battery, the sensors, the backlight, the thermal zones and the radios,
// and the login manager for user activity and power requests. Values are
// read when asked for; change notifications come from polling.

#include "backend.h"
#include "loginmanager.h"
#include "sysfs.h"

#include <functional>

namespace Vorna::Backend {

class LinuxBackend : public Backend
{
public:
    // How often the system-state sources look for a change, in ms.
    static constexpr int statePollMs = 1000;
    static constexpr int activityPollMs = 2000;

    struct Options
    {
        QString sysfsRoot = QStringLiteral("/sys");
        // Reboot and shutdown requests go to the system only when allowed.
        bool allowPower = false;
        // The display's state and brightness are changed only when allowed.
        bool allowDisplay = false;
        // Brightness through the login manager where the backlight's file
        // cannot be written: only for the machine's own /sys, which is
        // where the login manager writes.
        bool brightnessThroughLogin = false;
        // The login manager, or how to make it the first time a class needs
        // it (loading its D-Bus module then); with neither, there is none.
        std::shared_ptr<LoginManager> login;
        std::function<std::shared_ptr<LoginManager>()> makeLogin;

        // KVSYSTEM_SYSFS_ROOT, KVSYSTEM_ALLOW_POWER, KVSYSTEM_ALLOW_DISPLAY
        // and the machine's login manager.
        static Options fromEnvironment();
    };

    explicit LinuxBackend(Options options);

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
    // Without a battery, warns once on standard error; where the supplies
    // cannot be read, says why instead.
    std::unique_ptr<BatterySource> battery() override;

    // The machine's thermal state now: the hottest zone decides.
    static KvThermal::ThermalState thermalState(const Sysfs &sysfs);
    // Flight mode when every radio is blocked.
    static KvDeviceMode::DeviceMode deviceMode(const Sysfs &sysfs);

    // Zones whose driver gives no passive, hot or critical trip point use these (m°C).
    static constexpr int defaultWarning = 70000;
    static constexpr int defaultAlert = 85000;

    // The login manager, made on first use; null where there is none.
    std::shared_ptr<LoginManager> loginManager();

private:
    const Sysfs sysfs;
    const bool allowPower;
    const bool allowDisplay;
    const bool brightnessThroughLogin;
    std::shared_ptr<LoginManager> login;
    std::function<std::shared_ptr<LoginManager>()> makeLogin;
};

} // namespace Vorna::Backend

#endif
