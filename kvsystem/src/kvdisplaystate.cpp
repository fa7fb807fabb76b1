// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvdisplaystate.h"

#include "kvopen_p.h"

namespace Vorna {

class KvDisplayStatePrivate
{
public:
    std::unique_ptr<Backend::DisplaySource> source;
};

KvDisplayState::KvDisplayState(QObject *parent)
    : QObject(parent)
    , d(new KvDisplayStatePrivate)
{
    qRegisterMetaType<Vorna::KvDisplayState::DisplayState>();
    d->source = openSource(staticMetaObject, parent, [this](Backend::Backend &backend) {
        return backend.display([this](DisplayState state) { emit displayStateChanged(state); });
    });
}

KvDisplayState::~KvDisplayState()
{
    Trace::destroyed(staticMetaObject);
}

KvDisplayState::DisplayState KvDisplayState::get() const
{
    return Trace::Call(this, "get").returns(d->source->get());
}

bool KvDisplayState::set(DisplayState state)
{
    return Trace::Call(this, "set").arg(state).returns(d->source->set(state));
}

void KvDisplayState::setDisplayBrightnessValue(int brightness)
{
    d->source->setBrightness(brightness);
    Trace::Call(this, "setDisplayBrightnessValue").arg(brightness);
}

int KvDisplayState::getDisplayBrightnessValue()
{
    return Trace::Call(this, "getDisplayBrightnessValue").returns(d->source->brightness());
}

void KvDisplayState::setDisplayDimTimeout(int timeout)
{
    d->source->setDimTimeout(timeout);
    Trace::Call(this, "setDisplayDimTimeout").arg(timeout);
}

int KvDisplayState::getDisplayDimTimeout()
{
    return Trace::Call(this, "getDisplayDimTimeout").returns(d->source->dimTimeout());
}

bool KvDisplayState::setBlankingPause()
{
    return Trace::Call(this, "setBlankingPause").returns(d->source->setBlankingPause());
}

} // namespace Vorna
