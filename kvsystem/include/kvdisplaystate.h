// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVDISPLAYSTATE_H
#define KVSYSTEM_INCLUDE_KVDISPLAYSTATE_H

#include "kvsystem2_export.h"

#include <QObject>

#include <memory>

namespace Vorna {

class KvDisplayStatePrivate;

// The display: on, dimmed or off, its brightness and the time before it dims.
class KVSYSTEM2_EXPORT KvDisplayState : public QObject
{
    Q_OBJECT
public:
    enum DisplayState : int { Off = -1, Dimmed = 0, On = 1 };
    Q_ENUM(DisplayState)

    explicit KvDisplayState(QObject *parent = nullptr);
    ~KvDisplayState() override;

    // The state now.
    Vorna::KvDisplayState::DisplayState get() const;
    // Asks the display to go to a state; true when the request was accepted
    // (false, for example, without write access to the backlight).
    bool set(Vorna::KvDisplayState::DisplayState state);
    // Brightness in the handset's levels, 1 (darkest) to 5; values outside
    // are taken as the nearest level.
    void setDisplayBrightnessValue(int brightness);
    // The level now, 1 to 5; -1 when the device has no backlight.
    int getDisplayBrightnessValue();
    // Seconds of inactivity before the display dims.
    void setDisplayDimTimeout(int timeout);
    int getDisplayDimTimeout();
    // Keeps the display from blanking for a while; true when accepted.
    bool setBlankingPause();

signals:
    // Each change of the display state, also those the user or the system
    // made; may come from a thread of the library's own.
    void displayStateChanged(Vorna::KvDisplayState::DisplayState state);

private:
    Q_DISABLE_COPY(KvDisplayState)
    std::unique_ptr<KvDisplayStatePrivate> d;
};

} // namespace Vorna

#endif
