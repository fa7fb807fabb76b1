// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

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
    void whatIsCopied_data();
    void whatIsCopied();
    void commandLine_data();
    void commandLine();
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

namespace {

// A umockdev-record file of one battery, with the lines given after its own.
QByteArray recordedBattery(const QByteArray &lines)
{
    return "P: /devices/platform/battery/power_supply/battery\n"
           "E: SUBSYSTEM=power_supply\n"
           "A: type=Battery\\n\n"
        + lines;
}

// The tool's run: exit status, standard output and standard error.
struct Run
{
    int status = -1;
    QByteArray out, err;
};

Run run(const QString &program, const QStringList &arguments, const QString &sysfsRoot = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("KVSYSTEM_SYSFS_ROOT");
    if (!sysfsRoot.isEmpty())
        env.insert("KVSYSTEM_SYSFS_ROOT", sysfsRoot);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(BIN_DIR "/") + program, arguments);
    Run r;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        r.status = process.exitCode();
    r.out = process.readAllStandardOutput();
    r.err = process.readAllStandardError();
    return r;
}

} // namespace

void Snapshot::whatIsCopied_data()
{
    QTest::addColumn<QByteArray>("record"); // a umockdev-record file; none: the fake phone
    QTest::addColumn<QStringList>("edits"); // of the fake phone
    QTest::addColumn<int>("status");
    // The first line on standard error; <root>, <record> and <snapshot> stand
    // for the fake phone's root, the record file and the snapshot's directory.
    QTest::addColumn<QString>("said");
    // "path=contents" in the snapshot; "path=" absent; "<stdout>=" the summary line
    QTest::addColumn<QStringList>("files");

    QTest::newRow("a class entry that links out of the devices tree is skipped and named")
        << QByteArray() << QStringList { "class/power_supply/x=<link out>" } << 0
        << "kvsystem2-snapshot: skipped class/power_supply/x: a link out of <root>/devices"
        << QStringList { "class/power_supply/x/shadow=", "class/power_supply/battery/type=Battery\n" };
    QTest::newRow("a class entry that links into the devices tree is copied")
        << QByteArray() << QStringList { "class/power_supply/y=<link in>" } << 0 << ""
        << QStringList { "class/power_supply/y/type=Mains\n" };
    QTest::newRow("an attribute named Serial in capitals is left out")
        << QByteArray() << QStringList { FakeSysfs::battery + "Serial=SN-1" } << 0 << ""
        << QStringList { "class/power_supply/battery/Serial=" };
    QTest::newRow("three-digit octal escapes of a umockdev value are its bytes")
        << recordedBattery("A: manufacturer=Caf\\303\\251 \\1011\\n\n") << QStringList() << 0 << ""
        << QStringList { "class/power_supply/battery/manufacturer=Caf\xc3\xa9 A1\n" };
    QTest::newRow("a umockdev attribute given twice is one file, its last value")
        << recordedBattery("A: type=Mains\\n\n") << QStringList() << 0 << ""
        << QStringList { "class/power_supply/battery/type=Mains\n",
               "<stdout>=1 attributes of 1 devices in <snapshot>; see <snapshot>/README\n" };
    QTest::newRow("a umockdev device named .. is refused before anything is written")
        << QByteArray("P: /devices/platform/..\nE: SUBSYSTEM=power_supply\nA: type=Battery\\n\n")
        << QStringList() << 1
        << "kvsystem2-snapshot: <record>: refused: the device name \"..\" is not a plain file name"
        << QStringList { "README=" };
    QTest::newRow("a umockdev attribute named .. is refused before anything is written")
        << recordedBattery("A: ..=x\n") << QStringList() << 1
        << "kvsystem2-snapshot: <record>: refused: battery has an attribute named \"..\", not a plain "
           "file name"
        << QStringList { "README=", "class/power_supply/battery/type=" };
    QTest::newRow("a umockdev attribute named with 255 bytes is copied")
        << recordedBattery("A: " + QByteArray(255, 'n') + "=x\n") << QStringList() << 0 << ""
        << QStringList { "class/power_supply/battery/" + QString(255, 'n') + "=x" };
    QTest::newRow("a umockdev attribute named with 256 bytes is refused before anything is written")
        << recordedBattery("A: " + QByteArray(256, 'n') + "=x\n") << QStringList() << 1
        << "kvsystem2-snapshot: <record>: refused: battery has an attribute named \""
            + QString(256, 'n') + "\", not a plain file name"
        << QStringList { "README=", "class/power_supply/battery/type=" };
    QTest::newRow("a vendor with a line end stays on the README's model line")
        << recordedBattery("P: /devices/virtual/dmi/id\nE: SUBSYSTEM=dmi\n"
                           "A: sys_vendor=Vorna\\nkernel:  forged\\n\n")
        << QStringList() << 0 << "" << QStringList { "class/power_supply/battery/type=Battery\n" };
    QTest::newRow("a record without a device the library reads is said to give nothing")
        << QByteArray("P: /devices/virtual/dmi/id\nE: SUBSYSTEM=dmi\nA: sys_vendor=Vorna\\n\n")
        << QStringList() << 0
        << "kvsystem2-snapshot: warning: found nothing to copy; <snapshot>/README is all the tree holds"
        << QStringList { "README=<any>" };
}

void Snapshot::whatIsCopied()
{
    QFETCH(QByteArray, record);
    QFETCH(QStringList, edits);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(QStringList, files);

    QTemporaryDir dir;
    const QString snapshot = dir.filePath("snapshot");
    FakeSysfs tree(FakeSysfs::Phone);
    // Links: one into the tree's devices/, as the kernel makes them, and
    // one to a private directory elsewhere.
    tree.apply({ "devices/platform/ac/type=Mains" });
    QVERIFY(QDir(dir.path()).mkpath("private"));
    QFile secret(dir.filePath("private/shadow"));
    QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("root:secret\n") > 0);
    secret.close();
    for (const QString &edit : qAsConst(edits)) {
        const QString path = tree.root() + "/" + edit.section('=', 0, 0);
        const QString contents = edit.section('=', 1);
        if (contents == "<link out>")
            QVERIFY(QFile::link(dir.filePath("private"), path));
        else if (contents == "<link in>")
            QVERIFY(QFile::link("../../devices/platform/ac", path));
        else
            tree.apply({ edit });
    }

    Run r;
    const QString file = dir.filePath("device.umockdev");
    if (record.isEmpty()) {
        r = run("kvsystem2-snapshot", { snapshot }, tree.root());
    } else {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(record) == record.size());
        f.close();
        r = run("kvsystem2-snapshot", { "--umockdev=" + file, snapshot });
    }
    QCOMPARE(r.status, status);
    const QString realRoot = QFileInfo(tree.root()).canonicalFilePath();
    if (said.isEmpty())
        QCOMPARE(r.err, QByteArray());
    else
        QVERIFY2(r.err.startsWith(QString(said)
                                       .replace("<root>", realRoot)
                                       .replace("<record>", file)
                                       .replace("<snapshot>", snapshot)
                                       .toUtf8()),
            r.err.constData());
    for (const QString &entry : qAsConst(files)) {
        if (entry.startsWith("<stdout>=")) {
            QCOMPARE(r.out, entry.section('=', 1).replace("<snapshot>", snapshot).toUtf8());
            continue;
        }
        QFile f(snapshot + "/" + entry.section('=', 0, 0));
        const QString want = entry.section('=', 1);
        if (want.isEmpty()) {
            QVERIFY2(!f.exists(), qPrintable(f.fileName()));
            continue;
        }
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName()));
        if (want != "<any>")
            QCOMPARE(f.readAll(), want.toUtf8());
    }
    QFile readme(snapshot + "/README");
    if (readme.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = readme.readAll().split('\n');
        for (const QByteArray &line : lines)
            QVERIFY2(!line.startsWith("kernel:  forged"), line.constData());
    }
}

void Snapshot::commandLine_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // its first line
    QTest::addColumn<QString>("err");

    const QString tryProbe = "Try 'kvsystem2-probe --help' for more information.\n";
    const QString trySnapshot = "Try 'kvsystem2-snapshot --help' for more information.\n";
    QTest::newRow("the snapshot's usage is on standard output")
        << "kvsystem2-snapshot" << QStringList { "--help" } << 0
        << "Usage: kvsystem2-snapshot [--umockdev=FILE] DIR" << "";
    QTest::newRow("the probe's usage is on standard output")
        << "kvsystem2-probe" << QStringList { "--help" } << 0
        << "Usage: kvsystem2-probe [--help] [--version]" << "";
    QTest::newRow("the snapshot's version is on standard output")
        << "kvsystem2-snapshot" << QStringList { "--version", "dir" } << 0
        << "kvsystem2-snapshot " KV_VERSION << "";
    QTest::newRow("the probe's version is on standard output")
        << "kvsystem2-probe" << QStringList { "--version" } << 0 << "kvsystem2-probe " KV_VERSION
        << "";
    QTest::newRow("an unknown option of the snapshot is named")
        << "kvsystem2-snapshot" << QStringList { "--frob=1", "dir" } << 2 << ""
        << "kvsystem2-snapshot: unknown option '--frob'\n" + trySnapshot;
    QTest::newRow("an unknown option of the probe is named")
        << "kvsystem2-probe" << QStringList { "-x" } << 2 << ""
        << "kvsystem2-probe: unknown option '-x'\n" + tryProbe;
    QTest::newRow("a value given to the probe's --help")
        << "kvsystem2-probe" << QStringList { "--help=all" } << 2 << ""
        << "kvsystem2-probe: option '--help' takes no value\n" + tryProbe;
    QTest::newRow("an argument the probe does not take")
        << "kvsystem2-probe" << QStringList { "now" } << 2 << ""
        << "kvsystem2-probe: no arguments are taken; 'now' is one\n" + tryProbe;
    QTest::newRow("--umockdev without its file")
        << "kvsystem2-snapshot" << QStringList { "--umockdev" } << 2 << ""
        << "kvsystem2-snapshot: option '--umockdev' needs a FILE\n" + trySnapshot;
    QTest::newRow("a snapshot without a directory") << "kvsystem2-snapshot" << QStringList() << 2
                                                    << "" << "kvsystem2-snapshot: no DIR given\n" + trySnapshot;
    QTest::newRow("a snapshot into two directories")
        << "kvsystem2-snapshot" << QStringList { "a", "b" } << 2 << ""
        << "kvsystem2-snapshot: one DIR only; 'b' is one too many\n" + trySnapshot;
    QTest::newRow("a sysfs root that is not a directory, with a control character")
        << "kvsystem2-probe" << QStringList() << 2 << ""
        << "kvsystem2-probe: /nonexistent\\x1b[2J: not a directory\n";
}

void Snapshot::commandLine()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);

    const Run r = run(program, arguments, "/nonexistent\x1b[2J");
    QCOMPARE(r.status, status);
    QCOMPARE(QString::fromUtf8(r.out).section('\n', 0, 0), out);
    QCOMPARE(QString::fromUtf8(r.err).split('\n'), err.split('\n'));
}

QTEST_GUILESS_MAIN(Snapshot)
#include "tst_snapshot.moc"
