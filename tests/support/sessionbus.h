// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_SUPPORT_SESSIONBUS_H
#define TESTS_SUPPORT_SESSIONBUS_H

// A private D-Bus session bus in a temporary directory, for the shared
// handset's tests. The daemon dies with the object and with the test
// process (a parent-death signal), whatever happens.

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

class SessionBus
{
public:
    // A bus that lets anyone own any name, or one that refuses the name
    // given.
    explicit SessionBus(const QString &refusedName = QString())
    {
        QFile config(dir.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        const QByteArray refuse
            = refusedName.isEmpty() ? QByteArray() : "<deny own=\"" + refusedName.toUtf8() + "\"/>";
        config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                     "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig><type>session</type><listen>unix:dir="
            + dir.path().toUtf8()
            + "</listen><policy context=\"default\">"
              "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
              "<allow own=\"*\"/>"
            + refuse + "</policy></busconfig>\n");
        config.close();
        bus.setProgram(QStringLiteral("/usr/bin/setpriv"));
        bus.setArguments({ "--pdeathsig", "KILL", "/usr/bin/dbus-daemon",
            "--config-file=" + config.fileName(), "--nofork", "--print-address=1" });
        bus.start();
        const QDeadlineTimer deadline(30000);
        while (!bus.canReadLine() && bus.state() != QProcess::NotRunning && !deadline.hasExpired())
            bus.waitForReadyRead(100);
        address = QString::fromUtf8(bus.readLine().trimmed());
    }

    ~SessionBus()
    {
        if (bus.state() != QProcess::NotRunning) {
            bus.kill();
            bus.waitForFinished(10000);
        }
    }

    // Empty when the daemon did not start.
    QString address;

private:
    QTemporaryDir dir;
    QProcess bus;
};

#endif
