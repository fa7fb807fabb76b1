// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// kvsystem2-probe: what the library's Linux backend finds on this machine:
// the power supplies and which of them make the battery, the device that
// serves each sensor class or why the class is refused, and the display,
// thermal and radio state. It reads the tree that KVSYSTEM_SYSFS_ROOT names
// (default /sys) and changes nothing.
//
//   kvsystem2-probe [--help] [--version]

#include "backends/linux/linuxbackend.h"
#include "backends/linux/linuxbattery.h"
#include "backends/linux/linuxsensor.h"
#include "backends/linux/supplyreader.h"
#include "backends/linux/sysfs.h"
#include "sensors.h"
#include "trace.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <getopt.h>

using namespace Vorna;
using namespace Vorna::Backend;

namespace {

const char usage[] = "Usage: kvsystem2-probe [--help] [--version]\n"
                     "Lists what the kvsystem2 library's Linux backend finds below\n"
                     "KVSYSTEM_SYSFS_ROOT (default /sys): power supplies and the battery, the\n"
                     "device of each sensor class, the backlight, thermal state and device mode.\n"
                     "\n"
                     "  --help     this text\n"
                     "  --version  the version\n"
                     "\n"
                     "Exit status: 0 listed, 2 a refused command line or a sysfs root that is\n"
                     "not a directory.\n";

// One line of the list. Device and file names come from the machine: their
// control characters are escaped as the library's errors escape them, so
// that a crafted name cannot move the cursor or forge a line.
void line(const QString &text)
{
    std::printf("%s\n", Trace::escaped(text.toUtf8()).constData());
}

void error(const QByteArray &message)
{
    std::fprintf(stderr, "kvsystem2-probe: %s\n", Trace::escaped(message).constData());
}

int refuse(const QByteArray &message)
{
    error(message);
    std::fputs("Try 'kvsystem2-probe --help' for more information.\n", stderr);
    return 2;
}

// The states in the words of the library's enumerations, with their numbers
// as heat-demo and opmode-demo print them.
QString thermalWord(KvThermal::ThermalState state)
{
    static const char *const words[] = { "Normal", "Warning", "Alert", "Error" };
    const int n = int(state);
    return QString("%1 (%2)").arg(n >= 0 && n < 4 ? words[n] : "unknown").arg(n);
}

QString modeWord(KvDeviceMode::DeviceMode mode)
{
    const int n = int(mode);
    const char *word = n == KvDeviceMode::Error ? "Error"
        : n == KvDeviceMode::Normal             ? "Normal"
        : n == KvDeviceMode::Flight             ? "Flight"
                                                : "unknown";
    return QString("%1 (%2)").arg(word).arg(n);
}

// Reads the command line: -1 to go on, or the status to end with.
int options(int argc, char **argv)
{
    static const option known[] = { { "help", no_argument, nullptr, 'h' },
        { "version", no_argument, nullptr, 'v' }, { nullptr, 0, nullptr, 0 } };
    opterr = 0;
    for (;;) {
        const int previous = optind;
        const int c = getopt_long(argc, argv, "+", known, nullptr);
        if (c == -1)
            break;
        const QByteArray given = QByteArray(argv[previous]).split('=').first();
        switch (c) {
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case 'v':
            std::printf("kvsystem2-probe %s\n", KV_VERSION);
            return 0;
        default:
            if (optopt == 'h' || optopt == 'v')
                return refuse("option '" + given + "' takes no value");
            return refuse("unknown option '" + given + '\'');
        }
    }
    if (optind < argc)
        return refuse("no arguments are taken; '" + QByteArray(argv[optind]) + "' is one");
    return -1;
}

QString supplyRole(const BatteryModel::Supply &s)
{
    const QString type = QString::fromLatin1(s.type.isEmpty() ? QByteArray("?") : s.type);
    if (s.type == "Battery") {
        if (s.scope == "Device")
            return "passed over: a device's own battery (scope Device), not the machine's";
        if (!BatteryModel::isSystemBattery(s))
            return "passed over: battery not present";
        static const char *const currents[] = { "no current",
            "current from current_now (µA)",
            "current from current_now (µW: energy only, no power_now)",
            "current from power_now over the design voltage" };
        return QString("system battery, counts %1, %2")
            .arg(s.gauge.energyNow ? "energy (µWh)" : "charge (µAh)",
                currents[int(BatteryModel::pack(s.gauge).currentFrom)]);
    }
    if (!BatteryModel::isCharger(s))
        return s.scope == "Device" && (s.type == "Mains" || s.hasOnline)
            ? QString("passed over: a device's own charger (scope Device)")
            : QString("passed over: type %1 without an online file").arg(type);
    // online 2 is "online, programmable" in the ABI: a USB-PD PPS source.
    const double online = s.online.value_or(0);
    return QString("charger (%1: %2), %3")
        .arg(type,
            BatteryModel::chargerKind(s.type) == Vorna::KvBattery::Wall ? "wall" : "USB",
            online == 2 ? "online, programmable" : online != 0 ? "online" : "offline");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int status = options(argc, argv);
    if (status >= 0)
        return status;
    QString root = QString::fromLocal8Bit(qgetenv("KVSYSTEM_SYSFS_ROOT"));
    if (root.isEmpty())
        root = "/sys";
    if (!QFileInfo(root).isDir()) {
        error(root.toUtf8() + ": not a directory");
        return 2;
    }
    const Sysfs sysfs(root);
    LinuxBackend::Options options;
    options.sysfsRoot = root;
    LinuxBackend backend(options);

    line("=== Power supplies in " + sysfs.path("class/power_supply"));
    for (const BatteryModel::Supply &s : SupplyReader(sysfs.path("class/power_supply")).read().supplies)
        line("    " + s.name + ": " + supplyRole(s));
    LinuxBattery battery(sysfs);
    const BatteryModel::Display s = battery.display();
    if (s.packs.isEmpty()) {
        line("=== No battery: every battery value reads -1 (no value)");
    } else {
        QStringList names;
        for (const BatteryModel::Pack &p : s.packs)
            names << QString("%1 (design voltage %2 V)").arg(p.name).arg(p.designVoltage);
        line(QString("=== Has battery: %1%2")
                 .arg(names.join(", "),
                     s.packs.size() > 1 ? ", combined as upowerd's display device" : ""));
        const auto v = [&](BatteryValue value) { return battery.read(value, Vorna::KvBattery::NormalMode); };
        line(QString("    %1 %, %2 mAh, %3 mV, %4 mA, charger type %5, charging state %6, "
                     "battery state %7, %8 s left, %9 s to full")
                 .arg(v(BatteryValue::RemainingCapacityPct))
                 .arg(v(BatteryValue::RemainingCapacitymAh))
                 .arg(v(BatteryValue::Voltage))
                 .arg(v(BatteryValue::BatteryCurrent))
                 .arg(v(BatteryValue::ChargerType))
                 .arg(v(BatteryValue::ChargingState))
                 .arg(v(BatteryValue::BatteryState))
                 .arg(v(BatteryValue::RemainingActiveTime))
                 .arg(v(BatteryValue::RemainingChargingTime)));
    }

    for (int k = 0; k < SensorCount; ++k) {
        const Sensor kind = Sensor(k);
        LinuxSensor sensor(kind, sysfs, [](const Sample &) {});
        static const char *const classes[SensorCount] = { "KvALS", "KvProximity", "KvTap",
            "KvOrientation", "KvRotation", "KvMagnetometer", "KvCompass", "KvAccelerometer" };
        const QString name = QString::fromLatin1(classes[k]);
        if (sensor.requestSession(KvSensor::ControlSession) == KvSensor::NoSession) {
            line("=== No " + name + ": " + sensor.lastError());
            continue;
        }
        const Sample now = sensor.current();
        QStringList values;
        for (int i = 0; i < describe(kind).fieldCount(); ++i)
            values << QString::number(now.values[i]);
        line("=== Has " + name + ": " + sensor.device() + " (now " + values.join(' ') + ")");
        if (!sensor.note().isEmpty())
            line("    " + sensor.note());
    }

    const QStringList backlights = Sysfs::entries(sysfs.path("class/backlight"), QString());
    line(backlights.isEmpty()
            ? QString("=== No backlight: the display state reads On, every set is refused")
            : "=== Has backlight: " + backlights.first());
    line(QString("=== KvThermal state %1, KvDeviceMode %2")
             .arg(thermalWord(LinuxBackend::thermalState(sysfs)),
                 modeWord(LinuxBackend::deviceMode(sysfs))));
    return 0;
}
