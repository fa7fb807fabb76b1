// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Generated machines (iiomachines.h) under the real iio-sensor-proxy and
// under our Linux backend: whether each finds an accelerometer, a light and
// a proximity sensor, the pose, the light level and whether something is
// near. A disagreement that no documented departure of the machine explains
// prints the seed, the tree as a row for DeviceTable::sensorMachines() and
// both answers, and fails.
//
//   KVSYSTEM_IIO_FUZZ_SEED     the first machine's seed (1); machine i has seed + i
//   KVSYSTEM_IIO_FUZZ_MACHINES how many (200)
//   KVSYSTEM_IIO_FUZZ_PARALLEL daemons at once (16)
//
// One machine (KVSYSTEM_IIO_FUZZ_MACHINES=1) always prints its row.

#include "backends/linux/linuxbackend.h"
#include "backendtesting.h"
#include "iiomachines.h"
#include "peerdaemon.h"

#include <QtTest>

#include <memory>

using namespace Vorna::Backend;
using namespace BackendTesting;

class IioFuzzTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void generatedMachinesAgree();
    void cleanupTestCase() { PeerDaemon::killAll(); }
};

namespace {

const QString proxyDaemon = QStringLiteral("/usr/sbin/iio-sensor-proxy");
const QString service = QStringLiteral("net.hadess.SensorProxy");
const QString path = QStringLiteral("/net/hadess/SensorProxy");

int setting(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok ? v : fallback;
}

struct Answers
{
    bool accel = false;
    QString pose;
    bool light = false;
    double lux = 0;
    bool proximity = false;
    bool near = false;
    int counts = -1; // ours
    int code = -1; // ours

    QString text() const
    {
        return QStringLiteral("accelerometer %1 pose %2, light %3 level %4, proximity %5 near %6")
            .arg(accel)
            .arg(pose)
            .arg(light)
            .arg(lux)
            .arg(proximity)
            .arg(near);
    }
};

std::optional<qint32> firstReading(LinuxBackend &backend, Sensor kind)
{
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
    if (sensor->requestSession(Vorna::KvSensor::ControlSession) == Vorna::KvSensor::NoSession
        || !sensor->start())
        return std::nullopt;
    QDeadlineTimer deadline(waitMs);
    while (samples.count() == 0 && !deadline.hasExpired())
        QTest::qWait(5);
    sensor->stop();
    return samples.count() ? std::optional<qint32>(samples.last(1).value(0)) : std::nullopt;
}

Answers ours(const QString &sys, const IioMachines::Machine &m)
{
    static const QStringList words { "undefined", "bottom-up", "normal", "left-up", "right-up",
        "face-down", "face-up" };
    LinuxBackend::Options o;
    o.sysfsRoot = sys;
    LinuxBackend backend(o);
    Answers a;
    if (const auto pose = firstReading(backend, Sensor::Orientation)) {
        a.accel = true;
        a.code = *pose;
        a.pose = words.value(*pose);
    }
    if (const auto lux = firstReading(backend, Sensor::Als)) {
        a.light = true;
        a.lux = *lux;
    }
    if (const auto counts = firstReading(backend, Sensor::Proximity)) {
        a.proximity = true;
        a.counts = *counts;
        a.near = m.nearLevel > 0 && *counts > m.nearLevel;
    }
    return a;
}

// A machine under the daemon, from start to answers.
class Run
{
public:
    explicit Run(const IioMachines::Machine &m)
        : machine(m)
    {
        ok = DeviceTable::writeTree(tree.path(), m.withoutBuffers())
            && DeviceTable::writeTree(ourTree.path(), m.devices) && writeNodes(m);
        peer = std::make_unique<PeerDaemon::Peer>(
            tree.path(), proxyDaemon, QStringList { "-v" }, service);
    }

    // False when the daemon did not start; one that finds no sensor ends
    // at once, and its answers are all "none".
    bool claim()
    {
        if (!ok)
            return false;
        if (!peer->ready()) {
            log += peer->log();
            return log.contains("No sensors or missing kernel drivers");
        }
        QDBusInterface proxy(service, path, service, peer->bus_());
        const QVariantMap p = peer->properties(path, service);
        // The property, the claim, and the driver's word in the log.
        struct Kind
        {
            const char *has, *claim, *sent;
        };
        const Kind kinds[] = { { "HasAccelerometer", "ClaimAccelerometer", "Accel" },
            { "HasAmbientLight", "ClaimLight", "Light level" },
            { "HasProximity", "ClaimProximity", "Proximity" } };
        for (const Kind &k : kinds)
            if (p.value(k.has).toBool()) {
                proxy.call(QLatin1String(k.claim));
                sent << QLatin1String(k.sent) + QStringLiteral(" sent by driver");
            }
        return true;
    }

    // Two readings of each claimed sensor, so that the first one's
    // property is surely published.
    bool settled()
    {
        log += peer->log();
        for (const QString &s : sent)
            if (log.count(s) < 2)
                return false;
        return true;
    }

    // No value when the daemon did not answer (one that found no sensor
    // has ended, and has none of each).
    std::optional<Answers> peerAnswers() const
    {
        const QVariantMap p = peer->properties(path, service);
        if (p.isEmpty() && !log.contains("No sensors or missing kernel drivers"))
            return std::nullopt;
        Answers a;
        a.accel = p.value("HasAccelerometer").toBool();
        a.pose = a.accel ? p.value("AccelerometerOrientation").toString() : QString();
        a.light = p.value("HasAmbientLight").toBool();
        a.lux = a.light ? p.value("LightLevel").toDouble() : 0;
        a.proximity = p.value("HasProximity").toBool();
        a.near = a.proximity && p.value("ProximityNear").toBool();
        return a;
    }

    // Ours reads the whole tree, buffers and nodes too.
    QString sys() const { return ourTree.path() + "/sys"; }

    // The device nodes, files of records as a umockdev testbed keeps them.
    bool writeNodes(const IioMachines::Machine &m)
    {
        if (!m.nodes.isEmpty() && !QDir(ourTree.path()).mkpath("dev"))
            return false;
        for (auto n = m.nodes.cbegin(); n != m.nodes.cend(); ++n) {
            QFile f(ourTree.path() + "/dev/" + n.key());
            if (!f.open(QIODevice::WriteOnly) || f.write(n.value()) != n.value().size())
                return false;
        }
        return true;
    }

    const IioMachines::Machine machine;
    QTemporaryDir tree, ourTree;
    std::unique_ptr<PeerDaemon::Peer> peer;
    QStringList sent;
    QString log;
    bool ok = false;
};

// The departure of the machine that explains a disagreement on a field, or
// null.
const IioMachines::Departure *explains(const IioMachines::Machine &m, IioMachines::Field f)
{
    for (const IioMachines::Departure *d : m.departures)
        if (d->field == f)
            return d;
    return nullptr;
}

} // namespace

void IioFuzzTest::initTestCase()
{
    const QString why = PeerDaemon::unavailable(proxyDaemon);
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
}

void IioFuzzTest::generatedMachinesAgree()
{
    const quint32 first = quint32(setting("KVSYSTEM_IIO_FUZZ_SEED", 1));
    const int count = setting("KVSYSTEM_IIO_FUZZ_MACHINES", 200);
    const int parallel = std::max(1, setting("KVSYSTEM_IIO_FUZZ_PARALLEL", 16));
    using IioMachines::Field;

    QMap<QString, int> explained;
    int unexplained = 0;
    int failedToStart = 0;
    for (int batch = 0; batch < count; batch += parallel) {
        std::vector<std::unique_ptr<Run>> runs;
        qputenv("G_MESSAGES_DEBUG", "all"); // the daemon says when a driver has sent a reading
        for (int i = batch; i < std::min(count, batch + parallel); ++i)
            runs.push_back(std::make_unique<Run>(IioMachines::machine(first + quint32(i))));
        qunsetenv("G_MESSAGES_DEBUG");
        for (auto &run : runs)
            if (!run->claim()) {
                qWarning("seed %u: iio-sensor-proxy did not start: %s", run->machine.seed,
                    qPrintable(run->log + run->peer->log()));
                ++failedToStart;
            }
        const bool settled = PeerDaemon::Peer::waitFor([&] {
            bool all = true;
            for (auto &run : runs)
                all = run->settled() && all;
            return all;
        });
        if (!settled)
            for (auto &run : runs)
                if (!run->settled())
                    qWarning().noquote()
                        << QStringLiteral("seed %1: no two readings of %2\n%3\n%4")
                               .arg(run->machine.seed)
                               .arg(run->sent.join(", "), run->log.right(3000),
                                   IioMachines::tableRow(run->machine, "unsettled", "?"));
        QVERIFY2(settled, "a daemon did not send two readings of each sensor claimed");
        for (auto &run : runs) {
            if (!run->ok)
                continue;
            const IioMachines::Machine &m = run->machine;
            const std::optional<Answers> answered = run->peerAnswers();
            if (!answered) {
                qWarning("seed %u: iio-sensor-proxy did not answer: %s", run->machine.seed,
                    qPrintable(run->log + run->peer->log()));
                ++failedToStart;
                continue;
            }
            const Answers theirs = *answered;
            const Answers mine = ours(run->sys(), m);
            QStringList unexplainedHere;
            const auto check = [&](bool agree, Field f, const QString &what) {
                if (agree)
                    return;
                if (const IioMachines::Departure *d = explains(m, f))
                    ++explained[QLatin1String(d->name)];
                else
                    unexplainedHere << what;
            };
            check(mine.accel == theirs.accel, Field::Accelerometer, "accelerometer");
            if (mine.accel && theirs.accel) {
                if (theirs.pose == "undefined" && mine.pose.startsWith("face-"))
                    ++explained["lying flat"];
                else
                    check(mine.pose == theirs.pose, Field::Orientation, "pose");
            }
            check(mine.light == theirs.light, Field::Light, "light");
            if (mine.light && theirs.light)
                check(std::abs(mine.lux - theirs.lux) <= 0.5 + 1e-9 * theirs.lux, Field::LightLevel,
                    "light level");
            // A light read through the buffer only: ours against the
            // device's own values as well.
            if (m.bufferedLux >= 0 && !(mine.light && std::abs(mine.lux - m.bufferedLux) <= 0.5))
                unexplainedHere << "buffered light against the record";
            check(mine.proximity == theirs.proximity, Field::Proximity, "proximity");
            if (mine.proximity && theirs.proximity)
                check(mine.near == theirs.near, Field::Proximity, "near");

            const QString row = IioMachines::tableRow(m,
                QStringLiteral("generated machine %1").arg(m.seed),
                QStringLiteral("%1, \"%2\", %3, %4, %5, %6")
                    .arg(mine.accel ? mine.code : -1)
                    .arg(theirs.pose)
                    .arg(mine.light ? int(mine.lux) : -1)
                    .arg(theirs.light && std::abs(mine.lux - theirs.lux) > 0.5 ? theirs.lux : -1)
                    .arg(mine.proximity ? mine.counts : -1)
                    .arg(theirs.near ? "true" : "false"));
            if (!unexplainedHere.isEmpty()) {
                ++unexplained;
                qWarning().noquote() << QStringLiteral(
                    "seed %1 disagrees on %2\n  iio-sensor-proxy: %3\n  ours:             %4\n"
                    "  row for DeviceTable::sensorMachines():\n%5")
                                            .arg(m.seed)
                                            .arg(unexplainedHere.join(", "), theirs.text(),
                                                mine.text(), row);
            } else if (count == 1) {
                qInfo().noquote() << "iio-sensor-proxy:" << theirs.text()
                                  << "\nours:            " << mine.text() << "\n"
                                  << row;
            }
        }
        // A long run stopped early still says how far it came.
        std::fprintf(stderr, "after %d machines: %d unexplained, %d not started\n",
            std::min(count, batch + parallel), unexplained, failedToStart);
    }
    QStringList summary;
    for (auto it = explained.cbegin(); it != explained.cend(); ++it)
        summary << QStringLiteral("%1: %2").arg(it.key()).arg(it.value());
    qInfo().noquote() << QStringLiteral(
        "%1 machines from seed %2: %3 unexplained disagreements, %4 daemons that did not "
        "start or answer; explained by a departure: %5")
                             .arg(count)
                             .arg(first)
                             .arg(unexplained)
                             .arg(failedToStart)
                             .arg(summary.isEmpty() ? QStringLiteral("none") : summary.join(", "));
    QCOMPARE(failedToStart, 0);
    QCOMPARE(unexplained, 0);
}

QTEST_GUILESS_MAIN(IioFuzzTest)
#include "tst_iiofuzz.moc"
