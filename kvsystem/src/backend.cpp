// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "backend.h"

#include "backends/linux/linuxbackend.h"
#include "backends/shared/sharedloader.h"
#include "backends/simulated/scenario.h"
#include "backends/simulated/simulatedbackend.h"
#include "recorder.h"
#include "trace.h"

#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <mutex>
#include <unistd.h>

namespace Vorna::Backend {

namespace {

QByteArray systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error)).toUtf8();
}

// The scenario file, parsed. Only a regular file is read, opened without
// blocking (a FIFO would wait for a writer forever). A recording is parsed
// part by part as it is read, whatever its size (a week of charge-recorder
// rows is hundreds of MB); any other file is read whole, up to
// maxScenarioBytes.
Scenario loadScenario(const QByteArray &path, FileId *file)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        usageError(path + ": cannot read: " + systemError(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        usageError(path + ": cannot read: not a regular file");
    }
    *file = FileId { st.st_dev, st.st_ino };
    const auto fail = [&](const QByteArray &message) {
        ::close(fd);
        usageError(path + ": " + message);
    };
    // Reads up to size bytes at the file's position; 0 at its end.
    const auto readSome = [fd](char *into, qint64 size) -> qint64 {
        ssize_t n;
        do
            n = ::read(fd, into, size_t(size));
        while (n < 0 && errno == EINTR);
        return n;
    };
    QString error;
    std::optional<Scenario> scenario;
    const qint64 headerSize = qint64(std::strlen(recordingHeader));
    QByteArray head(int(headerSize), '\0');
    qint64 got = 0;
    while (got < headerSize) {
        const qint64 n = readSome(head.data() + got, headerSize - got);
        if (n < 0)
            fail("cannot read: " + systemError(errno));
        if (n == 0)
            break;
        got += n;
    }
    head.truncate(int(got));
    if (head == recordingHeader) {
        scenario = parseRecording(readSome, &error);
    } else {
        const auto tooLarge = [&] {
            fail("larger than " + QByteArray::number(maxScenarioBytes / 1024 / 1024) + " MiB");
        };
        if (st.st_size > maxScenarioBytes)
            tooLarge();
        QByteArray text = head;
        text.resize(int(std::max<qint64>(st.st_size, got)) + 1);
        qint64 length = got;
        for (;;) {
            if (length == text.size()) {
                if (length > maxScenarioBytes) // grew while it was read
                    tooLarge();
                text.resize(int(std::min<qint64>(length * 2 + 4096, maxScenarioBytes + 1)));
            }
            const qint64 n = readSome(text.data() + length, text.size() - length);
            if (n < 0)
                fail("cannot read: " + systemError(errno));
            if (n == 0)
                break;
            length += n;
        }
        text.truncate(int(length));
        scenario = parseScenario(text, &error);
    }
    ::close(fd);
    if (!scenario)
        usageError(path + ": " + error.toUtf8());
    return std::move(*scenario);
}

std::unique_ptr<Backend> chooseBackend(FileId *scenarioFile)
{
    // A scenario decides everything, whatever the backend asked for. Paths
    // are bytes, as the file system has them.
    const QByteArray path = environment("KVSYSTEM_SCENARIO");
    if (path.isEmpty()) {
        const QByteArray name = environment("KVSYSTEM_BACKEND");
        if (name.isEmpty() || name == "virtual")
            return std::make_unique<SimulatedBackend>(std::nullopt);
        if (name == "linux")
            return std::make_unique<LinuxBackend>(LinuxBackend::Options::fromEnvironment());
        if (name == "shared")
            return sharedBackend();
        usageError("unknown backend '" + name + "'");
    }

    return std::make_unique<SimulatedBackend>(loadScenario(path, scenarioFile));
}

std::unique_ptr<Backend> makeBackend()
{
    Trace::open();
    // The recording is opened after the scenario was read, and refused
    // when it is the same file, or the trace's.
    FileId scenarioFile;
    std::unique_ptr<Backend> backend = chooseBackend(&scenarioFile);
    return recordedIfAsked(std::move(backend), scenarioFile, Trace::file());
}

} // namespace

Backend &instance()
{
    // Never destroyed: library objects that a program keeps until it ends
    // (and threads delivering to them) may still use it while the process exits.
    static Backend *const backend = makeBackend().release();
    return *backend;
}

quint64 monotonicMicroseconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return quint64(ts.tv_sec) * 1000000u + quint64(ts.tv_nsec) / 1000u;
}

void usageError(const QByteArray &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "kvsystem2: %s\n", Trace::escaped(message).constData());
    std::fflush(stderr);
    // Leave at once: the program's own objects are half made, and none of
    // them should run its teardown against a device that was never there.
    ::_exit(2);
}

void usageError(const QString &message)
{
    usageError(message.toUtf8());
}

void warning(const QByteArray &message)
{
    static std::mutex mutex;
    static QSet<QByteArray> said;
    const std::lock_guard<std::mutex> lock(mutex);
    if (said.contains(message))
        return;
    said.insert(message);
    std::fprintf(stderr, "kvsystem2: %s\n", Trace::escaped(message).constData());
    std::fflush(stderr);
}

QByteArray environment(const char *name)
{
    return QByteArray(::secure_getenv(name));
}

} // namespace Vorna::Backend
