// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "iio.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>

namespace Vorna::Backend::Iio {

namespace {

const QString devicesDir = QStringLiteral("bus/iio/devices");

QString attribute(const QString &dir, const QString &name)
{
    return dir + QLatin1Char('/') + name;
}

// An optional attribute: the fallback when the driver has none, no value
// when it has one that cannot be read.
std::optional<double> optionalReal(const QString &file, double fallback, QString *failed)
{
    if (!Sysfs::exists(file))
        return fallback;
    const std::optional<double> v = Sysfs::readReal(file);
    if (!v && failed)
        *failed = file;
    return v;
}

void readProperties(
    const QString &file, const QByteArray &prefix, QHash<QByteArray, QByteArray> &out)
{
    if (const std::optional<QByteArray> text = Sysfs::read(file))
        parseProperties(*text, prefix, out);
}

} // namespace

void parseProperties(
    const QByteArray &text, const QByteArray &prefix, QHash<QByteArray, QByteArray> &out)
{
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith(prefix))
            continue;
        const int eq = line.indexOf('=');
        if (eq > prefix.size())
            out.insert(line.mid(prefix.size(), eq - prefix.size()), line.mid(eq + 1));
    }
}

QString findDevice(const Sysfs &sysfs, const QStringList &files)
{
    for (const QString &dir : devices(sysfs)) {
        bool all = true;
        for (const QString &file : files)
            all = all && Sysfs::exists(attribute(dir, file));
        if (all)
            return dir;
    }
    return QString();
}

QStringList devices(const Sysfs &sysfs)
{
    return Sysfs::entries(sysfs.path(devicesDir), QStringLiteral("iio:device"));
}

QStringList axisFiles(const QString &channel)
{
    return { QStringLiteral("in_%1_x_raw").arg(channel), QStringLiteral("in_%1_y_raw").arg(channel),
        QStringLiteral("in_%1_z_raw").arg(channel) };
}

QString missingText(const char *what, const Sysfs &sysfs, const QString &files)
{
    return QStringLiteral("no %1: no %2/iio:device* has %3")
        .arg(QLatin1String(what), sysfs.path(devicesDir), files);
}

qint32 whole(double v)
{
    // Finite attributes can still convert to no number: (raw + offset)
    // beyond a double times a scale of 0, or a mount matrix's inf - inf.
    // Converting it to an integer would be undefined.
    if (std::isnan(v))
        return 0;
    return qint32(std::clamp<double>(std::round(v), -2147483648.0, 2147483647.0));
}

QHash<QByteArray, QByteArray> udevProperties(const QString &dir)
{
    QHash<QByteArray, QByteArray> props;
    readProperties(attribute(dir, QStringLiteral("uevent")), QByteArray(), props);
    // udev's database knows the device by its node's numbers, else by name.
    if (dir.startsWith(QLatin1String("/sys/"))) {
        const std::optional<QByteArray> dev = Sysfs::read(attribute(dir, QStringLiteral("dev")));
        const QString name = QFileInfo(dir).fileName();
        const QString db = dev ? QStringLiteral("/run/udev/data/c") + QString::fromLatin1(*dev)
                               : QStringLiteral("/run/udev/data/+iio:") + name;
        readProperties(db, "E:", props);
    }
    return props;
}

std::optional<Matrix> parseMatrix(const QByteArray &text)
{
    // iio-sensor-proxy 3.0, accel-mount-matrix.c, parse_mount_matrix():
    // empty text is the identity; a row of zeros would make an axis of
    // the device read nothing whatever the pose, so it is no matrix.
    if (text.trimmed().isEmpty())
        return identity;
    const QList<QByteArray> rows = text.trimmed().split(';');
    if (rows.size() != 3)
        return std::nullopt;
    Matrix m {};
    for (int r = 0; r < 3; ++r) {
        const QList<QByteArray> cells = rows[r].split(',');
        if (cells.size() != 3)
            return std::nullopt;
        for (int c = 0; c < 3; ++c) {
            bool ok = false;
            m[r][c] = cells[c].trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(m[r][c]))
                return std::nullopt;
        }
        if (m[r][0] == 0 && m[r][1] == 0 && m[r][2] == 0)
            return std::nullopt;
    }
    return m;
}

Motion::Vector apply(const Matrix &m, const Motion::Vector &v)
{
    return { m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
        m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
        m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z };
}

Matrix accelMountMatrix(const QString &dir)
{
    // iio-sensor-proxy 3.0, accel-mount-matrix.c, setup_mount_matrix():
    // udev's property, then the driver's files in this order; a source
    // that does not hold a valid matrix passes to the next.
    const QHash<QByteArray, QByteArray> props = udevProperties(dir);
    if (props.contains("ACCEL_MOUNT_MATRIX"))
        if (const auto m = parseMatrix(props.value("ACCEL_MOUNT_MATRIX")))
            return *m;
    for (const char *name : { "mount_matrix", "in_accel_mount_matrix", "in_mount_matrix" })
        if (const std::optional<QByteArray> text = Sysfs::read(attribute(dir, QLatin1String(name))))
            if (const auto m = parseMatrix(*text))
                return *m;
    return identity;
}

QByteArray accelLocation(const QString &dir)
{
    for (const char *name : { "label", "location" }) {
        QByteArray text = Sysfs::read(attribute(dir, QLatin1String(name))).value_or(QByteArray());
        if (text.startsWith("accel-"))
            text = text.mid(6);
        if (text == "display" || text == "base" || text == "lid")
            return text == "lid" ? QByteArray("display") : text;
    }
    return udevProperties(dir).value("ACCEL_LOCATION");
}

QString Scalar::find(const QString &dir, const Channel &channel)
{
    // in_<c>_input, in_<c>0_input, ... before the raw forms: the driver's
    // own conversion wins.
    const QRegularExpression pattern(
        QStringLiteral("^in_%1(%2)_(%3)$")
            .arg(channel.name, channel.indexed ? QStringLiteral("\\d*") : QString(),
                channel.reading == Channel::RawCounts ? QStringLiteral("raw")
                                                      : QStringLiteral("input|raw")));
    QString best;
    std::pair<int, int> bestKey { 2, 0 };
    for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::System)) {
        const QRegularExpressionMatch m = pattern.match(name);
        if (!m.hasMatch())
            continue;
        const std::pair<int, int> key { m.captured(2) == QLatin1String("input") ? 0 : 1,
            m.captured(1).isEmpty() ? -1 : m.captured(1).toInt() };
        if (best.isEmpty() || key < bestKey) {
            best = name;
            bestKey = key;
        }
    }
    return best;
}

bool Scalar::prepare(const QString &dir, const Channel &channel, QString *failed)
{
    const QString name = find(dir, channel);
    if (name.isEmpty()) {
        if (failed)
            *failed = attribute(dir, QStringLiteral("in_%1_raw").arg(channel.name));
        return false;
    }
    path = attribute(dir, name);
    scale = 1;
    offset = 0;
    if (name.endsWith(QLatin1String("_input")) || channel.reading == Channel::RawCounts)
        return true; // in the channel's unit already, or wanted as counts
    const QString stem = name.chopped(3); // in_<c>[Y]_
    const QString shared = QStringLiteral("in_%1_").arg(channel.name);
    const auto conversion = [&](const QString &what, double fallback) {
        const QString own = attribute(dir, stem + what);
        return optionalReal(
            Sysfs::exists(own) ? own : attribute(dir, shared + what), fallback, failed);
    };
    const std::optional<double> s = conversion(QStringLiteral("scale"), 1.0);
    const std::optional<double> o = conversion(QStringLiteral("offset"), 0.0);
    if (!s || !o)
        return false;
    scale = *s;
    offset = *o;
    return true;
}

std::optional<double> Scalar::read(QString *failed) const
{
    const std::optional<double> v = Sysfs::readReal(path);
    if (!v) {
        if (failed)
            *failed = path;
        return std::nullopt;
    }
    return (*v + offset) * scale;
}

bool Axes::prepare(const QString &dir, const QString &channel, QString *failed)
{
    const QString prefix = QStringLiteral("in_%1_").arg(channel);
    const char names[3] = { 'x', 'y', 'z' };
    for (int i = 0; i < 3; ++i) {
        const QString own = prefix + QLatin1Char(names[i]) + QLatin1Char('_');
        files[i] = attribute(dir, own + QStringLiteral("raw"));
        scale[i] = 1;
        offset[i] = 0;
        if (!Sysfs::exists(files[i])
            && Sysfs::exists(attribute(dir, own + QStringLiteral("input")))) {
            files[i] = attribute(dir, own + QStringLiteral("input"));
            continue; // processed: in the channel's unit already
        }
        // The axis's own scale, else the channel's, else (the accelerometer,
        // as iio-sensor-proxy 3.0 reads it in accel-attributes.c,
        // get_accel_scale()) the device's bare `scale` of older drivers. A
        // scale of 0 converts nothing and passes to the next, as there.
        QStringList scales { own + QStringLiteral("scale"), prefix + QStringLiteral("scale") };
        if (channel == QLatin1String("accel"))
            scales << QStringLiteral("scale");
        std::optional<double> s = 1.0;
        for (const QString &name : scales) {
            s = optionalReal(attribute(dir, name), 0.0, failed);
            if (!s || *s != 0)
                break;
        }
        if (s && *s == 0)
            s = 1.0;
        const QString axisOffset = attribute(dir, own + QStringLiteral("offset"));
        const std::optional<double> o = optionalReal(Sysfs::exists(axisOffset)
                ? axisOffset
                : attribute(dir, prefix + QStringLiteral("offset")),
            0.0, failed);
        if (!s || !o)
            return false;
        scale[i] = *s;
        offset[i] = *o;
    }
    return true;
}

std::optional<std::array<double, 3>> Axes::raw(QString *failed) const
{
    std::array<double, 3> r {};
    for (int i = 0; i < 3; ++i) {
        const std::optional<double> v = Sysfs::readReal(files[i]);
        if (!v) {
            if (failed)
                *failed = files[i];
            return std::nullopt;
        }
        r[i] = *v;
    }
    return r;
}

std::optional<Motion::Vector> Axes::read(QString *failed) const
{
    const std::optional<std::array<double, 3>> r = raw(failed);
    if (!r)
        return std::nullopt;
    return convert(*r);
}

Motion::Vector Axes::convert(const std::array<double, 3> &r) const
{
    const auto axis = [&](int i) { return (r[i] + offset[i]) * scale[i]; };
    return Motion::Vector { axis(0), axis(1), axis(2) };
}

} // namespace Vorna::Backend::Iio
