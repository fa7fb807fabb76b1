#include "linuxsensor.h"

#include "motion.h"

#include <cmath>

namespace Vorna::Backend {

namespace {

constexpr double standardGravity = 9.80665; // m/s² in 1 g
constexpr double nanoteslaPerGauss = 100000.0;

const QString devicesDir = QStringLiteral("bus/iio/devices");

// The first IIO device that has every one of the files.
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

class Reader
{
public:
    Reader(const QString &dir, QString *failed)
        : dir(dir)
        , failed(failed)
    { }

    std::optional<double> real(const QString &name) const
    {
        const std::optional<double> v = Sysfs::readReal(dir + QLatin1Char('/') + name);
        if (!v && failed)
            *failed = dir + QLatin1Char('/') + name;
        return v;
    }
    // An optional attribute: its default when the driver has none.
    std::optional<double> realOr(const QString &name, double fallback) const
    {
        return Sysfs::exists(dir + QLatin1Char('/') + name) ? real(name) : fallback;
    }
    bool has(const QString &name) const { return Sysfs::exists(dir + QLatin1Char('/') + name); }

    // One axis of a channel in the channel's unit: (raw + offset) × scale,
    // with the axis's own offset and scale or else the channel's.
    std::optional<double> axis(const QString &channel, char a, bool withOffset) const
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

    std::optional<Motion::Vector> vector(const QString &channel, bool withOffset) const
    {
        const std::optional<double> x = axis(channel, 'x', withOffset);
        const std::optional<double> y = x ? axis(channel, 'y', withOffset) : std::nullopt;
        const std::optional<double> z = y ? axis(channel, 'z', withOffset) : std::nullopt;
        if (!z)
            return std::nullopt;
        return Motion::Vector { *x, *y, *z };
    }

private:
    const QString &dir;
    QString *const failed;
};

qint32 whole(double v)
{
    return qint32(std::clamp<double>(std::round(v), -2147483648.0, 2147483647.0));
}

std::optional<int> lux(const QString &dir, QString *failed)
{
    const Reader r(dir, failed);
    if (r.has(QStringLiteral("in_illuminance_input"))) {
        const std::optional<double> v = r.real(QStringLiteral("in_illuminance_input"));
        return v ? std::optional<int>(whole(*v)) : std::nullopt;
    }
    const std::optional<double> raw = r.real(QStringLiteral("in_illuminance_raw"));
    const std::optional<double> scale
        = raw ? r.realOr(QStringLiteral("in_illuminance_scale"), 1.0) : std::nullopt;
    const std::optional<double> offset
        = scale ? r.realOr(QStringLiteral("in_illuminance_offset"), 0.0) : std::nullopt;
    if (!offset)
        return std::nullopt;
    return whole((*raw + *offset) * *scale);
}

// Acceleration in milli-g from m/s².
std::optional<Motion::Vector> milliG(const QString &dir, QString *failed)
{
    std::optional<Motion::Vector> v = Reader(dir, failed).vector(QStringLiteral("accel"), true);
    if (v)
        *v = { v->x / standardGravity * 1000, v->y / standardGravity * 1000,
            v->z / standardGravity * 1000 };
    return v;
}

struct Field
{
    Motion::Vector calibrated;
    Motion::Vector raw;
    int level = 0;
};

// The magnetic field in nT from Gauss: calibrated with the driver's
// offsets, and raw as the sensor measures it, the device's own magnetism included.
std::optional<Field> field(const QString &dir, QString *failed)
{
    const Reader r(dir, failed);
    const std::optional<Motion::Vector> calibrated = r.vector(QStringLiteral("magn"), true);
    const std::optional<Motion::Vector> raw
        = calibrated ? r.vector(QStringLiteral("magn"), false) : std::nullopt;
    if (!raw)
        return std::nullopt;
    const auto nt = [](const Motion::Vector &g) {
        return Motion::Vector { g.x * nanoteslaPerGauss, g.y * nanoteslaPerGauss,
            g.z * nanoteslaPerGauss };
    };
    // Offsets in the driver mean the sensor is calibrated; without them
    // nothing has calibrated it.
    const bool offsets
        = r.has(QStringLiteral("in_magn_x_offset")) || r.has(QStringLiteral("in_magn_offset"));
    return Field { nt(*calibrated), nt(*raw), offsets ? 3 : 0 };
}

} // namespace

LinuxSensor::LinuxSensor(Sensor kind, const Sysfs &sysfs, SampleSink sink)
    : kind(kind)
    , sink(std::move(sink))
    , poller(Delivery::WorkerThread,
          kind == Sensor::Als || kind == Sensor::Proximity || kind == Sensor::Orientation
              ? changePollMs
              : motionPollMs,
          [this] { poll(); })
{
    const QString accelNames = QStringLiteral("in_accel_x_raw, in_accel_y_raw and in_accel_z_raw");
    const QString magnNames = QStringLiteral("in_magn_x_raw, in_magn_y_raw and in_magn_z_raw");
    const bool needsAccel = kind == Sensor::Orientation || kind == Sensor::Rotation
        || kind == Sensor::Compass || kind == Sensor::Accelerometer;
    const bool needsMagnet = kind == Sensor::Magnetometer || kind == Sensor::Compass;
    if (kind == Sensor::Als) {
        lightDir = findDevice(sysfs, { QStringLiteral("in_illuminance_input") });
        if (lightDir.isEmpty())
            lightDir = findDevice(sysfs, { QStringLiteral("in_illuminance_raw") });
        if (lightDir.isEmpty())
            missing = missingText("ambient light sensor", sysfs,
                QStringLiteral("in_illuminance_input or in_illuminance_raw"));
    } else if (kind == Sensor::Proximity) {
        proximityDir = findDevice(sysfs, { QStringLiteral("in_proximity_raw") });
        if (proximityDir.isEmpty())
            missing = missingText("proximity sensor", sysfs, QStringLiteral("in_proximity_raw"));
    } else if (kind == Sensor::Tap) {
        missing = QStringLiteral("no tap sensor: the kernel's IIO devices report no taps to read");
    }
    if (needsAccel) {
        accelDir = findDevice(sysfs, axisFiles(QStringLiteral("accel")));
        if (accelDir.isEmpty())
            missing = missingText("accelerometer", sysfs, accelNames);
    }
    // Rotation about z comes from the compass when there is a magnetometer.
    if (needsMagnet || kind == Sensor::Rotation) {
        magnetDir = findDevice(sysfs, axisFiles(QStringLiteral("magn")));
        if (magnetDir.isEmpty() && needsMagnet && missing.isEmpty())
            missing = missingText("magnetometer", sysfs, magnNames);
    }
}

LinuxSensor::~LinuxSensor()
{
    poller.stop();
}

int LinuxSensor::requestSession(int type)
{
    // No daemon shares the sensor out: every session asked for is granted.
    if (!missing.isEmpty()) {
        session = 0;
        error = missing;
    } else if (type != 1 && type != 2) {
        session = 0;
        error = QStringLiteral("unknown session type %1").arg(type);
    } else {
        session = type;
    }
    return session;
}

bool LinuxSensor::start()
{
    if (session == 0) {
        error = missing.isEmpty() ? QStringLiteral("cannot start without a session") : missing;
        return false;
    }
    if (poller.running())
        return true;
    QString failed;
    if (!measure(0, &failed)) {
        error = QStringLiteral("cannot read a value from %1").arg(failed);
        return false;
    }
    lastDelivered.reset();
    poller.start();
    return true;
}

void LinuxSensor::stop()
{
    poller.stop();
}

void LinuxSensor::closeSession()
{
    poller.stop();
    session = 0;
}

Sample LinuxSensor::current() const
{
    return measure(0, nullptr).value_or(Sample());
}

bool LinuxSensor::hasZ() const
{
    return !magnetDir.isEmpty();
}

std::optional<Sample> LinuxSensor::measure(int previousPose, QString *failed) const
{
    Sample s;
    s.timestamp = monotonicMicroseconds();
    auto &v = s.values;
    switch (kind) {
    case Sensor::Als: {
        const std::optional<int> l = lux(lightDir, failed);
        if (!l)
            return std::nullopt;
        v[0] = *l;
        break;
    }
    case Sensor::Proximity: {
        const std::optional<double> p
            = Reader(proximityDir, failed).real(QStringLiteral("in_proximity_raw"));
        if (!p)
            return std::nullopt;
        v[0] = whole(*p);
        break;
    }
    case Sensor::Tap:
        return std::nullopt;
    case Sensor::Accelerometer:
    case Sensor::Orientation:
    case Sensor::Rotation:
    case Sensor::Compass: {
        const std::optional<Motion::Vector> a = milliG(accelDir, failed);
        if (!a)
            return std::nullopt;
        std::optional<Field> f;
        if (!magnetDir.isEmpty() && (kind == Sensor::Rotation || kind == Sensor::Compass)) {
            f = field(magnetDir, failed);
            if (!f)
                return std::nullopt;
        }
        if (kind == Sensor::Accelerometer) {
            v[0] = whole(a->x);
            v[1] = whole(a->y);
            v[2] = whole(a->z);
        } else if (kind == Sensor::Orientation) {
            v[0] = Motion::orientation(*a, previousPose);
        } else if (kind == Sensor::Rotation) {
            v[0] = Motion::pitch(*a);
            v[1] = Motion::roll(*a);
            v[2] = f ? Motion::heading(*a, f->calibrated) : 0;
        } else {
            v[0] = Motion::heading(*a, f->calibrated);
            v[1] = f->level;
        }
        break;
    }
    case Sensor::Magnetometer: {
        const std::optional<Field> f = field(magnetDir, failed);
        if (!f)
            return std::nullopt;
        v = { whole(f->calibrated.x), whole(f->calibrated.y), whole(f->calibrated.z),
            whole(f->raw.x), whole(f->raw.y), whole(f->raw.z), f->level };
        break;
    }
    }
    return s;
}

void LinuxSensor::poll()
{
    const int previousPose = lastDelivered ? lastDelivered->values[0] : 0;
    const std::optional<Sample> s = measure(previousPose, nullptr);
    if (!s)
        return; // a driver that did not answer this time; the next poll tries again
    const bool onChange
        = kind == Sensor::Als || kind == Sensor::Proximity || kind == Sensor::Orientation;
    if (onChange && lastDelivered && lastDelivered->values == s->values)
        return;
    lastDelivered = s;
    sink(*s);
}

} // namespace Vorna::Backend
