#ifndef KVSYSTEM_TOOLS_SNAPSHOT_H
#define KVSYSTEM_TOOLS_SNAPSHOT_H

// A snapshot: the sysfs attributes that the library's Linux backend reads,
// copied into a directory tree that KVSYSTEM_SYSFS_ROOT accepts, without
// the attributes that identify one particular device.

#include <QByteArray>
#include <QString>

namespace Snapshot {

struct Result
{
    bool ok = false;
    QString error; // when not ok
    int devices = 0;
    int attributes = 0;
};

// Copies from a sysfs tree (/sys, or a stand-in) into out, which must not
// exist or be empty, and writes out/README.
Result copyTree(const QString &sysfs, const QString &out);

// The same from the text of a umockdev-record file.
Result importUmockdev(const QByteArray &record, const QString &origin, const QString &out);

// Whether an attribute is copied: not one that names the device itself.
bool keeps(const QString &attribute);

// The value of a umockdev "A:" line, whose escapes are those of g_strescape().
QByteArray unescaped(const QByteArray &value);

} // namespace Snapshot

#endif
