// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The battery model with numbers (each row a machine's supplies, one
// "attribute=value;..." text a supply), then the battery on fake sysfs
// trees: what each getter reads from the power supply class, and a machine
// without a battery.

#include "backends/linux/linuxbackend.h"
#include "backends/linux/batterymodel.h"
#include "backends/linux/linuxbattery.h"
#include "backends/linux/supplyreader.h"
#include "backendtesting.h"
#include "devicetable.h"
#include "fakesysfs.h"

#include <QtTest>

#include <unistd.h>

using namespace Vorna::Backend;

Q_DECLARE_METATYPE(Vorna::Backend::BatteryValue)

class LinuxBatteryTest : public QObject
{
    Q_OBJECT
private slots:
    void model_data();
    void model();
    void failuresThatMeanNoAttribute_data();
    void failuresThatMeanNoAttribute();
    void batteryValues_data();
    void batteryValues();
    void noBatteryReadsNoValueAndWarnsOnce();
    void runningOutOfDescriptorsIsNoMissingBattery();
    // Machines modelled on real ones, as the differential test against upowerd uses them.
    void machines_data();
    void machines();
};

namespace {

using Gauge = BatteryModel::Gauge;

BatteryModel::Supply supply(const QString &text)
{
    static const QHash<QString, std::optional<double> Gauge::*> numbers {
        { "energy_now", &Gauge::energyNow }, { "energy_avg", &Gauge::energyAvg },
        { "energy_full", &Gauge::energyFull }, { "energy_full_design", &Gauge::energyFullDesign },
        { "charge_now", &Gauge::chargeNow }, { "charge_full", &Gauge::chargeFull },
        { "charge_full_design", &Gauge::chargeFullDesign }, { "current_now", &Gauge::currentNow },
        { "power_now", &Gauge::powerNow }, { "voltage_now", &Gauge::voltageNow },
        { "voltage_max_design", &Gauge::voltageMaxDesign },
        { "voltage_min_design", &Gauge::voltageMinDesign }, { "capacity", &Gauge::capacity },
        { "time_to_full_now", &Gauge::timeToFull } };
    BatteryModel::Supply s;
    for (const QString &a : text.split(';')) {
        const QString name = a.section('=', 0, 0), value = a.section('=', 1);
        if (name == "type")
            s.type = value.toUtf8();
        else if (name == "online") {
            s.online = value.toDouble();
            s.hasOnline = true;
        }
        else if (name == "status")
            s.gauge.status = value.toUtf8();
        else if (numbers.contains(name))
            s.gauge.*numbers.value(name) = value.toDouble();
        else
            qFatal("no such attribute in the test's table: %s", qPrintable(name));
    }
    return s;
}

} // namespace

void LinuxBatteryTest::model_data()
{
    QTest::addColumn<QStringList>("supplies");
    QTest::addColumn<BatteryValue>("value");
    QTest::addColumn<int>("expected");

    using V = BatteryValue;
    const QString energy = "type=Battery;energy_full=50000000;";
    const QString mainsOn = "type=Mains;online=1", mainsOff = "type=Mains;online=0";
    QTest::newRow("a 150 W rate from sysfs is a rate: 60 Wh last 24 minutes")
        << QStringList { energy + "status=Discharging;energy_now=60000000;power_now=150000000" }
        << V::RemainingActiveTime << 1440;
    QTest::newRow("a rate above 300 W is garbage, no rate")
        << QStringList { energy + "status=Discharging;energy_now=40000000;power_now=300000001" }
        << V::BatteryCurrent << 0;
    QTest::newRow("power_now at 0 is the rate beside current_now: no time")
        << QStringList { energy
               + "status=Discharging;energy_now=40000000;power_now=0;current_now=2000000" }
        << V::RemainingActiveTime << int(Vorna::KvBattery::NoTime);
    QTest::newRow("a rate of 0.01 W from sysfs is a rate: 0.2 Wh last 20 hours")
        << QStringList { energy + "status=Discharging;energy_now=200000;power_now=10000" }
        << V::RemainingActiveTime << 72000;
    QTest::newRow("a rate just below 0.01 W from sysfs is none, as upowerd's failed reporting")
        << QStringList { energy + "status=Discharging;energy_now=200000;power_now=9999" }
        << V::RemainingActiveTime << int(Vorna::KvBattery::NoTime);
    QTest::newRow("a rate below 0.1 Wh left is not trusted")
        << QStringList { energy + "status=Discharging;energy_now=90000;power_now=1000000" }
        << V::BatteryCurrent << 0;
    QTest::newRow("a nearly flat energy battery without capacity is at 0 %")
        << QStringList { energy + "status=Discharging;energy_now=5000" }
        << V::RemainingCapacityPct << 0;
    QTest::newRow("a nearly flat energy battery without capacity is empty")
        << QStringList { energy + "status=Discharging;energy_now=5000" } << V::BatteryState
        << int(Vorna::KvBattery::StateEmpty);
    QTest::newRow("a negative energy is none, whatever gives the rate")
        << QStringList { energy + "status=Discharging;energy_now=0;energy_avg=-5000000" }
        << V::RemainingCapacitymAh << 0;
    QTest::newRow("Unknown below 1 % on mains is empty, not charging")
        << QStringList { energy + "status=Unknown;capacity=0", mainsOn } << V::ChargingState
        << int(Vorna::KvBattery::StateNotCharging);
    QTest::newRow("Unknown with no energy on mains is empty, not charging")
        << QStringList { energy + "status=Unknown;energy_now=0", mainsOn } << V::ChargingState
        << int(Vorna::KvBattery::StateNotCharging);
    QTest::newRow("Unknown at exactly 90 % on mains is full")
        << QStringList { energy + "status=Unknown;capacity=90", mainsOn } << V::BatteryState
        << int(Vorna::KvBattery::StateFull);
    QTest::newRow("Unknown at 89 % on mains is charging")
        << QStringList { energy + "status=Unknown;capacity=89", mainsOn } << V::ChargingState
        << int(Vorna::KvBattery::StateCharging);
    QTest::newRow("Not charging at 90 % is full")
        << QStringList { energy + "status=Not charging;capacity=90", mainsOn } << V::BatteryState
        << int(Vorna::KvBattery::StateFull);
    QTest::newRow("two Unknown batteries with mains offline discharge")
        << QStringList { energy + "status=Unknown;capacity=50",
               energy + "status=Unknown;capacity=60", mainsOff }
        << V::ChargingState << int(Vorna::KvBattery::StateNotCharging);
    QTest::newRow("charging then discharging battery: the first decides")
        << QStringList { energy + "status=Charging;energy_now=20000000",
               energy + "status=Discharging;energy_now=20000000" }
        << V::ChargingState << int(Vorna::KvBattery::StateCharging);
    QTest::newRow("discharging then charging battery: the first decides")
        << QStringList { energy + "status=Discharging;energy_now=20000000",
               energy + "status=Charging;energy_now=20000000" }
        << V::ChargingState << int(Vorna::KvBattery::StateNotCharging);
    QTest::newRow("a full battery beside a pending one is not full")
        << QStringList { energy + "status=Full;energy_now=50000000",
               energy + "status=Not charging;energy_now=20000000", mainsOn }
        << V::BatteryState << int(Vorna::KvBattery::StateOK);
    QTest::newRow("energy above full in one of two packs raises its full: 70 of 110 Wh")
        << QStringList { energy + "status=Discharging;energy_now=60000000",
               energy + "status=Discharging;energy_now=10000000" }
        << V::RemainingCapacityPct << 64;
    QTest::newRow("the design maximum converts energy to charge before the minimum")
        << QStringList { "type=Battery;status=Discharging;energy_now=4000000;energy_full=8800000;"
                         "voltage_min_design=3200000;voltage_max_design=4000000;voltage_now=3900000" }
        << V::RemainingCapacitymAh << 1000;
    QTest::newRow("the design minimum converts before the present voltage")
        << QStringList { "type=Battery;status=Discharging;energy_now=3600000;energy_full=8800000;"
                         "voltage_min_design=3600000;voltage_now=3900000" }
        << V::RemainingCapacitymAh << 1000;
    QTest::newRow("without a voltage above 1 V, 10 V converts")
        << QStringList { energy + "status=Discharging;energy_now=4000000;voltage_now=900000" }
        << V::RemainingCapacitymAh << 400;
    QTest::newRow("a valid capacity beside a tiny energy gives the energy: 80 % of 50 Wh at 10 V")
        << QStringList { energy + "status=Discharging;energy_now=50000;capacity=80" }
        << V::RemainingCapacitymAh << 4000;
    QTest::newRow("0.1 Wh is below upowerd's 0.1f: no rate")
        << QStringList { energy + "status=Discharging;energy_now=100000;power_now=1000000" }
        << V::BatteryCurrent << 0;
    QTest::newRow("a charging battery behind a discharging one has its own time to full")
        << QStringList { energy + "status=Discharging;energy_now=20000000;power_now=5000000",
               energy + "status=Charging;energy_now=40000000;power_now=10000000" }
        << V::RemainingChargingTime << 3600;
    QTest::newRow("a time to full under a second is none, as upowerd's whole seconds")
        << QStringList { energy + "status=Charging;energy_now=49999999;power_now=10000000" }
        << V::RemainingChargingTime << int(Vorna::KvBattery::NoTime);
    QTest::newRow("time to full up to 20 hours")
        << QStringList { energy + "status=Charging;energy_now=10000000;power_now=2000000" }
        << V::RemainingChargingTime << 72000;
    QTest::newRow("time to full beyond 20 hours is none")
        << QStringList { energy + "status=Charging;energy_now=9000000;power_now=2000000" }
        << V::RemainingChargingTime << int(Vorna::KvBattery::NoTime);
    QTest::newRow("time to empty beyond ten days is none")
        << QStringList { energy + "status=Discharging;energy_now=48100000;power_now=200000" }
        << V::RemainingActiveTime << int(Vorna::KvBattery::NoTime);
    QTest::newRow("the gauge's own time to full only where there is no rate")
        << QStringList { energy + "status=Charging;energy_now=10000000;time_to_full_now=60" }
        << V::RemainingChargingTime << 60;
    QTest::newRow("an energy battery's current_now without power_now is µW: 2 W at 10 V")
        << QStringList { energy + "status=Discharging;energy_now=20000000;current_now=2000000" }
        << V::BatteryCurrent << -200;
    QTest::newRow("a charge battery's current_now is µA")
        << QStringList { "type=Battery;status=Charging;charge_now=500000;charge_full=1000000;"
                         "current_now=-300000" }
        << V::BatteryCurrent << 300;
    QTest::newRow("a phone's charge_now without charge_full: current_now is µA, not µW")
        << QStringList { "type=Battery;status=Discharging;charge_now=2000000;current_now=-150000;"
                         "voltage_now=3900000" }
        << V::BatteryCurrent << -150;
    QTest::newRow("an energy battery with power_now: current_now is µA, not power over 10 V")
        << QStringList { energy
               + "status=Discharging;energy_now=20000000;power_now=20000000;current_now=1500000" }
        << V::BatteryCurrent << -1500;
    QTest::newRow("a pack giving energy and charge: current_now, not power over the design voltage")
        << QStringList { "type=Battery;status=Charging;energy_now=30000000;energy_full=50000000;"
                         "charge_now=4000000;charge_full=7000000;power_now=39100000;"
                         "current_now=5801000;voltage_max_design=8362000;voltage_now=6700000" }
        << V::BatteryCurrent << 5801;
    QTest::newRow("an Unknown battery takes the guessed direction for its current")
        << QStringList { energy + "status=Unknown;energy_now=20000000;power_now=5000000",
               mainsOff }
        << V::BatteryCurrent << -500;
}

void LinuxBatteryTest::model()
{
    QFETCH(QStringList, supplies);
    QFETCH(BatteryValue, value);
    QFETCH(int, expected);
    QVector<BatteryModel::Supply> machine;
    for (const QString &s : supplies)
        machine.append(supply(s));
    QCOMPARE(BatteryModel::answer(BatteryModel::display(machine), value), expected);
}

void LinuxBatteryTest::failuresThatMeanNoAttribute_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("absent");
    QTest::newRow("no such file") << ENOENT << true;
    QTest::newRow("a driver that may not give it (EPERM)") << EPERM << true;
    QTest::newRow("no permission") << EACCES << true;
    QTest::newRow("a driver that has no value now") << ENODATA << true;
    QTest::newRow("no descriptor left is a failure") << EMFILE << false;
    QTest::newRow("an I/O error of the driver is a failure") << EIO << false;
}

void LinuxBatteryTest::failuresThatMeanNoAttribute()
{
    QFETCH(int, error);
    QFETCH(bool, absent);
    QCOMPARE(SupplyReader::meansAbsent(error), absent);
}

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
    QTest::newRow("charge from energy over the design voltage, else the present one")
        << QStringList { FakeSysfs::battery + "charge_now=<absent>",
               FakeSysfs::battery + "energy_now=14800000",
               FakeSysfs::battery + "voltage_now=3700000" }
        << V::RemainingCapacitymAh << 4000;
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
    QTest::newRow(
        "status Unknown with the charger offline counts as discharging, as upowerd guesses")
        << QStringList { FakeSysfs::battery + "status=Unknown" } << V::ChargingState << 0;
    QTest::newRow("status Unknown of two batteries without chargers counts as discharging")
        << QStringList { FakeSysfs::battery + "status=Unknown", "class/power_supply/usb=<absent>",
               "class/power_supply/BAT1/type=Battery", "class/power_supply/BAT1/status=Unknown",
               "class/power_supply/BAT1/charge_now=500000" }
        << V::ChargingState << 0;
    QTest::newRow("status Full is a full battery whatever the level says")
        << QStringList { FakeSysfs::battery + "status=Full" } << V::BatteryState << 3;
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
    QTest::newRow("remaining time from charge and rate, as upowerd computes it")
        << none << V::RemainingActiveTime << 14215;
    QTest::newRow("remaining time from time_to_empty_now where no rate is given")
        << QStringList { FakeSysfs::battery + "current_now=<absent>" } << V::RemainingActiveTime
        << 14217;
    QTest::newRow("average current from current_avg") << none << V::AverageActiveCurrent << 231;
    QTest::newRow("charging time from time_to_full_now where no rate is given") << QStringList {
        FakeSysfs::battery + "status=Charging", FakeSysfs::battery + "time_to_full_now=1800",
        FakeSysfs::battery + "current_now=<absent>"
    } << V::RemainingChargingTime << 1800;
    QTest::newRow("charging time from charge, full charge and current") << QStringList {
        FakeSysfs::battery + "status=Charging", FakeSysfs::battery + "current_now=500000"
    } << V::RemainingChargingTime << 2282;
    QTest::newRow("nothing left to charge when full")
        << QStringList { FakeSysfs::battery + "status=Full" } << V::RemainingChargingTime << 0;
    QTest::newRow("no charging time while discharging")
        << none << V::RemainingChargingTime << Vorna::KvBattery::NoTime;
    QTest::newRow("no talk current on Linux")
        << none << V::AverageTalkCurrent << Vorna::KvBattery::NoValue;
    QTest::newRow("no talk time on Linux") << none << V::RemainingTalkTime << Vorna::KvBattery::NoTime;
    QTest::newRow("no idle current on Linux")
        << none << V::AverageIdleCurrent << Vorna::KvBattery::NoValue;
    QTest::newRow("no idle time on Linux") << none << V::RemainingIdleTime << Vorna::KvBattery::NoTime;
    QTest::newRow("malformed capacity falls back to now over full")
        << QStringList { FakeSysfs::battery + "capacity=seventy" } << V::RemainingCapacityPct << 76;
    QTest::newRow("neither capacity nor charge is no percentage") << QStringList {
        FakeSysfs::battery + "capacity=<absent>", FakeSysfs::battery + "charge_now=<absent>"
    } << V::RemainingCapacityPct << Vorna::KvBattery::NoValue;
    QTest::newRow("a battery taken out reads no percentage, not 0")
        << QStringList { "class/power_supply/battery=<absent>" } << V::RemainingCapacityPct
        << Vorna::KvBattery::NoValue;
    QTest::newRow("a battery taken out reads no counter, not 0")
        << QStringList { "class/power_supply/battery=<absent>" } << V::CumulativeBatteryCurrent
        << Vorna::KvBattery::NoCounter;
    QTest::newRow("a battery marked not present is no battery")
        << QStringList { FakeSysfs::battery + "present=0" } << V::Voltage << Vorna::KvBattery::NoValue;
    QTest::newRow("a battery of scope Device (a mouse) is no battery of the machine")
        << QStringList { FakeSysfs::battery + "scope=Device" } << V::RemainingCapacitymAh
        << Vorna::KvBattery::NoValue;
    QTest::newRow("a charger of scope Device does not feed the machine")
        << QStringList { "class/power_supply/usb/online=1", "class/power_supply/usb/scope=Device" }
        << V::ChargerType << -1;
    QTest::newRow("a Chromebook's BrickID barrel charger online is the wall")
        << QStringList { "class/power_supply/brick/type=BrickID", "class/power_supply/brick/online=1" }
        << V::ChargerType << 1;
    QTest::newRow("Android's Wipower pad online is the wall")
        << QStringList { "class/power_supply/wipower/type=Wipower",
               "class/power_supply/wipower/online=1" }
        << V::ChargerType << 1;
    QTest::newRow("a charger of type Unknown online counts as USB")
        << QStringList { "class/power_supply/usb/type=Unknown", "class/power_supply/usb/online=1" }
        << V::ChargerType << 2;
    QTest::newRow("a USB supply without an online file is no charger")
        << QStringList { "class/power_supply/usb/online=<absent>" } << V::ChargerType << -1;
    QTest::newRow("a Mains supply without an online file is a charger, offline")
        << QStringList { "class/power_supply/usb/online=<absent>", "class/power_supply/usb/type=Mains" }
        << V::ChargerType << 0;
    QTest::newRow("online 2, a programmable USB-PD source, is online")
        << QStringList { "class/power_supply/usb/online=2" } << V::ChargerType << 2;
    // Every health word of Documentation/ABI/testing/sysfs-class-power;
    // the phone's level is Normal, so a word that is no fault reads 2.
    const struct
    {
        const char *word;
        int state;
    } health[] = { { "Unknown", 2 }, { "Good", 2 }, { "Overheat", 4 }, { "Dead", 4 },
        { "Over voltage", 4 }, { "Under voltage", 4 }, { "Unspecified failure", 4 }, { "Cold", 4 },
        { "Watchdog timer expire", 4 }, { "Safety timer expire", 4 }, { "Over current", 4 },
        { "Calibration required", 2 }, { "Warm", 2 }, { "Cool", 2 }, { "Hot", 4 },
        { "No battery", 4 }, { "Blown fuse", 4 }, { "Cell imbalance", 4 },
        { "Lukewarm", 4 } };
    for (const auto &h : health)
        QTest::newRow(qPrintable(QStringLiteral("health %1 gives battery state %2").arg(h.word).arg(h.state)))
            << QStringList { FakeSysfs::battery + "health=" + h.word } << V::BatteryState
            << h.state;
    QTest::newRow("unreadable voltage is no voltage")
        << QStringList { FakeSysfs::battery + "voltage_now=<unreadable>" } << V::Voltage
        << Vorna::KvBattery::NoValue;
    QTest::newRow("empty current file reads as no current") << QStringList {
        FakeSysfs::battery + "current_now=", FakeSysfs::battery + "power_now=<absent>"
    } << V::BatteryCurrent << Vorna::KvBattery::NoValue;
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
    QCOMPARE(backend.battery()->read(value, Vorna::KvBattery::NormalMode), expected);
}

void LinuxBatteryTest::noBatteryReadsNoValueAndWarnsOnce()
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
            + "/class/power_supply: battery values read -1 (no value)\n");
    QCOMPARE(first->read(BatteryValue::ChargerType, Vorna::KvBattery::NormalMode), int(Vorna::KvBattery::Wall));
    for (BatteryValue v : { BatteryValue::ChargingState, BatteryValue::BatteryState,
             BatteryValue::RemainingCapacityBars, BatteryValue::RemainingCapacityPct,
             BatteryValue::RemainingCapacitymAh, BatteryValue::Voltage,
             BatteryValue::BatteryCurrent, BatteryValue::AverageActiveCurrent })
        QCOMPARE(first->read(v, Vorna::KvBattery::NormalMode), Vorna::KvBattery::NoValue);
    for (BatteryValue v :
        { BatteryValue::RemainingChargingTime, BatteryValue::RemainingActiveTime })
        QCOMPARE(first->read(v, Vorna::KvBattery::NormalMode), Vorna::KvBattery::NoTime);
    QCOMPARE(first->read(BatteryValue::CumulativeBatteryCurrent, Vorna::KvBattery::NormalMode), Vorna::KvBattery::NoCounter);
}

void LinuxBatteryTest::runningOutOfDescriptorsIsNoMissingBattery()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    std::unique_ptr<BatterySource> battery;
    QByteArray err;
    int pct = 0, again = 0;
    err = standardError([&] {
        // Every descriptor taken: the files cannot be opened, which is an
        // error to report, not a machine without a battery.
        QVector<int> taken;
        for (int fd; (fd = ::dup(STDIN_FILENO)) >= 0;)
            taken << fd;
        battery = backend.battery();
        pct = battery->read(BatteryValue::RemainingCapacityPct, Vorna::KvBattery::NormalMode);
        again = battery->read(BatteryValue::Voltage, Vorna::KvBattery::NormalMode);
        for (int fd : taken)
            ::close(fd);
    });
    QCOMPARE(pct, Vorna::KvBattery::NoValue);
    QCOMPARE(again, Vorna::KvBattery::NoValue);
    QVERIFY2(err.startsWith("kvsystem2: cannot read ") && err.contains("Too many open files")
            && err.count('\n') == 1,
        err.constData());
    QCOMPARE(battery->read(BatteryValue::RemainingCapacityPct, Vorna::KvBattery::NormalMode), 76);
}

void LinuxBatteryTest::machines_data()
{
    QTest::addColumn<int>("row");
    const QVector<DeviceTable::Machine> all = DeviceTable::machines();
    for (int i = 0; i < all.size(); ++i)
        QTest::newRow(all[i].name) << i;
}

void LinuxBatteryTest::machines()
{
    QFETCH(int, row);
    const DeviceTable::Machine machine = DeviceTable::machines().at(row);
    QTemporaryDir tree;
    QVERIFY(DeviceTable::writeTree(tree.path(), machine.devices));
    LinuxBackend::Options o;
    o.sysfsRoot = tree.path() + "/sys";
    LinuxBackend backend(o);
    std::unique_ptr<BatterySource> battery;
    standardError([&] { battery = backend.battery(); });
    const auto read = [&](BatteryValue v) { return battery->read(v, Vorna::KvBattery::NormalMode); };
    const DeviceTable::Battery &want = machine.battery;
    QCOMPARE(read(BatteryValue::RemainingCapacityPct), want.percent);
    QCOMPARE(read(BatteryValue::ChargingState), want.chargingState);
    QCOMPARE(read(BatteryValue::BatteryState), want.batteryState);
    QCOMPARE(read(BatteryValue::ChargerType), want.charger);
    QCOMPARE(read(BatteryValue::RemainingCapacitymAh), want.mah);
    QCOMPARE(read(BatteryValue::BatteryCurrent), want.currentMa);
    QCOMPARE(read(BatteryValue::RemainingActiveTime), want.activeTime);
    QCOMPARE(read(BatteryValue::RemainingChargingTime), want.chargingTime);
}

QTEST_GUILESS_MAIN(LinuxBatteryTest)
#include "tst_linuxbattery.moc"
