// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// charge-exporter: the log passes through unchanged, the text file holds the
// latest good row as gauges, and the real node_exporter and Prometheus read it.

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString exporterPath = QStringLiteral(CHARGE_EXPORTER_PATH);

QStringList lines(const QByteArray &text)
{
    QStringList out = QString::fromUtf8(text).split('\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

// The samples of a text file, without its HELP and TYPE comments.
QStringList samples(const QByteArray &text)
{
    QStringList out;
    for (const QString &line : lines(text))
        if (!line.startsWith('#'))
            out << line;
    return out;
}

// A free port on the loopback address, as the kernel hands one out.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// One HTTP GET on the loopback address; the body, or empty.
QByteArray get(int port, const QByteArray &target)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray response;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        const QByteArray request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::write(fd, request.constData(), size_t(request.size())) == request.size()) {
            char buffer[4096];
            for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
                response.append(buffer, int(got));
        }
    }
    ::close(fd);
    const int body = response.indexOf("\r\n\r\n");
    return body < 0 ? QByteArray() : response.mid(body + 4);
}

// A program that dies with the test (a parent-death signal) and with this object.
struct Service
{
    QProcess process;
    explicit Service(const QString &program, const QStringList &arguments)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("/usr/bin/setpriv"),
            QStringList { "--pdeathsig", "KILL", program } + arguments);
        process.waitForStarted();
    }
    ~Service()
    {
        process.kill();
        process.waitForFinished();
    }
};

} // namespace

class tst_ChargeExporter : public QObject
{
    Q_OBJECT
private slots:
    void keepsTheLatestRow_data();
    void keepsTheLatestRow();
    void commandLine_data();
    void commandLine();
    void hostileTextfileDirectory_data();
    void hostileTextfileDirectory();
    void promtoolAcceptsAFullRow();
    void logOverTheFileSizeLimit();
    void prometheusSeesEveryDevice();
};

void tst_ChargeExporter::keepsTheLatestRow_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QStringList>("want");
    QTest::addColumn<QStringList>("warnings");

    const QByteArray header = "TIME, CHARGER_TYPE, CAPA_PCT, CAPA_MAH, VOLTAGE, BATTERY_CURRENT, "
                              "TALK_TIME, COULOMB_COUNTER, BATTERY_STATE\n";
    const QString d = QStringLiteral("{device=\"lab 1\"}");
    const QString row = QStringLiteral("kvsystem2_row_timestamp_seconds") + d + " %1";
    auto states = [](const char *name, const QStringList &words, const QString &on) {
        QStringList out;
        for (const QString &word : words)
            out << QStringLiteral("%1{device=\"lab 1\",state=\"%2\"} %3")
                       .arg(QLatin1String(name), word, word == on ? "1" : "0");
        return out;
    };
    const QStringList chargers { "UNKNOWN", "NONE", "WALL", "USB500MA", "USB100MA" };
    const QStringList batteries { "EMPTY", "LOW", "OK", "FULL", "ERROR" };
    const QStringList full = QStringList { row.arg(QDateTime(QDate(2026, 12, 7), QTime(21, 0, 1)).toSecsSinceEpoch()) }
        + states("kvsystem2_charger_type", chargers, "WALL")
        + QStringList { "kvsystem2_battery_capacity_ratio" + d + " 0.81",
              "kvsystem2_battery_capacity_coulombs" + d + " 3600",
              "kvsystem2_battery_voltage_volts" + d + " 3.9",
              "kvsystem2_battery_current_amperes" + d + " -0.21",
              "kvsystem2_talk_time_seconds" + d + " 7500",
              "kvsystem2_battery_net_charge_coulombs" + d + " -36" }
        + states("kvsystem2_battery_state", batteries, "OK");

    QTest::newRow("a row of every kind of column, in base units")
        << header + "07 Dec 2026 21:00:01, WALL, 81, 1000, 3900, -210, 125, -10, OK\n" << full
        << QStringList();
    QTest::newRow("a numerical log's states as words")
        << header + "07 Dec 2026 21:00:01, 1, 81, 1000, 3900, -210, 125, -10, 2\n" << full
        << QStringList();
    QTest::newRow("markers are no samples, not values")
        << header + "07 Dec 2026 21:00:01, WALL, -1, -1, -1, -1, -1, -596523, OK\n"
        << QStringList { row.arg(QDateTime(QDate(2026, 12, 7), QTime(21, 0, 1)).toSecsSinceEpoch()) }
            + states("kvsystem2_charger_type", chargers, "WALL")
            + states("kvsystem2_battery_state", batteries, "OK")
        << QStringList();
    QTest::newRow("a value without a word is a state of its own")
        << QByteArray("TIME, CHARGER_TYPE\n07 Dec 2026 21:00:01, 7\n")
        << QStringList { row.arg(QDateTime(QDate(2026, 12, 7), QTime(21, 0, 1)).toSecsSinceEpoch()) }
            + states("kvsystem2_charger_type", chargers + QStringList { "Undefined charger type: 7" },
                "Undefined charger type: 7")
        << QStringList();
    QTest::newRow("a bad row leaves the previous one in place, with a warning")
        << header + "07 Dec 2026 21:00:01, WALL, 81, 1000, 3900, -210, 125, -10, OK\n"
                    "07 Dec 2026 21:00:02, WALL, 81, 1000, x\x1b[2J, -210, 125, -10, OK\n"
                    "31 Feb 2026 21:00:03, WALL, 81, 1000, 3900, -210, 125, -10, OK\n"
        << full
        << QStringList { "charge-exporter: line 3: VOLTAGE \"x\\x1b[2J\" is not a whole number: left out",
               "charge-exporter: line 4: \"31 Feb 2026 21:00:03\" is not a time stamp: left out" };
    QTest::newRow("a later header of fewer columns, and a row before any header")
        << "07 Dec 2026 21:00:00, 1\n" + header
            + "07 Dec 2026 21:00:01, WALL, 81, 1000, 3900, -210, 125, -10, OK\n"
              "\nTIME, VOLTAGE\n07 Dec 2026 21:00:02, 3950\n"
        << QStringList { row.arg(QDateTime(QDate(2026, 12, 7), QTime(21, 0, 2)).toSecsSinceEpoch()),
               "kvsystem2_battery_voltage_volts" + d + " 3.95" }
        << QStringList { "charge-exporter: line 1: not a header, and no header before it: left out" };
    QTest::newRow("a last line without its end is no row")
        << header + "07 Dec 2026 21:00:01, WALL, 81, 1000, 3900, -210, 125, -10, OK\n"
                    "07 Dec 2026 21:00:02, WALL, 81, 1000, 39"
        << full << QStringList { "charge-exporter: line 3: cut off (no line end): left out" };
    QTest::newRow("NUL bytes of a crash, and the next run's header after them on the same line")
        << "TIME, VOLTAGE\n07 Dec 2026 21:00:00, 3900\n07 Dec 2026 21:0" + QByteArray(4, '\0')
            + header + "07 Dec 2026 21:00:01, WALL, 81, 1000, 3900, -210, 125, -10, OK\n"
        << full
        << QStringList { "charge-exporter: line 3: \"07 Dec 2026 21:0\" cut off by NUL bytes: left out" };
}

void tst_ChargeExporter::keepsTheLatestRow()
{
    QFETCH(QByteArray, log);
    QFETCH(QStringList, want);
    QFETCH(QStringList, warnings);

    QTemporaryDir dir;
    QProcess exporter;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    env.insert("TZ", "UTC");
    exporter.setProcessEnvironment(env);
    const QString textfile = dir.filePath("kvsystem2.prom");
    exporter.start(exporterPath, { "--textfile=" + textfile, "--device=lab 1" });
    exporter.write(log);
    exporter.closeWriteChannel();
    QVERIFY(exporter.waitForFinished());
    QCOMPARE(exporter.exitCode(), 0);
    QCOMPARE(exporter.readAllStandardOutput(), log);
    QCOMPARE(lines(exporter.readAllStandardError()), warnings);
    QFile file(textfile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(samples(text), want);
    // Every gauge is typed, and nothing else is left in the directory.
    for (const QString &sample : samples(text)) {
        const QString name = sample.left(sample.indexOf('{'));
        QVERIFY2(text.contains("# TYPE " + name.toUtf8() + " gauge\n"), qPrintable(name));
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "kvsystem2.prom" });
}

void tst_ChargeExporter::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    const QString tryHelp = QStringLiteral("\nTry 'charge-exporter --help'.");
    QTest::newRow("no text file") << QStringList() << 2
                                  << "charge-exporter: --textfile=FILE is missing" + tryHelp;
    QTest::newRow("an option it does not know, named")
        << QStringList { "--textfile=a.prom", "--bogus" } << 2
        << "charge-exporter: unknown option --bogus" + tryHelp;
    QTest::newRow("a text file the collector would not read")
        << QStringList { "--textfile=a.txt" } << 2
        << "charge-exporter: a.txt: node_exporter reads only files ending in .prom" + tryHelp;
    QTest::newRow("help on standard output") << QStringList { "--help" } << 0 << QString();
}

void tst_ChargeExporter::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, error);

    QProcess exporter;
    exporter.start(exporterPath, arguments);
    exporter.closeWriteChannel();
    QVERIFY(exporter.waitForFinished());
    QCOMPARE(exporter.exitCode(), status);
    QCOMPARE(QString::fromUtf8(exporter.readAllStandardError()).trimmed(), error);
    QCOMPARE(exporter.readAllStandardOutput().startsWith("Usage: charge-exporter"), status == 0);
}

// A directory where the text file cannot be written, or where someone
// planted a link under a name the exporter might write: the log goes on
// through, each cause is said once, and nothing is left behind or written
// through a link.
void tst_ChargeExporter::hostileTextfileDirectory_data()
{
    QTest::addColumn<QStringList>("limit"); // prlimit's options, or none
    QTest::addColumn<bool>("written");
    QTest::addColumn<QString>("warning"); // after the directory's name

    QTest::newRow("a file-size limit below a row's text file")
        << QStringList { "--fsize=200" } << false << "/kvsystem2.prom: File too large";
    QTest::newRow("a file-size limit above it") << QStringList { "--fsize=100000" } << true << "";
    QTest::newRow("a link planted under the process's own name") << QStringList() << true << "";
}

void tst_ChargeExporter::hostileTextfileDirectory()
{
    QFETCH(QStringList, limit);
    QFETCH(bool, written);
    QFETCH(QString, warning);

    QTemporaryDir dir;
    QFile victim(dir.filePath("victim"));
    QVERIFY(victim.open(QIODevice::WriteOnly));
    victim.write("kept\n");
    victim.close();
    QProcess exporter;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    env.insert("TZ", "UTC");
    exporter.setProcessEnvironment(env);
    const QString textfile = dir.filePath("kvsystem2.prom");
    const QStringList arguments { "--textfile=" + textfile, "--device=lab 1" };
    if (limit.isEmpty())
        exporter.start(exporterPath, arguments);
    else
        exporter.start("/usr/bin/prlimit", limit + QStringList { exporterPath } + arguments);
    QVERIFY(exporter.waitForStarted());
    QStringList planted { "victim" };
    if (limit.isEmpty()) {
        const QString link = textfile + QStringLiteral(".%1.tmp").arg(exporter.processId());
        QVERIFY(QFile::link(dir.filePath("victim"), link));
        planted << QFileInfo(link).fileName();
    }
    const QByteArray header = "TIME, CHARGER_TYPE, CAPA_PCT, CAPA_MAH, VOLTAGE, BATTERY_CURRENT\n";
    const QByteArray log[] = { header + "07 Dec 2026 21:00:01, WALL, 81, 1000, 3900, -210\n",
        "07 Dec 2026 21:00:02, WALL, 81, 1000, 3901, -210\n" };
    // The second row once the first is through: two writes to the file.
    exporter.write(log[0]);
    // What came already, then wait for more.
    QByteArray through;
    while ((through += exporter.readAllStandardOutput()).size() < log[0].size()
        && exporter.waitForReadyRead()) { }
    QByteArray said;
    exporter.setReadChannel(QProcess::StandardError);
    while (!warning.isEmpty() && !(said += exporter.readAllStandardError()).contains('\n')
        && exporter.waitForReadyRead()) { }
    exporter.write(log[1]);
    exporter.closeWriteChannel();
    QVERIFY(exporter.waitForFinished());
    QCOMPARE(exporter.exitStatus(), QProcess::NormalExit);
    QCOMPARE(exporter.exitCode(), 0);
    QCOMPARE(through + exporter.readAllStandardOutput(), log[0] + log[1]);
    said += exporter.readAllStandardError();
    QCOMPARE(lines(said), warning.isEmpty() ? QStringList() : QStringList { "charge-exporter: " + dir.path() + warning });
    QStringList left = planted;
    if (written)
        left << "kvsystem2.prom";
    left.sort();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System), left);
    QVERIFY(victim.open(QIODevice::ReadOnly));
    QCOMPARE(victim.readAll(), QByteArray("kept\n"));
    QFile file(textfile);
    if (written) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("kvsystem2_battery_voltage_volts{device=\"lab 1\"} 3.901\n"));
    }
}

// The exposition format's rules, as Prometheus' own linter reads them, on a
// row of all seventeen columns.
void tst_ChargeExporter::promtoolAcceptsAFullRow()
{
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        QSKIP("promtool is not installed (scripts/bootstrap installs the prometheus package)");
    const QByteArray log = "TIME, CHARGER_TYPE, CHARGING_STATE, CHARGING_TIME, BATTERY_STATE, "
                           "CAPA_BARS, CAPA_PCT, CAPA_MAH, VOLTAGE, BATTERY_CURRENT, "
                           "BATTERY_AVG_CURRENT, COULOMB_COUNTER, TALK_CURRENT, TALK_TIME, "
                           "ACTIVE_CURRENT, ACTIVE_TIME, IDLE_CURRENT, IDLE_TIME\n"
                           "07 Dec 2026 21:00:01, WALL, STARTED, 30, OK, 5, 79, 1055, 3990, 600, "
                           "200, 1055, 290, 217, 210, 300, 11, 5750\n";
    QTemporaryDir dir;
    QProcess exporter;
    exporter.start(exporterPath, { "--textfile=" + dir.filePath("kvsystem2.prom") });
    exporter.write(log);
    exporter.closeWriteChannel();
    QVERIFY(exporter.waitForFinished());
    QCOMPARE(exporter.exitCode(), 0);
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.setStandardInputFile(dir.filePath("kvsystem2.prom"));
    check.start(promtool, { "check", "metrics" });
    QVERIFY(check.waitForFinished());
    QCOMPARE(check.readAll(), QByteArray());
    QCOMPARE(check.exitCode(), 0);
    // All seventeen columns are in it, the three state sets as one gauge each.
    QFile file(dir.filePath("kvsystem2.prom"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("# TYPE "), 18);
}

// The log itself past the file-size limit: said, and status 1.
void tst_ChargeExporter::logOverTheFileSizeLimit()
{
    QTemporaryDir dir;
    QProcess exporter;
    exporter.setStandardOutputFile(dir.filePath("log.csv"));
    exporter.start("/usr/bin/prlimit", { "--fsize=20", exporterPath,
        "--textfile=" + dir.filePath("kvsystem2.prom") });
    exporter.write("TIME, VOLTAGE\n07 Dec 2026 21:00:01, 3900\n");
    exporter.closeWriteChannel();
    QVERIFY(exporter.waitForFinished());
    QCOMPARE(exporter.exitStatus(), QProcess::NormalExit);
    QCOMPARE(exporter.exitCode(), 1);
    QCOMPARE(exporter.readAllStandardError(),
        QByteArray("charge-exporter: Can't write output: File too large\n"));
}

// Three simulated handsets, each charge-recorder piped through the exporter
// into a directory of its own node_exporter; one Prometheus scrapes the
// three. What Prometheus answers is what the logs say, per device.
void tst_ChargeExporter::prometheusSeesEveryDevice()
{
    for (const char *need : { "/usr/bin/prometheus", "/usr/bin/prometheus-node-exporter",
             "/usr/bin/setpriv" })
        if (!QFile::exists(QLatin1String(need)))
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/bootstrap installs it)")
                                 .arg(QLatin1String(need))));

    struct Handset
    {
        const char *name;
        QByteArray scenario;
        const char *charger;
        double volts;
    };
    const Handset handsets[] = {
        { "handset-a", R"({"battery": {"chargerType": 1, "voltage": 3700}})", "WALL", 3.7 },
        { "handset-b", R"({"battery": {"chargerType": 0, "voltage": 3815}})", "NONE", 3.815 },
        { "handset-c", R"({"battery": {"chargerType": 2, "voltage": 4160}})", "USB500MA", 4.16 },
    };
    QTemporaryDir dir;
    std::vector<std::unique_ptr<QProcess>> pipeline;
    std::vector<std::unique_ptr<Service>> services;
    auto stopAll = qScopeGuard([&] {
        for (auto &p : pipeline)
            p->kill();
        for (auto &p : pipeline)
            p->waitForFinished();
    });
    QStringList targets;
    for (const Handset &handset : handsets) {
        const QString home = dir.filePath(QLatin1String(handset.name));
        QVERIFY(QDir().mkpath(home));
        QFile scenario(home + "/scenario.json");
        QVERIFY(scenario.open(QIODevice::WriteOnly));
        scenario.write(handset.scenario);
        scenario.close();

        auto recorder = std::make_unique<QProcess>();
        auto exporter = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KVSYSTEM_SCENARIO", scenario.fileName());
        recorder->setProcessEnvironment(env);
        recorder->setStandardOutputProcess(exporter.get());
        exporter->setStandardOutputFile(home + "/log.csv");
        exporter->start(exporterPath,
            { "--textfile=" + home + "/kvsystem2.prom", "--device=" + QLatin1String(handset.name) });
        recorder->start(QStringLiteral(CHARGE_RECORDER_PATH),
            { "--interval=1", "--numerical", "--charger-type", "--battery-voltage" });
        QVERIFY(recorder->waitForStarted() && exporter->waitForStarted());
        pipeline.push_back(std::move(recorder));
        pipeline.push_back(std::move(exporter));

        const int port = freePort();
        services.push_back(std::make_unique<Service>(QStringLiteral("/usr/bin/prometheus-node-exporter"),
            QStringList { QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port),
                "--collector.disable-defaults", "--collector.textfile",
                "--collector.textfile.directory=" + home }));
        targets << QStringLiteral("'127.0.0.1:%1'").arg(port);
    }

    QFile config(dir.filePath("prometheus.yml"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                 "scrape_configs:\n  - job_name: lab\n    static_configs:\n      - targets: ["
        + targets.join(", ").toUtf8() + "]\n");
    config.close();
    const int port = freePort();
    services.push_back(std::make_unique<Service>(QStringLiteral("/usr/bin/prometheus"),
        QStringList { "--config.file=" + config.fileName(),
            "--storage.tsdb.path=" + dir.filePath("data"),
            QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port) }));

    // The newest sample of each device, once all three are there.
    auto query = [port](const QByteArray &expression) {
        QMap<QString, QJsonObject> byDevice;
        const QJsonObject answer = QJsonDocument::fromJson(
            get(port, "/api/v1/query?query=" + QUrl::toPercentEncoding(expression))).object();
        for (const QJsonValue &series : answer["data"].toObject()["result"].toArray())
            byDevice[series["metric"].toObject()["device"].toString()] = series.toObject();
        return byDevice;
    };
    QMap<QString, QJsonObject> volts, chargers;
    const QDeadlineTimer deadline(120000);
    while ((volts.size() < 3 || chargers.size() < 3) && !deadline.hasExpired()) {
        QTest::qWait(250);
        volts = query("kvsystem2_battery_voltage_volts");
        chargers = query("kvsystem2_charger_type == 1");
    }
    QCOMPARE(volts.size(), 3);
    QCOMPARE(chargers.size(), 3);
    for (const Handset &handset : handsets) {
        const QString name = QLatin1String(handset.name);
        // The log says it too: its rows hold the device's voltage and charger.
        QFile log(dir.filePath(name + "/log.csv"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList rows = lines(log.readAll());
        QVERIFY(rows.size() >= 2);
        QCOMPARE(rows.first(), QStringLiteral("TIME, CHARGER_TYPE, VOLTAGE"));
        const QStringList cells = rows.last().split(", ");
        QCOMPARE(cells.value(2).toDouble() / 1000, handset.volts);
        QCOMPARE(volts[name]["value"].toArray()[1].toString().toDouble(), handset.volts);
        QCOMPARE(volts[name]["metric"].toObject()["job"].toString(), QStringLiteral("lab"));
        QCOMPARE(chargers[name]["metric"].toObject()["state"].toString(),
            QLatin1String(handset.charger));
    }
}

QTEST_GUILESS_MAIN(tst_ChargeExporter)
#include "tst_chargeexporter.moc"
