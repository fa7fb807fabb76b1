// The battery as the real upowerd reads it, on the very same trees: each
// machine of the device table is put on a umockdev testbed under upowerd on
// a private system bus, and our Linux backend reads the testbed's sys
// directory. upowerd's display device (what a desktop shows) is the
// reference for percentage, state, charger, times, energy and rate.

#include "backends/linux/linuxbackend.h"
#include "backends/linux/linuxbattery.h"
#include "devicetable.h"
#include "peerdaemon.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QJsonDocument>
#include <QtTest>

#include <cmath>

using namespace Vorna::Backend;
using Vorna::KvBattery;

class UpowerdTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void agreesWithUpowerd_data();
    void agreesWithUpowerd();
    void cleanupTestCase() { PeerDaemon::killAll(); }
};

namespace {

const QString upowerd = QStringLiteral("/usr/libexec/upowerd");
const QString service = QStringLiteral("org.freedesktop.UPower");
const QString deviceInterface = QStringLiteral("org.freedesktop.UPower.Device");

enum UpState { Unknown, Charging, Discharging, Empty, FullyCharged, PendingCharge };

bool near(double ours, double theirs, double relative, double absolute)
{
    return std::abs(ours - theirs) <= std::max(absolute, std::abs(theirs) * relative);
}

} // namespace

void UpowerdTest::initTestCase()
{
    const QString why = PeerDaemon::unavailable(upowerd);
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
}

void UpowerdTest::agreesWithUpowerd_data()
{
    QTest::addColumn<int>("row");
    const QVector<DeviceTable::Machine> all = DeviceTable::machines();
    for (int i = 0; i < all.size(); ++i)
        QTest::newRow(all[i].name) << i;
}

void UpowerdTest::agreesWithUpowerd()
{
    QFETCH(int, row);
    const DeviceTable::Machine machine = DeviceTable::machines().at(row);
    QTemporaryDir tree;
    QVERIFY(DeviceTable::writeTree(tree.path(), machine.devices));

    PeerDaemon::Peer peer(tree.path(), upowerd, { "-v" }, service);
    QVERIFY2(peer.ready(), qPrintable("upowerd did not start: " + peer.log()));

    // upowerd exports every supply once it has read it.
    QStringList paths;
    QVERIFY(PeerDaemon::Peer::waitFor([&] {
        QDBusInterface up(service, "/org/freedesktop/UPower", service, peer.bus_());
        const QDBusReply<QList<QDBusObjectPath>> reply = up.call("EnumerateDevices");
        paths.clear();
        if (reply.isValid())
            for (const QDBusObjectPath &p : reply.value())
                paths << p.path();
        return paths.size() == machine.devices.size();
    }));
    bool lineOnline = false;
    double energyOverVoltage = 0, rateOverVoltage = 0;
    for (const QString &path : paths) {
        const QVariantMap p = peer.properties(path, deviceInterface);
        if (p.value("Type").toUInt() == 1 && p.value("Online").toBool())
            lineOnline = true;
        // The system batteries, converted back to charge with the design voltage.
        if (p.value("Type").toUInt() == 2 && p.value("PowerSupply").toBool()
            && p.value("IsPresent").toBool()) {
            for (const DeviceTable::SysDevice &d : machine.devices)
                if (d.name == p.value("NativePath").toString()) {
                    const double v = DeviceTable::designVoltage(d.attributes);
                    energyOverVoltage += p.value("Energy").toDouble() / v;
                    rateOverVoltage += p.value("EnergyRate").toDouble() / v;
                }
        }
    }
    const QVariantMap display
        = peer.properties("/org/freedesktop/UPower/devices/DisplayDevice", deviceInterface);
    QVERIFY(!display.isEmpty());

    LinuxBackend::Options options;
    options.sysfsRoot = tree.path() + "/sys";
    LinuxBackend backend(options);
    std::unique_ptr<BatterySource> ours;
    ours = backend.battery();
    const auto read = [&](BatteryValue v) { return ours->read(v, Vorna::KvBattery::NormalMode); };

    const bool present = display.value("IsPresent").toBool();
    const uint state = display.value("State").toUInt();
    if (state == Discharging)
        rateOverVoltage = -rateOverVoltage;
    const QString about = QStringLiteral("upowerd: %1")
                              .arg(QString::fromUtf8(QJsonDocument::fromVariant(display).toJson(
                                  QJsonDocument::Compact)));

    if (!present) {
        QVERIFY2(
            read(BatteryValue::RemainingCapacityPct) == Vorna::KvBattery::NoValue, qPrintable(about));
        QVERIFY2(
            read(BatteryValue::RemainingCapacitymAh) == Vorna::KvBattery::NoValue, qPrintable(about));
    } else {
        QVERIFY2(near(read(BatteryValue::RemainingCapacityPct),
                     display.value("Percentage").toDouble(), 0, 1),
            qPrintable(about));
        const int charging = read(BatteryValue::ChargingState);
        QVERIFY2(charging
                == (state == Charging      ? KvBattery::StateCharging
                        : state == Unknown ? KvBattery::StateChargingFailed
                                           : KvBattery::StateNotCharging),
            qPrintable(about));
        QVERIFY2(
            (read(BatteryValue::BatteryState) == KvBattery::StateFull) == (state == FullyCharged),
            qPrintable(about));
        const qint64 toEmpty = display.value("TimeToEmpty").toLongLong();
        const qint64 toFull = display.value("TimeToFull").toLongLong();
        const int active = read(BatteryValue::RemainingActiveTime);
        const int chargingTime = read(BatteryValue::RemainingChargingTime);
        QVERIFY2(toEmpty > 0 ? near(active, toEmpty, 0.02, 1) : active == Vorna::KvBattery::NoTime,
            qPrintable(about + " ours " + QString::number(active)));
        if (state == FullyCharged)
            QCOMPARE(chargingTime, 0);
        else
            QVERIFY2(toFull > 0 ? near(chargingTime, toFull, 0.02, 1)
                                : chargingTime == Vorna::KvBattery::NoTime,
                qPrintable(about + " ours " + QString::number(chargingTime)));
        QVERIFY2(near(read(BatteryValue::RemainingCapacitymAh), energyOverVoltage * 1000, 0.01, 1),
            qPrintable(about));
        // A charge gauge's own current is ours where upowerd has only a
        // rate: compare where the rate is what both read.
        QVERIFY2(near(read(BatteryValue::BatteryCurrent), rateOverVoltage * 1000, 0.02, 1),
            qPrintable(about + " ours " + QString::number(read(BatteryValue::BatteryCurrent))));
    }
    const int charger = read(BatteryValue::ChargerType);
    QVERIFY2((charger == KvBattery::Wall || charger == KvBattery::USB_500mA) == lineOnline,
        qPrintable(about));
}

QTEST_GUILESS_MAIN(UpowerdTest)
#include "tst_upowerd.moc"
