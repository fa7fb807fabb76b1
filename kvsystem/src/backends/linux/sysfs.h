#ifndef KVSYSTEM_SRC_SYSFS_H
#define KVSYSTEM_SRC_SYSFS_H

// Reads and writes the kernel's attribute files below a directory that
// stands for /sys. Every read asks the kernel afresh: an attribute file
// holds one value, and reading it runs the driver's code, so nothing is
// cached. A file that is missing, unreadable or does not hold the value
// asked for gives no value; the callers decide what that means.

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
    // A decimal integer, the file's only content.
    static std::optional<qint64> readInt(const QString &file);
    // A decimal number such as IIO's "0.009576806".
    static std::optional<double> readReal(const QString &file);
    static bool exists(const QString &file);
    // Writes an existing attribute, as `echo value > file` does; false when
    // the file is missing or the kernel refuses the value.
    static bool write(const QString &file, const QByteArray &value);

    // The entries of a directory whose names begin with prefix, as full
    // paths, in the kernel's numbering order (thermal_zone2 before
    // thermal_zone10).
    static QStringList entries(const QString &dir, const QString &prefix);

private:
    QString top;
};

} // namespace Vorna::Backend

#endif
