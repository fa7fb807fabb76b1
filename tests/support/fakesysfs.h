// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_SUPPORT_FAKESYSFS_H
#define TESTS_SUPPORT_FAKESYSFS_H

// A tree of plain files in a temporary directory that stands for /sys, as
// the library's Linux backend reads it (KVSYSTEM_SYSFS_ROOT): a phone with
// battery, USB charger, light and proximity sensor, accelerometer,
// magnetometer, backlight, thermal zone and a radio, or a desktop with a
// mains supply and a thermal zone only.

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/stat.h>

class FakeSysfs
{
public:
    enum Machine { Phone, Desktop };

    // Written in place of a file's contents: the file is taken away, or a
    // directory stands in its place, which no one can read as a file (not
    // even root, who reads files of any mode).
    static constexpr const char *absent = "<absent>";
    static constexpr const char *unreadable = "<unreadable>";
    // A FIFO, which blocks whoever opens it for reading until a writer comes.
    static constexpr const char *fifo = "<fifo>";

    explicit FakeSysfs(Machine machine)
    {
        QDir(dir.path()).mkpath(QStringLiteral("bus/iio/devices"));
        QDir(dir.path()).mkpath(QStringLiteral("class/backlight"));
        if (machine == Phone)
            apply(phone());
        else
            apply(desktop());
    }

    QString root() const { return dir.path(); }

    // Writes one attribute, below the root as below /sys.
    void set(const QString &path, const QByteArray &contents)
    {
        const QString file = dir.filePath(path);
        QFile::remove(file);
        QDir(file).removeRecursively();
        if (contents == absent)
            return;
        QDir().mkpath(contents == unreadable ? file : QFileInfo(file).path());
        if (contents == unreadable)
            return;
        if (contents == fifo) {
            mkfifo(QFile::encodeName(file).constData(), 0600);
            return;
        }
        QFile f(file);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(contents + '\n');
    }

    QByteArray get(const QString &path) const
    {
        QFile f(dir.filePath(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
    }

    // Edits of the form "path=contents".
    void apply(const QStringList &edits)
    {
        for (const QString &edit : edits) {
            const int eq = edit.indexOf(QLatin1Char('='));
            set(edit.left(eq), edit.mid(eq + 1).toUtf8());
        }
    }

    // Where the phone's devices sit below the root.
    static inline const QString battery = QStringLiteral("class/power_supply/battery/");
    static inline const QString light = QStringLiteral("bus/iio/devices/iio:device0/");
    static inline const QString accel = QStringLiteral("bus/iio/devices/iio:device1/");
    static inline const QString magn = QStringLiteral("bus/iio/devices/iio:device2/");
    static inline const QString panel = QStringLiteral("class/backlight/panel/");
    static inline const QString zone = QStringLiteral("class/thermal/thermal_zone0/");

    static QStringList phone()
    {
        return {
            battery + "type=Battery",
            battery + "status=Discharging",
            battery + "capacity=76",
            battery + "capacity_level=Normal",
            battery + "health=Good",
            battery + "voltage_now=3912000",
            battery + "current_now=-254000",
            battery + "current_avg=-231000",
            battery + "charge_now=1003000",
            battery + "charge_full=1320000",
            battery + "charge_counter=1003000",
            battery + "time_to_empty_now=14217",
            "class/power_supply/usb/type=USB",
            "class/power_supply/usb/online=0",
            // 150 counts of 2 lux; nothing near the proximity sensor.
            light + "name=ltr559",
            light + "in_illuminance_raw=150",
            light + "in_illuminance_scale=2",
            light + "in_illuminance_offset=0",
            light + "in_proximity_raw=0",
            // 1 mg a count; lying face up, so gravity points into the screen.
            accel + "name=accel",
            accel + "in_accel_x_raw=0",
            accel + "in_accel_y_raw=0",
            accel + "in_accel_z_raw=-1000",
            accel + "in_accel_scale=0.00980665",
            // 100 nT a count; the top edge points to magnetic north, the
            // field dips into the ground, and the sensor's x offset is -10 counts.
            magn + "name=magn",
            magn + "in_magn_x_raw=-10",
            magn + "in_magn_y_raw=200",
            magn + "in_magn_z_raw=-400",
            magn + "in_magn_scale=0.001",
            magn + "in_magn_x_offset=10",
            magn + "in_magn_y_offset=0",
            magn + "in_magn_z_offset=0",
            panel + "brightness=200",
            panel + "max_brightness=255",
            panel + "bl_power=0",
            zone + "type=battery",
            zone + "temp=38000",
            zone + "trip_point_0_type=passive",
            zone + "trip_point_0_temp=60000",
            zone + "trip_point_1_type=critical",
            zone + "trip_point_1_temp=90000",
            "class/rfkill/rfkill0/soft=0",
            "class/rfkill/rfkill0/hard=0",
        };
    }

    static QStringList desktop()
    {
        return { "class/power_supply/AC/type=Mains", "class/power_supply/AC/online=1",
            "class/thermal/thermal_zone0/type=x86_pkg_temp",
            "class/thermal/thermal_zone0/temp=45000" };
    }

private:
    QTemporaryDir dir;
};

#endif
