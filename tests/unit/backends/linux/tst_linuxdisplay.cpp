// The display on fake sysfs trees: the state read from the backlight, the
// writes that dim and light it, and changes while a program runs.

#include "backends/linux/linuxbackend.h"
#include "backends/linux/linuxdisplay.h"
#include "backendtesting.h"
#include "fakesysfs.h"

#include <QtTest>

using namespace Vorna::Backend;
using Vorna::KvDisplayState;

class LinuxDisplayTest : public QObject
{
    Q_OBJECT
private slots:
    void displayState_data();
    void displayState();
    void displayWrites();
    void displayWithoutBacklight();
    void displayChangeIsNotified();
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
    LinuxBackend backend(options(tree));
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
    LinuxBackend backend(options(tree));
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

QTEST_GUILESS_MAIN(LinuxDisplayTest)
#include "tst_linuxdisplay.moc"
