// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// kvsystem2-handset [--live | --scenario=FILE]
//
// One virtual handset on the session bus, which programs started with
// KVSYSTEM_BACKEND=shared join and kvsystem2-ctl changes.

#include "handsetdbus.h"
#include "handsetservice.h"
#include "trace.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>

#include <cstdio>
#include <getopt.h>

namespace {

const char usage[]
    = "Usage: kvsystem2-handset [--live | --scenario=FILE]\n"
      "Holds one virtual handset on the D-Bus session bus: programs started with\n"
      "KVSYSTEM_BACKEND=shared see it, and kvsystem2-ctl changes it while they run.\n"
      "Without an option the handset lies still until it is changed.\n"
      "\n"
      "  --live           the virtual handset's own changes play, without end\n"
      "  --scenario=FILE  a scenario file's timeline plays (kvsystem2-ctl play FILE\n"
      "                   plays one later)\n"
      "  --help           this text\n"
      "  --version        the version\n"
      "\n"
      "Exit status: 1 no session bus, or another handset service holds the name;\n"
      "2 a refused command line or scenario file.\n";

void say(const QByteArray &message)
{
    std::fprintf(stderr, "kvsystem2-handset: %s\n", Vorna::Trace::escaped(message).constData());
}

int fail(const QString &message)
{
    say(message.toUtf8());
    return 1;
}

int refuse(const QByteArray &message)
{
    say(message);
    std::fputs("Try 'kvsystem2-handset --help' for more information.\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    using namespace Vorna::Backend;
    QCoreApplication app(argc, argv);
    static const option options[] = { { "live", no_argument, nullptr, 'l' },
        { "scenario", required_argument, nullptr, 's' }, { "help", no_argument, nullptr, 'h' },
        { "version", no_argument, nullptr, 'v' }, { nullptr, 0, nullptr, 0 } };
    opterr = 0;
    bool live = false;
    QByteArray scenarioFile;
    for (;;) {
        const int previous = optind;
        const int c = getopt_long(argc, argv, "+", options, nullptr);
        if (c == -1)
            break;
        const QByteArray given = QByteArray(argv[previous]).split('=').first();
        switch (c) {
        case 'l':
            live = true;
            break;
        case 's':
            scenarioFile = optarg;
            break;
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case 'v':
            std::printf("kvsystem2-handset %s\n", KV_VERSION);
            return 0;
        default:
            if (optopt == 's')
                return refuse("option '--scenario' needs a FILE");
            if (optopt)
                return refuse("option '" + given + "' takes no value");
            return refuse("unknown option '" + given + '\'');
        }
    }
    if (optind < argc)
        return refuse("no arguments are taken; '" + QByteArray(argv[optind]) + "' is one too many");
    if (live && !scenarioFile.isEmpty())
        return refuse("--live and --scenario exclude each other");

    std::optional<Scenario> scenario;
    if (!scenarioFile.isEmpty()) {
        QString error;
        const std::optional<QByteArray> bytes = HandsetBus::readScenarioFile(scenarioFile, &error);
        if (bytes)
            scenario = parseScenario(*bytes, &error);
        if (!scenario)
            return refuse(bytes ? Vorna::Trace::escaped(scenarioFile) + ": " + error.toUtf8()
                                : error.toUtf8());
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(QStringLiteral("no D-Bus session bus: ") + bus.lastError().message());
    HandsetService service(bus);
    if (!bus.registerVirtualObject(QLatin1String(HandsetBus::objectPath), &service))
        return fail(QStringLiteral("cannot serve the handset: ") + bus.lastError().message());
    // The name last: a program that sees it finds the handset whole. A
    // second service is refused the name and ends.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply
        = bus.interface()->registerService(QLatin1String(HandsetBus::serviceName),
            QDBusConnectionInterface::DontQueueService,
            QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid())
        return fail(QStringLiteral("the session bus refused the name %1: %2")
                        .arg(QLatin1String(HandsetBus::serviceName), reply.error().message()));
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered)
        return fail(QStringLiteral("another handset service runs on this session bus (%1)")
                        .arg(QLatin1String(HandsetBus::serviceName)));
    if (scenario || live)
        service.play(std::move(scenario));
    return app.exec();
}
