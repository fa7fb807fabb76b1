// The battery on fake sysfs trees: what each getter reads from the power
// supply class, and a machine without a battery.

#include "backends/linux/linuxbackend.h"
#include "backends/linux/linuxbattery.h"
#include "backendtesting.h"
#include "fakesysfs.h"

#include <QtTest>

using namespace Vorna::Backend;

Q_DECLARE_METATYPE(Vorna::Backend::BatteryValue)

class LinuxBatteryTest : public QObject
{
    Q_OBJECT
private slots:
    void batteryValues_data();
    void batteryValues();
    void noBatteryReadsZeroAndWarnsOnce();
};

void LinuxBatteryTest::batteryValues_data()
{
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<BatteryValue>("value");
    QTest::addColumn<int>("expected");

    using V = BatteryValue;
    const QStringList none;
    QTest::newRow("percentage from capacity") << none << V::RemainingCapacityPct << 76;
    // Micro-units divided down to milli-units and truncated, towards 0.
    QTest::newRow("voltage in mV")
        << QStringList { FakeSysfs::battery + "voltage_now=3912999" } << V::Voltage << 3912;
    QTest::newRow("current in mA, negative while discharging")
        << QStringList { FakeSysfs::battery + "current_now=-254999" } << V::BatteryCurrent << -254;
    QTest::newRow("magnitude-only current while discharging turns negative")
        << QStringList { FakeSysfs::battery + "current_now=254000" } << V::BatteryCurrent << -254;
    QTest::newRow("positive current while charging") << QStringList {
        FakeSysfs::battery + "status=Charging", FakeSysfs::battery + "current_now=512000"
    } << V::BatteryCurrent << 512;
    QTest::newRow("current from power where the battery counts energy") << QStringList {
        FakeSysfs::battery + "current_now=<absent>", FakeSysfs::battery + "power_now=7400000",
        FakeSysfs::battery + "voltage_now=3700000"
    } << V::BatteryCurrent << -2000;
    QTest::newRow("charge in mAh") << QStringList { FakeSysfs::battery + "charge_now=1003999" }
                                   << V::RemainingCapacitymAh << 1003;
    QTest::newRow("charge from energy and voltage") << QStringList {
        FakeSysfs::battery + "charge_now=<absent>", FakeSysfs::battery + "energy_now=14800000",
        FakeSysfs::battery + "voltage_now=3700000"
    } << V::RemainingCapacitymAh << 4000;
    QTest::newRow("cumulative current from the charge counter in mA·s")
        << QStringList { FakeSysfs::battery + "charge_counter=1000001" }
        << V::CumulativeBatteryCurrent << 3600003;
    QTest::newRow("cumulative current from the charge without a counter") << QStringList {
        FakeSysfs::battery + "charge_counter=<absent>", FakeSysfs::battery + "charge_now=500000"
    } << V::CumulativeBatteryCurrent << 1800000;
    QTest::newRow("USB charger offline") << none << V::ChargerType << 0;
    QTest::newRow("USB charger online")
        << QStringList { "class/power_supply/usb/online=1" } << V::ChargerType << 2;
    QTest::newRow("USB charger named by its port kind")
        << QStringList { "class/power_supply/usb/type=USB_DCP", "class/power_supply/usb/online=1" }
        << V::ChargerType << 2;
    QTest::newRow("mains online wins over USB") << QStringList { "class/power_supply/usb/online=1",
        "class/power_supply/ac/type=Mains", "class/power_supply/ac/online=1" }
                                                << V::ChargerType << 1;
    QTest::newRow("no charger supplies at all")
        << QStringList { "class/power_supply/usb=<absent>" } << V::ChargerType << -1;
    QTest::newRow("status Charging")
        << QStringList { FakeSysfs::battery + "status=Charging" } << V::ChargingState << 1;
    QTest::newRow("status Discharging") << none << V::ChargingState << 0;
    QTest::newRow("status Not charging")
        << QStringList { FakeSysfs::battery + "status=Not charging" } << V::ChargingState << 0;
    QTest::newRow("status Full") << QStringList { FakeSysfs::battery + "status=Full" }
                                 << V::ChargingState << 0;
    QTest::newRow("status Unknown")
        << QStringList { FakeSysfs::battery + "status=Unknown" } << V::ChargingState << 2;
    QTest::newRow("health other than Good")
        << QStringList { FakeSysfs::battery + "health=Overheat" } << V::BatteryState << 4;
    QTest::newRow("health Unknown follows the level") << QStringList {
        FakeSysfs::battery + "health=Unknown", FakeSysfs::battery + "capacity_level=Low"
    } << V::BatteryState << 1;
    QTest::newRow("level Critical")
        << QStringList { FakeSysfs::battery + "capacity_level=Critical" } << V::BatteryState << 0;
    QTest::newRow("level Low") << QStringList { FakeSysfs::battery + "capacity_level=Low" }
                               << V::BatteryState << 1;
    QTest::newRow("level Normal") << none << V::BatteryState << 2;
    QTest::newRow("level High") << QStringList { FakeSysfs::battery + "capacity_level=High" }
                                << V::BatteryState << 2;
    QTest::newRow("level Full") << QStringList { FakeSysfs::battery + "capacity_level=Full" }
                                << V::BatteryState << 3;
    QTest::newRow("without health or level, 5 % is empty")
        << QStringList { FakeSysfs::battery + "health=<absent>",
               FakeSysfs::battery + "capacity_level=<absent>", FakeSysfs::battery + "capacity=5" }
        << V::BatteryState << 0;
    QTest::newRow("without a level, 15 % is low") << QStringList {
        FakeSysfs::battery + "capacity_level=<absent>", FakeSysfs::battery + "capacity=15"
    } << V::BatteryState << 1;
    QTest::newRow("without a level, 16 % is ok") << QStringList {
        FakeSysfs::battery + "capacity_level=<absent>", FakeSysfs::battery + "capacity=16"
    } << V::BatteryState << 2;
    QTest::newRow("without a level, 100 % is full") << QStringList {
        FakeSysfs::battery + "capacity_level=<absent>", FakeSysfs::battery + "capacity=100"
    } << V::BatteryState << 3;
    QTest::newRow("level Unknown falls back to the capacity") << QStringList {
        FakeSysfs::battery + "capacity_level=Unknown", FakeSysfs::battery + "capacity=3"
    } << V::BatteryState << 0;
    QTest::newRow("seven bars, a bar while charge is left in it")
        << none << V::RemainingCapacityBars << 6;
    QTest::newRow("no bars at 0 %")
        << QStringList { FakeSysfs::battery + "capacity=0" } << V::RemainingCapacityBars << 0;
    QTest::newRow("remaining time from time_to_empty_now")
        << none << V::RemainingActiveTime << 14217;
    QTest::newRow("remaining time from charge and current")
        << QStringList { FakeSysfs::battery + "time_to_empty_now=<absent>" }
        << V::RemainingActiveTime << 14215;
    QTest::newRow("average current from current_avg") << none << V::AverageActiveCurrent << 231;
    QTest::newRow("charging time from time_to_full_now") << QStringList {
        FakeSysfs::battery + "status=Charging", FakeSysfs::battery + "time_to_full_now=1800"
    } << V::RemainingChargingTime << 1800;
    QTest::newRow("charging time from charge, full charge and current") << QStringList {
        FakeSysfs::battery + "status=Charging", FakeSysfs::battery + "current_now=500000"
    } << V::RemainingChargingTime << 2282;
    QTest::newRow("nothing left to charge when full")
        << QStringList { FakeSysfs::battery + "status=Full" } << V::RemainingChargingTime << 0;
    QTest::newRow("no charging time while discharging")
        << none << V::RemainingChargingTime << LinuxBackend::noTime;
    QTest::newRow("no talk current on Linux")
        << none << V::AverageTalkCurrent << LinuxBackend::noValue;
    QTest::newRow("no talk time on Linux") << none << V::RemainingTalkTime << LinuxBackend::noTime;
    QTest::newRow("no idle current on Linux")
        << none << V::AverageIdleCurrent << LinuxBackend::noValue;
    QTest::newRow("no idle time on Linux") << none << V::RemainingIdleTime << LinuxBackend::noTime;
    QTest::newRow("malformed capacity is no percentage")
        << QStringList { FakeSysfs::battery + "capacity=seventy" } << V::RemainingCapacityPct
        << LinuxBackend::noValue;
    QTest::newRow("unreadable voltage is no voltage")
        << QStringList { FakeSysfs::battery + "voltage_now=<unreadable>" } << V::Voltage
        << LinuxBackend::noValue;
    QTest::newRow("empty current file reads as no current") << QStringList {
        FakeSysfs::battery + "current_now=", FakeSysfs::battery + "power_now=<absent>"
    } << V::BatteryCurrent << 0;
    QTest::newRow("unreadable charger type does not count as a charger")
        << QStringList { "class/power_supply/usb/type=<unreadable>" } << V::ChargerType << -1;
    QTest::newRow("malformed online counts as offline")
        << QStringList { "class/power_supply/usb/online=yes" } << V::ChargerType << 0;
}

void LinuxBatteryTest::batteryValues()
{
    QFETCH(QStringList, edits);
    QFETCH(BatteryValue, value);
    QFETCH(int, expected);

    FakeSysfs tree(FakeSysfs::Phone);
    tree.apply(edits);
    LinuxBackend backend(options(tree));
    QCOMPARE(backend.battery()->read(value, 0), expected);
}

void LinuxBatteryTest::noBatteryReadsZeroAndWarnsOnce()
{
    FakeSysfs tree(FakeSysfs::Desktop);
    LinuxBackend backend(options(tree));
    std::unique_ptr<BatterySource> first, second;
    const QByteArray err = standardError([&] {
        first = backend.battery();
        second = backend.battery();
    });
    QCOMPARE(err,
        "kvsystem2: no battery in " + tree.root().toLocal8Bit()
            + "/class/power_supply: every battery value reads 0\n");
    for (int v = 0; v < BatteryValueCount; ++v)
        QCOMPARE(first->read(BatteryValue(v), 0), 0);
}

QTEST_GUILESS_MAIN(LinuxBatteryTest)
#include "tst_linuxbattery.moc"
