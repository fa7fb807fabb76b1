// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_SUPPORT_DEVICETABLE_H
#define TESTS_SUPPORT_DEVICETABLE_H

// Power supplies modelled on real laptops, phones and desktops, one row a
// machine, with what the Linux backend must read from them. The unit test
// of the battery checks our values row by row; the differential test puts
// the very same tree under the real upowerd and compares. A new device is
// one row here.
//
// The tree is written as umockdev lays out its testbeds, so one directory
// serves upowerd (through umockdev's preload) and KVSYSTEM_SYSFS_ROOT:
// <root>/sys/devices/<name>/<attributes>, a uevent file with the udev
// properties, a subsystem link, and <root>/sys/class/<subsystem>/<name>
// (or <root>/sys/bus/<subsystem>/devices/<name>) pointing at it.

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QVector>

namespace DeviceTable {

struct SysDevice
{
    QString subsystem; // power_supply, iio
    QString name;
    QStringList attributes; // "file=contents"
    QStringList properties = {}; // udev properties, "KEY=value"
};

// What our battery getters return on the tree (-1 and -60 are "no value").
struct Battery
{
    int percent;
    int chargingState; // 0 STOPPED, 1 STARTED, 2 ERROR
    int batteryState; // 0 EMPTY .. 3 FULL, 4 ERROR
    int charger; // -1 UNKNOWN, 0 NONE, 1 WALL, 2 USB500MA
    int mah;
    int currentMa;
    int activeTime; // s
    int chargingTime; // s
};

struct Machine
{
    const char *name; // a sentence: the test row's name
    QVector<SysDevice> devices;
    Battery battery;
};

inline SysDevice supply(const QString &name, const QStringList &attributes)
{
    return { QStringLiteral("power_supply"), name, attributes };
}
inline SysDevice mains(bool online)
{
    return supply("AC", { "type=Mains", online ? "online=1" : "online=0" });
}

// An ACPI laptop battery: counts energy (µWh, µW).
inline QStringList acpiEnergy(const QString &status, int energyNow, int energyFull, int powerNow,
    const QStringList &more = {})
{
    return QStringList { "type=Battery", "present=1", "scope=System", "status=" + status,
        "energy_now=" + QString::number(energyNow), "energy_full=" + QString::number(energyFull),
        "energy_full_design=80000000", "power_now=" + QString::number(powerNow),
        "voltage_min_design=11100000", "voltage_now=12300000" }
    + more;
}

// A phone's or an ACPI charge battery: counts charge (µAh, µA).
inline QStringList chargeBattery(const QString &status, int chargeNow, int chargeFull,
    int currentNow, const QStringList &more = {})
{
    return QStringList { "type=Battery", "present=1", "status=" + status,
        "charge_now=" + QString::number(chargeNow), "charge_full=" + QString::number(chargeFull),
        "charge_full_design=3000000", "current_now=" + QString::number(currentNow),
        "voltage_max_design=4400000", "voltage_now=3912000" }
    + more;
}

inline QStringList mouse()
{
    return { "type=Battery", "scope=Device", "present=1", "status=Discharging", "capacity=30",
        "model_name=Bluetooth Mouse" };
}

constexpr int noValue = -1;
constexpr int noTime = -60;

inline QVector<Machine> machines()
{
    const QStringList noCapacity;
    return {
        { "phone: charge gauge with capacity and an offline USB charger",
            { supply("battery",
                  chargeBattery("Discharging", 1003000, 1320000, -254000,
                      { "capacity=76", "capacity_level=Normal", "health=Good" })),
                supply("usb", { "type=USB", "online=0" }) },
            { 76, 0, 2, 0, 1003, -254, 14215, noTime } },
        { "laptop: energy battery without capacity reads 80 % from now and full",
            { mains(false),
                supply("BAT0", acpiEnergy("Discharging", 48000000, 60000000, 10000000)) },
            // 48 Wh at 11.1 V design is 4324 mAh; 10 W is 900 mA.
            { 80, 0, 2, 0, 4324, -900, 17280, noTime } },
        { "laptop: energy battery charging on mains, time to full from energy",
            { mains(true), supply("BAT0", acpiEnergy("Charging", 30000000, 60000000, 15000000)) },
            { 50, 1, 2, 1, 2702, 1351, noTime, 7200 } },
        { "laptop: a zero power draw is no current",
            { mains(true),
                supply("BAT0",
                    acpiEnergy("Discharging", 48000000, 60000000, 0, { "current_now=0" })) },
            { 80, 0, 2, 1, 4324, 0, noTime, noTime } },
        { "laptop: voltage below design does not change charge or current",
            { mains(false),
                supply("BAT0",
                    acpiEnergy(
                        "Discharging", 48000000, 60000000, 7850000, { "voltage_now=11050000" })) },
            { 80, 0, 2, 0, 4324, -707, 22012, noTime } },
        { "charge battery without capacity reads 75 % from now and full",
            { mains(false),
                supply("BAT0", chargeBattery("Discharging", 1500000, 2000000, 500000)) },
            { 75, 0, 2, 0, 1500, -500, 10800, noTime } },
        { "charge battery without capacity at 40 %",
            { supply("BAT0", chargeBattery("Discharging", 800000, 2000000, -400000)) },
            { 40, 0, 2, -1, 800, -400, 7200, noTime } },
        { "charge battery without capacity at 2.5 % is critical",
            { mains(false), supply("BAT0", chargeBattery("Discharging", 50000, 2000000, -300000)) },
            { 3, 0, 0, 0, 50, -300, 600, noTime } },
        { "two system batteries combined as the display device does",
            { mains(false), supply("BAT0", acpiEnergy("Discharging", 40000000, 50000000, 6000000)),
                supply("BAT1", acpiEnergy("Discharging", 10000000, 20000000, 4000000)) },
            // 50 of 70 Wh; 50 Wh at 10 W is 5 h.
            { 71, 0, 2, 0, 4504, -900, 18000, noTime } },
        { "one battery charging makes the combination charging",
            { mains(true), supply("BAT0", acpiEnergy("Charging", 20000000, 50000000, 10000000)),
                supply("BAT1", acpiEnergy("Full", 20000000, 20000000, 0)) },
            { 57, 1, 2, 1, 3603, 900, noTime, 10800 } },
        { "a Bluetooth mouse beside the phone's battery is not the battery",
            { supply("hid-mouse-battery", mouse()),
                supply("battery",
                    chargeBattery("Discharging", 1003000, 1320000, -254000, { "capacity=76" })) },
            { 76, 0, 2, -1, 1003, -254, 14215, noTime } },
        { "a desktop whose only battery is a mouse has no battery",
            { mains(true), supply("hid-mouse-battery", mouse()) },
            { noValue, noValue, noValue, 1, noValue, noValue, noTime, noTime } },
        { "an absent BAT0 beside a healthy BAT1",
            { mains(false), supply("BAT0", { "type=Battery", "present=0", "status=Unknown" }),
                supply("BAT1", acpiEnergy("Discharging", 48000000, 60000000, 10000000)) },
            { 80, 0, 2, 0, 4324, -900, 17280, noTime } },
        { "Full with capacity 110 is 100 % and full",
            { mains(true),
                supply("BAT0",
                    chargeBattery("Full", 2000000, 2000000, 0,
                        { "capacity=110", "capacity_level=Normal" })) },
            { 100, 0, 3, 1, 2000, 0, noTime, 0 } },
        { "status Unknown on mains above 90 % counts as full",
            { mains(true), supply("BAT0", chargeBattery("Unknown", 1900000, 2000000, 0)) },
            { 95, 0, 3, 1, 1900, 0, noTime, 0 } },
        { "status Unknown on mains below 90 % counts as charging",
            { mains(true), supply("BAT0", chargeBattery("Unknown", 1000000, 2000000, 500000)) },
            { 50, 1, 2, 1, 1000, 500, noTime, 7200 } },
        { "status Unknown with the adapter offline counts as discharging",
            { mains(false), supply("BAT0", chargeBattery("Unknown", 1000000, 2000000, 500000)) },
            { 50, 0, 2, 0, 1000, -500, 7200, noTime } },
        { "a negative current while Charging is charge going in",
            { mains(true), supply("BAT0", chargeBattery("Charging", 1000000, 2000000, -1000000)) },
            { 50, 1, 2, 1, 1000, 1000, noTime, 3600 } },
        { "Not charging on mains is neither charging nor discharging",
            { mains(true), supply("BAT0", chargeBattery("Not charging", 1600000, 2000000, 0)) },
            { 80, 0, 2, 1, 1600, 0, noTime, noTime } },
        { "a wireless charger online counts as a wall charger",
            { supply("wireless", { "type=Wireless", "online=1" }),
                supply("battery", chargeBattery("Charging", 1000000, 2000000, 1000000)) },
            { 50, 1, 2, 1, 1000, 1000, noTime, 3600 } },
        { "an energy battery with both design voltages converts with the maximum",
            { mains(false),
                supply("BAT0",
                    acpiEnergy("Discharging", 48000000, 60000000, 10000000,
                        { "voltage_max_design=12600000" })) },
            // 48 Wh at 12.6 V is 3809 mAh (3809.5); 10 W is 793 mA.
            { 80, 0, 2, 0, 3809, -793, 17280, noTime } },
        { "a mains-only desktop has no battery, not an empty one", { mains(true) },
            { noValue, noValue, noValue, 1, noValue, noValue, noTime, noTime } },
    };
}

// Sensors modelled on real phones, tablets and convertibles, with what
// iio-sensor-proxy and we read from them. The reading of iio-sensor-proxy
// differs from ours where the row says why: it reports no pose while the
// device lies flat, and version 3.0 departs from the kernel's ABI for light.
struct Sensors
{
    const char *name;
    QVector<SysDevice> devices;
    int orientation = -1; // ours, a KvOrientation code; -1 where there is no accelerometer
    QString peerOrientation = {}; // iio-sensor-proxy's word
    int lux = -1; // ours; -1 where there is no light sensor
    double peerLux = -1; // iio-sensor-proxy's where it departs from the ABI, else -1
    int proximity = -1; // ours, the raw value; -1 where there is no proximity sensor
    bool near = false; // iio-sensor-proxy's
    bool peerPoseDiffers = false; // the row's name says why
    QString peerLacks = {}; // "light" or "proximity" that iio-sensor-proxy refuses and we read
};

inline SysDevice iio(int index, const QStringList &attributes, const QStringList &properties)
{
    return { QStringLiteral("iio"), QStringLiteral("iio:device%1").arg(index), attributes,
        properties };
}

// An accelerometer as HID sensor hubs give it: counts of 0.038307 m/s²
// (256 counts are about 1 g).
inline SysDevice accel(int index, int x, int y, int z, const QStringList &more = {},
    const QStringList &properties = {})
{
    return iio(index,
        QStringList { "name=accel_3d", "in_accel_x_raw=" + QString::number(x),
            "in_accel_y_raw=" + QString::number(y), "in_accel_z_raw=" + QString::number(z),
            "in_accel_scale=0.038307" }
            + more,
        QStringList { "IIO_SENSOR_PROXY_TYPE=iio-poll-accel" } + properties);
}

inline SysDevice light(int index, const QStringList &attributes)
{
    return iio(
        index, QStringList { "name=als" } + attributes, { "IIO_SENSOR_PROXY_TYPE=iio-poll-als" });
}

inline SysDevice proximity(int index, const QStringList &attributes, const QStringList &properties)
{
    return iio(index, QStringList { "name=prox" } + attributes,
        QStringList { "IIO_SENSOR_PROXY_TYPE=iio-poll-proximity" } + properties);
}

inline QVector<Sensors> sensorMachines()
{
    enum { BottomUp = 1, BottomDown = 2, LeftUp = 3, RightUp = 4, FaceDown = 5, FaceUp = 6 };
    return {
        { "upright in its normal pose", { accel(0, 0, -256, 0) }, BottomDown, "normal" },
        { "upside down", { accel(0, 0, 256, 0) }, BottomUp, "bottom-up" },
        { "left edge up", { accel(0, 256, 0, 0) }, LeftUp, "left-up" },
        { "right edge up", { accel(0, -256, 0, 0) }, RightUp, "right-up" },
        { "tilted back 30 degrees from upright", { accel(0, 0, -222, -128) }, BottomDown,
            "normal" },
        { "tilted back 50 degrees from upright", { accel(0, 0, -165, -196) }, BottomDown,
            "normal" },
        { "left edge up, tilted back 50 degrees", { accel(0, 165, 0, -196) }, LeftUp, "left-up" },
        { "two edges raised at once names no pose at the start", { accel(0, 165, -196, 0) }, 0,
            "undefined" },
        { "lying face up: iio-sensor-proxy names no pose, we say face up", { accel(0, 0, 0, -256) },
            FaceUp, "undefined" },
        { "lying face down: iio-sensor-proxy names no pose, we say face down",
            { accel(0, 0, 0, 256) }, FaceDown, "undefined" },
        { "a sideways sensor set upright by udev's ACCEL_MOUNT_MATRIX",
            { accel(0, 256, 0, 0, {}, { "ACCEL_MOUNT_MATRIX=0, 1, 0; -1, 0, 0; 0, 0, 1" }) },
            BottomDown, "normal" },
        { "an upside-down sensor set upright by the driver's in_accel_mount_matrix",
            { accel(0, 0, 256, 0, { "in_accel_mount_matrix=-1, 0, 0; 0, -1, 0; 0, 0, 1" }) },
            BottomDown, "normal" },
        { "the driver's mount_matrix",
            { accel(0, 0, 256, 0, { "mount_matrix=1, 0, 0; 0, -1, 0; 0, 0, 1" }) }, BottomDown,
            "normal" },
        { "udev's mount matrix wins over the driver's",
            { accel(0, 256, 0, 0, { "in_accel_mount_matrix=1, 0, 0; 0, 1, 0; 0, 0, 1" },
                { "ACCEL_MOUNT_MATRIX=0, 1, 0; -1, 0, 0; 0, 0, 1" }) },
            BottomDown, "normal" },
        { "a convertible: the display's accelerometer by udev's ACCEL_LOCATION, not the base's",
            { accel(0, 256, 0, 0, {}, { "ACCEL_LOCATION=base" }),
                accel(1, 0, -256, 0, {}, { "ACCEL_LOCATION=display" }) },
            BottomDown, "normal" },
        { "a convertible: the display's accelerometer by its label file "
          "(iio-sensor-proxy 3.0 reads no label and takes the first, the base's)",
            { accel(0, 256, 0, 0, { "label=accel-base" }),
                accel(1, 0, 256, 0, { "label=accel-display" }) },
            BottomUp, "left-up", -1, -1, -1, false, true },
        { "light from raw counts and scale",
            { light(0, { "in_illuminance_raw=150", "in_illuminance_scale=2" }) }, -1, {}, 300 },
        { "light from the processed value, which is lux already "
          "(iio-sensor-proxy 3.0 multiplies it by the scale, against the ABI)",
            { light(0, { "in_illuminance_input=41.6", "in_illuminance_scale=10" }) }, -1, {}, 42,
            416 },
        { "light with an offset, part of the conversion "
          "(iio-sensor-proxy 3.0 leaves it out, against the ABI)",
            { light(0,
                { "in_illuminance_raw=150", "in_illuminance_offset=10",
                    "in_illuminance_scale=2" }) },
            -1, {}, 320, 300 },
        { "light from the processed value without a scale",
            { light(0, { "in_illuminance_input=523" }) }, -1, {}, 523 },
        { "something near the proximity sensor",
            { proximity(0, { "in_proximity_raw=200" }, { "PROXIMITY_NEAR_LEVEL=100" }) }, -1, {},
            -1, -1, 200, true },
        { "nothing near the proximity sensor",
            { proximity(0, { "in_proximity_raw=20" }, { "PROXIMITY_NEAR_LEVEL=100" }) }, -1, {}, -1,
            -1, 20, false },
        { "a phone with all three: light, proximity and accelerometer",
            { light(0, { "in_illuminance_raw=75", "in_illuminance_scale=4" }),
                proximity(1, { "in_proximity_raw=900" }, { "PROXIMITY_NEAR_LEVEL=500" }),
                accel(2, 0, -256, 0) },
            BottomDown, "normal", 300, -1, 900, true },
        { "a mount matrix that moves the sensor's z axis to the device's y axis",
            { accel(0, 0, 0, -256, { "mount_matrix=1, 0, 0; 0, 0, 1; 0, -1, 0" }) }, BottomDown,
            "normal" },
        { "an edge raised exactly 35 degrees is not yet raised", { accel(0, 147, -210, 0) },
            BottomDown, "normal" },
        { "a mount matrix with a row of zeros is no matrix",
            { accel(0, 0, -256, 0, { "mount_matrix=1, 0, 0; 0, 0, 0; 0, 0, 1" }) }, BottomDown,
            "normal" },
        { "an invalid udev matrix passes to the driver's",
            { accel(0, 0, 256, 0, { "in_accel_mount_matrix=-1, 0, 0; 0, -1, 0; 0, 0, 1" },
                { "ACCEL_MOUNT_MATRIX=1, 0, 0; 0, 0, 0; 0, 0, 1" }) },
            BottomDown, "normal" },
        { "the driver's mount_matrix before its in_accel_mount_matrix",
            { accel(0, 0, 256, 0,
                { "mount_matrix=1, 0, 0; 0, -1, 0; 0, 0, 1",
                    "in_accel_mount_matrix=1, 0, 0; 0, 1, 0; 0, 0, 1" }) },
            BottomDown, "normal" },
        { "an accelerometer with the device's bare scale only",
            { iio(0,
                { "name=accel", "in_accel_x_raw=0", "in_accel_y_raw=-2560", "in_accel_z_raw=0",
                    "scale=0.0038307" },
                { "IIO_SENSOR_PROXY_TYPE=iio-poll-accel" }) },
            BottomDown, "normal" },
        { "proximity in raw counts, as the near level counts, whatever the scale",
            { proximity(0, { "in_proximity_raw=80", "in_proximity_scale=2" },
                { "PROXIMITY_NEAR_LEVEL=100" }) },
            -1, {}, -1, -1, 80, false },
        { "a Chromebook's SAR sensor (in_proximity0_raw only) is no proximity sensor",
            { iio(0, { "name=sx9310", "in_proximity0_raw=900" }, {}) } },
        { "proximity without a near level (iio-sensor-proxy refuses it, we give the counts)",
            { proximity(0, { "in_proximity_raw=50" }, {}) }, -1, {}, -1, -1, 50, false, false,
            "proximity" },
        { "light from in_illuminance0_raw and its own scale "
          "(iio-sensor-proxy 3.0's udev rule does not take the indexed raw channel)",
            { iio(0, { "name=als", "in_illuminance0_raw=6990", "in_illuminance0_scale=0.5" }, {}) },
            -1, {}, 3495, -1, -1, false, false, "light" },
    };
}

// Writes the machine's devices below root in umockdev's layout; root/sys
// then stands for /sys.
inline bool writeTree(const QString &root, const QVector<SysDevice> &devices)
{
    static const QStringList busSubsystems { "iio" };
    QDir top(root);
    for (const SysDevice &d : devices) {
        const bool bus = busSubsystems.contains(d.subsystem);
        const QString dir = "sys/devices/" + d.name;
        const QString classDir
            = bus ? "sys/bus/" + d.subsystem + "/devices" : "sys/class/" + d.subsystem;
        if (!top.mkpath(dir) || !top.mkpath(classDir))
            return false;
        for (const QString &a : d.attributes) {
            const int eq = a.indexOf('=');
            if (a.left(eq).contains('/') && !top.mkpath(dir + '/' + a.left(a.lastIndexOf('/', eq))))
                return false; // scan_elements/, buffer/, trigger/
            QFile f(top.filePath(dir + '/' + a.left(eq)));
            if (!f.open(QIODevice::WriteOnly) || f.write(a.mid(eq + 1).toUtf8() + '\n') < 0)
                return false;
        }
        QFile uevent(top.filePath(dir + "/uevent"));
        if (!uevent.open(QIODevice::WriteOnly))
            return false;
        for (const QString &p : d.properties)
            uevent.write(p.toUtf8() + '\n');
        uevent.close();
        const QString up = bus ? "../../../devices/" : "../../devices/";
        QFile::link(up + d.name, top.filePath(classDir + '/' + d.name));
        QFile::link(bus ? "../../bus/" + d.subsystem : "../../class/" + d.subsystem,
            top.filePath(dir + "/subsystem"));
    }
    return true;
}

} // namespace DeviceTable

#endif
