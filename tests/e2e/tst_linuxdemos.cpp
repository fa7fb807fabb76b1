// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The sensor demos on the Linux backend, reading a fake sysfs tree: a
// phone streams its readings and the changes written into the tree while
// the demo runs; a desktop refuses the sensors cleanly; the backend is
// chosen from the environment.

#include "demoprocess.h"
#include "fakesysfs.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <unistd.h>

class LinuxDemos : public QObject
{
    Q_OBJECT
private slots:
    void phoneStreamsChanges_data();
    void phoneStreamsChanges();
    void everySensorDemoStreamsFromThePhone_data();
    void everySensorDemoStreamsFromThePhone();
    void sensorsTheMachineLacks_data();
    void sensorsTheMachineLacks();
    void recorderOnThePhone();
    void recorderWithoutBattery();
    void recorderWhileTheBatteryVanishes();
    void probe_data();
    void probe();
    void stateDemosOnThePhone_data();
    void stateDemosOnThePhone();
    void screenDemoChangesTheDisplayOnlyWhenAllowed_data();
    void screenDemoChangesTheDisplayOnlyWhenAllowed();
    void fifoInTheTreeBlocksNothing_data();
    void fifoInTheTreeBlocksNothing();
    void recorderLoadsNoDBus();
    void unknownBackend();
    void sysfsRootThatIsNoDirectory();
    void sysfsRootThatIsNotUtf8_data();
    void sysfsRootThatIsNotUtf8();
    void scenarioWinsOverTheBackend();
    void virtualBackendByName();
};

namespace {

void useLinux(DemoProcess &demo, const FakeSysfs &tree)
{
    demo.setEnvironment("KVSYSTEM_BACKEND", "linux");
    demo.setEnvironment("KVSYSTEM_SYSFS_ROOT", tree.root());
}

QStringList trace(const QString &cls, int session, bool started)
{
    return { cls + "::" + cls + "(client)",
        cls + "::requestSession(2) = " + QString::number(session),
        cls + "::start() = " + (started ? "true" : "false"), cls + "::stop()",
        cls + "::~" + cls + "()" };
}

} // namespace

void LinuxDemos::phoneStreamsChanges_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("cls");

    QTest::newRow("light level, then the light turned up")
        << "lux-demo" << FakeSysfs::light + "in_illuminance_raw" << QByteArray("617")
        << R"(\r\[ALS\]: \[\d+\] 300 lux)"
        << R"(\r\[ALS\]: \[\d+\] 1234 lux)"
        << "KvALS";
    QTest::newRow("proximity, then a hand over the sensor")
        << "near-demo" << FakeSysfs::light + "in_proximity_raw" << QByteArray("873")
        << R"(\r\[Proximity\]: \[\d+\]   0 \n)"
        << R"(\r\[Proximity\]: \[\d+\] 873 \n)"
        << "KvProximity";
}

void LinuxDemos::phoneStreamsChanges()
{
    QFETCH(QString, program);
    QFETCH(QString, file);
    QFETCH(QByteArray, value);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, cls);

    FakeSysfs tree(FakeSysfs::Phone);
    DemoProcess demo(program);
    useLinux(demo, tree);
    demo.start();
    QVERIFY2(demo.waitUntil(
                 [](const QByteArray &out, const QByteArray &) { return out.contains("\r["); }),
        demo.error().constData());
    tree.set(file, value);
    QVERIFY(demo.waitUntil(
        [](const QByteArray &out, const QByteArray &) { return out.count("\r[") >= 2; }));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());

    // Readings come on change only: one before the edit, one after.
    const QString out = QString::fromLatin1(demo.output());
    QVERIFY2(QRegularExpression("^" + first + second + "exiting\\.\\.$").match(out).hasMatch(),
        qPrintable(out));
    QCOMPARE(demo.error(), QByteArray());
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace(), trace(cls, 2, true));
}

void LinuxDemos::everySensorDemoStreamsFromThePhone_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("readings");

    // The phone lies face up, its top edge to magnetic north.
    QTest::newRow("orientation") << "posture-demo"
                                 << R"(\r\[Orientation\]: \[\d+\] Face up)";
    QTest::newRow("rotation") << "tilt-demo"
                              << R"(Starting sensor \n(\r \[\d+\]: \(0, 0, 0\) +){2})";
    QTest::newRow("magnetometer")
        << "flux-demo"
        << R"(Starting sensor \n(Timestamp        : \d+\nCalibrationLevel : 0\nCalibrated values: 0 20000 -40000\n)"
           R"(Raw values       : 0 20000 -40000\n------\n){2})";
    QTest::newRow("compass") << "heading-demo"
                             << R"((Compass changed: \[ \d+ \] 0 --> 0 \n){2})";
    QTest::newRow("accelerometer") << "motion-demo"
                                   << R"((Time: \d+ X:  0 Y:  0 Z:  -1000 \n){2})";
}

void LinuxDemos::everySensorDemoStreamsFromThePhone()
{
    QFETCH(QString, program);
    QFETCH(QString, readings);

    FakeSysfs tree(FakeSysfs::Phone);
    DemoProcess demo(program);
    useLinux(demo, tree);
    demo.mergeChannels();
    demo.start();
    const QRegularExpression pattern(readings);
    QVERIFY2(demo.waitUntil([&](const QByteArray &out, const QByteArray &) {
        return pattern.match(QString::fromLatin1(out)).hasMatch();
    }),
        demo.output().constData());
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.exitCode(), 0);
}

void LinuxDemos::sensorsTheMachineLacks_data()
{
    QTest::addColumn<int>("machine");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("cls");

    QTest::newRow("desktop without a light sensor") << int(FakeSysfs::Desktop) << "lux-demo"
                                                    << "KvALS";
    QTest::newRow("desktop without a proximity sensor") << int(FakeSysfs::Desktop) << "near-demo"
                                                        << "KvProximity";
    QTest::newRow("phone whose kernel reports no taps") << int(FakeSysfs::Phone) << "knock-demo"
                                                        << "KvTap";
}

void LinuxDemos::sensorsTheMachineLacks()
{
    QFETCH(int, machine);
    QFETCH(QString, program);
    QFETCH(QString, cls);

    FakeSysfs tree { FakeSysfs::Machine(machine) };
    DemoProcess demo(program);
    useLinux(demo, tree);
    demo.start();
    QVERIFY(demo.waitForTrace(cls + "::start() = false"));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.output(), QByteArray("exiting.."));
    QCOMPARE(demo.error(), QByteArray());
    QCOMPARE(demo.exitCode(), 0);
    QCOMPARE(demo.trace(), trace(cls, 0, false));
}

void LinuxDemos::recorderOnThePhone()
{
    FakeSysfs tree { FakeSysfs::Phone };
    DemoProcess recorder("charge-recorder");
    useLinux(recorder, tree);
    recorder.start({ "--numerical", "--charger-type", "--charging-state", "--battery-state",
        "--battery-pct", "--battery-mah", "--battery-voltage", "--battery-current",
        "--battery-avg-current", "--coulomb-counter" });
    QVERIFY(recorder.waitUntil(
        [](const QByteArray &out, const QByteArray &) { return out.count('\n') >= 2; }));
    recorder.interrupt();

    const QStringList lines = DemoProcess::lines(recorder.output());
    QCOMPARE(lines.value(0),
        QString("TIME, CHARGER_TYPE, CHARGING_STATE, BATTERY_STATE, CAPA_PCT, CAPA_MAH, VOLTAGE, "
                "BATTERY_CURRENT, BATTERY_AVG_CURRENT, COULOMB_COUNTER"));
    // No charger online, discharging, health good at a normal level; µV, µA
    // and µAh become mV, mA and mAh; the charge counter in µAh becomes mA·s,
    // so the coulomb counter reads mAh again. The first row's average is the
    // current itself.
    const QStringList cells = lines.value(1).split(", ");
    QCOMPARE(
        cells.mid(1), QStringList({ "0", "0", "2", "76", "1003", "3912", "-254", "-254", "1003" }));
    QCOMPARE(recorder.error(), QByteArray());
}

void LinuxDemos::recorderWithoutBattery()
{
    // A desktop: one warning naming the directory, however many rows follow,
    // and every battery value the no-value marker, never a 0 that reads as
    // a measurement.
    FakeSysfs tree { FakeSysfs::Desktop };
    DemoProcess recorder("charge-recorder");
    useLinux(recorder, tree);
    recorder.start({ "--interval=1", "--battery-pct", "--battery-voltage", "--battery-avg-current",
        "--coulomb-counter" });
    QVERIFY(recorder.waitUntil(
        [](const QByteArray &out, const QByteArray &) { return out.count('\n') >= 3; }));
    recorder.interrupt();

    const QStringList lines = DemoProcess::lines(recorder.output());
    QCOMPARE(
        lines.value(0), QString("TIME, CAPA_PCT, VOLTAGE, BATTERY_AVG_CURRENT, COULOMB_COUNTER"));
    QVERIFY2(lines.value(1).endsWith(", -1, -1, -1, -596523"), qPrintable(lines.value(1)));
    QVERIFY2(lines.value(2).endsWith(", -1, -1, -1, -596523"), qPrintable(lines.value(2)));
    QCOMPARE(recorder.error(),
        "kvsystem2: no battery in " + QFile::encodeName(tree.root())
            + "/class/power_supply: battery values read -1 (no value)\n");
}

void LinuxDemos::recorderWhileTheBatteryVanishes()
{
    // The pack is out for one row (a driver reload): that row reads no
    // value, and no average current is computed across the counter that
    // was missing: the row after it writes the momentary current, as a
    // first row does, and the next one the average again.
    FakeSysfs tree { FakeSysfs::Phone };
    const QStringList battery = FakeSysfs::phone().filter(FakeSysfs::battery);
    DemoProcess recorder("charge-recorder");
    useLinux(recorder, tree);
    recorder.start(
        { "--interval=1", "--battery-pct", "--battery-avg-current", "--coulomb-counter" });
    const auto rows = [&](int n) {
        return recorder.waitUntil(
            [n](const QByteArray &out, const QByteArray &) { return out.count('\n') >= n + 1; });
    };
    QVERIFY(rows(1));
    tree.set("class/power_supply/battery", FakeSysfs::absent);
    QVERIFY(rows(2));
    tree.apply(battery);
    QVERIFY(rows(4));
    recorder.interrupt();

    const QStringList lines = DemoProcess::lines(recorder.output());
    QStringList values;
    for (int i = 1; i <= 4; ++i)
        values << lines.value(i).section(", ", 1);
    QCOMPARE(
        values, QStringList({ "76, -254, 1003", "-1, -1, -596523", "76, -254, 1003", "76, 0, 1003" }));
    QCOMPARE(recorder.error(), QByteArray());
}

void LinuxDemos::probe_data()
{
    QTest::addColumn<int>("machine");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("the phone: its battery, charger and every sensor but taps")
        << int(FakeSysfs::Phone) << QStringList()
        << QStringList { "=== Power supplies in %1/class/power_supply",
               "    battery: system battery, counts charge (µAh), current from current_now (µA)",
               "    usb: charger (USB: USB), offline",
               "=== Has battery: battery (design voltage 3.912 V)",
               "    76 %, 1003 mAh, 3912 mV, -254 mA, charger type 0, charging state 0, battery "
               "state 2, 14215 s left, -60 s to full",
               "=== Has KvALS: %1/bus/iio/devices/iio:device0 (now 300)",
               "=== Has KvProximity: %1/bus/iio/devices/iio:device0 (now 0)",
               "=== No KvTap: no tap sensor: the kernel's IIO devices report no taps to read",
               "=== Has KvOrientation: %1/bus/iio/devices/iio:device1 (now 6)",
               "=== Has KvRotation: %1/bus/iio/devices/iio:device1 and "
               "%1/bus/iio/devices/iio:device2 (now 0 0 0)",
               "=== Has KvMagnetometer: %1/bus/iio/devices/iio:device2 (now 0 20000 -40000 0 "
               "20000 -40000 0)",
               "=== Has KvCompass: %1/bus/iio/devices/iio:device1 and "
               "%1/bus/iio/devices/iio:device2 (now 0 0)",
               "=== Has KvAccelerometer: %1/bus/iio/devices/iio:device1 (now 0 0 -1000)",
               "=== Has backlight: %1/class/backlight/panel",
               "=== KvThermal state Normal (0), KvDeviceMode Normal (0)", "" };
    QTest::newRow("a desktop with a mouse: the mouse's battery is passed over")
        << int(FakeSysfs::Desktop)
        << QStringList { "class/power_supply/mouse/type=Battery",
               "class/power_supply/mouse/scope=Device" }
        << QStringList { "=== Power supplies in %1/class/power_supply",
               "    AC: charger (Mains: wall), online",
               "    mouse: passed over: a device's own battery (scope Device), not the machine's",
               "=== No battery: every battery value reads -1 (no value)" };
    QTest::newRow("a supply named with control characters is listed escaped, on one line")
        << int(FakeSysfs::Desktop)
        << QStringList { "class/power_supply/ups\x1b[2J\rfine\n/type=Mains" }
        << QStringList { "=== Power supplies in %1/class/power_supply",
               "    AC: charger (Mains: wall), online",
               "    ups\\x1b[2J\\rfine\\n: charger (Mains: wall), offline" };
    QTest::newRow("supplies in the kernel's order: BAT2 before BAT10")
        << int(FakeSysfs::Desktop)
        << QStringList { "class/power_supply/BAT10/type=Mains", "class/power_supply/BAT2/type=Mains" }
        << QStringList { "=== Power supplies in %1/class/power_supply",
               "    AC: charger (Mains: wall), online", "    BAT2: charger (Mains: wall), offline",
               "    BAT10: charger (Mains: wall), offline" };
    QTest::newRow("a zone past its critical trip point is named in words")
        << int(FakeSysfs::Phone) << QStringList { FakeSysfs::zone + "temp=95000" }
        << QStringList { "=== KvThermal state Alert (2), KvDeviceMode Normal (0)" };
}

void LinuxDemos::probe()
{
    QFETCH(int, machine);
    QFETCH(QStringList, edits);
    QFETCH(QStringList, expected);

    FakeSysfs tree { FakeSysfs::Machine(machine) };
    tree.apply(edits);
    DemoProcess probe("kvsystem2-probe");
    useLinux(probe, tree);
    probe.start();
    QVERIFY(probe.waitForFinished());
    QCOMPARE(probe.exitCode(), 0);
    for (QString &line : expected)
        line.replace("%1", tree.root());
    QStringList lines = QString::fromUtf8(probe.output()).split('\n');
    // A row about the state line compares that line only.
    if (expected.first().startsWith("=== KvThermal"))
        lines = lines.filter(QRegularExpression("^=== KvThermal"));
    QCOMPARE(lines.mid(0, expected.size()), expected);
}

void LinuxDemos::stateDemosOnThePhone_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("messages");
    // The backlight at 200 of 255 is on; the battery zone at 38 °C is below
    // its first trip point; no login manager answers here, so the user is active.
    QTest::newRow("display state from the backlight")
        << "screen-demo" << QByteArray("* TEST 1 'DisplayState get() - Screen status: \n  On \n");
    QTest::newRow("thermal state from the thermal zone")
        << "heat-demo"
        << QByteArray("Getting thermal state 0 \nListening for thermal changes... \n");
    QTest::newRow("activity without a login manager")
        << "idle-demo" << QByteArray("TEST1. get \nActive \n");
}

void LinuxDemos::stateDemosOnThePhone()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, messages);

    FakeSysfs tree { FakeSysfs::Phone };
    DemoProcess demo(program);
    useLinux(demo, tree);
    demo.start();
    QVERIFY2(demo.waitForError(messages), demo.error().constData());
    QVERIFY(demo.isRunning());
    demo.interrupt();
    QVERIFY2(demo.error().startsWith(messages), demo.error().constData());
}

void LinuxDemos::screenDemoChangesTheDisplayOnlyWhenAllowed_data()
{
    QTest::addColumn<QString>("allow");
    QTest::addColumn<QByteArray>("dimmed");
    QTest::addColumn<QByteArray>("on");
    QTest::addColumn<QByteArray>("level");
    QTest::addColumn<QByteArray>("brightness");

    // The backlight at 200 of 255 is level 4 of 5; level 1 is 51.
    QTest::newRow("without KVSYSTEM_ALLOW_DISPLAY every set is refused and nothing changes")
        << "" << QByteArray("false") << QByteArray("false") << QByteArray("4")
        << QByteArray("200");
    QTest::newRow("KVSYSTEM_ALLOW_DISPLAY=0 is no permission either")
        << "0" << QByteArray("false") << QByteArray("false") << QByteArray("4")
        << QByteArray("200");
    QTest::newRow("KVSYSTEM_ALLOW_DISPLAY=1 dims, lights and sets level 1")
        << "1" << QByteArray("true") << QByteArray("true") << QByteArray("1") << QByteArray("51");
}

void LinuxDemos::screenDemoChangesTheDisplayOnlyWhenAllowed()
{
    QFETCH(QString, allow);
    QFETCH(QByteArray, dimmed);
    QFETCH(QByteArray, on);
    QFETCH(QByteArray, level);
    QFETCH(QByteArray, brightness);

    FakeSysfs tree { FakeSysfs::Phone };
    DemoProcess demo("screen-demo");
    useLinux(demo, tree);
    demo.setEnvironment("KVSYSTEM_ALLOW_DISPLAY", allow);
    demo.start();
    const QByteArray last = "* TEST 4. Listening for display status changes... \n";
    QVERIFY2(demo.waitForError(last), demo.error().constData());
    demo.interrupt();
    QCOMPARE(DemoProcess::lines(demo.error()),
        DemoProcess::lines("* TEST 1 'DisplayState get() - Screen status: \n  On \n"
                           "* TEST 2. set(DisplayState state) - Setting display to: \n"
                           "- Dimmed:  " + dimmed + " \n- On:  " + on + " \n"
                           "setbrightnessvalue(1) \ngetbrightnessvalue() " + level + " \n"
                           "setDisplayDimTimeout(6) \ngetDisplayDimTimeout() 6 \n"
                           "* TEST 3. bool setBlankingPause(void) - method called with success:  false \n"
                           + last));
    QCOMPARE(tree.get(FakeSysfs::panel + "brightness"), brightness);
}

void LinuxDemos::fifoInTheTreeBlocksNothing_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("text");

    // A FIFO is no attribute: it counts as missing instead of blocking the
    // program in its open.
    QTest::newRow("lux-demo: the light counts a FIFO, Enter still ends it")
        << "lux-demo" << FakeSysfs::light + "in_illuminance_raw" << QByteArray("exiting..");
    QTest::newRow("screen-demo: the brightness a FIFO, taken as on")
        << "screen-demo" << FakeSysfs::panel + "brightness"
        << QByteArray("* TEST 1 'DisplayState get() - Screen status: \n  On \n");
    QTest::newRow("heat-demo: the zone's temperature a FIFO, no zone to read")
        << "heat-demo" << FakeSysfs::zone + "temp" << QByteArray("Getting thermal state 3 \n");
    QTest::newRow("charge-recorder: the battery's voltage a FIFO, rows go on")
        << "charge-recorder" << FakeSysfs::battery + "voltage_now"
        << QByteArray("TIME, CHARGER_TYPE");
}

void LinuxDemos::fifoInTheTreeBlocksNothing()
{
    QFETCH(QString, program);
    QFETCH(QString, file);
    QFETCH(QByteArray, text);

    FakeSysfs tree(FakeSysfs::Phone);
    tree.set(file, FakeSysfs::fifo);
    DemoProcess demo(program);
    useLinux(demo, tree);
    demo.start();
    if (program == "lux-demo") {
        QVERIFY(demo.waitForTrace("KvALS::start() = false"));
        demo.write("\n");
        QVERIFY(demo.waitForFinished());
        QCOMPARE(demo.exitCode(), 0);
    } else {
        QVERIFY(demo.waitUntil([&](const QByteArray &out, const QByteArray &err) {
            return out.contains(text) || err.contains(text);
        }));
        if (program == "charge-recorder")
            QVERIFY(demo.waitUntil(
                [](const QByteArray &out, const QByteArray &) { return out.count('\n') >= 2; }));
        QVERIFY(demo.isRunning());
        demo.interrupt();
    }
    QVERIFY2(demo.output().contains(text) || demo.error().contains(text),
        (demo.output() + demo.error()).constData());
}

void LinuxDemos::recorderLoadsNoDBus()
{
    // The login manager's module, and Qt's D-Bus below it, are loaded when
    // a class needs them: the battery never does.
    FakeSysfs tree { FakeSysfs::Phone };
    DemoProcess recorder("charge-recorder");
    useLinux(recorder, tree);
    recorder.start({ "--battery-pct" });
    QVERIFY(recorder.waitUntil(
        [](const QByteArray &out, const QByteArray &) { return out.count('\n') >= 2; }));
    QFile maps(QStringLiteral("/proc/%1/maps").arg(recorder.processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    recorder.interrupt();
    QVERIFY(mapped.contains("libkvsystem2.so"));
    QVERIFY2(!mapped.contains("logind.so"), mapped.constData());
    QVERIFY2(!mapped.contains("DBus"), mapped.constData());
}

void LinuxDemos::unknownBackend()
{
    DemoProcess demo("lux-demo");
    demo.setEnvironment("KVSYSTEM_BACKEND", "Linux");
    demo.start();
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.output(), QByteArray());
    QCOMPARE(DemoProcess::lines(demo.error()),
        DemoProcess::lines("kvsystem2: unknown backend 'Linux'\n"));
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), 2);
    QCOMPARE(demo.trace(), QStringList());
}

void LinuxDemos::sysfsRootThatIsNoDirectory()
{
    FakeSysfs tree(FakeSysfs::Phone);
    const QString root = tree.root() + "/missing";
    DemoProcess demo("near-demo");
    demo.setEnvironment("KVSYSTEM_BACKEND", "linux");
    demo.setEnvironment("KVSYSTEM_SYSFS_ROOT", root);
    demo.start();
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.output(), QByteArray());
    QCOMPARE(DemoProcess::lines(demo.error()),
        DemoProcess::lines(
            "kvsystem2: KVSYSTEM_SYSFS_ROOT: " + root.toLocal8Bit() + ": not a directory\n"));
    QCOMPARE(demo.exitCode(), 2);
}

void LinuxDemos::sysfsRootThatIsNotUtf8_data()
{
    QTest::addColumn<QByteArray>("name"); // as the shell's printf writes it
    QTest::addColumn<QByteArray>("error");

    // The phone's battery zone at 38 °C, read through a root whose name
    // holds a byte that is not UTF-8.
    QTest::newRow("the tree is found")
        << QByteArray(R"(tree\377)") << QByteArray();
    QTest::newRow("a missing one is named with the byte escaped")
        << QByteArray(R"(missing\377)")
        << QByteArray(R"(kvsystem2: KVSYSTEM_SYSFS_ROOT: %1/missing\xff: not a directory)" "\n");
}

void LinuxDemos::sysfsRootThatIsNotUtf8()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, error);

    FakeSysfs tree(FakeSysfs::Phone);
    QTemporaryDir dir;
    const QByteArray link = QFile::encodeName(dir.path()) + "/tree\xff";
    QCOMPARE(::symlink(QFile::encodeName(tree.root()).constData(), link.constData()), 0);
    // QTemporaryDir cannot remove a name that is not UTF-8: it goes first.
    const auto removeLink = qScopeGuard([&link] { ::unlink(link.constData()); });
    QProcess demo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KVSYSTEM_BACKEND", "linux");
    env.remove("KVSYSTEM_SCENARIO");
    env.remove("KVSYSTEM_TRACE");
    demo.setProcessEnvironment(env);
    demo.setProgram("/bin/sh");
    demo.setArguments({ "-c",
        R"sh(KVSYSTEM_SYSFS_ROOT="$(printf "%s/$2" "$1")" exec "$0")sh",
        DemoProcess("heat-demo").programPath(), dir.path(), QString::fromLatin1(name) });
    demo.start();
    if (error.isEmpty()) {
        QDeadlineTimer deadline(DemoProcess::deadlineMs);
        QByteArray err;
        while (!err.contains("Getting thermal state") && !deadline.hasExpired()) {
            demo.waitForReadyRead(100);
            err += demo.readAllStandardError();
        }
        demo.kill();
        demo.waitForFinished(DemoProcess::deadlineMs);
        QVERIFY2(err.startsWith("Getting thermal state 0 \n"), err.constData());
    } else {
        QVERIFY(demo.waitForFinished(DemoProcess::deadlineMs));
        QCOMPARE(QString::fromUtf8(demo.readAllStandardError()),
            QString::fromUtf8(error).arg(dir.path()));
        QCOMPARE(demo.exitCode(), 2);
    }
}

void LinuxDemos::scenarioWinsOverTheBackend()
{
    FakeSysfs tree(FakeSysfs::Phone);
    DemoProcess demo("lux-demo");
    useLinux(demo, tree);
    demo.setScenario(R"({"als": {"readings": [{"timestamp": 1234, "value": 5}]}})");
    demo.start();
    QVERIFY(demo.waitForOutput("\r[ALS]: [1234]   5 lux"));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(
        DemoProcess::lines(demo.output()), DemoProcess::lines("\r[ALS]: [1234]   5 luxexiting.."));
    QCOMPARE(demo.exitCode(), 0);
}

void LinuxDemos::virtualBackendByName()
{
    DemoProcess demo("knock-demo");
    demo.setEnvironment("KVSYSTEM_BACKEND", "virtual");
    demo.start();
    QVERIFY(demo.waitUntil(
        [](const QByteArray &out, const QByteArray &) { return out.contains("\r[Tap]"); }));
    demo.write("\n");
    QVERIFY(demo.waitForFinished());
    QCOMPARE(demo.error(), QByteArray());
    QCOMPARE(demo.exitCode(), 0);
}

QTEST_GUILESS_MAIN(LinuxDemos)
#include "tst_linuxdemos.moc"
