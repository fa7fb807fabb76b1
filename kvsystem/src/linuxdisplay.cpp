#include "linuxdisplay.h"

#include "linuxbackend.h"

#include <algorithm>
#include <cmath>

namespace Vorna::Backend {

namespace {

QString firstBacklight(const Sysfs &sysfs)
{
    const QStringList all
        = Sysfs::entries(sysfs.path(QStringLiteral("class/backlight")), QString());
    return all.isEmpty() ? QString() : all.first();
}

} // namespace

LinuxDisplay::LinuxDisplay(const Sysfs &sysfs, ChangeSink sink)
    : dir(firstBacklight(sysfs))
    , sink(std::move(sink))
    , last(get())
    , poller(Delivery::MainThread, LinuxBackend::statePollMs, [this] {
        const int now = get();
        if (now != last) {
            last = now;
            this->sink(now);
        }
    })
{
    if (!dir.isEmpty())
        poller.start();
}

int LinuxDisplay::get() const
{
    // Without a backlight (a desktop's monitor) the display is taken to be on.
    if (dir.isEmpty())
        return 1;
    if (Sysfs::readInt(file("bl_power")).value_or(0) != 0)
        return -1;
    const std::optional<qint64> b = Sysfs::readInt(file("brightness"));
    if (!b)
        return 1;
    if (*b <= 0)
        return -1;
    const qint64 max = Sysfs::readInt(file("max_brightness")).value_or(0);
    return *b <= max / dimDivisor ? 0 : 1;
}

bool LinuxDisplay::unblank() const
{
    const std::optional<qint64> power = Sysfs::readInt(file("bl_power"));
    return !power || *power == 0 || Sysfs::write(file("bl_power"), "0");
}

bool LinuxDisplay::set(int state)
{
    if (dir.isEmpty())
        return false;
    const qint64 max = Sysfs::readInt(file("max_brightness")).value_or(0);
    const qint64 dim = max / dimDivisor;
    const qint64 now = Sysfs::readInt(file("brightness")).value_or(0);
    switch (state) {
    case -1:
        if (Sysfs::exists(file("bl_power")))
            return Sysfs::write(file("bl_power"), QByteArray::number(fbBlankPowerdown));
        if (now > dim)
            restoreTo = now;
        return Sysfs::write(file("brightness"), "0");
    case 0:
        if (dim <= 0)
            return false; // a backlight too coarse to dim
        if (now > dim)
            restoreTo = now;
        return unblank() && Sysfs::write(file("brightness"), QByteArray::number(dim));
    case 1:
        if (!unblank())
            return false;
        if (now > dim)
            return true;
        return Sysfs::write(
            file("brightness"), QByteArray::number(restoreTo > dim ? restoreTo : max));
    }
    return false;
}

void LinuxDisplay::setBrightness(int level)
{
    const qint64 max = Sysfs::readInt(file("max_brightness")).value_or(0);
    if (dir.isEmpty() || max <= 0)
        return;
    const qint64 value = std::max<qint64>(
        1, std::llround(double(std::clamp(level, 1, levels)) * double(max) / levels));
    if (Sysfs::write(file("brightness"), QByteArray::number(value)))
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
