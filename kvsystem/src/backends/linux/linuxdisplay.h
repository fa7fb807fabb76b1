// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_LINUXDISPLAY_H
#define KVSYSTEM_SRC_LINUXDISPLAY_H

// The display of a Linux machine, from the first backlight of the kernel's
// backlight class: on, dimmed or off from bl_power and brightness, and the
// brightness in the handset's five levels spread over max_brightness.
// Nothing is changed unless the user allows it (KVSYSTEM_ALLOW_DISPLAY):
// otherwise every set is refused. Where the brightness file cannot be
// written (a user without root rights), the login manager sets it.

#include "backend.h"
#include "loginmanager.h"
#include "poller.h"
#include "sysfs.h"

namespace Vorna::Backend {

class LinuxDisplay : public DisplaySource
{
public:
    static constexpr int levels = 5;
    // Dimmed is a tenth of the full brightness or less (and more than 0).
    static constexpr int dimDivisor = 10;
    static constexpr int fbBlankPowerdown = 4; // bl_power: the panel is off
    static constexpr int defaultDimTimeout = 30; // seconds

    // The login manager, loaded when first asked for; null (or an empty
    // function) where it is not to be used.
    using Login = std::function<std::shared_ptr<LoginManager>()>;

    LinuxDisplay(const Sysfs &sysfs, bool allowed, Login login,
        ChangeSink<KvDisplayState::DisplayState> sink);

    KvDisplayState::DisplayState get() const override;
    bool set(KvDisplayState::DisplayState state) override;
    void setBrightness(int level) override;
    int brightness() const override;
    // Linux keeps no dim time-out of its own: the value is this object's.
    void setDimTimeout(int seconds) override { dimSeconds = seconds; }
    int dimTimeout() const override { return dimSeconds; }
    // Nothing in sysfs keeps the display from blanking: refused.
    bool setBlankingPause() override { return false; }

private:
    QString file(const char *name) const { return dir + QLatin1Char('/') + QLatin1String(name); }
    bool unblank() const;
    bool writeBrightness(qint64 value);

    const QString dir;
    const bool allowed;
    const Login login;
    const ChangeSink<KvDisplayState::DisplayState> sink;
    qint64 restoreTo = 0; // the brightness before dimming, for switching on again
    int dimSeconds = defaultDimTimeout;
    KvDisplayState::DisplayState last;
    Poller poller; // declared last: stopped before the rest goes
};

} // namespace Vorna::Backend

#endif
