// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The sensors as the real iio-sensor-proxy reads them, on the very same
// trees: each machine of the device table is put on a umockdev testbed
// under iio-sensor-proxy on a private system bus, and our Linux backend
// reads the testbed's sys directory. Where the daemon reports a pose, a
// light level or whether something is near, ours must agree, or the row
// names why it may not.

#include "backends/linux/linuxbackend.h"
#include "backendtesting.h"
#include "devicetable.h"
#include "peerdaemon.h"

#include <QtTest>

#include <cmath>

class IioSensorProxyTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void agreesWithIioSensorProxy_data();
    void agreesWithIioSensorProxy();
    void cleanupTestCase() { PeerDaemon::killAll(); }
};

namespace {

const QString proxyDaemon = QStringLiteral("/usr/sbin/iio-sensor-proxy");
const QString service = QStringLiteral("net.hadess.SensorProxy");
const QString path = QStringLiteral("/net/hadess/SensorProxy");

const QHash<QString, int> poseWords { { "normal", 2 }, { "bottom-up", 1 }, { "left-up", 3 },
    { "right-up", 4 } };

// Our first reading of a sensor on the tree.
std::optional<qint32> ours(LinuxBackend &backend, Sensor kind)
{
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
    if (sensor->requestSession(Vorna::KvSensor::ControlSession) == Vorna::KvSensor::NoSession
        || !sensor->start())
        return std::nullopt;
    QDeadlineTimer deadline(waitMs);
    while (samples.count() == 0 && !deadline.hasExpired())
        QTest::qWait(10);
    sensor->stop();
    return samples.count() ? std::optional<qint32>(samples.last(1).value(0)) : std::nullopt;
}

} // namespace

void IioSensorProxyTest::initTestCase()
{
    const QString why = PeerDaemon::unavailable(proxyDaemon);
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
}

void IioSensorProxyTest::agreesWithIioSensorProxy_data()
{
    QTest::addColumn<int>("row");
    const QVector<DeviceTable::Sensors> all = DeviceTable::sensorMachines();
    for (int i = 0; i < all.size(); ++i)
        QTest::newRow(all[i].name) << i;
}

void IioSensorProxyTest::agreesWithIioSensorProxy()
{
    QFETCH(int, row);
    const DeviceTable::Sensors machine = DeviceTable::sensorMachines().at(row);
    QTemporaryDir tree;
    QVERIFY(DeviceTable::writeTree(tree.path(), machine.devices));

    qputenv("G_MESSAGES_DEBUG", "all"); // the daemon says when a driver has sent a reading
    PeerDaemon::Peer peer(tree.path(), proxyDaemon, { "-v" }, service);
    qunsetenv("G_MESSAGES_DEBUG");
    // A daemon that finds no sensor ends at once, and answers nothing.
    const bool peerHasAny = machine.orientation >= 0
        || (machine.lux >= 0 && machine.peerLacks != "light")
        || (machine.proximity >= 0 && machine.peerLacks != "proximity");
    QVERIFY2(
        peer.ready() || !peerHasAny, qPrintable("iio-sensor-proxy did not start: " + peer.log()));

    // Claim what the machine has, and wait for two readings of each, so
    // that the first one's property is surely published.
    QDBusInterface proxy(service, path, service, peer.bus_());
    QStringList sent;
    QString log;
    if (machine.orientation >= 0) {
        proxy.call("ClaimAccelerometer");
        sent << "Accel sent by driver";
    }
    if (machine.lux >= 0 && machine.peerLacks != "light") {
        proxy.call("ClaimLight");
        sent << "Light level sent by driver";
    }
    if (machine.proximity >= 0 && machine.peerLacks != "proximity") {
        proxy.call("ClaimProximity");
        sent << "Proximity sent by driver";
    }
    QVERIFY2(PeerDaemon::Peer::waitFor([&] {
        log += peer.log();
        for (const QString &s : sent)
            if (log.count(s) < 2)
                return false;
        return true;
    }),
        qPrintable(log));
    const QVariantMap p = peer.properties(path, service);

    LinuxBackend::Options o;
    o.sysfsRoot = tree.path() + "/sys";
    LinuxBackend backend(o);

    QCOMPARE(p.value("HasAccelerometer").toBool(), machine.orientation >= 0);
    QCOMPARE(p.value("HasAmbientLight").toBool(), machine.lux >= 0 && machine.peerLacks != "light");
    QCOMPARE(p.value("HasProximity").toBool(),
        machine.proximity >= 0 && machine.peerLacks != "proximity");
    if (machine.orientation >= 0) {
        const QString word = p.value("AccelerometerOrientation").toString();
        QCOMPARE(word, machine.peerOrientation);
        const std::optional<qint32> pose = ours(backend, Sensor::Orientation);
        QVERIFY(pose);
        if (poseWords.contains(word) && !machine.peerPoseDiffers)
            QCOMPARE(*pose, poseWords.value(word));
        QCOMPARE(*pose, machine.orientation);
    }
    if (machine.lux >= 0 && machine.peerLacks != "light") {
        const double level = p.value("LightLevel").toDouble();
        const std::optional<qint32> lux = ours(backend, Sensor::Als);
        QVERIFY(lux);
        QCOMPARE(*lux, machine.lux);
        if (machine.peerLux >= 0)
            QVERIFY2(std::abs(level - machine.peerLux) < 0.5, qPrintable(QString::number(level)));
        else
            QVERIFY2(std::abs(level - *lux) <= 0.5, qPrintable(QString::number(level)));
    }
    if (machine.proximity >= 0 && machine.peerLacks != "proximity") {
        const std::optional<qint32> raw = ours(backend, Sensor::Proximity);
        QVERIFY(raw);
        QCOMPARE(*raw, machine.proximity);
        QCOMPARE(p.value("ProximityNear").toBool(), machine.near);
    }
}

QTEST_GUILESS_MAIN(IioSensorProxyTest)
#include "tst_iiosensorproxy.moc"
