// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "linuxdisplay.h"

#include "linuxbackend.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Vorna::Backend {

namespace {

QString firstBacklight(const Sysfs &sysfs)
{
    const QStringList all
        = Sysfs::entries(sysfs.path(QStringLiteral("class/backlight")), QString());
    return all.isEmpty() ? QString() : all.first();
}

} // namespace

using State = KvDisplayState::DisplayState;

LinuxDisplay::LinuxDisplay(const Sysfs &sysfs, bool allowed, Login login, ChangeSink<State> sink)
    : dir(firstBacklight(sysfs))
    , allowed(allowed)
    , login(std::move(login))
    , sink(std::move(sink))
    , last(get())
    , poller(Delivery::MainThread, LinuxBackend::statePollMs, [this] {
        const State now = get();
        if (now != last) {
            last = now;
            this->sink(now);
        }
    })
{
    if (!dir.isEmpty())
        poller.start();
}

State LinuxDisplay::get() const
{
    // Without a backlight (a desktop's monitor) the display is taken to be on.
    if (dir.isEmpty())
        return KvDisplayState::On;
    if (Sysfs::readInt(file("bl_power")).value_or(0) != 0)
        return KvDisplayState::Off;
    const std::optional<qint64> b = Sysfs::readInt(file("brightness"));
    if (!b)
        return KvDisplayState::On;
    if (*b <= 0)
        return KvDisplayState::Off;
    const qint64 max = Sysfs::readInt(file("max_brightness")).value_or(0);
    return *b <= max / dimDivisor ? KvDisplayState::Dimmed : KvDisplayState::On;
}

bool LinuxDisplay::unblank() const
{
    const std::optional<qint64> power = Sysfs::readInt(file("bl_power"));
    return !power || *power == 0 || Sysfs::write(file("bl_power"), "0");
}

bool LinuxDisplay::writeBrightness(qint64 value)
{
    bool opened = false;
    if (Sysfs::write(file("brightness"), QByteArray::number(value), &opened))
        return true;
    if (opened || !login || value < 0)
        return false; // the kernel refused the value, or no one else may write it
    const std::shared_ptr<LoginManager> manager = login();
    return manager
        && manager->setBrightness(QStringLiteral("backlight"), dir.section(QLatin1Char('/'), -1),
            quint32(std::min<qint64>(value, std::numeric_limits<quint32>::max())));
}

bool LinuxDisplay::set(State state)
{
    if (dir.isEmpty() || !allowed)
        return false;
    const qint64 max = Sysfs::readInt(file("max_brightness")).value_or(0);
    const qint64 dim = max / dimDivisor;
    const qint64 now = Sysfs::readInt(file("brightness")).value_or(0);
    switch (state) {
    case KvDisplayState::Off:
        if (Sysfs::exists(file("bl_power")))
            return Sysfs::write(file("bl_power"), QByteArray::number(fbBlankPowerdown));
        if (now > dim)
            restoreTo = now;
        return writeBrightness(0);
    case KvDisplayState::Dimmed:
        if (dim <= 0)
            return false; // a backlight too coarse to dim
        if (now > dim)
            restoreTo = now;
        return unblank() && writeBrightness(dim);
    case KvDisplayState::On:
        if (!unblank())
            return false;
        if (now > dim)
            return true;
        return writeBrightness(restoreTo > dim ? restoreTo : max);
    }
    return false;
}

void LinuxDisplay::setBrightness(int level)
{
    if (dir.isEmpty() || !allowed)
        return;
    const qint64 max = Sysfs::readInt(file("max_brightness")).value_or(0);
    if (max <= 0)
        return;
    const qint64 value = std::max<qint64>(
        1, std::llround(double(std::clamp(level, 1, levels)) * double(max) / levels));
    if (writeBrightness(value))
        restoreTo = value;
}

int LinuxDisplay::brightness() const
{
    const std::optional<qint64> b
        = dir.isEmpty() ? std::nullopt : Sysfs::readInt(file("brightness"));
    const qint64 max = dir.isEmpty() ? 0 : Sysfs::readInt(file("max_brightness")).value_or(0);
    if (!b || max <= 0)
        return -1; // no backlight to ask
    return int(std::llround(double(std::clamp<qint64>(*b, 0, max)) * levels / double(max)));
}

} // namespace Vorna::Backend
