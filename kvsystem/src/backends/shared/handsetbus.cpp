// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "handsetbus.h"

#include "trace.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Vorna::Backend::HandsetBus {

namespace {

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + QString::fromUtf8(Trace::escaped(text.toUtf8())) + QLatin1Char('\'');
}

} // namespace

QString propertyName(Property property)
{
    const PropertyDescription &row = propertyTable[int(property)];
    return QString::fromLatin1(row.name ? row.name : describe(Sensor(property)).key);
}

int fieldCount(Property property)
{
    const PropertyDescription &row = propertyTable[int(property)];
    return row.fields ? row.fields : describe(Sensor(property)).fieldCount();
}

std::optional<Property> propertyNamed(const QString &name)
{
    for (int i = 0; i < PropertyCount; ++i)
        if (propertyName(Property(i)) == name)
            return Property(i);
    return std::nullopt;
}

QString checkField(Property property, qint64 field)
{
    const PropertyDescription &row = propertyTable[int(property)];
    if (row.battery && field == followsModel)
        return QString();
    if (field < row.min || field > row.max)
        return QStringLiteral("%1 is out of range (%2 to %3)").arg(field).arg(row.min).arg(row.max);
    return QString();
}

std::optional<QVector<Value>> decode(const QVariantList &arguments, QString *error)
{
    if (arguments.size() != 2 || arguments[0].userType() != QMetaType::QStringList
        || arguments[1].userType() != qMetaTypeId<QList<int>>()) {
        *error = QStringLiteral("expected a list of names and a list of 32-bit integers");
        return std::nullopt;
    }
    const QStringList names = arguments[0].toStringList();
    const QList<int> fields = arguments[1].value<QList<int>>();
    QVector<Value> values;
    int next = 0;
    for (const QString &name : names) {
        const std::optional<Property> property = propertyNamed(name);
        if (!property) {
            *error = QStringLiteral("unknown value %1").arg(quoted(name));
            return std::nullopt;
        }
        const int count = fieldCount(*property);
        if (fields.size() - next < count) {
            *error = QStringLiteral("%1: %2 numbers where %3 are needed")
                         .arg(name)
                         .arg(fields.size() - next)
                         .arg(count);
            return std::nullopt;
        }
        Value value { *property, {} };
        for (int i = 0; i < count; ++i) {
            const QString wrong = checkField(*property, fields[next + i]);
            if (!wrong.isEmpty()) {
                *error = name + QStringLiteral(": ") + wrong;
                return std::nullopt;
            }
            value.fields.append(fields[next + i]);
        }
        next += count;
        values.append(value);
    }
    if (next != fields.size()) {
        *error = QStringLiteral("%1 numbers without a name").arg(fields.size() - next);
        return std::nullopt;
    }
    return values;
}

QVariantList encode(const QVector<Value> &values)
{
    QStringList names;
    QList<int> fields;
    for (const Value &value : values) {
        names.append(propertyName(value.property));
        for (qint32 field : value.fields)
            fields.append(field);
    }
    return { QVariant(names), QVariant::fromValue(fields) };
}

std::optional<QByteArray> readScenarioFile(const QByteArray &path, QString *error)
{
    const auto failed = [&](const QString &why) {
        *error = QString::fromUtf8(Trace::escaped(path)) + QStringLiteral(": ") + why;
        return std::nullopt;
    };
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed(
            QStringLiteral("cannot read: ") + QString::fromLocal8Bit(std::strerror(errno)));
    QFile file;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return failed(QStringLiteral("cannot read: not a regular file"));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failed(QStringLiteral("cannot read: ") + file.errorString());
    }
    // One byte more than allowed tells a file that is too large, also one
    // that grows while it is read.
    const QByteArray bytes = file.read(maxScenarioBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return failed(QStringLiteral("cannot read: ") + file.errorString());
    if (bytes.size() > maxScenarioBytes)
        return failed(QStringLiteral("larger than %1 MiB").arg(maxScenarioBytes / 1024 / 1024));
    return bytes;
}

} // namespace Vorna::Backend::HandsetBus
