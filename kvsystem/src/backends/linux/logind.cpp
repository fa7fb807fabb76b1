// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The login manager over D-Bus, built as a module of its own: only the Linux
// backend needs it, and loading Qt's D-Bus module (and the libraries below it)
// into every program would cost each of them a millisecond at start-up.

#include "loginmanager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace Vorna::Backend {

namespace {

const QString service = QStringLiteral("org.freedesktop.login1");
const QString managerPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
constexpr int timeoutMs = 250;

class Logind : public LoginManager
{
public:
    std::optional<bool> idleHint() override
    {
        if (!findSession())
            return std::nullopt;
        QDBusMessage call = QDBusMessage::createMethodCall(service, session,
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << QStringLiteral("org.freedesktop.login1.Session") << QStringLiteral("IdleHint");
        const QDBusMessage reply = send(call);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        return qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toBool();
    }

    bool reboot() override { return request(QStringLiteral("Reboot")); }
    bool powerOff() override { return request(QStringLiteral("PowerOff")); }

    bool setBrightness(const QString &subsystem, const QString &name, quint32 value) override
    {
        if (!findSession())
            return false;
        QDBusMessage call = QDBusMessage::createMethodCall(service, session,
            QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("SetBrightness"));
        call << subsystem << name << value;
        return send(call).type() == QDBusMessage::ReplyMessage;
    }

private:
    // This process's session, asked for once; false when it cannot be found.
    bool findSession()
    {
        if (unreachable)
            return false;
        if (!session.isEmpty())
            return true;
        QDBusMessage call = QDBusMessage::createMethodCall(
            service, managerPath, managerInterface, QStringLiteral("GetSessionByPID"));
        call << quint32(QCoreApplication::applicationPid());
        const QDBusMessage reply = send(call);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            unreachable = true;
            return false;
        }
        session = qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
        return true;
    }

    static QDBusMessage send(const QDBusMessage &call)
    {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected())
            return QDBusMessage::createError(
                QStringLiteral("org.freedesktop.DBus.Error.NoServer"), QString());
        return bus.call(call, QDBus::Block, timeoutMs);
    }

    static bool request(const QString &method)
    {
        QDBusMessage call
            = QDBusMessage::createMethodCall(service, managerPath, managerInterface, method);
        call << false; // not interactive: no password prompt from a console demo
        return send(call).type() == QDBusMessage::ReplyMessage;
    }

    bool unreachable = false;
    QString session;
};

} // namespace

} // namespace Vorna::Backend

// The module's one entry point, looked up by name when it is loaded.
extern "C" Q_DECL_EXPORT Vorna::Backend::LoginManager *kvsystem2_logind_create()
{
    return new Vorna::Backend::Logind();
}
