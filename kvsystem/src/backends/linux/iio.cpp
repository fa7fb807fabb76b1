#include "iio.h"

#include <algorithm>
#include <cmath>

namespace Vorna::Backend::Iio {

namespace {

const QString devicesDir = QStringLiteral("bus/iio/devices");

} // namespace

QString findDevice(const Sysfs &sysfs, const QStringList &files)
{
    for (const QString &dir :
        Sysfs::entries(sysfs.path(devicesDir), QStringLiteral("iio:device"))) {
        bool all = true;
        for (const QString &file : files)
            all = all && Sysfs::exists(dir + QLatin1Char('/') + file);
        if (all)
            return dir;
    }
    return QString();
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
    return qint32(std::clamp<double>(std::round(v), -2147483648.0, 2147483647.0));
}

std::optional<double> Device::real(const QString &name) const
{
    const std::optional<double> v = Sysfs::readReal(dir + QLatin1Char('/') + name);
    if (!v && failed)
        *failed = dir + QLatin1Char('/') + name;
    return v;
}

std::optional<double> Device::realOr(const QString &name, double fallback) const
{
    return has(name) ? real(name) : fallback;
}

bool Device::has(const QString &name) const
{
    return Sysfs::exists(dir + QLatin1Char('/') + name);
}

std::optional<double> Device::axis(const QString &channel, char a, bool withOffset) const
{
    const QString prefix = QStringLiteral("in_%1_").arg(channel);
    const QString own = prefix + QLatin1Char(a) + QLatin1Char('_');
    const std::optional<double> raw = real(own + QStringLiteral("raw"));
    const std::optional<double> scale = has(own + QStringLiteral("scale"))
        ? real(own + QStringLiteral("scale"))
        : realOr(prefix + QStringLiteral("scale"), 1.0);
    std::optional<double> offset = 0.0;
    if (withOffset)
        offset = has(own + QStringLiteral("offset"))
            ? real(own + QStringLiteral("offset"))
            : realOr(prefix + QStringLiteral("offset"), 0.0);
    if (!raw || !scale || !offset)
        return std::nullopt;
    return (*raw + *offset) * *scale;
}

std::optional<Motion::Vector> Device::vector(const QString &channel, bool withOffset) const
{
    const std::optional<double> x = axis(channel, 'x', withOffset);
    const std::optional<double> y = x ? axis(channel, 'y', withOffset) : std::nullopt;
    const std::optional<double> z = y ? axis(channel, 'z', withOffset) : std::nullopt;
    if (!z)
        return std::nullopt;
    return Motion::Vector { *x, *y, *z };
}

} // namespace Vorna::Backend::Iio
