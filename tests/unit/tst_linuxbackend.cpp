// The Linux backend on fake sysfs trees: what each class reads from the
// kernel's files, absent hardware, unreadable and malformed files, and
// values that change while a source runs.

#include "fakesysfs.h"
#include "linuxbackend.h"
#include "linuxbattery.h"
#include "linuxdisplay.h"
#include "motion.h"
#include "poller.h"

#include <QtTest>

#include <mutex>
#include <unistd.h>

using namespace Vorna::Backend;

Q_DECLARE_METATYPE(Vorna::Backend::BatteryValue)
Q_DECLARE_METATYPE(Vorna::Backend::Sensor)

namespace {

// Samples from a sink that may run on the backend's reader thread.
class Samples
{
public:
    SampleSink sink()
    {
        return [this](const Sample &s) {
            const std::lock_guard<std::mutex> lock(mutex);
            all.append(s);
        };
    }
    // A deep copy: with an implicitly shared one, the reader thread could
    // append in place once the copy is gone, while the test still reads it.
    QVector<Sample> taken() const
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return QVector<Sample>(all.begin(), all.end());
    }
    int count() const { return taken().size(); }
    QVector<qint32> last(int n = 7) const
    {
        const QVector<Sample> s = taken();
        return s.isEmpty() ? QVector<qint32>()
                           : QVector<qint32>(s.last().values.begin(), s.last().values.begin() + n);
    }

private:
    mutable std::mutex mutex;
    QVector<Sample> all;
};

// A login manager that answers as told and records power requests.
class FakeLogin : public LoginManager
{
public:
    std::optional<bool> idle;
    bool accept = true;
    QStringList requests;
    std::optional<bool> idleHint() override { return idle; }
    bool reboot() override
    {
        requests << "reboot";
        return accept;
    }
    bool powerOff() override
    {
        requests << "powerOff";
        return accept;
    }
};

LinuxBackend::Options options(
    const FakeSysfs &tree, std::shared_ptr<LoginManager> login = {}, bool allowPower = false)
{
    LinuxBackend::Options o;
    o.sysfsRoot = tree.root();
    o.login = std::move(login);
    o.allowPower = allowPower;
    return o;
}

// Everything that a piece of code writes to standard error.
QByteArray standardError(const std::function<void()> &code)
{
    QTemporaryFile file;
    if (!file.open())
        return "cannot capture";
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file.handle(), STDERR_FILENO);
    code();
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

constexpr int waitMs = 20000;

} // namespace

class LinuxBackendTest : public QObject
{
    Q_OBJECT
private slots:
    void batteryValues_data();
    void batteryValues();
    void noBatteryReadsZeroAndWarnsOnce();

    void sensorReadings_data();
    void sensorReadings();
    void sensorsThatTheMachineLacks_data();
    void sensorsThatTheMachineLacks();
    void valueChangingWhileRunning_data();
    void valueChangingWhileRunning();
    void unreadableOrMalformedFiles_data();
    void unreadableOrMalformedFiles();
    void badReadWhileRunningIsSkipped();
    void readingsBeforeStart();

    void orientations_data();
    void orientations();
    void headings_data();
    void headings();

    void displayState_data();
    void displayState();
    void displayWrites();
    void displayWithoutBacklight();
    void displayChangeIsNotified();

    void thermalStates_data();
    void thermalStates();
    void thermalChangeIsNotified();
    void deviceModes_data();
    void deviceModes();
    void powerRequests();
    void userActivity();
    void restartedOnChangeSensorDeliversAgain();
    void stalledMainThreadGetsOnePollNotABurst();
};

void LinuxBackendTest::batteryValues_data()
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
        << none << V::RemainingChargingTime << LinuxBattery::noTime;
    QTest::newRow("no talk current on Linux")
        << none << V::AverageTalkCurrent << LinuxBattery::noValue;
    QTest::newRow("no talk time on Linux") << none << V::RemainingTalkTime << LinuxBattery::noTime;
    QTest::newRow("no idle current on Linux")
        << none << V::AverageIdleCurrent << LinuxBattery::noValue;
    QTest::newRow("no idle time on Linux") << none << V::RemainingIdleTime << LinuxBattery::noTime;
    QTest::newRow("malformed capacity is no percentage")
        << QStringList { FakeSysfs::battery + "capacity=seventy" } << V::RemainingCapacityPct
        << LinuxBattery::noValue;
    QTest::newRow("unreadable voltage is no voltage")
        << QStringList { FakeSysfs::battery + "voltage_now=<unreadable>" } << V::Voltage
        << LinuxBattery::noValue;
    QTest::newRow("empty current file reads as no current") << QStringList {
        FakeSysfs::battery + "current_now=", FakeSysfs::battery + "power_now=<absent>"
    } << V::BatteryCurrent << 0;
    QTest::newRow("unreadable charger type does not count as a charger")
        << QStringList { "class/power_supply/usb/type=<unreadable>" } << V::ChargerType << -1;
    QTest::newRow("malformed online counts as offline")
        << QStringList { "class/power_supply/usb/online=yes" } << V::ChargerType << 0;
}

void LinuxBackendTest::batteryValues()
{
    QFETCH(QStringList, edits);
    QFETCH(BatteryValue, value);
    QFETCH(int, expected);

    FakeSysfs tree(FakeSysfs::Phone);
    tree.apply(edits);
    LinuxBackend backend(options(tree));
    QCOMPARE(backend.battery()->read(value, 0), expected);
}

void LinuxBackendTest::noBatteryReadsZeroAndWarnsOnce()
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

void LinuxBackendTest::sensorReadings_data()
{
    QTest::addColumn<Sensor>("kind");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QVector<qint32>>("expected");

    const QStringList none;
    QTest::newRow("light from raw counts, scale and offset")
        << Sensor::Als << none << QVector<qint32> { 300 };
    QTest::newRow("light with an offset, rounded to whole lux")
        << Sensor::Als
        << QStringList { FakeSysfs::light + "in_illuminance_offset=0.3",
               FakeSysfs::light + "in_illuminance_scale=0.5" }
        << QVector<qint32> { 75 };
    QTest::newRow("light in lux where the driver gives it")
        << Sensor::Als << QStringList { FakeSysfs::light + "in_illuminance_input=41.6" }
        << QVector<qint32> { 42 };
    QTest::newRow("proximity raw")
        << Sensor::Proximity << QStringList { FakeSysfs::light + "in_proximity_raw=1200" }
        << QVector<qint32> { 1200 };
    QTest::newRow("acceleration in milli-g")
        << Sensor::Accelerometer
        << QStringList { FakeSysfs::accel + "in_accel_x_raw=-35",
               FakeSysfs::accel + "in_accel_y_raw=640" }
        << QVector<qint32> { -35, 640, 1000 };
    // 1557 counts of 1/1024 g are 1520.51 mg: g taken as 9.81 or 9.807
    // gives 1520, as 9.8 gives 1522.
    QTest::newRow("acceleration from m/s² rounded")
        << Sensor::Accelerometer
        << QStringList { FakeSysfs::accel + "in_accel_scale=0.009576806",
               FakeSysfs::accel + "in_accel_x_raw=1557", FakeSysfs::accel + "in_accel_y_raw=-1557",
               FakeSysfs::accel + "in_accel_z_raw=0" }
        << QVector<qint32> { 1521, -1521, 0 };
    QTest::newRow("field in nT, calibrated and raw, calibrated by the driver")
        << Sensor::Magnetometer << none
        << QVector<qint32> { 0, 20000, -40000, -1000, 20000, -40000, 3 };
    // A fine scale whose values lie near half a nT: a factor off by a
    // hundred-thousandth, or truncating, changes them.
    QTest::newRow("field without offsets is not calibrated, rounded to whole nT")
        << Sensor::Magnetometer
        << QStringList { FakeSysfs::magn + "in_magn_x_offset=<absent>",
               FakeSysfs::magn + "in_magn_y_offset=<absent>",
               FakeSysfs::magn + "in_magn_z_offset=<absent>",
               FakeSysfs::magn + "in_magn_scale=0.00091743", FakeSysfs::magn + "in_magn_x_raw=-161",
               FakeSysfs::magn + "in_magn_y_raw=177", FakeSysfs::magn + "in_magn_z_raw=-150" }
        << QVector<qint32> { -14771, 16239, -13761, -14771, 16239, -13761, 0 };
    QTest::newRow("lying face up") << Sensor::Orientation << none << QVector<qint32> { 6 };
    QTest::newRow("flat, top edge to the north")
        << Sensor::Rotation << none << QVector<qint32> { 0, 0, 0 };
    QTest::newRow("upright, top edge up") << Sensor::Rotation
                                          << QStringList { FakeSysfs::accel + "in_accel_y_raw=1000",
                                                 FakeSysfs::accel + "in_accel_z_raw=0" }
                                          << QVector<qint32> { 90, 0, 0 };
    QTest::newRow("heading north, calibrated")
        << Sensor::Compass << none << QVector<qint32> { 0, 3 };
    QTest::newRow("heading east") << Sensor::Compass
                                  << QStringList { FakeSysfs::magn + "in_magn_x_raw=-210",
                                         FakeSysfs::magn + "in_magn_y_raw=0" }
                                  << QVector<qint32> { 90, 3 };
}

void LinuxBackendTest::sensorReadings()
{
    QFETCH(Sensor, kind);
    QFETCH(QStringList, edits);
    QFETCH(QVector<qint32>, expected);

    FakeSysfs tree(FakeSysfs::Phone);
    tree.apply(edits);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
    QCOMPARE(sensor->requestSession(2), 2);
    QCOMPARE(sensor->sessionType(), 2);
    const quint64 before = monotonicMicroseconds();
    QVERIFY2(sensor->start(), qPrintable(sensor->lastError()));
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 1, waitMs);
    sensor->stop();
    QCOMPARE(samples.last(expected.size()), expected);
    // Microseconds of the monotonic clock, taken when the files were read.
    QVERIFY(samples.taken().first().timestamp >= before);
    QCOMPARE(sensor->lastError(), QString());
}

void LinuxBackendTest::sensorsThatTheMachineLacks_data()
{
    QTest::addColumn<int>("machine");
    QTest::addColumn<Sensor>("kind");
    QTest::addColumn<QString>("error");

    const QString none = "no %1: no %2/bus/iio/devices/iio:device* has %3";
    const QString accelFiles = "in_accel_x_raw, in_accel_y_raw and in_accel_z_raw";
    QTest::newRow("desktop: light")
        << int(FakeSysfs::Desktop) << Sensor::Als
        << none.arg("ambient light sensor", "%1", "in_illuminance_input or in_illuminance_raw");
    QTest::newRow("desktop: proximity") << int(FakeSysfs::Desktop) << Sensor::Proximity
                                        << none.arg("proximity sensor", "%1", "in_proximity_raw");
    QTest::newRow("desktop: accelerometer") << int(FakeSysfs::Desktop) << Sensor::Accelerometer
                                            << none.arg("accelerometer", "%1", accelFiles);
    QTest::newRow("desktop: orientation needs the accelerometer") << int(
        FakeSysfs::Desktop) << Sensor::Orientation << none.arg("accelerometer", "%1", accelFiles);
    QTest::newRow("desktop: rotation needs the accelerometer") << int(
        FakeSysfs::Desktop) << Sensor::Rotation << none.arg("accelerometer", "%1", accelFiles);
    QTest::newRow("desktop: magnetometer")
        << int(FakeSysfs::Desktop) << Sensor::Magnetometer
        << none.arg("magnetometer", "%1", "in_magn_x_raw, in_magn_y_raw and in_magn_z_raw");
    QTest::newRow("desktop: compass needs the accelerometer first") << int(
        FakeSysfs::Desktop) << Sensor::Compass << none.arg("accelerometer", "%1", accelFiles);
    QTest::newRow("phone: no taps in sysfs")
        << int(FakeSysfs::Phone) << Sensor::Tap
        << "no tap sensor: the kernel's IIO devices report no taps to read";
}

void LinuxBackendTest::sensorsThatTheMachineLacks()
{
    QFETCH(int, machine);
    QFETCH(Sensor, kind);
    QFETCH(QString, error);

    FakeSysfs tree { FakeSysfs::Machine(machine) };
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
    QCOMPARE(sensor->requestSession(2), 0);
    QCOMPARE(sensor->sessionType(), 0);
    QCOMPARE(sensor->lastError(), error.contains("%1") ? error.arg(tree.root()) : error);
    QVERIFY(!sensor->start());
    sensor->stop();
    sensor->closeSession();
}

void LinuxBackendTest::valueChangingWhileRunning_data()
{
    QTest::addColumn<Sensor>("kind");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QVector<qint32>>("before");
    QTest::addColumn<QVector<qint32>>("after");

    QTest::newRow("light turned up")
        << Sensor::Als << QStringList { FakeSysfs::light + "in_illuminance_raw=400" }
        << QVector<qint32> { 300 } << QVector<qint32> { 800 };
    QTest::newRow("hand over the proximity sensor")
        << Sensor::Proximity << QStringList { FakeSysfs::light + "in_proximity_raw=900" }
        << QVector<qint32> { 0 } << QVector<qint32> { 900 };
    QTest::newRow("picked up and held upright")
        << Sensor::Orientation
        << QStringList { FakeSysfs::accel + "in_accel_y_raw=980",
               FakeSysfs::accel + "in_accel_z_raw=170" }
        << QVector<qint32> { 6 } << QVector<qint32> { 2 };
    QTest::newRow("accelerometer follows the device")
        << Sensor::Accelerometer << QStringList { FakeSysfs::accel + "in_accel_x_raw=-500" }
        << QVector<qint32> { 0, 0, 1000 } << QVector<qint32> { -500, 0, 1000 };
}

void LinuxBackendTest::valueChangingWhileRunning()
{
    QFETCH(Sensor, kind);
    QFETCH(QStringList, edits);
    QFETCH(QVector<qint32>, before);
    QFETCH(QVector<qint32>, after);

    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
    sensor->requestSession(2);
    QVERIFY(sensor->start());
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 1, waitMs);
    QCOMPARE(samples.last(before.size()), before);
    tree.apply(edits);
    QTRY_COMPARE_WITH_TIMEOUT(samples.last(after.size()), after, waitMs);
    sensor->stop();

    // Light, proximity and orientation come only when they change.
    if (kind != Sensor::Accelerometer) {
        const QVector<Sample> all = samples.taken();
        QCOMPARE(all.size(), 2);
    }
}

void LinuxBackendTest::unreadableOrMalformedFiles_data()
{
    QTest::addColumn<Sensor>("kind");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("contents");

    QTest::newRow("light counts not a number")
        << Sensor::Als << FakeSysfs::light + "in_illuminance_raw" << QByteArray("lots");
    QTest::newRow("light scale unreadable")
        << Sensor::Als << FakeSysfs::light + "in_illuminance_scale"
        << QByteArray(FakeSysfs::unreadable);
    QTest::newRow("proximity empty")
        << Sensor::Proximity << FakeSysfs::light + "in_proximity_raw" << QByteArray("");
    QTest::newRow("accelerometer axis unreadable")
        << Sensor::Accelerometer << FakeSysfs::accel + "in_accel_y_raw"
        << QByteArray(FakeSysfs::unreadable);
    QTest::newRow("magnetometer scale malformed")
        << Sensor::Compass << FakeSysfs::magn + "in_magn_scale" << QByteArray("0.0.1");
}

void LinuxBackendTest::unreadableOrMalformedFiles()
{
    QFETCH(Sensor, kind);
    QFETCH(QString, file);
    QFETCH(QByteArray, contents);

    FakeSysfs tree(FakeSysfs::Phone);
    tree.set(file, contents);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
    QCOMPARE(sensor->requestSession(2), 2);
    QVERIFY(!sensor->start());
    QCOMPARE(sensor->lastError(), "cannot read a value from " + tree.root() + "/" + file);
}

void LinuxBackendTest::badReadWhileRunningIsSkipped()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(Sensor::Als, samples.sink());
    sensor->requestSession(2);
    QVERIFY(sensor->start());
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 1, waitMs);
    tree.set(FakeSysfs::light + "in_illuminance_raw", "garbage");
    tree.set(FakeSysfs::light + "in_illuminance_raw", FakeSysfs::unreadable);
    tree.set(FakeSysfs::light + "in_illuminance_raw", "10");
    QTRY_COMPARE_WITH_TIMEOUT(samples.last(1), QVector<qint32> { 20 }, waitMs);
    sensor->stop();
    QCOMPARE(samples.count(), 2);
}

void LinuxBackendTest::readingsBeforeStart()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> rotation = backend.sensor(Sensor::Rotation, samples.sink());
    QVERIFY(rotation->hasZ());
    // Right edge raised by 30 degrees, the top edge still to the north.
    tree.apply({ FakeSysfs::accel + "in_accel_x_raw=500", FakeSysfs::accel + "in_accel_z_raw=866",
        FakeSysfs::magn + "in_magn_x_raw=-210", FakeSysfs::magn + "in_magn_z_raw=-346" });
    const Sample now = rotation->current();
    QCOMPARE(QVector<qint32>(now.values.begin(), now.values.begin() + 3),
        (QVector<qint32> { 0, 30, 0 }));
    QVERIFY(now.timestamp > 0);

    std::unique_ptr<SensorSource> field = backend.sensor(Sensor::Magnetometer, samples.sink());
    QCOMPARE(field->current().values[1], 20000);
    tree.set(FakeSysfs::magn + "in_magn_y_raw", FakeSysfs::unreadable);
    QCOMPARE(field->current(), Sample()); // nothing to read: an empty reading
    QCOMPARE(samples.count(), 0);

    tree.set("bus/iio/devices/iio:device2", FakeSysfs::absent);
    QVERIFY(!backend.sensor(Sensor::Rotation, samples.sink())->hasZ());
}

void LinuxBackendTest::orientations_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("z");
    QTest::addColumn<int>("previous");
    QTest::addColumn<int>("expected");

    QTest::newRow("face up") << 0.0 << 0.0 << 1000.0 << 0 << 6;
    QTest::newRow("face down") << 0.0 << 0.0 << -1000.0 << 0 << 5;
    QTest::newRow("upright: bottom down") << 0.0 << 1000.0 << 0.0 << 0 << 2;
    QTest::newRow("upside down: bottom up") << 0.0 << -1000.0 << 0.0 << 0 << 1;
    QTest::newRow("right edge up") << 1000.0 << 0.0 << 0.0 << 0 << 4;
    QTest::newRow("left edge up") << -1000.0 << 0.0 << 0.0 << 0 << 3;
    QTest::newRow("tilted 35 degrees from face up is still face up")
        << 0.0 << 574.0 << 819.0 << 2 << 6;
    QTest::newRow("tilted 45 degrees keeps the last pose") << 0.0 << 707.0 << 707.0 << 6 << 6;
    QTest::newRow("tilted 45 degrees from the other side keeps it too")
        << 0.0 << 707.0 << 707.0 << 2 << 2;
    QTest::newRow("between poses at the start is undefined") << 0.0 << 707.0 << 707.0 << 0 << 0;
    QTest::newRow("shaken: too much acceleration keeps the pose") << 0.0 << 1800.0 << 0.0 << 6 << 6;
    QTest::newRow("falling: too little acceleration keeps the pose")
        << 0.0 << 0.0 << 300.0 << 2 << 2;
}

void LinuxBackendTest::orientations()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, z);
    QFETCH(int, previous);
    QFETCH(int, expected);
    QCOMPARE(Motion::orientation({ x, y, z }, previous), expected);
}

void LinuxBackendTest::headings_data()
{
    QTest::addColumn<QVector<double>>("accel");
    QTest::addColumn<QVector<double>>("field");
    QTest::addColumn<int>("expected");

    const QVector<double> flat { 0, 0, 1000 };
    QTest::newRow("flat, top to the north") << flat << QVector<double> { 0, 20, -40 } << 0;
    QTest::newRow("flat, top to the east") << flat << QVector<double> { -20, 0, -40 } << 90;
    QTest::newRow("flat, top to the south") << flat << QVector<double> { 0, -20, -40 } << 180;
    QTest::newRow("flat, top to the west") << flat << QVector<double> { 20, 0, -40 } << 270;
    QTest::newRow("flat, top to the north-east")
        << flat << QVector<double> { -14.142, 14.142, -40 } << 45;
    // Top edge raised by 30 degrees: the field (20 north, 40 down) seen
    // along the device's tilted y and z axes.
    QTest::newRow("top edge raised 30 degrees, top to the north")
        << QVector<double> { 0, 500, 866 }
        << QVector<double> { 0, 20 * 0.866 - 40 * 0.5, -20 * 0.5 - 40 * 0.866 } << 0;
    QTest::newRow("top edge raised 30 degrees, top to the west")
        << QVector<double> { 0, 500, 866 } << QVector<double> { 20, -40 * 0.5, -40 * 0.866 } << 270;
    QTest::newRow("field along gravity gives no heading")
        << flat << QVector<double> { 0, 0, -40 } << -1;
    QTest::newRow("no field gives no heading") << flat << QVector<double> { 0, 0, 0 } << -1;
}

void LinuxBackendTest::headings()
{
    QFETCH(QVector<double>, accel);
    QFETCH(QVector<double>, field);
    QFETCH(int, expected);
    QCOMPARE(Motion::heading({ accel[0], accel[1], accel[2] }, { field[0], field[1], field[2] }),
        expected);
}

void LinuxBackendTest::displayState_data()
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

void LinuxBackendTest::displayState()
{
    QFETCH(QStringList, edits);
    QFETCH(int, expected);
    FakeSysfs tree(FakeSysfs::Phone);
    tree.apply(edits);
    LinuxBackend backend(options(tree));
    QCOMPARE(backend.display([](int) {})->get(), expected);
}

void LinuxBackendTest::displayWrites()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    std::unique_ptr<DisplaySource> display = backend.display([](int) {});

    QVERIFY(display->set(0));
    QCOMPARE(tree.get(FakeSysfs::panel + "brightness"), "25");
    QCOMPARE(display->get(), 0);
    QVERIFY(display->set(1));
    QCOMPARE(
        tree.get(FakeSysfs::panel + "brightness"), "200"); // back to where it was before dimming
    QVERIFY(display->set(-1));
    QCOMPARE(tree.get(FakeSysfs::panel + "bl_power"), "4");
    QCOMPARE(display->get(), -1);
    QVERIFY(display->set(1));
    QCOMPARE(tree.get(FakeSysfs::panel + "bl_power"), "0");
    QCOMPARE(tree.get(FakeSysfs::panel + "brightness"), "200");
    QVERIFY(!display->set(2));

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
    QVERIFY(!display->set(0));
    display->setBrightness(3);
    QCOMPARE(display->brightness(), -1);
}

void LinuxBackendTest::displayWithoutBacklight()
{
    FakeSysfs tree(FakeSysfs::Desktop);
    LinuxBackend backend(options(tree));
    std::unique_ptr<DisplaySource> display = backend.display([](int) {});
    QCOMPARE(display->get(), 1);
    QVERIFY(!display->set(0));
    QVERIFY(!display->set(1));
    display->setBrightness(3);
    QCOMPARE(display->brightness(), -1);
    QCOMPARE(display->dimTimeout(), 30);
}

void LinuxBackendTest::displayChangeIsNotified()
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

void LinuxBackendTest::thermalStates_data()
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

void LinuxBackendTest::thermalStates()
{
    QFETCH(int, machine);
    QFETCH(QStringList, edits);
    QFETCH(int, expected);
    FakeSysfs tree { FakeSysfs::Machine(machine) };
    tree.apply(edits);
    LinuxBackend backend(options(tree));
    QCOMPARE(backend.thermal([](int) {})->get(), expected);
}

void LinuxBackendTest::thermalChangeIsNotified()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    QVector<int> changes;
    std::unique_ptr<StateSource> thermal = backend.thermal([&](int s) { changes << s; });
    tree.set(FakeSysfs::zone + "temp", "65000");
    QTRY_COMPARE_WITH_TIMEOUT(changes, QVector<int> { 1 }, waitMs);
    tree.set(FakeSysfs::zone + "temp", "95000");
    QTRY_COMPARE_WITH_TIMEOUT(changes, (QVector<int> { 1, 2 }), waitMs);
    thermal.reset();
    tree.set(FakeSysfs::zone + "temp", "20000");
    QCOMPARE(backend.thermal([](int) {})->get(), 0);
}

void LinuxBackendTest::deviceModes_data()
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

void LinuxBackendTest::deviceModes()
{
    QFETCH(QStringList, edits);
    QFETCH(int, expected);
    FakeSysfs tree(FakeSysfs::Phone);
    tree.apply(edits);
    LinuxBackend backend(options(tree));
    QCOMPARE(backend.deviceMode([](int) {})->get(), expected);
}

void LinuxBackendTest::powerRequests()
{
    FakeSysfs tree(FakeSysfs::Phone);
    auto login = std::make_shared<FakeLogin>();
    {
        LinuxBackend backend(options(tree, login));
        std::unique_ptr<SystemStateSource> state = backend.systemState([](int) {});
        QVERIFY(!state->set(1));
        QVERIFY(!state->set(2));
        QVERIFY(!state->set(0));
        QCOMPARE(login->requests, QStringList());
    }
    LinuxBackend backend(options(tree, login, true));
    std::unique_ptr<SystemStateSource> state = backend.systemState([](int) {});
    QVERIFY(state->set(1));
    QVERIFY(state->set(2));
    QVERIFY(state->set(0));
    QVERIFY(!state->set(3));
    login->accept = false;
    QVERIFY(!state->set(1));
    QCOMPARE(login->requests, (QStringList { "reboot", "powerOff", "reboot" }));
}

void LinuxBackendTest::userActivity()
{
    FakeSysfs tree(FakeSysfs::Phone);
    auto login = std::make_shared<FakeLogin>();
    LinuxBackend backend(options(tree, login));
    QVector<int> changes;
    std::unique_ptr<StateSource> activity = backend.activity([&](int a) { changes << a; });
    QCOMPARE(activity->get(), 1); // no login manager to ask: active
    login->idle = true;
    QCOMPARE(activity->get(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(changes, QVector<int> { 0 }, waitMs);
    login->idle = false;
    QTRY_COMPARE_WITH_TIMEOUT(changes, (QVector<int> { 0, 1 }), waitMs);

    LinuxBackend without(options(tree));
    QCOMPARE(without.activity([](int) {})->get(), 1);
}

void LinuxBackendTest::restartedOnChangeSensorDeliversAgain()
{
    // A light sensor reports on change only, but a restart reports the
    // value again, changed or not.
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(Sensor::Als, samples.sink());
    sensor->requestSession(2);
    QVERIFY(sensor->start());
    QTRY_COMPARE_WITH_TIMEOUT(samples.count(), 1, waitMs);
    sensor->stop();
    QVERIFY(sensor->start());
    QTRY_COMPARE_WITH_TIMEOUT(samples.count(), 2, waitMs);
    sensor->stop();
    QCOMPARE(samples.last(1), QVector<qint32> { 300 });
}

void LinuxBackendTest::stalledMainThreadGetsOnePollNotABurst()
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

QTEST_GUILESS_MAIN(LinuxBackendTest)
#include "tst_linuxbackend.moc"
