// kvsystem2-snapshot DIR
// kvsystem2-snapshot --umockdev FILE DIR
//
// Copies what the kvsystem2 library's Linux backend reads on this machine
// (or in a umockdev-record file) into DIR, a tree that KVSYSTEM_SYSFS_ROOT
// accepts, with a README naming the kernel and the model.

#include "snapshot.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

const char usage[] = "usage: kvsystem2-snapshot DIR\n"
                     "       kvsystem2-snapshot --umockdev FILE DIR\n"
                     "Copies the power supplies, IIO devices, backlights, thermal zones and\n"
                     "radios that the kvsystem2 library reads from /sys (KVSYSTEM_SYSFS_ROOT\n"
                     "when set), or from a umockdev-record FILE, into DIR, leaving out serial\n"
                     "numbers. Play DIR back with KVSYSTEM_BACKEND=linux KVSYSTEM_SYSFS_ROOT=DIR.\n";

int fail(const QString &message)
{
    std::fprintf(stderr, "kvsystem2-snapshot: %s\n", message.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args == QStringList { QStringLiteral("--help") }) {
        std::fputs(usage, stdout);
        return 0;
    }

    Snapshot::Result result;
    QString out;
    if (args.size() == 3 && args.at(0) == QLatin1String("--umockdev")) {
        QFile record(args.at(1));
        if (!record.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("%1: %2").arg(args.at(1), record.errorString()));
        out = args.at(2);
        result = Snapshot::importUmockdev(record.readAll(), args.at(1), out);
    } else if (args.size() == 1 && !args.at(0).startsWith(QLatin1Char('-'))) {
        const char *root = secure_getenv("KVSYSTEM_SYSFS_ROOT");
        out = args.at(0);
        result = Snapshot::copyTree(
            root && *root ? QString::fromLocal8Bit(root) : QStringLiteral("/sys"), out);
    } else {
        std::fputs(usage, stderr);
        return 2;
    }
    if (!result.ok)
        return fail(result.error);
    std::printf("%d attributes of %d devices in %s; see %s/README\n", result.attributes,
        result.devices, out.toLocal8Bit().constData(), out.toLocal8Bit().constData());
    return 0;
}
