// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The shared handset on a private session bus: kvsystem2-handset, programs
// joined with KVSYSTEM_BACKEND=shared, and kvsystem2-ctl changing it.

#include "demoprocess.h"
#include "sessionbus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {

const QString serviceName = QStringLiteral("org.vorna.KvSystem2.Handset");

std::unique_ptr<DemoProcess> onBus(const QString &program, const QString &address)
{
    auto p = std::make_unique<DemoProcess>(program);
    p->setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    p->setEnvironment(QStringLiteral("KVSYSTEM_BACKEND"), QStringLiteral("shared"));
    return p;
}

struct Console
{
    int status;
    QByteArray out;
    QByteArray err;
};

Console console(const QString &address, const QStringList &arguments)
{
    const auto p = onBus(QStringLiteral("kvsystem2-ctl"), address);
    p->inputFromNullDevice();
    p->start(arguments);
    if (!p->waitForFinished())
        return { -1, {}, {} };
    return { p->exitCode(), p->output(), p->error() };
}

// The service, ready: it answers the console.
std::unique_ptr<DemoProcess> service(const QString &address, const QStringList &arguments = {})
{
    auto p = onBus(QStringLiteral("kvsystem2-handset"), address);
    p->start(arguments);
    const QDeadlineTimer deadline(DemoProcess::deadlineMs);
    while (p->isRunning() && console(address, { "show" }).status != 0 && !deadline.hasExpired())
        QTest::qWait(20);
    return p;
}

} // namespace

class TestHandset : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        bus = std::make_unique<SessionBus>();
        QVERIFY(!bus->address.isEmpty());
        handset = service(bus->address);
        QVERIFY2(handset->isRunning(), handset->error().constData());
        for (const QStringList &program :
            { QStringList { "lux-demo" }, QStringList { "posture-demo" },
                QStringList { "charge-recorder", "--interval=1", "--battery-pct", "--charger-type",
                    "--numerical" } }) {
            programs.push_back(onBus(program.first(), bus->address));
            programs.back()->start(program.mid(1));
        }
        QVERIFY(programs[0]->waitForOutput(" lux"));
        QVERIFY(programs[1]->waitForOutput("Face up"));
        QVERIFY(programs[2]->waitForOutput("CAPA_PCT"));
    }

    void cleanupTestCase()
    {
        programs.clear();
        handset.reset();
        bus.reset();
    }

    void consoleChangeReachesEveryProgram_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("program"); // lux-demo, posture-demo, charge-recorder
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("light at 300 lux")
            << QStringList { "light", "300" } << 0 << QByteArray("300 lux");
        QTest::newRow("light at its upper limit")
            << QStringList { "light", "1000000" } << 0 << QByteArray("1000000 lux");
        QTest::newRow("darkness") << QStringList { "light", "0" } << 0 << QByteArray("  0 lux");
        QTest::newRow("turned on its left side")
            << QStringList { "orientation", "left-up" } << 1 << QByteArray("Left up");
        QTest::newRow("turned face down")
            << QStringList { "orientation", "face-down" } << 1 << QByteArray("Face down");
        QTest::newRow("a USB charger plugged in")
            << QStringList { "charger", "usb" } << 2 << QByteArray(", 2, ");
        QTest::newRow("battery at 5 %")
            << QStringList { "battery", "5" } << 2 << QByteArray(", 2, 5\n");
        QTest::newRow("charger pulled out")
            << QStringList { "charger", "none" } << 2 << QByteArray(", 0, 5\n");
    }

    void consoleChangeReachesEveryProgram()
    {
        QFETCH(QStringList, command);
        QFETCH(int, program);
        QFETCH(QByteArray, shown);
        const Console c = console(bus->address, command);
        QCOMPARE(c.err, QByteArray());
        QCOMPARE(c.status, 0);
        QVERIFY2(programs[size_t(program)]->waitForOutput(shown),
            programs[size_t(program)]->output().right(200).constData());
        // What one console set, the next one shows.
        QVERIFY(console(bus->address, { "show" }).out.contains(command.join(' ').toUtf8() + '\n')
            || command.first() == "battery" || command.first() == "charger");
    }

    void hostileValuesAreRefused_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("not a number")
            << QStringList { "light", "nan" } << QByteArray("light: 'nan' is not a whole number");
        QTest::newRow("infinite") << QStringList { "light", "inf" }
                                  << QByteArray("light: 'inf' is not a whole number");
        QTest::newRow("a fraction")
            << QStringList { "light", "9.81" } << QByteArray("light: '9.81' is not a whole number");
        QTest::newRow("just above the lux limit") << QStringList { "light",
            "1000001" } << QByteArray("light: 1000001 is out of range (0 to 1000000)");
        QTest::newRow("below zero lux") << QStringList { "light", "-1" }
                                        << QByteArray("light: -1 is out of range (0 to 1000000)");
        QTest::newRow("beyond 32 bits") << QStringList { "light", "4294967296" }
                                        << QByteArray("light: '4294967296' is not a whole number");
        QTest::newRow("a battery above full") << QStringList { "battery",
            "101" } << QByteArray("battery: 101 is out of range (0 to 100)");
        QTest::newRow("a line end and an escape sequence") << QStringList { "light",
            "3\n\x1b[2J" } << QByteArray("light: '3\\n\\x1b[2J' is not a whole number");
        QTest::newRow("an unknown command")
            << QStringList { "lights", "3" } << QByteArray("unknown command 'lights'");
        QTest::newRow("an unknown side") << QStringList { "orientation", "up" }
                                         << QByteArray("orientation: 'up' is not one of SIDE");
        QTest::newRow("an unknown charger") << QStringList { "charger",
            "solar" } << QByteArray("charger: 'solar' is not one of none|wall|usb|usb-100ma|model");
        QTest::newRow("one argument too many") << QStringList { "proximity", "near",
            "far" } << QByteArray("proximity: 'far' is one argument too many");
        QTest::newRow("no value") << QStringList { "acceleration", "0", "0" }
                                  << QByteArray("acceleration: needs X_MG Y_MG Z_MG");
        QTest::newRow("nothing at all") << QStringList {} << QByteArray("no command given");
    }

    void hostileValuesAreRefused()
    {
        QFETCH(QStringList, command);
        QFETCH(QByteArray, message);
        const Console c = console(bus->address, command);
        QCOMPARE(c.status, 2);
        QCOMPARE(DemoProcess::lines(c.err).value(0), "kvsystem2-ctl: " + message);
    }

    // What arrives on the bus from elsewhere than the console is checked too.
    void serviceRefusesHostileMessages_data()
    {
        QTest::addColumn<QVariantList>("arguments");
        QTest::newRow("a name without numbers")
            << QVariantList { QStringList { "als" }, QVariant::fromValue(QList<int>()) };
        QTest::newRow("a value out of range")
            << QVariantList { QStringList { "proximity" }, QVariant::fromValue(QList<int> { 2 }) };
        QTest::newRow("numbers without a name")
            << QVariantList { QStringList {}, QVariant::fromValue(QList<int> { 2 }) };
        QTest::newRow("an unknown name with control characters")
            << QVariantList { QStringList { "als\n\x01" }, QVariant::fromValue(QList<int> { 2 }) };
        QTest::newRow("a value that only the service sets")
            << QVariantList { QStringList { "battery.clock" },
                   QVariant::fromValue(QList<int> { 2 }) };
        QTest::newRow("a number that is not finite")
            << QVariantList { QStringList { "als" }, QVariant(qQNaN()) };
        QTest::newRow("no arguments") << QVariantList {};
    }

    void serviceRefusesHostileMessages()
    {
        QFETCH(QVariantList, arguments);
#if defined(__SANITIZE_THREAD__)
        // A bus connection of the test's own starts Qt's bus thread in it,
        // and ThreadSanitizer's runtime cannot start the later programs
        // from a process forked beside that thread.
        QSKIP("ThreadSanitizer cannot fork the later programs beside the test's own bus thread");
#endif
        QDBusConnection peer = QDBusConnection::connectToBus(bus->address, QStringLiteral("peer"));
        QDBusMessage set = QDBusMessage::createMethodCall(serviceName,
            QStringLiteral("/org/vorna/KvSystem2/Handset"), serviceName, QStringLiteral("Set"));
        set.setArguments(arguments);
        const QDBusMessage reply = peer.call(set, QDBus::Block, 20000);
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName().startsWith(serviceName)
                || reply.errorName().contains("UnknownMethod"),
            true);
        QVERIFY(!reply.errorMessage().contains('\n'));
        QCOMPARE(console(bus->address, { "show" }).status, 0);
        QDBusConnection::disconnectFromBus(QStringLiteral("peer"));
    }

    void twoConsolesAtOnce()
    {
        std::vector<std::unique_ptr<DemoProcess>> consoles;
        for (int i = 0; i < 8; ++i) {
            consoles.push_back(onBus(QStringLiteral("kvsystem2-ctl"), bus->address));
            consoles.back()->inputFromNullDevice();
            consoles.back()->start({ "light", QString::number(100 + i % 2) });
        }
        for (const auto &c : consoles) {
            QVERIFY(c->waitForFinished());
            QCOMPARE(c->exitCode(), 0);
        }
        // The last change wins everywhere: the program shows what the service holds.
        const QByteArray shown = console(bus->address, { "show" }).out;
        const QByteArray last = shown.contains("light 100\n") ? "100 lux" : "101 lux";
        QVERIFY(shown.contains("light 100\n") || shown.contains("light 101\n"));
        QVERIFY(programs[0]->waitUntil([&](const QByteArray &out, const QByteArray &) {
            return out.mid(out.lastIndexOf('\r')).contains(last);
        }));
    }

    void onlyJoinedProgramsLoadDBusCode_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<bool>("loaded");
        QTest::newRow("on the virtual handset") << QString() << false;
        QTest::newRow("joined") << QStringLiteral("shared") << true;
    }

    void onlyJoinedProgramsLoadDBusCode()
    {
        QFETCH(QString, backend);
        QFETCH(bool, loaded);
        const auto p = onBus(QStringLiteral("near-demo"), bus->address);
        p->setEnvironment(QStringLiteral("KVSYSTEM_BACKEND"), backend);
        p->start();
        QVERIFY(p->waitUntil([](const QByteArray &out, const QByteArray &err) {
            return !out.isEmpty() || !err.isEmpty();
        }));
        QFile maps(QStringLiteral("/proc/%1/maps").arg(p->processId()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QCOMPARE(mapped.contains("DBus"), loaded);
        QCOMPARE(mapped.contains("kvsystem2/shared.so"), loaded);
    }

    void secondServiceIsRefused()
    {
        const auto second = onBus(QStringLiteral("kvsystem2-handset"), bus->address);
        second->start();
        QVERIFY(second->waitForFinished());
        QCOMPARE(second->exitCode(), 1);
        QCOMPARE(second->error(),
            QByteArray("kvsystem2-handset: another handset service runs on this session bus "
                       "(org.vorna.KvSystem2.Handset)\n"));
        QCOMPARE(console(bus->address, { "show" }).status, 0);
    }

    // The service goes away under the programs and comes back.
    void serviceCrashesWhileProgramsAreJoined()
    {
        QTemporaryDir dir;
        const QString recording = dir.filePath(QStringLiteral("run.json"));
        const auto recorded = onBus(QStringLiteral("lux-demo"), bus->address);
        recorded->setEnvironment(QStringLiteral("KVSYSTEM_RECORD"), recording);
        recorded->start();
        QCOMPARE(console(bus->address, { "light", "4321" }).status, 0);
        QVERIFY(recorded->waitForOutput("4321 lux"));

        ::kill(pid_t(handset->processId()), SIGKILL);
        QVERIFY(handset->waitForFinished());
        const QByteArray said = "kvsystem2: the handset service went away; the handset keeps "
                                "its last values\n";
        for (DemoProcess *p :
            { recorded.get(), programs[0].get(), programs[1].get(), programs[2].get() }) {
            QVERIFY(p->waitForError(said));
            QVERIFY(p->isRunning());
        }
        const Console none = console(bus->address, { "light", "5" });
        QCOMPARE(none.status, 1);
        QVERIFY(none.err.contains("start one with kvsystem2-handset"));

        // A new service: the programs take up its handset, and said it once.
        handset = service(bus->address);
        QCOMPARE(console(bus->address, { "light", "1234" }).status, 0);
        QVERIFY(recorded->waitForOutput("1234 lux"));
        QVERIFY(programs[0]->waitForOutput("1234 lux"));
        QCOMPARE(recorded->error(), said);
        recorded->write("\n");
        QVERIFY(recorded->waitForFinished());

        // The recording holds the session, without the service.
        DemoProcess replay(QStringLiteral("lux-demo"));
        replay.setEnvironment(QStringLiteral("KVSYSTEM_SCENARIO"), recording);
        replay.start();
        QVERIFY(replay.waitForOutput("1234 lux"));
        QVERIFY(replay.output().contains("4321 lux"));
    }

    void withoutBusOrName_data()
    {
        QTest::addColumn<QString>(
            "address"); // "": a bus without the service; "refuse": one that refuses the name
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("message");
        const QString none = QStringLiteral("unix:path=/nonexistent/bus");
        QTest::newRow("the console without a bus")
            << none << QStringList { "kvsystem2-ctl", "light", "3" } << 1
            << QByteArray("kvsystem2-ctl: no D-Bus session bus (");
        QTest::newRow("the service without a bus")
            << none << QStringList { "kvsystem2-handset" } << 1
            << QByteArray("kvsystem2-handset: no D-Bus session bus: ");
        QTest::newRow("a joined program without a bus")
            << none << QStringList { "lux-demo" } << 2
            << QByteArray("kvsystem2: KVSYSTEM_BACKEND=shared: no D-Bus session bus: ");
        QTest::newRow("the console without a service")
            << QString() << QStringList { "kvsystem2-ctl", "show" } << 1
            << QByteArray("kvsystem2-ctl: no handset service on the session bus (");
        QTest::newRow("a joined program without a service")
            << QString() << QStringList { "near-demo" } << 2
            << QByteArray("kvsystem2: KVSYSTEM_BACKEND=shared: no handset service on the session "
                          "bus (");
        QTest::newRow("a bus that refuses the name")
            << QStringLiteral("refuse") << QStringList { "kvsystem2-handset" } << 1
            << QByteArray("kvsystem2-handset: the session bus refused the name "
                          "org.vorna.KvSystem2.Handset: ");
    }

    void withoutBusOrName()
    {
        QFETCH(QString, address);
        QFETCH(QStringList, command);
        QFETCH(int, status);
        QFETCH(QByteArray, message);
        std::unique_ptr<SessionBus> own;
        if (address.isEmpty() || address == QLatin1String("refuse")) {
            own = std::make_unique<SessionBus>(address.isEmpty() ? QString() : serviceName);
            address = own->address;
        }
        const auto p = onBus(command.first(), address);
        p->inputFromNullDevice();
        p->start(command.mid(1));
        QVERIFY(p->waitForFinished());
        QCOMPARE(p->exitCode(), status);
        QVERIFY2(p->error().startsWith(message), p->error().constData());
        QVERIFY2(p->error().count('\n') == 1, p->error().constData());
        QCOMPARE(p->output(), QByteArray());
    }

    // Last: the timeline plays on.
    void programJoinsWhileAScenarioPlays()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("s.json")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray readings;
        for (int i = 0; i < 600; ++i)
            readings += QByteArray(i ? "," : "") + "{\"at\": " + QByteArray::number(i * 50)
                + ", \"value\": " + QByteArray::number(7000 + i) + "}";
        file.write("{\"als\": {\"readings\": [" + readings + "]}}");
        file.close();
        QCOMPARE(console(bus->address, { "play", file.fileName() }).status, 0);
        const auto late = onBus(QStringLiteral("lux-demo"), bus->address);
        late->start();
        QVERIFY(late->waitForOutput(" lux"));
        // Joined in the middle, it sees the timeline's values go on.
        QVERIFY(late->waitUntil([](const QByteArray &out, const QByteArray &) {
            return out.count("lux") >= 3 && out.contains("[ALS]: [");
        }));
        QVERIFY(late->output().contains(" 70"));
        QVERIFY(programs[0]->waitForOutput(" 70"));
        late->write("\n");
        QVERIFY(late->waitForFinished());
        QCOMPARE(late->exitCode(), 0);
        QCOMPARE(late->error(), QByteArray());
        // A file that is not a scenario is refused with its reason.
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{\"als\": {\"sesion\": 2}}");
        file.close();
        const Console refused = console(bus->address, { "play", file.fileName() });
        QCOMPARE(refused.status, 2);
        QCOMPARE(refused.err, QByteArray("kvsystem2-ctl: als.sesion: unknown key\n"));
    }

private:
    std::unique_ptr<SessionBus> bus;
    std::unique_ptr<DemoProcess> handset;
    std::vector<std::unique_ptr<DemoProcess>> programs;
};

QTEST_GUILESS_MAIN(TestHandset)
#include "tst_handset.moc"
