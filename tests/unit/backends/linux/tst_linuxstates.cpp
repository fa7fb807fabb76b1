// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Thermal state, device mode, power requests and user activity on fake
// sysfs trees and a fake login manager.

#include "backends/linux/linuxbackend.h"
#include "backends/linux/poller.h"
#include "backendtesting.h"
#include "fakesysfs.h"

#include <QtTest>

using namespace Vorna::Backend;
using Vorna::KvSystemState;

class LinuxStatesTest : public QObject
{
    Q_OBJECT
private slots:
    void thermalStates_data();
    void thermalStates();
    void thermalChangeIsNotified();
    void deviceModes_data();
    void deviceModes();
    void powerRequests();
    void userActivity();
    void stalledMainThreadGetsOnePollNotABurst();
};

void LinuxStatesTest::thermalStates_data()
{
    QTest::addColumn<int>("machine");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<int>("expected");

    const int phone = FakeSysfs::Phone;
    const int desktop = FakeSysfs::Desktop;
    QTest::newRow("below the passive trip point") << phone << QStringList() << 0;
    QTest::newRow("at the passive trip point")
        << phone << QStringList { FakeSysfs::zone + "temp=60000" } << 1;
    QTest::newRow("at the critical trip point")
        << phone << QStringList { FakeSysfs::zone + "temp=90000" } << 2;
    QTest::newRow("at a hot trip point below the critical one")
        << phone
        << QStringList { FakeSysfs::zone + "trip_point_2_type=hot",
               FakeSysfs::zone + "trip_point_2_temp=80000", FakeSysfs::zone + "temp=81000" }
        << 2;
    QTest::newRow("active trip points start fans, not warnings")
        << phone
        << QStringList { FakeSysfs::zone + "trip_point_0_type=active",
               FakeSysfs::zone + "temp=61000" }
        << 0;
    QTest::newRow("unused trip point of 0 is ignored")
        << phone
        << QStringList { FakeSysfs::zone + "trip_point_0_temp=0", FakeSysfs::zone + "temp=61000" }
        << 0;
    QTest::newRow("without trip points: 69 degrees is normal")
        << desktop << QStringList { FakeSysfs::zone + "temp=69999" } << 0;
    QTest::newRow("without trip points: 70 degrees is a warning")
        << desktop << QStringList { FakeSysfs::zone + "temp=70000" } << 1;
    QTest::newRow("without trip points: 85 degrees is an alert")
        << desktop << QStringList { FakeSysfs::zone + "temp=85000" } << 2;
    QTest::newRow("the hottest zone decides")
        << desktop
        << QStringList { "class/thermal/thermal_zone1/temp=75000",
               "class/thermal/thermal_zone10/temp=30000" }
        << 1;
    QTest::newRow("an unreadable zone is left out")
        << desktop << QStringList { "class/thermal/thermal_zone1/temp=<unreadable>" } << 0;
    QTest::newRow("no temperature to read is an error")
        << desktop << QStringList { FakeSysfs::zone + "temp=hot" } << 3;
    QTest::newRow("no thermal zones is an error")
        << desktop << QStringList { "class/thermal=<absent>" } << 3;
}

void LinuxStatesTest::thermalStates()
{
    QFETCH(int, machine);
    QFETCH(QStringList, edits);
    QFETCH(int, expected);
    FakeSysfs tree { FakeSysfs::Machine(machine) };
    tree.apply(edits);
    LinuxBackend backend(options(tree));
    QCOMPARE(int(backend.thermal([](int) {})->get()), expected);
}

void LinuxStatesTest::thermalChangeIsNotified()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    QVector<int> changes;
    auto thermal = backend.thermal([&](int s) { changes << s; });
    tree.set(FakeSysfs::zone + "temp", "65000");
    QTRY_COMPARE_WITH_TIMEOUT(changes, QVector<int> { 1 }, waitMs);
    tree.set(FakeSysfs::zone + "temp", "95000");
    QTRY_COMPARE_WITH_TIMEOUT(changes, (QVector<int> { 1, 2 }), waitMs);
    thermal.reset();
    tree.set(FakeSysfs::zone + "temp", "20000");
    QCOMPARE(int(backend.thermal([](int) {})->get()), 0);
}

void LinuxStatesTest::deviceModes_data()
{
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<int>("expected");
    QTest::newRow("radio on") << QStringList() << 0;
    QTest::newRow("only radio soft-blocked") << QStringList { "class/rfkill/rfkill0/soft=1" } << 1;
    QTest::newRow("only radio hard-blocked") << QStringList { "class/rfkill/rfkill0/hard=1" } << 1;
    QTest::newRow("one of two radios blocked")
        << QStringList { "class/rfkill/rfkill0/soft=1", "class/rfkill/rfkill1/soft=0" } << 0;
    QTest::newRow("no radios") << QStringList { "class/rfkill=<absent>" } << 0;
}

void LinuxStatesTest::deviceModes()
{
    QFETCH(QStringList, edits);
    QFETCH(int, expected);
    FakeSysfs tree(FakeSysfs::Phone);
    tree.apply(edits);
    LinuxBackend backend(options(tree));
    QCOMPARE(int(backend.deviceMode([](int) {})->get()), expected);
}

void LinuxStatesTest::powerRequests()
{
    FakeSysfs tree(FakeSysfs::Phone);
    auto login = std::make_shared<FakeLogin>();
    {
        LinuxBackend backend(options(tree, login));
        std::unique_ptr<SystemStateSource> state = backend.systemState([](int) {});
        QVERIFY(!state->set(KvSystemState::Reboot));
        QVERIFY(!state->set(KvSystemState::Shutdown));
        QVERIFY(!state->set(KvSystemState::Powerup));
        QCOMPARE(login->requests, QStringList());
    }
    LinuxBackend backend(options(tree, login, true));
    std::unique_ptr<SystemStateSource> state = backend.systemState([](int) {});
    QVERIFY(state->set(KvSystemState::Reboot));
    QVERIFY(state->set(KvSystemState::Shutdown));
    QVERIFY(state->set(KvSystemState::Powerup));
    QVERIFY(!state->set(KvSystemState::NextState(3)));
    login->accept = false;
    QVERIFY(!state->set(KvSystemState::Reboot));
    QCOMPARE(login->requests, (QStringList { "reboot", "powerOff", "reboot" }));
}

void LinuxStatesTest::userActivity()
{
    FakeSysfs tree(FakeSysfs::Phone);
    auto login = std::make_shared<FakeLogin>();
    LinuxBackend backend(options(tree, login));
    QVector<int> changes;
    auto activity = backend.activity([&](int a) { changes << a; });
    QCOMPARE(int(activity->get()), 1); // no login manager to ask: active
    login->idle = true;
    QCOMPARE(int(activity->get()), 0);
    QTRY_COMPARE_WITH_TIMEOUT(changes, QVector<int> { 0 }, waitMs);
    login->idle = false;
    QTRY_COMPARE_WITH_TIMEOUT(changes, (QVector<int> { 0, 1 }), waitMs);

    LinuxBackend without(options(tree));
    QCOMPARE(int(without.activity([](int) {})->get()), 1);
}

void LinuxStatesTest::stalledMainThreadGetsOnePollNotABurst()
{
    // The state pollers run on the main thread. After it was busy for ten
    // periods, the poller polls once and goes on at its period; a second
    // poll can come only when the next period falls due just then.
    constexpr int periodMs = 20;
    int polls = 0;
    Poller poller(Delivery::MainThread, periodMs, [&] { ++polls; });
    // The polls of the first turn of the event loop that polls at all.
    const auto pollsOfOneTurn = [&] {
        const int before = polls;
        const QDeadlineTimer deadline(waitMs);
        while (polls == before && !deadline.hasExpired())
            QCoreApplication::processEvents();
        return polls - before;
    };
    poller.start();
    QCOMPARE(pollsOfOneTurn(), 1);
    QThread::msleep(10 * periodMs); // the main thread busy elsewhere
    const int afterStall = pollsOfOneTurn();
    QVERIFY2(afterStall == 1 || afterStall == 2, qPrintable(QString::number(afterStall)));
}

QTEST_GUILESS_MAIN(LinuxStatesTest)
#include "tst_linuxstates.moc"
