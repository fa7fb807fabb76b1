// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "snapshot.h"
#include "trace.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <QSet>
#include <QVector>

#include <climits>
#include <iterator>
#include <sys/utsname.h>

namespace Snapshot {

namespace {

// What the Linux backend reads (docs/linux-backend.md): each place's
// devices, copied whole at their top level (regular files only: no links,
// no subdirectories such as power/ or hwmon/).
struct Place
{
    const char *dir; // below the sysfs root
    const char *devices; // which entries of dir
    const char *subsystem; // as umockdev names it
    const char *what; // for the README
};

const Place places[] = {
    { "class/power_supply", "*", "power_supply", "power supplies" },
    { "bus/iio/devices", "iio:device*", "iio", "IIO devices" },
    { "class/backlight", "*", "backlight", "backlights" },
    { "class/thermal", "thermal_zone*", "thermal", "thermal zones" },
    { "class/rfkill", "rfkill*", "rfkill", "radios" },
};

// Left out: what identifies the one device rather than its kind, and the
// files that only repeat the other attributes (uevent holds the serial
// number too).
const char *const leftOut[] = { "uevent", "modalias" };

bool matches(const QString &name, const char *pattern)
{
    return QDir::match(QString::fromLatin1(pattern), name);
}

// A text from the machine or the record (a vendor name, a path) as one line
// of the README: a newline in it cannot forge a line of its own.
QString oneLine(const QString &text)
{
    return QString::fromUtf8(Vorna::Trace::escaped(text.toUtf8()));
}

// Whether a name from a record can be a file of its own in the tree: also
// not longer than a file name may be, which only the write would find out.
bool plainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0))
        && QFile::encodeName(name).size() <= NAME_MAX;
}

// Why a device directory below the sysfs root is not copied, or nothing
// when it lies inside the tree. The kernel's class and bus entries are links
// into devices/; a link that leads anywhere else (a crafted tree, /etc) is
// never followed. A plain directory (a stand-in tree, an earlier snapshot)
// is inside the tree as long as nothing on its way is a link out.
QString outside(const QString &realRoot, const QString &entry, const QString &real)
{
    if (real.isEmpty())
        return QStringLiteral("a link that leads nowhere");
    if (real == entry)
        return QString();
    if (real.startsWith(realRoot + QStringLiteral("/devices/")))
        return QString();
    return QStringLiteral("a link out of %1/devices (to %2)").arg(realRoot, real);
}

class Writer
{
public:
    explicit Writer(const QString &out)
        : out(out)
    { }

    bool start(QString *error)
    {
        QDir dir(out);
        if (dir.exists() && !dir.isEmpty()) {
            *error = QStringLiteral("%1: exists and is not empty").arg(out);
            return false;
        }
        if (!QDir().mkpath(out)) {
            *error = QStringLiteral("%1: cannot make the directory").arg(out);
            return false;
        }
        return true;
    }

    // One device's attribute; false when it cannot be written.
    bool write(const Place &place, const QString &device, const QString &attribute,
        const QByteArray &value, QString *error)
    {
        const QString dir = QStringLiteral("%1/%2/%3").arg(out, QLatin1String(place.dir), device);
        if (!QDir().mkpath(dir)) {
            *error = QStringLiteral("%1: cannot make the directory").arg(dir);
            return false;
        }
        QFile f(dir + QLatin1Char('/') + attribute);
        if (!f.open(QIODevice::WriteOnly) || f.write(value) != value.size()) {
            *error = QStringLiteral("%1: %2").arg(f.fileName(), f.errorString());
            return false;
        }
        const QString key = QLatin1String(place.dir) + QLatin1Char('/') + device;
        if (!seen.contains(key)) {
            seen << key;
            ++perPlace[&place - places];
        }
        // An attribute a record gives twice is one file, its last value.
        if (!files.contains(f.fileName())) {
            files << f.fileName();
            ++attributes;
        }
        return true;
    }

    bool readme(const QString &origin, const QString &kernel, const QString &model, QString *error,
        Result *result)
    {
        QStringList copied;
        for (size_t i = 0; i < std::size(places); ++i)
            copied << QStringLiteral("%1 %2").arg(perPlace[i]).arg(QLatin1String(places[i].what));
        const QString text = QStringLiteral(
            "A snapshot of what the kvsystem2 library's Linux backend reads, made by\n"
            "kvsystem2-snapshot on %1.\n"
            "\n"
            "from:    %2\n"
            "kernel:  %3\n"
            "model:   %4\n"
            "copied:  %5 (%6 attributes)\n"
            "left out: serial numbers (every attribute with \"serial\" in its name),\n"
            "         uevent and modalias files, links, subdirectories, and every\n"
            "         other class and device of the machine\n"
            "\n"
            "Play it back:\n"
            "    KVSYSTEM_BACKEND=linux KVSYSTEM_SYSFS_ROOT=<this directory> charge-recorder\n")
                                 .arg(QDateTime::currentDateTimeUtc().toString(
                                          QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")),
                                     oneLine(origin), oneLine(kernel), oneLine(model),
                                     copied.join(QStringLiteral(", ")))
                                 .arg(attributes);
        QFile f(out + QStringLiteral("/README"));
        if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0) {
            *error = QStringLiteral("%1: %2").arg(f.fileName(), f.errorString());
            return false;
        }
        result->devices = seen.size();
        result->attributes = attributes;
        return true;
    }

private:
    const QString out;
    QStringList seen;
    QSet<QString> files;
    int perPlace[std::size(places)] = {};
    int attributes = 0;
};

QString firstLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readLine()).trimmed();
}

QString dmiModel(const QString &vendor, const QString &product)
{
    const QString model = QStringList({ vendor, product }).join(QLatin1Char(' ')).trimmed();
    return model.isEmpty() ? QStringLiteral("unknown (no DMI information)") : model;
}

QString thisKernel()
{
    utsname u {};
    if (uname(&u) != 0)
        return QStringLiteral("unknown");
    return QStringLiteral("%1 %2 %3 %4")
        .arg(QString::fromLocal8Bit(u.sysname), QString::fromLocal8Bit(u.release),
            QString::fromLocal8Bit(u.version), QString::fromLocal8Bit(u.machine));
}

Result failed(const QString &error)
{
    Result r;
    r.error = error;
    return r;
}

} // namespace

bool keeps(const QString &attribute)
{
    if (attribute.contains(QLatin1String("serial"), Qt::CaseInsensitive))
        return false;
    for (const char *name : leftOut)
        if (attribute == QLatin1String(name))
            return false;
    return true;
}

Result copyTree(const QString &sysfs, const QString &out)
{
    Writer writer(out);
    QString error;
    if (!writer.start(&error))
        return failed(error);
    Result result;
    const QString realRoot = QFileInfo(sysfs).canonicalFilePath();
    for (const Place &place : places) {
        const QDir dir(sysfs + QLatin1Char('/') + QLatin1String(place.dir));
        // The class entries are links to the devices; follow them, as far
        // as the devices tree.
        const QStringList devices = dir.entryList(
            { QString::fromLatin1(place.devices) }, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &device : devices) {
            const QString entry = QStringLiteral("%1/%2/%3").arg(realRoot, QLatin1String(place.dir), device);
            const QString why = outside(realRoot, entry, QFileInfo(entry).canonicalFilePath());
            if (!why.isEmpty()) {
                result.skipped << QStringLiteral("%1/%2: %3").arg(QLatin1String(place.dir), device, why);
                continue;
            }
            const QDir deviceDir(entry);
            const QFileInfoList files
                = deviceDir.entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
            for (const QFileInfo &file : files) {
                if (!keeps(file.fileName()))
                    continue;
                QFile f(file.filePath());
                // Write-only attributes, and those the driver refuses now, are skipped.
                if (!f.open(QIODevice::ReadOnly))
                    continue;
                const QByteArray value = f.read(1 << 16);
                if (f.error() != QFileDevice::NoError)
                    continue;
                if (!writer.write(place, device, file.fileName(), value, &error))
                    return failed(error);
            }
        }
    }
    const QString dmi = sysfs + QStringLiteral("/class/dmi/id/");
    if (!writer.readme(QDir(sysfs).absolutePath(), thisKernel(),
            dmiModel(firstLine(dmi + QStringLiteral("sys_vendor")),
                firstLine(dmi + QStringLiteral("product_name"))),
            &error, &result))
        return failed(error);
    result.ok = true;
    return result;
}

QByteArray unescaped(const QByteArray &value)
{
    QByteArray out;
    out.reserve(value.size());
    for (int i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const char e = value.at(++i);
        if (e >= '0' && e <= '7') {
            int code = 0;
            int digits = 0;
            while (digits < 3 && i < value.size() && value.at(i) >= '0' && value.at(i) <= '7') {
                code = code * 8 + (value.at(i) - '0');
                ++i;
                ++digits;
            }
            --i;
            out += char(code);
            continue;
        }
        switch (e) {
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'v': out += '\v'; break;
        default: out += e; // \\ and \" stand for themselves
        }
    }
    return out;
}

Result importUmockdev(const QByteArray &record, const QString &origin, const QString &out)
{
    struct Device
    {
        QString name;
        QString subsystem;
        QVector<QPair<QString, QByteArray>> attributes;
    };
    QVector<Device> devices;
    QString vendor, product;
    const auto copiedAs = [](const Device &device, const Place &place) {
        return device.subsystem == QLatin1String(place.subsystem)
            && matches(device.name, place.devices);
    };
    const auto copied = [&](const Device &device) {
        for (const Place &place : places)
            if (copiedAs(device, place))
                return true;
        return false;
    };
    const QList<QByteArray> lines = record.split('\n');
    for (int n = 0; n < lines.size(); ++n) {
        const QByteArray &line = lines.at(n);
        if (line.size() < 3 || line.at(1) != ':' || line.at(2) != ' ')
            continue;
        const QByteArray rest = line.mid(3);
        const int eq = rest.indexOf('=');
        const QString key = QString::fromUtf8(rest.left(eq));
        const QByteArray value = eq < 0 ? QByteArray() : rest.mid(eq + 1);
        switch (line.at(0)) {
        case 'P':
            devices.append({ QFileInfo(QString::fromUtf8(rest)).fileName(), QString(), {} });
            break;
        case 'E':
            if (!devices.isEmpty() && key == QLatin1String("SUBSYSTEM"))
                devices.last().subsystem = QString::fromUtf8(value);
            break;
        case 'L':
            if (!devices.isEmpty() && key == QLatin1String("subsystem"))
                devices.last().subsystem = QFileInfo(QString::fromUtf8(value)).fileName();
            break;
        case 'A':
        case 'H': {
            if (devices.isEmpty() || eq < 0)
                break;
            const QByteArray bytes
                = line.at(0) == 'A' ? unescaped(value) : QByteArray::fromHex(value);
            if (devices.last().subsystem == QLatin1String("dmi")
                || devices.last().name == QLatin1String("id")) {
                if (key == QLatin1String("sys_vendor"))
                    vendor = QString::fromUtf8(bytes).trimmed();
                if (key == QLatin1String("product_name"))
                    product = QString::fromUtf8(bytes).trimmed();
            }
            devices.last().attributes.append({ key, bytes });
            break;
        }
        default:
            break;
        }
    }

    // Names become files of the tree: check them all before the first write,
    // so that a refused record leaves no tree half made.
    for (const Device &device : qAsConst(devices)) {
        if (!copied(device))
            continue;
        if (!plainName(device.name))
            return failed(QStringLiteral("%1: refused: the device name \"%2\" is not a plain file name")
                              .arg(origin, device.name));
        for (const auto &attribute : device.attributes)
            if (!attribute.first.contains(QLatin1Char('/')) && !plainName(attribute.first))
                return failed(
                    QStringLiteral("%1: refused: %2 has an attribute named \"%3\", not a plain file name")
                        .arg(origin, device.name, attribute.first));
    }

    Writer writer(out);
    QString error;
    if (!writer.start(&error))
        return failed(error);
    for (const Device &device : qAsConst(devices)) {
        for (const Place &place : places) {
            if (!copiedAs(device, place))
                continue;
            for (const auto &attribute : device.attributes) {
                // Only the device's own level, as from sysfs.
                if (attribute.first.contains(QLatin1Char('/')) || !keeps(attribute.first))
                    continue;
                if (!writer.write(place, device.name, attribute.first, attribute.second, &error))
                    return failed(error);
            }
        }
    }
    Result result;
    if (!writer.readme(QStringLiteral("umockdev-record file %1").arg(origin),
            QStringLiteral("unknown (not in a umockdev-record file)"), dmiModel(vendor, product),
            &error, &result))
        return failed(error);
    result.ok = true;
    return result;
}

} // namespace Snapshot
