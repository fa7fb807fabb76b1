#include "linuxbackend.h"

#include "linuxbattery.h"
#include "linuxdisplay.h"
#include "linuxsensor.h"
#include "poller.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace Vorna::Backend {

namespace {

// A state read from the machine, polled for changes on the main thread
// from the source's construction on.
class PolledState : public StateSource
{
public:
    PolledState(int periodMs, std::function<int()> read, ChangeSink sink)
        : read(std::move(read))
        , sink(std::move(sink))
        , last(this->read())
        , poller(Delivery::MainThread, periodMs, [this] {
            const int now = this->read();
            if (now != last) {
                last = now;
                this->sink(now);
            }
        })
    {
        poller.start();
    }

    int get() const override { return read(); }

private:
    const std::function<int()> read;
    const ChangeSink sink;
    int last;
    Poller poller; // declared last: stopped before the rest goes
};

class LinuxSystemState : public SystemStateSource
{
public:
    LinuxSystemState(bool allowPower, std::shared_ptr<LoginManager> login)
        : allowPower(allowPower)
        , login(std::move(login))
    { }

    // Nobody reboots a machine by running a demo: without the permission
    // in the environment every request is refused.
    bool set(int nextState) override
    {
        if (!allowPower)
            return false;
        switch (nextState) {
        case 0:
            return true; // a machine that answers is powered up
        case 1:
            return login->reboot();
        case 2:
            return login->powerOff();
        }
        return false;
    }

private:
    const bool allowPower;
    const std::shared_ptr<LoginManager> login;
};

// One zone's state from its temperature and trip points: a passive trip
// point (where the kernel starts to slow the processor down) gives a
// warning, a hot or critical one (where it acts or shuts down) an alert.
int zoneState(const QString &zone, qint64 temp)
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
        return 2;
    if (temp >= warning.value_or(LinuxBackend::defaultWarning))
        return 1;
    return 0;
}

} // namespace

LinuxBackend::Options LinuxBackend::Options::fromEnvironment()
{
    Options o;
    const QString root = QString::fromLocal8Bit(qgetenv("KVSYSTEM_SYSFS_ROOT"));
    if (!root.isEmpty())
        o.sysfsRoot = root;
    if (!QFileInfo(o.sysfsRoot).isDir())
        usageError(QStringLiteral("KVSYSTEM_SYSFS_ROOT: %1: not a directory").arg(o.sysfsRoot));
    o.allowPower = qgetenv("KVSYSTEM_ALLOW_POWER") == "1";
    o.login = systemLoginManager();
    return o;
}

LinuxBackend::LinuxBackend(Options options)
    : sysfs(options.sysfsRoot)
    , allowPower(options.allowPower)
    , login(std::move(options.login))
{ }

int LinuxBackend::thermalState(const Sysfs &sysfs)
{
    int worst = -1;
    for (const QString &zone : Sysfs::entries(
             sysfs.path(QStringLiteral("class/thermal")), QStringLiteral("thermal_zone"))) {
        if (const std::optional<qint64> temp = Sysfs::readInt(zone + QStringLiteral("/temp")))
            worst = std::max(worst, zoneState(zone, *temp));
    }
    return worst < 0 ? 3 : worst; // no temperature to read: Error
}

int LinuxBackend::deviceMode(const Sysfs &sysfs)
{
    const QStringList radios
        = Sysfs::entries(sysfs.path(QStringLiteral("class/rfkill")), QStringLiteral("rfkill"));
    if (radios.isEmpty())
        return 0;
    for (const QString &radio : radios) {
        const bool blocked = Sysfs::readInt(radio + QStringLiteral("/soft")).value_or(0) != 0
            || Sysfs::readInt(radio + QStringLiteral("/hard")).value_or(0) != 0;
        if (!blocked)
            return 0;
    }
    return 1;
}

std::unique_ptr<SensorSource> LinuxBackend::sensor(Sensor kind, SampleSink sink)
{
    return std::make_unique<LinuxSensor>(kind, sysfs, std::move(sink));
}

std::unique_ptr<DisplaySource> LinuxBackend::display(ChangeSink sink)
{
    return std::make_unique<LinuxDisplay>(sysfs, std::move(sink));
}

std::unique_ptr<SystemStateSource> LinuxBackend::systemState(ChangeSink)
{
    // logind announces nothing that maps to an indication before the machine goes down.
    return std::make_unique<LinuxSystemState>(allowPower, login);
}

std::unique_ptr<StateSource> LinuxBackend::activity(ChangeSink sink)
{
    // Without a login manager to ask, the user counts as active.
    const std::shared_ptr<LoginManager> manager = login;
    return std::make_unique<PolledState>(
        activityPollMs,
        [manager] { return manager && manager->idleHint().value_or(false) ? 0 : 1; },
        std::move(sink));
}

std::unique_ptr<StateSource> LinuxBackend::thermal(ChangeSink sink)
{
    const Sysfs tree = sysfs;
    return std::make_unique<PolledState>(
        statePollMs, [tree] { return thermalState(tree); }, std::move(sink));
}

std::unique_ptr<StateSource> LinuxBackend::deviceMode(ChangeSink sink)
{
    const Sysfs tree = sysfs;
    return std::make_unique<PolledState>(
        statePollMs, [tree] { return deviceMode(tree); }, std::move(sink));
}

std::unique_ptr<BatterySource> LinuxBackend::battery()
{
    auto source = std::make_unique<LinuxBattery>(sysfs);
    if (source->batteryDir().isEmpty() && !warnedNoBattery) {
        warnedNoBattery = true;
        std::fprintf(stderr, "kvsystem2: no battery in %s: every battery value reads 0\n",
            source->suppliesDir().toLocal8Bit().constData());
        std::fflush(stderr);
    }
    return source;
}

} // namespace Vorna::Backend
