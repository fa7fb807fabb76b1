// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_TOOLS_SNAPSHOT_H
#define KVSYSTEM_TOOLS_SNAPSHOT_H

// A snapshot: the sysfs attributes that the library's Linux backend reads,
// copied into a directory tree that KVSYSTEM_SYSFS_ROOT accepts, without
// the attributes that identify one particular device.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Snapshot {

struct Result
{
    bool ok = false;
    QString error; // when not ok
    int devices = 0;
    int attributes = 0;
    QStringList skipped; // devices not copied, each with the reason
};

// Copies from a sysfs tree (/sys, or a stand-in) into out, which must not
// exist or be empty, and writes out/README. A device is copied only from
// inside the tree: a class entry that is a link must lead into the tree's
// devices/ directory, as the kernel's links all do.
Result copyTree(const QString &sysfs, const QString &out);

// The same from the text of a umockdev-record file. A device or attribute
// name that is not a plain file name ("..", empty) refuses the whole file
// before anything is written.
Result importUmockdev(const QByteArray &record, const QString &origin, const QString &out);

// Whether an attribute is copied: not one that names the device itself
// (any "serial" in its name, whatever the case).
bool keeps(const QString &attribute);

// The value of a umockdev "A:" line, whose escapes are those of g_strescape().
QByteArray unescaped(const QByteArray &value);

} // namespace Snapshot

#endif
