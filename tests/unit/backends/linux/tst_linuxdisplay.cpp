// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The display on fake sysfs trees: the state read from the backlight, the
// writes that dim and light it, and changes while a program runs.

#include "backends/linux/linuxbackend.h"
#include "backends/linux/linuxdisplay.h"
#include "backendtesting.h"
#include "fakesysfs.h"

#include <QtTest>

#include <sys/stat.h>

using namespace Vorna::Backend;
using Vorna::KvDisplayState;

namespace {

// The options of a user who allows the display to be changed.
LinuxBackend::Options allowed(const FakeSysfs &tree, std::shared_ptr<LoginManager> login = {})
{
    LinuxBackend::Options o = options(tree, std::move(login));
    o.allowDisplay = true;
    return o;
}

// What stands in the backlight's brightness file of the phone.
enum class Brightness { File, LinkToAnotherFile, Fifo, Directory };

} // namespace

Q_DECLARE_METATYPE(Brightness)

class LinuxDisplayTest : public QObject
{
    Q_OBJECT
private slots:
    void displayState_data();
    void displayState();
    void displayWrites();
    void displayWithoutBacklight();
    void displayChangeIsNotified();
    void refusedWrites_data();
    void refusedWrites();
    void brightnessThroughTheLoginManager_data();
    void brightnessThroughTheLoginManager();
    void loginManagerLoadedOnlyWhenNeeded();
};

void LinuxDisplayTest::displayState_data()
{
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<int>("expected");

    QTest::newRow("lit") << QStringList() << 1;
    QTest::newRow("powered down") << QStringList { FakeSysfs::panel + "bl_power=4" } << -1;
    QTest::newRow("brightness 0") << QStringList { FakeSysfs::panel + "brightness=0" } << -1;
    QTest::newRow("a tenth of full brightness is dimmed")
        << QStringList { FakeSysfs::panel + "brightness=25" } << 0;
    QTest::newRow("just above a tenth is on")
        << QStringList { FakeSysfs::panel + "brightness=26" } << 1;
    QTest::newRow("without bl_power")
        << QStringList { FakeSysfs::panel + "bl_power=<absent>" } << 1;
    QTest::newRow("unreadable brightness is taken as on")
        << QStringList { FakeSysfs::panel + "brightness=<unreadable>" } << 1;
}

void LinuxDisplayTest::displayState()
{
    QFETCH(QStringList, edits);
    QFETCH(int, expected);
    FakeSysfs tree(FakeSysfs::Phone);
    tree.apply(edits);
    LinuxBackend backend(options(tree));
    QCOMPARE(int(backend.display([](int) {})->get()), expected);
}

void LinuxDisplayTest::displayWrites()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(allowed(tree));
    std::unique_ptr<DisplaySource> display = backend.display([](int) {});

    QVERIFY(display->set(KvDisplayState::Dimmed));
    QCOMPARE(tree.get(FakeSysfs::panel + "brightness"), "25");
    QCOMPARE(int(display->get()), 0);
    QVERIFY(display->set(KvDisplayState::On));
    QCOMPARE(
        tree.get(FakeSysfs::panel + "brightness"), "200"); // back to where it was before dimming
    QVERIFY(display->set(KvDisplayState::Off));
    QCOMPARE(tree.get(FakeSysfs::panel + "bl_power"), "4");
    QCOMPARE(int(display->get()), -1);
    QVERIFY(display->set(KvDisplayState::On));
    QCOMPARE(tree.get(FakeSysfs::panel + "bl_power"), "0");
    QCOMPARE(tree.get(FakeSysfs::panel + "brightness"), "200");
    QVERIFY(!display->set(KvDisplayState::DisplayState(2)));

    display->setBrightness(1);
    QCOMPARE(tree.get(FakeSysfs::panel + "brightness"), "51");
    QCOMPARE(display->brightness(), 1);
    display->setBrightness(5);
    QCOMPARE(tree.get(FakeSysfs::panel + "brightness"), "255");
    QCOMPARE(display->brightness(), 5);
    display->setBrightness(0); // below the scale: its lowest level, never black
    QCOMPARE(tree.get(FakeSysfs::panel + "brightness"), "51");

    display->setDimTimeout(6);
    QCOMPARE(display->dimTimeout(), 6);
    QVERIFY(!display->setBlankingPause());

    // A write that the kernel refuses.
    tree.set(FakeSysfs::panel + "brightness", FakeSysfs::unreadable);
    QVERIFY(!display->set(KvDisplayState::Dimmed));
    display->setBrightness(3);
    QCOMPARE(display->brightness(), -1);
}

void LinuxDisplayTest::displayWithoutBacklight()
{
    FakeSysfs tree(FakeSysfs::Desktop);
    LinuxBackend backend(allowed(tree));
    std::unique_ptr<DisplaySource> display = backend.display([](int) {});
    QCOMPARE(int(display->get()), 1);
    QVERIFY(!display->set(KvDisplayState::Dimmed));
    QVERIFY(!display->set(KvDisplayState::On));
    display->setBrightness(3);
    QCOMPARE(display->brightness(), -1);
    QCOMPARE(display->dimTimeout(), 30);
}

void LinuxDisplayTest::displayChangeIsNotified()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    QVector<int> changes;
    std::unique_ptr<DisplaySource> display = backend.display([&](int s) { changes << s; });
    tree.set(FakeSysfs::panel + "bl_power", "4");
    QTRY_COMPARE_WITH_TIMEOUT(changes, QVector<int> { -1 }, waitMs);
    tree.set(FakeSysfs::panel + "bl_power", "0");
    QTRY_COMPARE_WITH_TIMEOUT(changes, (QVector<int> { -1, 1 }), waitMs);
}

void LinuxDisplayTest::refusedWrites_data()
{
    QTest::addColumn<bool>("allow");
    QTest::addColumn<Brightness>("brightness");

    QTest::newRow("display changes not allowed: nothing is written")
        << false << Brightness::File;
    QTest::newRow("brightness a link to another file: refused, that file untouched")
        << true << Brightness::LinkToAnotherFile;
    QTest::newRow("brightness a FIFO: refused without waiting for a reader")
        << true << Brightness::Fifo;
}

void LinuxDisplayTest::refusedWrites()
{
    QFETCH(bool, allow);
    QFETCH(Brightness, brightness);

    FakeSysfs tree(FakeSysfs::Phone);
    const QString file = tree.root() + "/" + FakeSysfs::panel + "brightness";
    const QString other = tree.root() + "/private";
    tree.set("private", "a file of someone else's, longer than a brightness");
    if (brightness == Brightness::LinkToAnotherFile) {
        QFile::remove(file);
        QVERIFY(QFile::link(other, file));
    } else if (brightness == Brightness::Fifo) {
        QFile::remove(file);
        QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    }
    LinuxBackend::Options o = options(tree);
    o.allowDisplay = allow;
    LinuxBackend backend(o);
    std::unique_ptr<DisplaySource> display = backend.display([](int) {});

    QVERIFY(!display->set(KvDisplayState::Dimmed));
    display->setBrightness(1);
    QCOMPARE(display->set(KvDisplayState::Off), allow); // bl_power, a plain file, takes it
    QCOMPARE(tree.get("private"), "a file of someone else's, longer than a brightness");
    QCOMPARE(tree.get(FakeSysfs::panel + "bl_power"), allow ? "4" : "0");
    if (brightness == Brightness::File)
        QCOMPARE(tree.get(FakeSysfs::panel + "brightness"), "200");
}

void LinuxDisplayTest::brightnessThroughTheLoginManager_data()
{
    QTest::addColumn<bool>("throughLogin");
    QTest::addColumn<QStringList>("requests");

    // A directory in its place: a file that cannot be opened for writing,
    // as the brightness is for a user without root rights.
    QTest::newRow("brightness file not writable: the login manager sets it")
        << true
        << QStringList { "setBrightness backlight panel 51", "setBrightness backlight panel 25" };
    QTest::newRow("a tree that is not the machine's /sys: the login manager is not asked")
        << false << QStringList();
}

void LinuxDisplayTest::brightnessThroughTheLoginManager()
{
    QFETCH(bool, throughLogin);
    QFETCH(QStringList, requests);

    FakeSysfs tree(FakeSysfs::Phone);
    tree.set(FakeSysfs::panel + "brightness", FakeSysfs::unreadable);
    auto login = std::make_shared<FakeLogin>();
    LinuxBackend::Options o = allowed(tree, login);
    o.brightnessThroughLogin = throughLogin;
    LinuxBackend backend(o);
    std::unique_ptr<DisplaySource> display = backend.display([](int) {});
    display->setBrightness(1);
    QCOMPARE(display->set(KvDisplayState::Dimmed), throughLogin);
    QCOMPARE(login->requests, requests);
}

void LinuxDisplayTest::loginManagerLoadedOnlyWhenNeeded()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend::Options o = allowed(tree);
    o.brightnessThroughLogin = true;
    int made = 0;
    o.makeLogin = [&made] {
        ++made;
        return std::make_shared<FakeLogin>();
    };
    LinuxBackend backend(o);
    // A battery, a sensor, a display whose file takes the writes and power
    // requests that are not allowed need no login manager.
    backend.battery()->read(BatteryValue::Voltage, Vorna::KvBattery::NormalMode);
    backend.sensor(Sensor::Als, [](const Sample &) {});
    std::unique_ptr<DisplaySource> display = backend.display([](int) {});
    display->setBrightness(2);
    QVERIFY(!backend.systemState([](int) {})->set(Vorna::KvSystemState::Reboot));
    QCOMPARE(made, 0);
    // The user's activity does, once.
    backend.activity([](int) {});
    backend.activity([](int) {});
    QCOMPARE(made, 1);
}

QTEST_GUILESS_MAIN(LinuxDisplayTest)
#include "tst_linuxdisplay.moc"
