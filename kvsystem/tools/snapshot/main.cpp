// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// kvsystem2-snapshot [--umockdev=FILE] DIR
//
// Copies what the kvsystem2 library's Linux backend reads on this machine
// (or in a umockdev-record file) into DIR, a tree that KVSYSTEM_SYSFS_ROOT
// accepts, with a README naming the kernel and the model.

#include "snapshot.h"
#include "trace.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <getopt.h>

namespace {

const char usage[] = "Usage: kvsystem2-snapshot [--umockdev=FILE] DIR\n"
                     "Copies the power supplies, IIO devices, backlights, thermal zones and\n"
                     "radios that the kvsystem2 library reads from /sys (KVSYSTEM_SYSFS_ROOT\n"
                     "when set), or from a umockdev-record FILE, into DIR, leaving out serial\n"
                     "numbers. Play DIR back with KVSYSTEM_BACKEND=linux KVSYSTEM_SYSFS_ROOT=DIR.\n"
                     "\n"
                     "  --umockdev=FILE  the devices of a umockdev-record file instead of /sys\n"
                     "  --help           this text\n"
                     "  --version        the version\n"
                     "\n"
                     "Exit status: 0 written, 1 a source that cannot be read or a tree that\n"
                     "cannot be written, 2 a refused command line.\n";

// One line on standard error, escaped so that a path cannot write lines of
// its own on the terminal.
void say(const QByteArray &message)
{
    std::fprintf(stderr, "kvsystem2-snapshot: %s\n", Vorna::Trace::escaped(message).constData());
}

int fail(const QString &message)
{
    say(message.toUtf8());
    return 1;
}

int refuse(const QByteArray &message)
{
    say(message);
    std::fputs("Try 'kvsystem2-snapshot --help' for more information.\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    static const option options[] = { { "umockdev", required_argument, nullptr, 'u' },
        { "help", no_argument, nullptr, 'h' }, { "version", no_argument, nullptr, 'v' },
        { nullptr, 0, nullptr, 0 } };
    opterr = 0;
    bool fromRecord = false;
    QString umockdev;
    for (;;) {
        const int previous = optind;
        const int c = getopt_long(argc, argv, "+", options, nullptr);
        if (c == -1)
            break;
        // The option as given, without a value after '='.
        const QByteArray given = QByteArray(argv[previous]).split('=').first();
        switch (c) {
        case 'u':
            fromRecord = true;
            umockdev = QFile::decodeName(optarg);
            break;
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case 'v':
            std::printf("kvsystem2-snapshot %s\n", KV_VERSION);
            return 0;
        default:
            if (optopt == 'u')
                return refuse("option '--umockdev' needs a FILE");
            if (optopt == 'h' || optopt == 'v')
                return refuse("option '" + given + "' takes no value");
            return refuse("unknown option '" + given + '\'');
        }
    }
    if (optind == argc)
        return refuse("no DIR given");
    if (argc - optind > 1)
        return refuse("one DIR only; '" + QByteArray(argv[optind + 1]) + "' is one too many");
    const QString out = QFile::decodeName(argv[optind]);

    Snapshot::Result result;
    if (fromRecord) {
        QFile record(umockdev);
        if (!record.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("%1: %2").arg(umockdev, record.errorString()));
        result = Snapshot::importUmockdev(record.readAll(), umockdev, out);
    } else {
        const char *root = secure_getenv("KVSYSTEM_SYSFS_ROOT");
        result = Snapshot::copyTree(
            root && *root ? QString::fromLocal8Bit(root) : QStringLiteral("/sys"), out);
    }
    for (const QString &skipped : qAsConst(result.skipped))
        say("skipped " + skipped.toUtf8());
    if (!result.ok)
        return fail(result.error);
    if (result.attributes == 0)
        say("warning: found nothing to copy; " + out.toUtf8()
            + "/README is all the tree holds");
    std::printf("%d attributes of %d devices in %s; see %s/README\n", result.attributes,
        result.devices, Vorna::Trace::escaped(out.toUtf8()).constData(),
        Vorna::Trace::escaped(out.toUtf8()).constData());
    return 0;
}
