// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// charge-exporter: passes a charge-recorder log through unchanged and keeps
// its latest row in a file for node_exporter's textfile collector, so that
// Prometheus sees the battery as the library reads it.

#include "exporter.h"
#include "replacefile.h"

#include <QSet>

#include <cerrno>
#include <csignal>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <string>
#include <unistd.h>

namespace {

const char usage[] = "Usage: charge-exporter --textfile=FILE [--device=NAME]\n"
                     "\n"
                     "Copies a charge-recorder log from standard input to standard output\n"
                     "unchanged and, after each row, replaces FILE with the row's values as\n"
                     "Prometheus gauges for node_exporter's textfile collector.\n"
                     "\n"
                     "  -t, --textfile=FILE  the file to keep up to date; its name ends in .prom\n"
                     "  -d, --device=NAME    the device label of every gauge; the host name\n"
                     "                       by default\n"
                     "  -h, --help           this text\n"
                     "  -V, --version        the version\n"
                     "\n"
                     "Exit status: 0 at the end of the log, 1 when standard output fails,\n"
                     "2 a refused command line.\n";

constexpr int usageStatus = 2;

int usageError(const QByteArray &message)
{
    fprintf(stderr, "charge-exporter: %s\nTry 'charge-exporter --help'.\n",
        escapedLine(message).constData());
    return usageStatus;
}

// What goes wrong with the text file is said once a cause: a full disk
// must not repeat itself every second, nor stop the log.
void warnOnce(const QByteArray &message)
{
    static QSet<QByteArray> said;
    if (said.contains(message))
        return;
    said.insert(message);
    fprintf(stderr, "charge-exporter: %s\n", escapedLine(message).constData());
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Passes standard input through as it comes, and keeps the newest row of
// what came in the text file.
int run(const QByteArray &path, Exporter &exporter)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            fprintf(stderr, "charge-exporter: standard input: %s\n", strerror(errno));
            return 1;
        }
        if (got == 0)
            break;
        if (!writeAll(STDOUT_FILENO, buffer, size_t(got))) {
            fprintf(stderr, "charge-exporter: Can't write output: %s\n", strerror(errno));
            return 1;
        }
        const QByteArray text = exporter.take(buffer, size_t(got));
        if (text.isEmpty())
            continue;
        const QString problem = replaceFile(path, text);
        if (!problem.isEmpty())
            warnOnce(path + ": " + problem.toLocal8Bit());
    }
    exporter.end();
    return 0;
}

QString hostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || !*name)
        return QStringLiteral("localhost");
    return QString::fromLocal8Bit(name);
}

} // namespace

int main(int argc, char **argv)
{
    setlocale(LC_ALL, "");
    // A log on standard output that reaches the file-size limit fails the
    // write with EFBIG, said and ended with status 1, instead of killing
    // the program without a word.
    signal(SIGXFSZ, SIG_IGN);
    static const option options[] = {
        { "textfile", required_argument, nullptr, 't' },
        { "device", required_argument, nullptr, 'd' },
        { "help", no_argument, nullptr, 'h' },
        { "version", no_argument, nullptr, 'V' },
        { nullptr, 0, nullptr, 0 },
    };
    QByteArray path;
    QString device = hostName();
    opterr = 0;
    for (;;) {
        const int option = getopt_long(argc, argv, ":t:d:hV", options, nullptr);
        if (option == -1)
            break;
        switch (option) {
        case 't':
            path = optarg;
            break;
        case 'd':
            device = QString::fromLocal8Bit(optarg);
            break;
        case 'h':
            fputs(usage, stdout);
            return fflush(stdout) == 0 ? 0 : 1;
        case 'V':
            printf("charge-exporter %s\n", KV_VERSION);
            return fflush(stdout) == 0 ? 0 : 1;
        case ':':
            return usageError(QByteArray("option ") + QByteArray(argv[optind - 1]) + " needs a value");
        default:
            return usageError(QByteArray("unknown option ") + QByteArray(argv[optind - 1]));
        }
    }
    if (optind < argc)
        return usageError(QByteArray("unexpected argument ") + QByteArray(argv[optind]));
    if (path.isEmpty())
        return usageError("--textfile=FILE is missing");
    if (!path.endsWith(".prom"))
        return usageError(path + ": node_exporter reads only files ending in .prom");
    if (device.isEmpty())
        return usageError("--device needs a name");
    Exporter exporter(device);
    return run(path, exporter);
}
