// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The sensors on fake sysfs trees: what each reads from the IIO devices,
// absent hardware, unreadable and malformed files, values that change while
// a sensor runs, and the motion maths behind orientation and heading.

#include "backends/linux/linuxbackend.h"
#include "backends/linux/linuxsensor.h"
#include "backends/linux/motion.h"
#include "backendtesting.h"
#include "devicetable.h"
#include "fakesysfs.h"

#include "backends/linux/iiobuffer.h"

#include <QtEndian>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Vorna::Backend;

Q_DECLARE_METATYPE(Vorna::Backend::Sensor)

class LinuxSensorsTest : public QObject
{
    Q_OBJECT
private slots:
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
    // Machines modelled on real ones, as the differential test against
    // iio-sensor-proxy uses them.
    void machines_data();
    void machines();
    void orientations_data();
    void orientations();
    void headings_data();
    void headings();
    void restartedOnChangeSensorDeliversAgain();
    void receiverCallsBackFromInside_data();
    void receiverCallsBackFromInside();
    void entriesInKernelOrder_data();
    void entriesInKernelOrder();
    void writeAccepted_data();
    void writeAccepted();
    void scanElements_data();
    void scanElements();
    void bufferedAccelerometer();
    void nodeThatNeverRunsDry();
    void headingFromTheHubsBuffer();
    void lightFromTheHubsBuffer();
    void bufferOpenedAndClosedAsTheKernelAllows_data();
    void bufferOpenedAndClosedAsTheKernelAllows();
};

void LinuxSensorsTest::sensorReadings_data()
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
    QTest::newRow("light whose conversion is no number: counts and offset beyond a double, scale 0")
        << Sensor::Als
        << QStringList { FakeSysfs::light + "in_illuminance_raw=1e308",
               FakeSysfs::light + "in_illuminance_offset=1e308",
               FakeSysfs::light + "in_illuminance_scale=0" }
        << QVector<qint32> { 0 };
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
        << QVector<qint32> { -35, 640, -1000 };
    // 1557 counts of 1/1024 g are 1520.51 mg: g taken as 9.81 or 9.807
    // gives 1520, as 9.8 gives 1522.
    QTest::newRow("acceleration from m/s² rounded")
        << Sensor::Accelerometer
        << QStringList { FakeSysfs::accel + "in_accel_scale=0.009576806",
               FakeSysfs::accel + "in_accel_x_raw=1557", FakeSysfs::accel + "in_accel_y_raw=-1557",
               FakeSysfs::accel + "in_accel_z_raw=0" }
        << QVector<qint32> { 1521, -1521, 0 };
    QTest::newRow("field in nT, the offset part of the conversion as the ABI says, no calibration")
        << Sensor::Magnetometer << none
        << QVector<qint32> { 0, 20000, -40000, 0, 20000, -40000, 0 };
    // A fine scale whose values lie near half a nT: a factor off by a
    // hundred-thousandth, or truncating, changes them.
    QTest::newRow("field without offsets, rounded to whole nT")
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
    QTest::newRow("upright, top edge up")
        << Sensor::Rotation
        << QStringList { FakeSysfs::accel + "in_accel_y_raw=-1000",
               FakeSysfs::accel + "in_accel_z_raw=0" }
        << QVector<qint32> { 90, 0, 0 };
    QTest::newRow("the driver's mount matrix turns the sensor's axes into the device's")
        << Sensor::Accelerometer
        << QStringList { FakeSysfs::accel + "in_accel_mount_matrix=0, 1, 0; -1, 0, 0; 0, 0, 1",
               FakeSysfs::accel + "in_accel_x_raw=250", FakeSysfs::accel + "in_accel_y_raw=-500" }
        << QVector<qint32> { -500, -250, -1000 };
    QTest::newRow("udev's ACCEL_MOUNT_MATRIX wins over the driver's")
        << Sensor::Accelerometer
        << QStringList { FakeSysfs::accel + "in_accel_mount_matrix=0, 1, 0; -1, 0, 0; 0, 0, 1",
               FakeSysfs::accel + "uevent=ACCEL_MOUNT_MATRIX=-1, 0, 0; 0, -1, 0; 0, 0, 1",
               FakeSysfs::accel + "in_accel_x_raw=250", FakeSysfs::accel + "in_accel_y_raw=-500" }
        << QVector<qint32> { -250, 500, -1000 };
    QTest::newRow("a mount matrix of zeros is taken as none")
        << Sensor::Accelerometer
        << QStringList { FakeSysfs::accel + "mount_matrix=0, 0, 0; 0, 0, 0; 0, 0, 0" }
        << QVector<qint32> { 0, 0, -1000 };
    QTest::newRow("a scale of 0 passes to the device's bare scale")
        << Sensor::Accelerometer
        << QStringList { FakeSysfs::accel + "in_accel_scale=0",
               FakeSysfs::accel + "scale=0.0196133" }
        << QVector<qint32> { 0, 0, -2000 };
    QTest::newRow("an empty mount matrix is the identity, ending the search")
        << Sensor::Accelerometer
        << QStringList { FakeSysfs::accel + "mount_matrix=",
               FakeSysfs::accel + "in_accel_mount_matrix=1, 0, 0; 0, 1, 0; 0, 0, -1" }
        << QVector<qint32> { 0, 0, -1000 };
    QTest::newRow("a convertible's base accelerometer is passed over for the display's")
        << Sensor::Accelerometer
        << QStringList { FakeSysfs::accel + "label=accel-base",
               "bus/iio/devices/iio:device3/in_accel_x_raw=0",
               "bus/iio/devices/iio:device3/in_accel_y_raw=-1000",
               "bus/iio/devices/iio:device3/in_accel_z_raw=0",
               "bus/iio/devices/iio:device3/in_accel_scale=0.00980665",
               "bus/iio/devices/iio:device3/uevent=ACCEL_LOCATION=display" }
        << QVector<qint32> { 0, -1000, 0 };
    QTest::newRow("upright, the screen turned to the right edge")
        << Sensor::Orientation
        << QStringList { FakeSysfs::accel + "in_accel_x_raw=-1000",
               FakeSysfs::accel + "in_accel_z_raw=0" }
        << QVector<qint32> { 4 };
    QTest::newRow("light from an indexed processed channel")
        << Sensor::Als
        << QStringList { FakeSysfs::light + "in_illuminance_raw=<absent>",
               FakeSysfs::light + "in_illuminance0_input=12.4" }
        << QVector<qint32> { 12 };
    QTest::newRow("a processed light value is not scaled again, as the ABI says")
        << Sensor::Als
        << QStringList { FakeSysfs::light + "in_illuminance_input=41.6",
               FakeSysfs::light + "in_illuminance_scale=10" }
        << QVector<qint32> { 42 };
    QTest::newRow("heading north, no calibration level from the kernel")
        << Sensor::Compass << none << QVector<qint32> { 0, 0 };
    QTest::newRow("heading east") << Sensor::Compass
                                  << QStringList { FakeSysfs::magn + "in_magn_x_raw=-210",
                                         FakeSysfs::magn + "in_magn_y_raw=0" }
                                  << QVector<qint32> { 90, 0 };
}

void LinuxSensorsTest::sensorReadings()
{
    QFETCH(Sensor, kind);
    QFETCH(QStringList, edits);
    QFETCH(QVector<qint32>, expected);

    FakeSysfs tree(FakeSysfs::Phone);
    tree.apply(edits);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
    QCOMPARE(int(sensor->requestSession(Vorna::KvSensor::ControlSession)), 2);
    QCOMPARE(int(sensor->sessionType()), 2);
    const quint64 before = monotonicMicroseconds();
    QVERIFY2(sensor->start(), qPrintable(sensor->lastError()));
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 1, waitMs);
    sensor->stop();
    QCOMPARE(samples.last(expected.size()), expected);
    // Microseconds of the monotonic clock, taken when the files were read.
    QVERIFY(samples.taken().first().timestamp >= before);
    QCOMPARE(sensor->lastError(), QString());
}

void LinuxSensorsTest::sensorsThatTheMachineLacks_data()
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

void LinuxSensorsTest::sensorsThatTheMachineLacks()
{
    QFETCH(int, machine);
    QFETCH(Sensor, kind);
    QFETCH(QString, error);

    FakeSysfs tree { FakeSysfs::Machine(machine) };
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
    QCOMPARE(int(sensor->requestSession(Vorna::KvSensor::ControlSession)), 0);
    QCOMPARE(int(sensor->sessionType()), 0);
    QCOMPARE(sensor->lastError(), error.contains("%1") ? error.arg(tree.root()) : error);
    QVERIFY(!sensor->start());
    sensor->stop();
    sensor->closeSession();
}

void LinuxSensorsTest::valueChangingWhileRunning_data()
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
        << QStringList { FakeSysfs::accel + "in_accel_y_raw=-980",
               FakeSysfs::accel + "in_accel_z_raw=-170" }
        << QVector<qint32> { 6 } << QVector<qint32> { 2 };
    QTest::newRow("accelerometer follows the device")
        << Sensor::Accelerometer << QStringList { FakeSysfs::accel + "in_accel_x_raw=-500" }
        << QVector<qint32> { 0, 0, -1000 } << QVector<qint32> { -500, 0, -1000 };
}

void LinuxSensorsTest::valueChangingWhileRunning()
{
    QFETCH(Sensor, kind);
    QFETCH(QStringList, edits);
    QFETCH(QVector<qint32>, before);
    QFETCH(QVector<qint32>, after);

    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
    sensor->requestSession(Vorna::KvSensor::ControlSession);
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

void LinuxSensorsTest::unreadableOrMalformedFiles_data()
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
    QTest::newRow("light counts not a number: nan")
        << Sensor::Als << FakeSysfs::light + "in_illuminance_raw" << QByteArray("nan");
    QTest::newRow("accelerometer axis infinite")
        << Sensor::Accelerometer << FakeSysfs::accel + "in_accel_x_raw" << QByteArray("inf");
    QTest::newRow("magnetometer scale minus infinity")
        << Sensor::Magnetometer << FakeSysfs::magn + "in_magn_scale" << QByteArray("-inf");
    QTest::newRow("light counts a FIFO, which is no attribute and must not block")
        << Sensor::Als << FakeSysfs::light + "in_illuminance_raw" << QByteArray(FakeSysfs::fifo);
}

void LinuxSensorsTest::unreadableOrMalformedFiles()
{
    QFETCH(Sensor, kind);
    QFETCH(QString, file);
    QFETCH(QByteArray, contents);

    FakeSysfs tree(FakeSysfs::Phone);
    tree.set(file, contents);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
    QCOMPARE(int(sensor->requestSession(Vorna::KvSensor::ControlSession)), 2);
    QVERIFY(!sensor->start());
    QCOMPARE(sensor->lastError(), "cannot read a value from " + tree.root() + "/" + file);
}

void LinuxSensorsTest::badReadWhileRunningIsSkipped()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(Sensor::Als, samples.sink());
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    QVERIFY(sensor->start());
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 1, waitMs);
    tree.set(FakeSysfs::light + "in_illuminance_raw", "garbage");
    tree.set(FakeSysfs::light + "in_illuminance_raw", FakeSysfs::unreadable);
    tree.set(FakeSysfs::light + "in_illuminance_raw", "10");
    QTRY_COMPARE_WITH_TIMEOUT(samples.last(1), QVector<qint32> { 20 }, waitMs);
    sensor->stop();
    QCOMPARE(samples.count(), 2);
}

void LinuxSensorsTest::readingsBeforeStart()
{
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> rotation = backend.sensor(Sensor::Rotation, samples.sink());
    QVERIFY(rotation->hasZ());
    // Right edge raised by 30 degrees, the top edge still to the north.
    tree.apply({ FakeSysfs::accel + "in_accel_x_raw=-500", FakeSysfs::accel + "in_accel_z_raw=-866",
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

void LinuxSensorsTest::machines_data()
{
    QTest::addColumn<int>("row");
    const QVector<DeviceTable::Sensors> all = DeviceTable::sensorMachines();
    for (int i = 0; i < all.size(); ++i)
        QTest::newRow(all[i].name) << i;
}

void LinuxSensorsTest::machines()
{
    QFETCH(int, row);
    const DeviceTable::Sensors machine = DeviceTable::sensorMachines().at(row);
    QTemporaryDir tree;
    QVERIFY(DeviceTable::writeTree(tree.path(), machine.devices));
    LinuxBackend::Options o;
    o.sysfsRoot = tree.path() + "/sys";
    LinuxBackend backend(o);
    const auto first = [&](Sensor kind) -> qint32 {
        Samples samples;
        std::unique_ptr<SensorSource> sensor = backend.sensor(kind, samples.sink());
        sensor->requestSession(Vorna::KvSensor::ControlSession);
        if (!sensor->start())
            return -1;
        QDeadlineTimer deadline(waitMs);
        while (samples.count() == 0 && !deadline.hasExpired())
            QTest::qWait(10);
        sensor->stop();
        return samples.count() ? samples.last(1).value(0) : -2;
    };
    // -1: the machine has no such sensor, and it is refused.
    QCOMPARE(first(Sensor::Orientation), machine.orientation);
    QCOMPARE(first(Sensor::Als), machine.lux);
    QCOMPARE(first(Sensor::Proximity), machine.proximity);
}

void LinuxSensorsTest::orientations_data()
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
    QTest::newRow("tilted 38 degrees from face up stays face up")
        << 0.0 << 616.0 << 788.0 << 6 << 6;
    QTest::newRow("tilted 38 degrees towards face up stays upright, as iio-sensor-proxy")
        << 0.0 << 616.0 << 788.0 << 2 << 2;
    QTest::newRow("tilted 45 degrees is upright, as iio-sensor-proxy")
        << 0.0 << 707.0 << 707.0 << 6 << 2;
    QTest::newRow("two edges raised at once keeps the last pose")
        << 600.0 << 600.0 << 529.0 << 4 << 4;
    QTest::newRow("two edges raised at once at the start is undefined")
        << 600.0 << 600.0 << 529.0 << 0 << 0;
    QTest::newRow("shaken: too much acceleration keeps the pose") << 0.0 << 1800.0 << 0.0 << 6 << 6;
    QTest::newRow("falling: too little acceleration keeps the pose")
        << 0.0 << 0.0 << 300.0 << 2 << 2;
}

void LinuxSensorsTest::orientations()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, z);
    QFETCH(int, previous);
    QFETCH(int, expected);
    QCOMPARE(int(Motion::orientation({ x, y, z }, Vorna::KvOrientation::Orientation(previous))),
        expected);
}

void LinuxSensorsTest::headings_data()
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

void LinuxSensorsTest::headings()
{
    QFETCH(QVector<double>, accel);
    QFETCH(QVector<double>, field);
    QFETCH(int, expected);
    QCOMPARE(Motion::heading({ accel[0], accel[1], accel[2] }, { field[0], field[1], field[2] }),
        expected);
}

void LinuxSensorsTest::restartedOnChangeSensorDeliversAgain()
{
    // A light sensor reports on change only, but a restart reports the
    // value again, changed or not.
    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(Sensor::Als, samples.sink());
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    QVERIFY(sensor->start());
    QTRY_COMPARE_WITH_TIMEOUT(samples.count(), 1, waitMs);
    sensor->stop();
    QVERIFY(sensor->start());
    QTRY_COMPARE_WITH_TIMEOUT(samples.count(), 2, waitMs);
    sensor->stop();
    QCOMPARE(samples.last(1), QVector<qint32> { 300 });
}

void LinuxSensorsTest::receiverCallsBackFromInside_data()
{
    QTest::addColumn<QString>("call");
    QTest::newRow("stop from the reading's receiver") << "stop";
    QTest::newRow("close the session from the reading's receiver") << "closeSession";
    QTest::newRow("delete the sensor from the reading's receiver") << "delete";
}

void LinuxSensorsTest::receiverCallsBackFromInside()
{
    QFETCH(QString, call);

    FakeSysfs tree(FakeSysfs::Phone);
    LinuxBackend backend(options(tree));
    std::unique_ptr<SensorSource> sensor;
    int readings = 0;
    QThread *thread = nullptr;
    sensor = backend.sensor(Sensor::Accelerometer, [&](const Sample &) {
        ++readings;
        thread = QThread::currentThread();
        if (call == "stop")
            sensor->stop();
        else if (call == "closeSession")
            sensor->closeSession();
        else
            sensor.reset();
    });
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    QVERIFY(sensor->start());
    QTRY_COMPARE_WITH_TIMEOUT(readings, 1, waitMs);
    // The reading came on this thread, and nothing follows the call.
    QCOMPARE(thread, QThread::currentThread());
    QTest::qWait(3 * LinuxSensor::motionPollMs);
    QCOMPARE(readings, 1);
}

void LinuxSensorsTest::entriesInKernelOrder_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QStringList>("names"); // in the kernel's order
    QTest::newRow("iio:device2 before iio:device10")
        << "iio:device" << QStringList { "iio:device0", "iio:device2", "iio:device10" };
    QTest::newRow("BAT2 before BAT10") << "BAT" << QStringList { "BAT1", "BAT2", "BAT10", "BAT11" };
}

void LinuxSensorsTest::entriesInKernelOrder()
{
    QFETCH(QString, prefix);
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    QStringList want;
    for (auto it = names.crbegin(); it != names.crend(); ++it) // made in reverse
        QVERIFY(QDir(dir.path()).mkdir(*it));
    for (const QString &name : names)
        want << dir.path() + '/' + name;
    QCOMPARE(Sysfs::entries(dir.path(), prefix), want);
}

void LinuxSensorsTest::writeAccepted_data()
{
    QTest::addColumn<qint64>("written");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("written whole and closed") << qint64(4) << true << true;
    QTest::newRow("refused only at close()") << qint64(4) << false << false;
    QTest::newRow("refused by write()") << qint64(-1) << true << false;
    QTest::newRow("written in part") << qint64(2) << true << false;
}

void LinuxSensorsTest::writeAccepted()
{
    QFETCH(qint64, written);
    QFETCH(bool, closed);
    QFETCH(bool, accepted);
    QCOMPARE(Sysfs::accepted(written, 4, closed), accepted);
}

void LinuxSensorsTest::scanElements_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<qint64>("value"); // -1: the type is refused
    QTest::newRow("little-endian signed 16 bits")
        << QByteArray("le:s16/16>>0") << QByteArray::fromHex("00ff") << qint64(-256);
    QTest::newRow("big-endian signed 16 bits")
        << QByteArray("be:s16/16>>0") << QByteArray::fromHex("ff00") << qint64(-256);
    QTest::newRow("12 unsigned bits shifted by 4, the low bits masked off")
        << QByteArray("le:u12/16>>4") << QByteArray::fromHex("ffff") << qint64(4095);
    QTest::newRow("12 signed bits in 32, shifted by 4")
        << QByteArray("le:s12/32>>4") << QByteArray::fromHex("b0ff0000") << qint64(-5);
    QTest::newRow("a sign that is neither s nor u")
        << QByteArray("le:x16/16>>0") << QByteArray::fromHex("0000") << qint64(-1);
    QTest::newRow("more bits than the storage holds")
        << QByteArray("le:s16/16>>4") << QByteArray::fromHex("0000") << qint64(-1);
    // bits + shift against the storage: below, at and above it, and sums
    // that wrap round 2^32.
    QTest::newRow("bits and shift one short of the storage")
        << QByteArray("le:u12/16>>3") << QByteArray::fromHex("0840") << qint64(2049);
    QTest::newRow("bits and shift filling the storage")
        << QByteArray("le:u63/64>>1") << QByteArray::fromHex("0200000000000080")
        << qint64(0x4000000000000001);
    QTest::newRow("63 signed bits, the most negative")
        << QByteArray("le:s63/64>>0") << QByteArray::fromHex("0000000000000040")
        << qint64(-4611686018427387904);
    QTest::newRow("bits and shift one beyond the storage")
        << QByteArray("le:u63/64>>2") << QByteArray::fromHex("00") << qint64(-1);
    QTest::newRow("bits whose sum with the shift wraps to 0")
        << QByteArray("le:s4294967295/64>>1") << QByteArray::fromHex("00") << qint64(-1);
    QTest::newRow("a shift whose sum with the bits wraps to 0")
        << QByteArray("le:s1/64>>4294967295") << QByteArray::fromHex("00") << qint64(-1);
    QTest::newRow("bits whose sum with the shift wraps to the storage")
        << QByteArray("le:s4294967295/64>>65") << QByteArray::fromHex("00") << qint64(-1);
}

void LinuxSensorsTest::scanElements()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, stored);
    QFETCH(qint64, value);
    std::optional<Iio::ScanChannel> c = Iio::parseScanType(type);
    QCOMPARE(bool(c), value != -1);
    if (c)
        QCOMPARE(Iio::decode(stored.constData(), *c), value);
}

// A HID accelerometer with a buffer, lying face down: x and y as 16 bits,
// z as 12 bits in 32, and a 64-bit time stamp that the layout aligns to 8
// bytes. Its node, dev/iio:device0, is left to the test.
static bool writeBufferedAccelerometer(const QString &root)
{
    QStringList scan { "trigger/current_trigger=", "buffer/length=0", "buffer/enable=0" };
    const char *types[] = { "le:s16/16>>0", "le:s16/16>>0", "le:s12/32>>4", "le:s64/64>>0" };
    const char *names[] = { "in_accel_x", "in_accel_y", "in_accel_z", "in_timestamp" };
    for (int i = 0; i < 4; ++i)
        scan << QStringLiteral("scan_elements/%1_en=0").arg(names[i])
             << QStringLiteral("scan_elements/%1_index=%2").arg(names[i]).arg(i)
             << QStringLiteral("scan_elements/%1_type=%2").arg(names[i], types[i]);
    return DeviceTable::writeTree(root,
               { DeviceTable::accel(0, 0, 0, 256, scan),
                   { "iio", "trigger0", { "name=accel_3d-dev0" } } })
        && QDir(root).mkdir("dev");
}

void LinuxSensorsTest::bufferedAccelerometer()
{
    // The node a FIFO the test feeds.
    QTemporaryDir root;
    QVERIFY(writeBufferedAccelerometer(root.path()));
    QCOMPARE(::mkfifo(QFile::encodeName(root.path() + "/dev/iio:device0").constData(), 0600), 0);
    const QString device = root.path() + "/sys/devices/iio:device0/";
    const auto attribute = [&](const QString &name) {
        return Sysfs::read(device + name).value_or("?").split('\n').first();
    };

    LinuxBackend::Options o;
    o.sysfsRoot = root.path() + "/sys";
    LinuxBackend backend(o);
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(Sensor::Accelerometer, samples.sink());
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    QVERIFY(sensor->start());
    QCOMPARE(attribute("buffer/enable"), "1");
    QCOMPARE(attribute("trigger/current_trigger"), "accel_3d-dev0");
    QCOMPARE(attribute("scan_elements/in_timestamp_en"), "1");
    // No record yet: the sysfs files, lying face down.
    QTRY_COMPARE_WITH_TIMEOUT(samples.last(3), (QVector<qint32> { 0, 0, 1000 }), waitMs);

    QByteArray record(16, '\0');
    qToLittleEndian<qint16>(-256, record.data());
    qToLittleEndian<qint16>(128, record.data() + 2);
    qToLittleEndian<quint32>(quint32(-5 & 0xfff) << 4, record.data() + 4);
    const int fifo = ::open(QFile::encodeName(root.path() + "/dev/iio:device0").constData(),
        O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(fifo >= 0);
    QCOMPARE(::write(fifo, record.constData(), size_t(record.size())), ssize_t(record.size()));
    // 0.038307 m/s² counts: -256 is -1 g, 128 half a g, -5 about -20 mg;
    // and it stays while no new record comes.
    QTRY_COMPARE_WITH_TIMEOUT(samples.last(3), (QVector<qint32> { -1000, 500, -20 }), waitMs);
    const int seen = samples.count();
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() > seen + 1, waitMs);
    QCOMPARE(samples.last(3), (QVector<qint32> { -1000, 500, -20 }));
    ::close(fifo);
    sensor.reset();
    QTRY_COMPARE_WITH_TIMEOUT(attribute("buffer/enable"), "0", waitMs);
}

void LinuxSensorsTest::nodeThatNeverRunsDry()
{
    // A node that always gives a full read, as a device sampling faster
    // than it is read: readings still come (its records are zeros), and the
    // sensor still stops.
    QTemporaryDir root;
    QVERIFY(writeBufferedAccelerometer(root.path()));
    QVERIFY(QFile::link("/dev/zero", root.path() + "/dev/iio:device0"));
    LinuxBackend::Options o;
    o.sysfsRoot = root.path() + "/sys";
    LinuxBackend backend(o);
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(Sensor::Accelerometer, samples.sink());
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    QVERIFY(sensor->start());
    QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 2, waitMs);
    QCOMPARE(samples.last(3), (QVector<qint32> { 0, 0, 0 }));
    sensor.reset();
    QTRY_COMPARE_WITH_TIMEOUT(
        Sysfs::read(root.path() + "/sys/devices/iio:device0/buffer/enable"), "0", waitMs);
}

void LinuxSensorsTest::headingFromTheHubsBuffer()
{
    // A sensor hub that gives the compass heading only through its buffer,
    // in hundredths of a degree; no magnetometer files.
    const QString channel = "scan_elements/in_rot_from_north_magnetic_tilt_comp";
    QTemporaryDir root;
    QVERIFY(DeviceTable::writeTree(root.path(),
        { DeviceTable::iio(0,
              { "name=magn_3d", channel + "_en=0", channel + "_index=0",
                  channel + "_type=le:u32/32>>0", "in_rot_from_north_magnetic_tilt_comp_scale=0.01",
                  "trigger/current_trigger=", "buffer/length=0", "buffer/enable=0" },
              {}),
            { "iio", "trigger0", { "name=magn_3d-dev0" } } }));
    QVERIFY(QDir(root.path()).mkdir("dev"));
    const QByteArray node = QFile::encodeName(root.path() + "/dev/iio:device0");
    QCOMPARE(::mkfifo(node.constData(), 0600), 0);
    LinuxBackend::Options o;
    o.sysfsRoot = root.path() + "/sys";
    LinuxBackend backend(o);
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(Sensor::Compass, samples.sink());
    QCOMPARE(int(sensor->requestSession(Vorna::KvSensor::ControlSession)), 2);
    QVERIFY2(sensor->start(), qPrintable(sensor->lastError()));
    QTRY_COMPARE_WITH_TIMEOUT(samples.last(2), (QVector<qint32> { -1, 0 }), waitMs);
    QByteArray record(4, '\0');
    qToLittleEndian<quint32>(9040, record.data());
    const int fifo = ::open(node.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(fifo >= 0);
    QCOMPARE(::write(fifo, record.constData(), 4), ssize_t(4));
    QTRY_COMPARE_WITH_TIMEOUT(samples.last(2), (QVector<qint32> { 90, 0 }), waitMs);
    ::close(fifo);
}

namespace {

// A HID hub's device with a buffer of the given scan elements (all 32-bit
// signed), its trigger <name>-dev0 and its node a FIFO.
bool hubTree(const QTemporaryDir &root, const QString &name, const QStringList &elements,
    const QStringList &more)
{
    QStringList a { "name=" + name, "trigger/current_trigger=", "buffer/length=0",
        "buffer/enable=0" };
    for (int i = 0; i < elements.size(); ++i)
        a << QStringLiteral("scan_elements/%1_en=0").arg(elements[i])
          << QStringLiteral("scan_elements/%1_index=%2").arg(elements[i]).arg(i)
          << QStringLiteral("scan_elements/%1_type=le:s32/32>>0").arg(elements[i]);
    return DeviceTable::writeTree(root.path(),
               { DeviceTable::iio(0, a + more, {}),
                   { "iio", "trigger0", { "name=" + name + "-dev0" } } })
        && QDir(root.path()).mkdir("dev")
        && ::mkfifo(QFile::encodeName(root.path() + "/dev/iio:device0").constData(), 0600) == 0;
}

QByteArray attributeOf(const QTemporaryDir &root, const QString &name)
{
    return Sysfs::read(root.path() + "/sys/devices/iio:device0/" + name)
        .value_or("?")
        .split('\n')
        .first();
}

} // namespace

void LinuxSensorsTest::lightFromTheHubsBuffer()
{
    // A HID hub's light sensor with only in_intensity_both, through its
    // buffer; the hub comes up at 0 Hz. Sampling frequencies below 10 Hz
    // are raised to 10, others kept.
    QTemporaryDir root;
    QVERIFY(hubTree(root, "als", { "in_intensity_both" },
        { "in_intensity_scale=0.1", "in_intensity_sampling_frequency=9.99", "sampling_frequency=10",
            "in_intensity_both_sampling_frequency=10.01" }));
    LinuxBackend::Options o;
    o.sysfsRoot = root.path() + "/sys";
    LinuxBackend backend(o);
    Samples samples;
    std::unique_ptr<SensorSource> sensor = backend.sensor(Sensor::Als, samples.sink());
    QCOMPARE(int(sensor->requestSession(Vorna::KvSensor::ControlSession)), 2);
    QVERIFY2(sensor->start(), qPrintable(sensor->lastError()));
    QCOMPARE(attributeOf(root, "in_intensity_sampling_frequency"), "10");
    QCOMPARE(attributeOf(root, "sampling_frequency"), "10");
    QCOMPARE(attributeOf(root, "in_intensity_both_sampling_frequency"), "10.01");
    QCOMPARE(attributeOf(root, "trigger/current_trigger"), "als-dev0");
    QTRY_COMPARE_WITH_TIMEOUT(samples.last(1), (QVector<qint32> { -1 }), waitMs);
    QByteArray record(4, '\0');
    qToLittleEndian<qint32>(5210, record.data());
    const int fifo = ::open(QFile::encodeName(root.path() + "/dev/iio:device0").constData(),
        O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(fifo >= 0);
    QCOMPARE(::write(fifo, record.constData(), 4), ssize_t(4));
    QTRY_COMPARE_WITH_TIMEOUT(samples.last(1), (QVector<qint32> { 521 }), waitMs);
    ::close(fifo);
}

void LinuxSensorsTest::bufferOpenedAndClosedAsTheKernelAllows_data()
{
    QTest::addColumn<QString>("refused"); // the attribute the kernel refuses, with EACCES
    QTest::addColumn<QString>("error");
    QTest::newRow("the buffer closes as the kernel allows: all three off")
        << QString() << QString();
    QTest::newRow("a refused buffer says which file and why")
        << "buffer/enable"
        << "/sys/devices/iio:device0/buffer/enable: Permission denied";
    QTest::newRow("a refused trigger says which file and why")
        << "trigger/current_trigger"
        << "/sys/devices/iio:device0/trigger/current_trigger: Permission denied";
    QTest::newRow("a refused scan element says which file and why")
        << "scan_elements/in_accel_x_en"
        << "/sys/devices/iio:device0/scan_elements/in_accel_x_en: Permission denied";
}

void LinuxSensorsTest::bufferOpenedAndClosedAsTheKernelAllows()
{
    QFETCH(QString, refused);
    QFETCH(QString, error);
    QTemporaryDir root;
    const QStringList elements { "in_accel_x", "in_accel_y", "in_accel_z" };
    QVERIFY(hubTree(root, "accel_3d", elements, {}));
    const QString dir = root.path() + "/sys/devices/iio:device0";
    // The kernel: no scan element changes while the buffer runs (EBUSY).
    Iio::Buffer buffer([&](const QString &file, const QByteArray &value) {
        if (!refused.isEmpty() && file == dir + '/' + refused) {
            errno = EACCES;
            return false;
        }
        if (file.contains("/scan_elements/") && attributeOf(root, "buffer/enable") == "1") {
            errno = EBUSY;
            return false;
        }
        return Sysfs::write(file, value);
    });
    const bool opened = buffer.open(Sysfs(root.path() + "/sys"), dir, elements);
    QCOMPARE(opened, error.isEmpty());
    QCOMPARE(buffer.error(), error.isEmpty() ? QString() : root.path() + error);
    QCOMPARE(attributeOf(root, "buffer/enable"), QByteArray(opened ? "1" : "0"));
    buffer.close();
    QCOMPARE(attributeOf(root, "buffer/enable"), "0");
    // Detached, or, where the kernel refused it, never attached.
    QCOMPARE(attributeOf(root, "trigger/current_trigger"),
        QByteArray(refused.startsWith("trigger") ? "" : "NULL"));
    for (const QString &e : elements)
        QCOMPARE(attributeOf(root, "scan_elements/" + e + "_en"), "0");
}

QTEST_GUILESS_MAIN(LinuxSensorsTest)
#include "tst_linuxsensors.moc"
