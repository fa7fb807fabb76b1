// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_DIFFERENTIAL_IIOMACHINES_H
#define TESTS_DIFFERENTIAL_IIOMACHINES_H

// Random but plausible IIO machines, one per seed and the same for a seed on
// every run: an accelerometer (counts of several resolutions, the scale per
// axis, shared, the device's bare one or behind a scale of 0, an offset,
// mount matrices from udev or the driver's three files with invalid ones
// before and valid ones after the one that counts, its location), a light
// sensor (processed or raw, indexed or not, scale and offset) and a
// proximity sensor (with and without a near level, scaled, on the light's
// device, or a Chromebook's SAR channel). Some sensors also have a buffer,
// as HID sensor hubs give them: an accelerometer whose records hold its
// axes as s32, s16 in 32, shifted (le:s12/16>>4) or big-endian samples,
// with a gyro's channels before them in each record; a light sensor with
// only in_intensity_both; light chips carry calibscale, calibbias and
// *_available files. The node /dev/iio:deviceN is a file of records, as a
// umockdev testbed keeps it. udev's properties are what iio-sensor-proxy's
// own rules file gives such a tree.
//
// Each machine carries the departures its tree may show (the documented
// ways the library reads a tree otherwise than iio-sensor-proxy 3.0), so
// that the differential test can tell an explained disagreement from one
// that is not.

#include "devicetable.h"

#include <QMap>
#include <QStringList>

#include <cmath>
#include <random>

namespace IioMachines {

// The documented departures, each with the answer it may change.
enum class Field { Accelerometer, Orientation, Light, LightLevel, Proximity };
struct Departure
{
    const char *name;
    Field field;
};
inline const Departure accelOffset { "the accelerometer's offset", Field::Orientation };
// The daemon reads counts as m/s² then, and its integer maths overflow.
inline const Departure axisScale { "a scale per axis only", Field::Orientation };
inline const Departure baseOnly { "a base accelerometer alone", Field::Accelerometer };
inline const Departure unparsable { "a value that is no number", Field::Accelerometer };
inline const Departure processedScaled { "a processed light value and a scale", Field::LightLevel };
inline const Departure lightOffset { "the light's offset", Field::LightLevel };
inline const Departure indexedRawLight { "indexed raw light only", Field::Light };
inline const Departure noNearLevel { "proximity without a near level", Field::Proximity };
// Not ours: iio-sensor-proxy cannot open a buffer's node on a testbed of
// plain files (umockdev's preload wants an ioctl socket for it), so the
// daemon is given the tree without buffers, and a light that only a
// buffer gives is checked against the device's own values instead.
inline const Departure bufferOnly { "a light that only a buffer gives (not on a testbed)",
    Field::Light };

struct Machine
{
    quint32 seed;
    QVector<DeviceTable::SysDevice> devices;
    QVector<const Departure *> departures;
    int nearLevel = 0; // PROXIMITY_NEAR_LEVEL, 0 where none
    // Device nodes (iio:deviceN) and the records they hold.
    QMap<QString, QByteArray> nodes;
    // A light sensor read through its buffer only: its level in lux from
    // the device's own values (record times scale), -1 where none.
    double bufferedLux = -1;

    // The tree as the daemon gets it: without buffers, triggers and nodes,
    // so that it polls the files the device also has.
    QVector<DeviceTable::SysDevice> withoutBuffers() const
    {
        QVector<DeviceTable::SysDevice> out;
        for (DeviceTable::SysDevice d : devices) {
            if (d.name.startsWith("trigger"))
                continue;
            QStringList attributes;
            for (const QString &a : d.attributes)
                if (!a.startsWith("scan_elements/") && !a.startsWith("buffer/")
                    && !a.startsWith("trigger/"))
                    attributes << a;
            QStringList properties;
            for (QString p : d.properties) {
                if (p.startsWith("DEVNAME=") || p.startsWith("MAJOR=") || p.startsWith("MINOR="))
                    continue;
                if (p.startsWith("IIO_SENSOR_PROXY_TYPE=")) {
                    QStringList types = p.section('=', 1).split(' ');
                    types.removeAll("iio-buffer-accel");
                    types.removeAll("iio-buffer-als");
                    if (types.isEmpty())
                        continue;
                    p = "IIO_SENSOR_PROXY_TYPE=" + types.join(' ');
                }
                properties << p;
            }
            d.attributes = attributes;
            d.properties = properties;
            out << d;
        }
        return out;
    }
};

// One scan element of a buffer, and where it sits in a record.
struct Scan
{
    QString name;
    QString type; // le:s12/16>>4
    qint64 value;
};

// The scan elements as sysfs files and one record of them, laid out as
// the kernel does: by index, each at the next offset aligned to its own
// storage size.
inline QStringList scanFiles(const QVector<Scan> &scans)
{
    QStringList files { "buffer/enable=0", "buffer/length=0", "trigger/current_trigger=" };
    for (int i = 0; i < scans.size(); ++i)
        files << QStringLiteral("scan_elements/%1_en=0").arg(scans[i].name)
              << QStringLiteral("scan_elements/%1_index=%2").arg(scans[i].name).arg(i)
              << QStringLiteral("scan_elements/%1_type=%2").arg(scans[i].name, scans[i].type);
    return files;
}

inline QByteArray record(const QVector<Scan> &scans)
{
    QByteArray r;
    for (const Scan &sc : scans) {
        const bool big = sc.type.startsWith("be");
        const int storage = sc.type.section('/', 1, 1).section('>', 0, 0).toInt() / 8;
        const int shift = sc.type.section(">>", 1, 1).toInt();
        while (r.size() % storage)
            r.append('\0');
        const quint64 v = quint64(sc.value) << shift;
        for (int i = 0; i < storage; ++i)
            r.append(char((v >> (8 * (big ? storage - 1 - i : i))) & 0xff));
    }
    return r;
}

// Degrees of the edge angles iio-sensor-proxy takes (orientation_calc()):
// the left/right edge, then the top/bottom edge.
inline std::pair<double, double> edgeAngles(double x, double y, double z)
{
    const double toDegrees = 180 / M_PI;
    return { std::atan2(x, std::hypot(y, z)) * toDegrees,
        std::atan2(y, std::hypot(x, z)) * toDegrees };
}

class Generator
{
public:
    explicit Generator(quint32 seed)
        : random(seed)
    {
        m.seed = seed;
    }

    Machine make()
    {
        QVector<int> indices { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 };
        std::shuffle(indices.begin(), indices.end(), random);
        if (chance(0.9))
            accelerometer(indices[0]);
        DeviceTable::SysDevice light;
        if (chance(0.7))
            light = lightSensor(indices[1]);
        if (chance(0.6))
            proximity(light.name.isEmpty() || chance(0.6) ? indices[2] : -1, light);
        if (!light.name.isEmpty())
            m.devices << light;
        for (DeviceTable::SysDevice &d : m.devices)
            d.properties = udevRules(d.attributes) + d.properties;
        m.devices << triggers;
        return m;
    }

private:
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; }
    double uniform(double a, double b)
    {
        return std::uniform_real_distribution<double>(a, b)(random);
    }
    template <typename T> const T &pick(const QVector<T> &v)
    {
        return v[std::uniform_int_distribution<int>(0, v.size() - 1)(random)];
    }
    static QString number(double v) { return QString::number(v, 'g', 10); }

    // What 80-iio-sensor-proxy.rules gives the device.
    static QStringList udevRules(const QStringList &attributes)
    {
        const auto has = [&](const char *file) {
            for (const QString &a : attributes)
                if (a.startsWith(QLatin1String(file) + '='))
                    return true;
            return false;
        };
        QStringList types;
        if (has("in_accel_x_raw") && has("in_accel_y_raw") && has("in_accel_z_raw"))
            types << "iio-poll-accel";
        if (has("in_illuminance_input") || has("in_illuminance0_input")
            || has("in_illuminance_raw"))
            types << "iio-poll-als";
        if (has("in_proximity_raw"))
            types << "iio-poll-proximity";
        if (has("scan_elements/in_accel_x_en") && has("scan_elements/in_accel_y_en")
            && has("scan_elements/in_accel_z_en"))
            types << "iio-buffer-accel";
        if (has("scan_elements/in_intensity_both_en"))
            types << "iio-buffer-als";
        return types.isEmpty() ? QStringList()
                               : QStringList { "IIO_SENSOR_PROXY_TYPE=" + types.join(' ') };
    }

    void accelerometer(int index)
    {
        // Gravity in the device's axes, in g, clear of the 35 degree edges
        // (where the daemon's integer maths and ours may round apart).
        double g[3];
        for (;;) {
            const double z = uniform(-1, 1), phi = uniform(0, 2 * M_PI);
            const double r = std::sqrt(1 - z * z), size = uniform(0.9, 1.1);
            g[0] = size * r * std::cos(phi);
            g[1] = size * r * std::sin(phi);
            g[2] = size * z;
            const auto [side, end] = edgeAngles(g[0], g[1], g[2]);
            if (std::abs(std::abs(side) - 35) > 2 && std::abs(std::abs(end) - 35) > 2)
                break;
        }
        // A signed permutation turns the sensor's axes into the device's:
        // device = M × sensor, so sensor = Mᵀ × device.
        int perm[3] = { 0, 1, 2 };
        int sign[3] = { 1, 1, 1 };
        const bool mounted = chance(0.6);
        if (mounted) {
            std::shuffle(perm, perm + 3, random);
            for (int &s : sign)
                s = chance(0.5) ? -1 : 1;
        }
        double sensor[3] = { 0, 0, 0 };
        for (int row = 0; row < 3; ++row)
            sensor[perm[row]] += sign[row] * g[row];
        QStringList rows;
        for (int row = 0; row < 3; ++row) {
            QStringList cells { "0", "0", "0" };
            cells[perm[row]] = QString::number(sign[row]);
            rows << cells.join(chance(0.8) ? ", " : ",");
        }
        const QString matrix = rows.join(chance(0.8) ? "; " : ";");

        QStringList attributes { "name=accel" };
        QStringList properties;
        const double scale = pick(QVector<double> { 0.038307, 0.009576806, 0.0023942, 0.000598 });
        const int offset = chance(0.1) ? int(uniform(-0.04, 0.04) * 9.80665 / scale) : 0;
        if (offset) {
            attributes << "in_accel_offset=" + QString::number(offset);
            m.departures << &accelOffset;
        }
        const char axes[] = { 'x', 'y', 'z' };
        const int firstRaw = attributes.size();
        for (int i = 0; i < 3; ++i)
            attributes << QStringLiteral("in_accel_%1_raw=%2")
                              .arg(QLatin1Char(axes[i]))
                              .arg(std::lround(sensor[i] * 9.80665 / scale) - offset);
        if (chance(0.03)) {
            QString &axis = attributes[firstRaw + int(uniform(0, 3))];
            axis = axis.left(axis.indexOf('=')) + "=n/a";
            m.departures << &unparsable;
        }
        switch (int(uniform(0, 4))) {
        case 0:
            attributes << "in_accel_scale=" + number(scale);
            break;
        case 1:
            for (char a : axes)
                attributes << QStringLiteral("in_accel_%1_scale=%2")
                                  .arg(QLatin1Char(a))
                                  .arg(number(scale));
            m.departures << &axisScale;
            break;
        case 2:
            attributes << "scale=" + number(scale);
            break;
        default:
            attributes << "in_accel_scale=0"
                       << "scale=" + number(scale);
            break;
        }

        // The matrix sits at one source of the daemon's order; invalid ones
        // before it are passed over, valid ones after it never read.
        const QStringList sources { "ACCEL_MOUNT_MATRIX", "mount_matrix", "in_accel_mount_matrix",
            "in_mount_matrix" };
        const int at = mounted || chance(0.3) ? int(uniform(0, 4)) : 4;
        const auto put = [&](int source, const QString &text) {
            (source == 0 ? properties : attributes) << sources[source] + '=' + text;
        };
        for (int s = 0; s < at && s < 4; ++s)
            if (chance(0.3))
                put(s,
                    pick(
                        QVector<QString> { "1, 0, 0; 0, 0, 0; 0, 0, 1", "0, 0, 0; 0, 0, 0; 0, 0, 0",
                            "1, 0, 0; 0, 1, 0", "one, 0, 0; 0, 1, 0; 0, 0, 1" }));
        if (at < 4)
            put(at, !mounted && chance(0.3) ? QString() : matrix);
        for (int s = at + 1; s < 4; ++s)
            if (chance(0.3))
                put(s, "-1, 0, 0; 0, -1, 0; 0, 0, 1");

        switch (int(uniform(0, 10))) {
        case 0:
            properties << "ACCEL_LOCATION=display";
            break;
        case 1:
            attributes << "location=" + pick(QVector<QString> { "display", "lid" });
            break;
        case 2:
            attributes << "label=accel-display";
            break;
        case 3:
            if (chance(0.5)) {
                properties << "ACCEL_LOCATION=base";
                m.departures << &baseOnly;
            }
            break;
        default:
            break;
        }
        // A HID hub's buffer of the same counts: the daemon polls the
        // files, ours reads the record, so each format is checked against
        // the device's own values.
        if (chance(0.3) && !m.departures.contains(&unparsable)) {
            QVector<Scan> scans;
            if (chance(0.4)) // a gyro's channels first in each record
                for (char a : axes)
                    scans << Scan { QStringLiteral("in_anglvel_%1").arg(QLatin1Char(a)),
                        "le:s16/16>>0", qint64(uniform(-2000, 2000)) };
            qint64 largest = 0;
            for (int i = 0; i < 3; ++i)
                largest = std::max<qint64>(
                    largest, std::abs(attributes[firstRaw + i].section('=', 1).toLongLong()));
            QVector<QString> formats { "le:s32/32>>0", "le:s16/32>>0", "be:s16/16>>0" };
            if (largest < 2048)
                formats << "le:s12/16>>4";
            const QString format = largest < 32768 ? pick(formats) : QStringLiteral("le:s32/32>>0");
            for (int i = 0; i < 3; ++i)
                scans << Scan { QStringLiteral("in_accel_%1").arg(QLatin1Char(axes[i])), format,
                    attributes[firstRaw + i].section('=', 1).toLongLong() };
            scans << Scan { "in_timestamp", "le:s64/64>>0", 1000000 };
            attributes << scanFiles(scans);
            attributes[0] = "name=accel_3d";
            buffered(index, "accel_3d", record(scans), properties);
        }
        m.devices << DeviceTable::iio(index, attributes, properties);
    }

    // The device's trigger <name>-dev<N> and its node, a file of records.
    void buffered(
        int index, const QString &name, const QByteArray &records, QStringList &properties)
    {
        const QString node = QStringLiteral("iio:device%1").arg(index);
        m.nodes.insert(node, records + records);
        properties << "DEVNAME=" + node << "MAJOR=241" << QStringLiteral("MINOR=%1").arg(index);
        triggers << DeviceTable::SysDevice { "iio",
            QStringLiteral("trigger%1").arg(triggers.size()),
            { QStringLiteral("name=%1-dev%2").arg(name).arg(index) }, {} };
    }

    // A HID hub's light sensor with in_intensity_both only, through its buffer.
    DeviceTable::SysDevice hubLight(int index, double lux)
    {
        const double scale = pick(QVector<double> { 0.01, 0.1, 1 });
        const Scan intensity { "in_intensity_both", "le:s32/32>>0", std::lround(lux / scale) };
        QStringList attributes { "name=als",
            (chance(0.5) ? "in_intensity_scale=" : "in_intensity_both_scale=") + number(scale),
            "in_intensity_sampling_frequency=0" };
        attributes << scanFiles({ intensity, { "in_timestamp", "le:s64/64>>0", 1000000 } });
        QStringList properties;
        buffered(index, "als", record({ intensity, { "in_timestamp", "le:s64/64>>0", 1000000 } }),
            properties);
        m.bufferedLux = intensity.value * scale;
        m.departures << &bufferOnly;
        return DeviceTable::iio(index, attributes, properties);
    }

    DeviceTable::SysDevice lightSensor(int index)
    {
        const double lux = std::exp(uniform(std::log(0.5), std::log(20000)));
        if (chance(0.15))
            return hubLight(index, lux);
        QStringList attributes { "name=als" };
        // A light chip's tuning and choices, which neither reader takes.
        if (chance(0.2))
            attributes << "in_illuminance_calibscale=1"
                       << "in_illuminance_calibbias=0"
                       << "in_illuminance_scale_available=0.1 1 10"
                       << "in_illuminance_integration_time_available=0.025 0.05 0.1"
                       << "sampling_frequency_available=1 2 5 10";
        switch (int(uniform(0, 4))) {
        case 0:
        case 1: { // processed
            const QString channel = chance(0.7) ? "in_illuminance" : "in_illuminance0";
            attributes << channel + "_input=" + QString::number(lux, 'f', 2);
            if (chance(0.2)) {
                attributes << "in_illuminance_scale="
                        + number(pick(QVector<double> { 0.1, 2, 10 }));
                m.departures << &processedScaled;
            }
            break;
        }
        default: { // raw counts
            const bool indexed = chance(0.3);
            const QString channel = indexed ? "in_illuminance0" : "in_illuminance";
            const double scale = pick(QVector<double> { 0.01, 0.1, 0.5, 1, 2, 10 });
            const int offset = chance(0.1) ? int(uniform(1, 20)) : 0;
            attributes << channel
                    + QStringLiteral("_raw=%1").arg(std::lround(lux / scale) - offset);
            if (scale != 1 || chance(0.5))
                attributes << channel + "_scale=" + number(scale);
            if (offset) {
                attributes << channel + "_offset=" + QString::number(offset);
                m.departures << &lightOffset;
            }
            if (indexed)
                m.departures << &indexedRawLight;
            break;
        }
        }
        return DeviceTable::iio(index, attributes, {});
    }

    // On a device of its own, or as a second channel of the light's.
    void proximity(int index, DeviceTable::SysDevice &light)
    {
        QStringList attributes;
        if (chance(0.15)) {
            attributes << "in_proximity0_raw=" + QString::number(int(uniform(0, 4000)));
        } else {
            const int level = chance(0.85) ? int(uniform(50, 2000)) : 0;
            const int counts = chance(0.5) ? int(uniform(0, 0.85 * (level ? level : 500)))
                                           : int(uniform(1.15, 4) * (level ? level : 500));
            attributes << "in_proximity_raw=" + QString::number(counts);
            if (chance(0.3))
                attributes << "in_proximity_scale=" + number(uniform(0.1, 4));
            if (level) {
                m.nearLevel = level;
                (index < 0 ? light.properties : extra)
                    << "PROXIMITY_NEAR_LEVEL=" + QString::number(level);
            } else {
                m.departures << &noNearLevel;
            }
        }
        if (index < 0)
            light.attributes << attributes;
        else
            m.devices << DeviceTable::iio(index, QStringList { "name=prox" } + attributes, extra);
    }

    std::mt19937 random;
    Machine m;
    QStringList extra;
    QVector<DeviceTable::SysDevice> triggers;
};

inline Machine machine(quint32 seed)
{
    return Generator(seed).make();
}

// The machine as a row of DeviceTable::sensorMachines().
inline QString tableRow(const Machine &m, const QString &name, const QString &answers)
{
    const auto list = [](const QStringList &l) {
        QStringList quoted;
        for (const QString &s : l)
            quoted << '"' + QString(s).replace('\\', "\\\\").replace('"', "\\\"") + '"';
        return "{ " + quoted.join(", ") + " }";
    };
    QStringList devices;
    for (const DeviceTable::SysDevice &d : m.devices)
        if (d.name.startsWith("trigger"))
            devices
                << QStringLiteral("{ \"iio\", \"%1\", %2, {} }").arg(d.name, list(d.attributes));
        else
            devices << QStringLiteral("iio(%1, %2, %3)")
                           .arg(d.name.mid(QStringLiteral("iio:device").size()), list(d.attributes),
                               list(d.properties));
    return QStringLiteral("{ \"%1\",\n    { %2 },\n    %3 },")
        .arg(name, devices.join(",\n        "), answers);
}

} // namespace IioMachines

#endif
