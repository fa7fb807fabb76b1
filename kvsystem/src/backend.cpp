#include "backend.h"

#include "backends/linux/linuxbackend.h"
#include "backends/simulated/scenario.h"
#include "backends/simulated/simulatedbackend.h"
#include "recorder.h"
#include "trace.h"

#include <QFile>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace Vorna::Backend {

namespace {

std::unique_ptr<Backend> chooseBackend()
{
    // A scenario decides everything, whatever the backend asked for.
    const QString path = QString::fromLocal8Bit(qgetenv("KVSYSTEM_SCENARIO"));
    if (path.isEmpty()) {
        const QString name = QString::fromLocal8Bit(qgetenv("KVSYSTEM_BACKEND"));
        if (name.isEmpty() || name == QLatin1String("virtual"))
            return std::make_unique<SimulatedBackend>(std::nullopt);
        if (name == QLatin1String("linux"))
            return std::make_unique<LinuxBackend>(LinuxBackend::Options::fromEnvironment());
        usageError(QStringLiteral("unknown backend '%1'").arg(name));
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        usageError(QStringLiteral("%1: cannot read: %2").arg(path, file.errorString()));
    QString error;
    std::optional<Scenario> scenario = parseScenario(file.readAll(), &error);
    if (!scenario)
        usageError(QStringLiteral("%1: %2").arg(path, error));
    return std::make_unique<SimulatedBackend>(std::move(scenario));
}

std::unique_ptr<Backend> makeBackend()
{
    Trace::open();
    // The recording is opened after the scenario was read: it may be the same file.
    return recordedIfAsked(chooseBackend());
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

void usageError(const QString &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "kvsystem2: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    // Leave at once: the program's own objects are half made, and none of
    // them should run its teardown against a device that was never there.
    ::_exit(2);
}

} // namespace Vorna::Backend
