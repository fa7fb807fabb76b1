// kvsystem2-snapshot: a snapshot of a fake /sys, or a umockdev-record file
// imported, gives the programs on the Linux backend the same values as the
// device itself (the fake tree, or umockdev's testbed), without the
// attributes that identify the device.

#include "fakesysfs.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#ifndef BIN_DIR
#error "BIN_DIR must name the build tree's bin directory"
#endif

class Snapshot : public QObject
{
    Q_OBJECT
private slots:
    void sameValuesAsTheDevice_data();
    void sameValuesAsTheDevice();
};

namespace {

// A battery that carries a serial number, and an accelerometer held a little
// tilted, as umockdev-record writes them.
const QByteArray umockdevPhone = R"(P: /devices/platform/battery/power_supply/battery
E: DEVPATH=/devices/platform/battery/power_supply/battery
E: POWER_SUPPLY_NAME=battery
E: SUBSYSTEM=power_supply
A: capacity=64\n
A: capacity_level=Normal\n
A: charge_counter=845000\n
A: charge_full=1320000\n
A: charge_now=845000\n
A: current_now=-187000\n
A: health=Good\n
A: power/wakeup=disabled\n
A: serial_number=SN-0042\n
A: status=Discharging\n
A: type=Battery\n
A: uevent=POWER_SUPPLY_NAME=battery\nPOWER_SUPPLY_SERIAL_NUMBER=SN-0042\n
A: voltage_now=3871000\n

P: /devices/platform/accel/iio:device1
E: DEVPATH=/devices/platform/accel/iio:device1
E: SUBSYSTEM=iio
A: in_accel_scale=0.00980665\n
A: in_accel_x_raw=-120\n
A: in_accel_y_raw=35\n
A: in_accel_z_raw=990\n
A: name=accel\n

P: /devices/virtual/dmi/id
E: SUBSYSTEM=dmi
A: product_name=Handset One\n
A: product_serial=HS1-998877\n
A: sys_vendor=Vorna\n
)";

// The first lines a program writes on the Linux backend, time stamps and
// wall-clock times masked; prefix runs it inside another program (umockdev-run).
QStringList firstLines(const QString &program, const QStringList &arguments, int count,
    const QString &sysfsRoot, const QStringList &prefix = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KVSYSTEM_BACKEND", "linux");
    env.remove("KVSYSTEM_SYSFS_ROOT");
    env.remove("KVSYSTEM_SCENARIO");
    if (!sysfsRoot.isEmpty())
        env.insert("KVSYSTEM_SYSFS_ROOT", sysfsRoot);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString path = QStringLiteral(BIN_DIR "/") + program;
    if (prefix.isEmpty())
        process.start(path, arguments);
    else
        process.start(prefix.first(), prefix.mid(1) + QStringList { "--", path } + arguments);
    QByteArray out;
    QDeadlineTimer deadline(30000);
    while (out.count('\n') < count && !deadline.hasExpired()
        && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
        out += process.readAll();
    }
    process.kill();
    process.waitForFinished();
    QStringList lines = QString::fromUtf8(out).split('\n').mid(0, count);
    lines.replaceInStrings(QRegularExpression(R"(^\d\d \S+ \d{4} \d\d:\d\d:\d\d, )"), "TIME, ");
    lines.replaceInStrings(QRegularExpression(R"(Time: \d+)"), "Time: T");
    return lines;
}

QStringList filesBelow(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(dir.size() + 1);
    files.sort();
    return files;
}

const QStringList recorder = { "--numerical", "--charger-type", "--charging-state",
    "--battery-state", "--battery-pct", "--battery-mah", "--battery-voltage", "--battery-current",
    "--coulomb-counter" };

} // namespace

void Snapshot::sameValuesAsTheDevice_data()
{
    QTest::addColumn<bool>("umockdev"); // the device: a umockdev testbed, or a fake /sys
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("model"); // as the README names it

    QTest::newRow("a snapshot of a fake phone gives its recorder row")
        << false << "charge-recorder" << recorder << 2 << "Vorna Handset One";
    QTest::newRow("a snapshot of a fake phone gives its accelerometer readings")
        << false << "motion-demo" << QStringList() << 3 << "Vorna Handset One";
    QTest::newRow("a umockdev battery imports into the recorder row of its testbed")
        << true << "charge-recorder" << recorder << 2 << "Vorna Handset One";
    QTest::newRow("a umockdev accelerometer imports into the readings of its testbed")
        << true << "motion-demo" << QStringList() << 3 << "Vorna Handset One";
}

void Snapshot::sameValuesAsTheDevice()
{
    QFETCH(bool, umockdev);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, lines);
    QFETCH(QString, model);

    QTemporaryDir dir;
    const QString snapshot = dir.filePath("snapshot");
    QProcess tool;
    QStringList device;
    FakeSysfs tree(FakeSysfs::Phone);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (umockdev) {
#ifdef KV_SANITIZED
        QSKIP("umockdev-run preloads its library, which the sanitizers' runtime must precede");
#endif
        const QString umockdevRun = QStandardPaths::findExecutable("umockdev-run");
        QVERIFY2(!umockdevRun.isEmpty(), "umockdev-run is missing: run scripts/bootstrap");
        const QString record = dir.filePath("phone.umockdev");
        QFile f(record);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(umockdevPhone) == umockdevPhone.size());
        f.close();
        device = firstLines(program, arguments, lines, QString(), { umockdevRun, "-d", record });
        tool.start(BIN_DIR "/kvsystem2-snapshot", { "--umockdev", record, snapshot });
    } else {
        // What identifies this one phone, which the snapshot must leave out.
        tree.apply({ FakeSysfs::battery + "serial_number=SN-0042",
            FakeSysfs::battery + "uevent=POWER_SUPPLY_SERIAL_NUMBER=SN-0042",
            "class/dmi/id/sys_vendor=Vorna", "class/dmi/id/product_name=Handset One",
            "class/dmi/id/product_serial=HS1-998877" });
        device = firstLines(program, arguments, lines, tree.root());
        env.insert("KVSYSTEM_SYSFS_ROOT", tree.root());
        tool.setProcessEnvironment(env);
        tool.start(BIN_DIR "/kvsystem2-snapshot", { snapshot });
    }
    QVERIFY(tool.waitForFinished());
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());

    QCOMPARE(device.size(), lines);
    QCOMPARE(firstLines(program, arguments, lines, snapshot), device);

    const QStringList files = filesBelow(snapshot);
    QVERIFY(files.contains("class/power_supply/battery/voltage_now"));
    QVERIFY(files.contains("bus/iio/devices/iio:device1/in_accel_z_raw"));
    for (const QString &file : files)
        QVERIFY2(!file.contains("serial") && !file.endsWith("uevent"), qPrintable(file));
    QFile readme(snapshot + "/README");
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QByteArray text = readme.readAll();
    QVERIFY2(text.contains("model:   " + model.toUtf8() + '\n'), text.constData());
    QVERIFY2(text.contains("kernel:  "), text.constData());
    QVERIFY2(!text.contains("998877") && !text.contains("SN-0042"), text.constData());
}

QTEST_GUILESS_MAIN(Snapshot)
#include "tst_snapshot.moc"
