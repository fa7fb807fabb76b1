// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// kvsystem2-ctl COMMAND [ARGUMENTS...]
//
// Changes the shared handset that kvsystem2-handset holds, while the
// programs that joined it run.

#include "commands.h"
#include "handsetdbus.h"
#include "trace.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using namespace Vorna;

const char usageHead[]
    = "Usage: kvsystem2-ctl COMMAND [ARGUMENTS...]\n"
      "Changes the shared handset of kvsystem2-handset, which programs started with\n"
      "KVSYSTEM_BACKEND=shared see at once. Commands:\n";
const char usageTail[]
    = "\n"
      "Numbers are whole: lux, milli-g, degrees, nT, %, mV, mA (negative: discharging).\n"
      "'model' hands a battery value back to the battery model. show prints the\n"
      "handset as commands; play FILE plays a scenario file's timeline into it.\n"
      "\n"
      "  --help     this text\n"
      "  --version  the version\n"
      "\n"
      "Exit status: 0 done, 1 no handset service on the session bus, 2 an unknown\n"
      "command, a value out of range or a scenario file that is refused.\n";

void say(const QByteArray &message)
{
    std::fprintf(stderr, "kvsystem2-ctl: %s\n", Trace::escaped(message).constData());
}

int refuse(const QString &message)
{
    say(message.toUtf8());
    std::fputs("Try 'kvsystem2-ctl --help' for more information.\n", stderr);
    return 2;
}

// The service's answer: 0, or the status and message of its failure.
int answered(const QDBusMessage &reply)
{
    if (reply.type() == QDBusMessage::ReplyMessage)
        return 0;
    if (reply.errorName() == QLatin1String(Backend::HandsetBus::invalidError)) {
        say(reply.errorMessage().toUtf8());
        return 2;
    }
    say("no handset service on the session bus (" + reply.errorMessage().toUtf8()
        + "); start one with kvsystem2-handset, or systemctl --user start kvsystem2-handset");
    return 1;
}

int run(int argc, char *argv[])
{
    using namespace Backend::HandsetBus;
    QCoreApplication app(argc, argv);
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(argv[i]);
    if (!arguments.isEmpty() && arguments.first() == "--help") {
        std::fputs(usageHead, stdout);
        std::fputs(Ctl::synopsis().constData(), stdout);
        std::fputs(usageTail, stdout);
        return 0;
    }
    if (!arguments.isEmpty() && arguments.first() == "--version") {
        std::printf("kvsystem2-ctl %s\n", KV_VERSION);
        return 0;
    }
    if (!arguments.isEmpty() && arguments.first().startsWith("--"))
        return refuse(QStringLiteral("unknown option '%1'")
                          .arg(QString::fromUtf8(arguments.first().split('=').first())));
    QString error;
    const std::optional<Ctl::Request> request = Ctl::parse(arguments, &error);
    if (!request)
        return refuse(error);

    QDBusMessage message;
    if (request->kind == Ctl::Request::Set) {
        message = call(setMethod);
        message.setArguments(encode(request->values));
    } else if (request->kind == Ctl::Request::Play) {
        const std::optional<QByteArray> bytes = readScenarioFile(request->file, &error);
        if (!bytes) {
            say(error.toUtf8());
            return 2;
        }
        message = call(playMethod);
        message << *bytes;
    } else {
        message = call(stateMethod);
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        say("no D-Bus session bus (" + bus.lastError().message().toUtf8()
            + "); kvsystem2-handset and the programs that join it need one");
        return 1;
    }
    const QDBusMessage reply
        = bus.call(message, QDBus::Block, request->kind == Ctl::Request::Play ? -1 : callTimeoutMs);
    if (const int status = answered(reply))
        return status;
    if (request->kind == Ctl::Request::Show) {
        const std::optional<QVector<Value>> values = decode(argumentsOf(reply), &error);
        if (!values) {
            say("the handset service answered wrongly: " + error.toUtf8());
            return 1;
        }
        Backend::HandsetState state;
        double seconds = 0;
        for (const Value &value : *values) {
            state.apply(value);
            if (value.property == Property::BatteryClock)
                seconds = value.fields.value(0);
        }
        std::fputs(Ctl::show(state, seconds).constData(), stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const int status = run(argc, argv);
    // Qt's bus thread may still be reading a late message (the bus's
    // NameAcquired) when the process's statics, Qt's type registry among
    // them, are destroyed, and then warns of types it cannot construct. A
    // console has nothing to tidy at exit: what it wrote is flushed, and
    // it ends without running the statics' destructors.
    const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    std::fflush(stderr);
    if (!written && status == 0) {
        std::fprintf(stderr, "kvsystem2-ctl: cannot write the output: %s\n", std::strerror(errno));
        std::_Exit(1);
    }
    std::_Exit(status);
}
