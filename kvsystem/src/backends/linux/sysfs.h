// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_SYSFS_H
#define KVSYSTEM_SRC_SYSFS_H

// Reads and writes the kernel's attribute files below a directory that
// stands for /sys. Every read asks the kernel afresh: an attribute file
// holds one value, and reading it runs the driver's code, so nothing is
// cached. A file that is missing, unreadable or does not hold the value
// asked for gives no value; the callers decide what that means.
//
// Attributes are regular files: anything else (a FIFO or a device node in
// a tree that stands for /sys) is taken as missing, and files are opened
// without blocking, so no open can hang. A stalled driver can still hold a
// read; the sensors' reader threads are built so that it cannot hold up a
// program that is ending (Pump::stop()).

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace Vorna::Backend {

class Sysfs
{
public:
    explicit Sysfs(QString root);

    // A path below the root, given as it would be below /sys.
    QString path(const QString &relative) const { return top + QLatin1Char('/') + relative; }

    // The file's text without surrounding white space.
    static std::optional<QByteArray> read(const QString &file);
    // A decimal integer on the file's first line (the attribute's value;
    // what follows a shorter value written over a plain file is not part of it).
    static std::optional<qint64> readInt(const QString &file);
    // A finite decimal number on the first line, such as IIO's
    // "0.009576806"; "nan" and "inf" are no value.
    static std::optional<double> readReal(const QString &file);
    static bool exists(const QString &file);
    // Writes an existing attribute at its start, as the kernel takes a
    // value; false when the file is missing, not a regular file, a symbolic
    // link itself, or the kernel refuses the value. The file is never
    // truncated: a tree that is not /sys cannot make this shorten a file.
    // opened (when given) tells whether the file could be opened for
    // writing at all, as opposed to the kernel refusing the value.
    static bool write(const QString &file, const QByteArray &value, bool *opened = nullptr);
    // Whether the kernel took a value of length bytes: write() gave them
    // all and close() succeeded, since some drivers refuse a value only
    // when the file is closed.
    static bool accepted(qint64 written, qint64 length, bool closed)
    {
        return written == length && closed;
    }

    // The entries of a directory whose names begin with prefix, as full
    // paths, in the kernel's numbering order (thermal_zone2 before
    // thermal_zone10).
    static QStringList entries(const QString &dir, const QString &prefix);

private:
    QString top;
};

} // namespace Vorna::Backend

#endif
