// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_LOGIND_H
#define KVSYSTEM_SRC_LOGIND_H

// The login manager of a Linux machine (systemd-logind on the system bus):
// whether the user's session is idle, and the power requests and backlight
// changes that it carries out for the session's user.

#include <QString>

#include <memory>
#include <optional>

namespace Vorna::Backend {

class LoginManager
{
public:
    virtual ~LoginManager() = default;
    // The idle hint of this process's session; none when no login manager
    // or no session of this process can be reached.
    virtual std::optional<bool> idleHint() = 0;
    // True when the login manager accepted the request.
    virtual bool reboot() = 0;
    virtual bool powerOff() = 0;
    // Sets /sys/class/<subsystem>/<name>/brightness for the session's user,
    // who may lack the right to write the file; true when it was accepted.
    virtual bool setBrightness(const QString &subsystem, const QString &name, quint32 value)
    {
        Q_UNUSED(subsystem)
        Q_UNUSED(name)
        Q_UNUSED(value)
        return false;
    }
};

// logind over D-Bus, from the module kvsystem2/logind.so beside the library,
// loaded on first use. Calls block for at most a quarter of a second; once
// the session cannot be found the manager stops asking. Without the module
// (or a system bus) no idle hint is known and power requests are refused.
std::shared_ptr<LoginManager> systemLoginManager();

} // namespace Vorna::Backend

#endif
