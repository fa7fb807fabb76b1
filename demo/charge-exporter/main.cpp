// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// charge-exporter: passes a charge-recorder log through unchanged and keeps
// its latest row in a file for node_exporter's textfile collector, so that
// Prometheus sees the battery as the library reads it.

#include "chargelog.h"
#include "textfile.h"

#include <QSet>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

// Replaces the file whole: a scrape sees the old row or the new one, never
// half of either. The temporary name does not end in .prom, so the
// collector never reads it.
void replaceFile(const QByteArray &path, const QByteArray &text)
{
    const QByteArray temporary = path + '.' + QByteArray::number(qint64(getpid())) + ".tmp";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        warnOnce(temporary + ": " + strerror(errno));
        return;
    }
    const bool written = writeAll(fd, text.constData(), size_t(text.size()));
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        warnOnce(temporary + ": " + strerror(written ? errno : writeError));
        ::unlink(temporary.constData());
        return;
    }
    if (::rename(temporary.constData(), path.constData()) != 0) {
        warnOnce(path + ": " + strerror(errno));
        ::unlink(temporary.constData());
    }
}

class Exporter
{
public:
    Exporter(QByteArray path, QString device) : path(std::move(path)), device(std::move(device)) { }

    void line(std::string &text)
    {
        ++number;
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        splitCells(text.data(), cells);
        if (cells.size() == 1 && !*cells[0])
            return; // the recorder's blank line before a usage error
        if (strcmp(cells[0], "TIME") == 0) {
            header = headerColumns(cells);
            haveHeader = true;
            return;
        }
        if (!haveHeader)
            return warn(QStringLiteral("not a header, and no header before it"));
        Row row;
        if (!reader.parseStamp(cells[0], &row.time))
            return warn(QStringLiteral("\"%1\" is not a time stamp")
                            .arg(QString::fromLocal8Bit(cells[0])));
        const QString problem = readRow(cells, header, &row);
        if (!problem.isEmpty())
            return warn(problem);
        replaceFile(path, textfile(row, device));
    }

    void tooLong()
    {
        ++number;
        warn(QStringLiteral("longer than %1 bytes").arg(maxLineLength));
    }

private:
    void warn(const QString &why)
    {
        fprintf(stderr, "charge-exporter: line %lld: %s: left out\n", number,
            escapedLine(why.toLocal8Bit()).constData());
    }

    const QByteArray path;
    const QString device;
    RowReader reader;
    std::vector<char *> cells;
    std::vector<int> header;
    bool haveHeader = false;
    long long number = 0;
};

// Passes standard input through as it comes, and hands each whole line on.
int run(Exporter &exporter)
{
    std::string line;
    bool overlong = false;
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
        for (const char *p = buffer, *end = buffer + got; p < end;) {
            const char *newline = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
            const char *stop = newline ? newline : end;
            if (!overlong && line.size() + size_t(stop - p) <= maxLineLength)
                line.append(p, stop);
            else
                overlong = true;
            p = stop;
            if (!newline)
                break;
            ++p;
            if (overlong)
                exporter.tooLong();
            else
                exporter.line(line);
            line.clear();
            overlong = false;
        }
    }
    if (overlong)
        exporter.tooLong();
    else if (!line.empty())
        exporter.line(line);
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
            return usageError(QByteArray("option ") + argv[optind - 1] + " needs a value");
        default:
            return usageError(QByteArray("unknown option ") + argv[optind - 1]);
        }
    }
    if (optind < argc)
        return usageError(QByteArray("unexpected argument ") + argv[optind]);
    if (path.isEmpty())
        return usageError("--textfile=FILE is missing");
    if (!path.endsWith(".prom"))
        return usageError(path + ": node_exporter reads only files ending in .prom");
    if (device.isEmpty())
        return usageError("--device needs a name");
    Exporter exporter(path, device);
    return run(exporter);
}
