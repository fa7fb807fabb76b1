// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "linuxbackend.h"

#include "linuxbattery.h"
#include "linuxdisplay.h"
#include "linuxsensor.h"
#include "poller.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace Vorna::Backend {

namespace {

// A state read from the machine, polled for changes on the main thread
// from the source's construction on.
template <typename State> class PolledState : public StateSource<State>
{
public:
    PolledState(int periodMs, std::function<State()> read, ChangeSink<State> sink)
        : read(std::move(read))
        , sink(std::move(sink))
        , last(this->read())
        , poller(Delivery::MainThread, periodMs, [this] {
            const State now = this->read();
            if (now != last) {
                last = now;
                this->sink(now);
            }
        })
    {
        poller.start();
    }

    State get() const override { return read(); }

private:
    const std::function<State()> read;
    const ChangeSink<State> sink;
    State last;
    Poller poller; // declared last: stopped before the rest goes
};

class LinuxSystemState : public SystemStateSource
{
public:
    LinuxSystemState(bool allowPower, std::function<std::shared_ptr<LoginManager>()> login)
        : allowPower(allowPower)
        , login(std::move(login))
    { }

    // Nobody reboots a machine by running a demo: without the permission
    // in the environment every request is refused (and the login manager
    // is not even loaded).
    bool set(KvSystemState::NextState nextState) override
    {
        if (!allowPower)
            return false;
        if (nextState == KvSystemState::Powerup)
            return true; // a machine that answers is powered up
        const std::shared_ptr<LoginManager> manager = login();
        if (!manager)
            return false;
        switch (nextState) {
        case KvSystemState::Reboot:
            return manager->reboot();
        case KvSystemState::Shutdown:
            return manager->powerOff();
        default:
            return false;
        }
    }

private:
    const bool allowPower;
    const std::function<std::shared_ptr<LoginManager>()> login;
};

// One zone's state from its temperature and trip points: a passive trip
// point (where the kernel starts to slow the processor down) gives a
// warning, a hot or critical one (where it acts or shuts down) an alert.
KvThermal::ThermalState zoneState(const QString &zone, qint64 temp)
{
    std::optional<qint64> warning;
    std::optional<qint64> alert;
    const auto lowest = [](std::optional<qint64> &threshold, qint64 at) {
        threshold = threshold ? std::min(*threshold, at) : at;
    };
    for (const QString &file : Sysfs::entries(zone, QStringLiteral("trip_point_"))) {
        if (!file.endsWith(QLatin1String("_type")))
            continue;
        const QByteArray type = Sysfs::read(file).value_or(QByteArray());
        const std::optional<qint64> at = Sysfs::readInt(file.chopped(4) + QStringLiteral("temp"));
        if (!at || *at <= 0) // drivers mark unused trip points with 0 or less
            continue;
        if (type == "passive")
            lowest(warning, *at);
        else if (type == "hot" || type == "critical")
            lowest(alert, *at);
    }
    if (temp >= alert.value_or(LinuxBackend::defaultAlert))
        return KvThermal::Alert;
    if (temp >= warning.value_or(LinuxBackend::defaultWarning))
        return KvThermal::Warning;
    return KvThermal::Normal;
}

} // namespace

LinuxBackend::Options LinuxBackend::Options::fromEnvironment()
{
    Options o;
    QByteArray root = environment("KVSYSTEM_SYSFS_ROOT");
    if (root.isEmpty())
        root = "/sys";
    struct stat st {};
    if (::stat(root.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        usageError("KVSYSTEM_SYSFS_ROOT: " + root + ": not a directory");
    o.sysfsRoot = QFile::decodeName(root);
    if (QFile::encodeName(o.sysfsRoot) != root) {
        // Bytes that a QString cannot carry (not in the locale's encoding):
        // the tree is reached through a descriptor of its directory, which
        // stays open for the life of the process.
        const int fd = ::open(root.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            usageError("KVSYSTEM_SYSFS_ROOT: " + root + ": not a directory");
        o.sysfsRoot = QStringLiteral("/proc/self/fd/%1").arg(fd);
    }
    o.allowPower = environment("KVSYSTEM_ALLOW_POWER") == "1";
    o.allowDisplay = environment("KVSYSTEM_ALLOW_DISPLAY") == "1";
    o.brightnessThroughLogin = QFileInfo(o.sysfsRoot).canonicalFilePath() == QLatin1String("/sys");
    // Loaded when a class first needs it: charge-recorder never does.
    o.makeLogin = systemLoginManager;
    return o;
}

LinuxBackend::LinuxBackend(Options options)
    : sysfs(options.sysfsRoot)
    , allowPower(options.allowPower)
    , allowDisplay(options.allowDisplay)
    , brightnessThroughLogin(options.brightnessThroughLogin)
    , login(std::move(options.login))
    , makeLogin(std::move(options.makeLogin))
{ }

std::shared_ptr<LoginManager> LinuxBackend::loginManager()
{
    if (!login && makeLogin) {
        login = makeLogin();
        makeLogin = nullptr;
    }
    return login;
}

KvThermal::ThermalState LinuxBackend::thermalState(const Sysfs &sysfs)
{
    // Normal, Warning and Alert rise with the heat; no zone read is an Error.
    std::optional<KvThermal::ThermalState> worst;
    for (const QString &zone : Sysfs::entries(
             sysfs.path(QStringLiteral("class/thermal")), QStringLiteral("thermal_zone"))) {
        if (const std::optional<qint64> temp = Sysfs::readInt(zone + QStringLiteral("/temp")))
            worst = std::max(worst.value_or(KvThermal::Normal), zoneState(zone, *temp));
    }
    return worst.value_or(KvThermal::Error);
}

KvDeviceMode::DeviceMode LinuxBackend::deviceMode(const Sysfs &sysfs)
{
    const QStringList radios
        = Sysfs::entries(sysfs.path(QStringLiteral("class/rfkill")), QStringLiteral("rfkill"));
    if (radios.isEmpty())
        return KvDeviceMode::Normal;
    for (const QString &radio : radios) {
        const bool blocked = Sysfs::readInt(radio + QStringLiteral("/soft")).value_or(0) != 0
            || Sysfs::readInt(radio + QStringLiteral("/hard")).value_or(0) != 0;
        if (!blocked)
            return KvDeviceMode::Normal;
    }
    return KvDeviceMode::Flight;
}

std::unique_ptr<SensorSource> LinuxBackend::sensor(Sensor kind, SampleSink sink)
{
    return std::make_unique<LinuxSensor>(kind, sysfs, std::move(sink));
}

std::unique_ptr<DisplaySource> LinuxBackend::display(ChangeSink<KvDisplayState::DisplayState> sink)
{
    LinuxDisplay::Login viaLogin;
    if (brightnessThroughLogin)
        viaLogin = [this] { return loginManager(); };
    return std::make_unique<LinuxDisplay>(sysfs, allowDisplay, std::move(viaLogin), std::move(sink));
}

std::unique_ptr<SystemStateSource> LinuxBackend::systemState(
    ChangeSink<KvSystemState::StateIndication>)
{
    // logind announces nothing that maps to an indication before the machine goes down.
    return std::make_unique<LinuxSystemState>(allowPower, [this] { return loginManager(); });
}

std::unique_ptr<StateSource<KvActivity::Activity>> LinuxBackend::activity(
    ChangeSink<KvActivity::Activity> sink)
{
    // Without a login manager to ask, the user counts as active.
    const std::shared_ptr<LoginManager> manager = loginManager();
    return std::make_unique<PolledState<KvActivity::Activity>>(
        activityPollMs,
        [manager] {
            return manager && manager->idleHint().value_or(false) ? KvActivity::Inactive
                                                                  : KvActivity::Active;
        },
        std::move(sink));
}

std::unique_ptr<StateSource<KvThermal::ThermalState>> LinuxBackend::thermal(
    ChangeSink<KvThermal::ThermalState> sink)
{
    const Sysfs tree = sysfs;
    return std::make_unique<PolledState<KvThermal::ThermalState>>(
        statePollMs, [tree] { return thermalState(tree); }, std::move(sink));
}

std::unique_ptr<StateSource<KvDeviceMode::DeviceMode>> LinuxBackend::deviceMode(
    ChangeSink<KvDeviceMode::DeviceMode> sink)
{
    const Sysfs tree = sysfs;
    return std::make_unique<PolledState<KvDeviceMode::DeviceMode>>(
        statePollMs, [tree] { return deviceMode(tree); }, std::move(sink));
}

std::unique_ptr<BatterySource> LinuxBackend::battery()
{
    auto source = std::make_unique<LinuxBattery>(sysfs);
    // A failure to read (too few descriptors, say) is said as itself: it
    // is no sign that the machine has no battery.
    int error = 0;
    if (!source->hasBattery(&error) && error == 0)
        warning("no battery in " + source->suppliesDir().toLocal8Bit()
            + ": battery values read -1 (no value)");
    return source;
}

} // namespace Vorna::Backend
