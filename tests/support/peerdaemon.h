// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_SUPPORT_PEERDAEMON_H
#define TESTS_SUPPORT_PEERDAEMON_H

// A real system daemon (upowerd, iio-sensor-proxy) on a private system bus,
// reading a umockdev testbed through umockdev's preload library. Both
// processes die with the object, with the test process (a parent-death
// signal) and at exit, whatever happens.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <set>
#include <sys/types.h>

namespace PeerDaemon {

inline std::set<qint64> &running()
{
    static std::set<qint64> pids;
    return pids;
}

inline void killAll()
{
    for (qint64 pid : running())
        ::kill(pid_t(pid), SIGKILL);
    running().clear();
}

// Why the daemons cannot run here, or empty when they can.
inline QString unavailable(const QString &daemon)
{
    Q_UNUSED(daemon) // in a sanitized build, which never asks
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return QStringLiteral("umockdev's preload library cannot run beside a sanitizer's runtime");
#else
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return QStringLiteral("umockdev's preload library cannot run beside a sanitizer's runtime");
#endif
#endif
    for (const QString &need :
        { daemon, QStringLiteral("/usr/bin/dbus-daemon"), QStringLiteral("/usr/bin/setpriv") })
        if (!QFile::exists(need))
            return need + QStringLiteral(" is not installed (scripts/bootstrap installs it)");
    for (const char *lib : { "/usr/lib/x86_64-linux-gnu/libumockdev-preload.so.0",
             "/usr/lib/aarch64-linux-gnu/libumockdev-preload.so.0",
             "/usr/lib/libumockdev-preload.so.0" })
        if (QFile::exists(QLatin1String(lib)))
            return QString();
    return QStringLiteral("umockdev is not installed (scripts/bootstrap installs it)");
#endif
}

class Peer
{
public:
    // Starts the bus and the daemon on the testbed below root (root/sys).
    Peer(const QString &root, const QString &daemon, const QStringList &arguments,
        const QString &busName)
        : name(busName)
    {
        static const bool registered = [] { return std::atexit(killAll) == 0; }();
        Q_UNUSED(registered);

        QFile config(dir.filePath("bus.conf"));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                     "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig><type>system</type><listen>unix:dir="
            + dir.path().toUtf8()
            + "</listen><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
              "<allow send_type=\"method_call\"/><allow send_type=\"method_return\"/>"
              "<allow send_type=\"signal\"/><allow send_type=\"error\"/>"
              "<allow receive_type=\"method_call\"/><allow receive_type=\"method_return\"/>"
              "<allow receive_type=\"signal\"/><allow receive_type=\"error\"/>"
              "</policy></busconfig>\n");
        config.close();

        start(bus, QStringLiteral("/usr/bin/dbus-daemon"),
            { "--config-file=" + config.fileName(), "--nofork", "--print-address=1" }, {});
        const QDeadlineTimer deadline(20000);
        while (!bus.canReadLine() && bus.state() == QProcess::Running && !deadline.hasExpired())
            bus.waitForReadyRead(100);
        address = QString::fromUtf8(bus.readLine().trimmed());
        if (address.isEmpty())
            return;

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", address);
        env.insert("UMOCKDEV_DIR", root);
        env.insert("LD_PRELOAD", "libumockdev-preload.so.0");
        env.insert("UPOWER_HISTORY_DIR", dir.path());
        env.insert("UPOWER_CONF_FILE_NAME", dir.filePath("none.conf"));
        start(peer, daemon, arguments, env);

        connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, "peer" + QString::number(quintptr(this))));
    }

    ~Peer()
    {
        if (connection) {
            const QString connectionName = connection->name();
            connection.reset();
            QDBusConnection::disconnectFromBus(connectionName);
        }
        for (QProcess *p : { &peer, &bus }) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
            running().erase(p->processId());
        }
    }

    // Waits until the daemon owns its name on the bus.
    bool ready()
    {
        if (!connection || !connection->isConnected())
            return false;
        return waitFor([&] { return connection->interface()->isServiceRegistered(name).value(); });
    }

    // Polls for a condition until it holds or 20 s have passed.
    template <typename F> static bool waitFor(F condition)
    {
        const QDeadlineTimer deadline(20000);
        while (!condition()) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(20);
        }
        return true;
    }

    QVariantMap properties(const QString &path, const QString &interface) const
    {
        QDBusInterface props(name, path, "org.freedesktop.DBus.Properties", *connection);
        const QDBusReply<QVariantMap> reply = props.call("GetAll", interface);
        return reply.isValid() ? reply.value() : QVariantMap();
    }

    QDBusConnection &bus_() { return *connection; }
    QString log() { return QString::fromLocal8Bit(peer.readAll()); }

private:
    static void start(QProcess &p, const QString &program, const QStringList &arguments,
        const QProcessEnvironment &env)
    {
        // setpriv makes the kernel kill the process when the test dies.
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setProgram(QStringLiteral("/usr/bin/setpriv"));
        p.setArguments(QStringList { "--pdeathsig", "KILL", program } + arguments);
        if (!env.isEmpty())
            p.setProcessEnvironment(env);
        p.start();
        if (p.waitForStarted(10000))
            running().insert(p.processId());
    }

    QTemporaryDir dir;
    QString name;
    QString address;
    QProcess bus;
    QProcess peer;
    std::unique_ptr<QDBusConnection> connection;
};

} // namespace PeerDaemon

#endif
