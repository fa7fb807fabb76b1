// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include "debugmessage.h"

namespace {

const char *stateWord(Vorna::KvDisplayState::DisplayState state)
{
    switch (state) {
    case Vorna::KvDisplayState::Off:
        return "  Off";
    case Vorna::KvDisplayState::Dimmed:
        return "  Dimmed";
    case Vorna::KvDisplayState::On:
        return "  On";
    }
    // The display reported a state this program does not know.
    return "  ERROR";
}

} // namespace

client::client(QObject *parent)
    : QObject(parent)
    , displayState(new Vorna::KvDisplayState(this))
{
    demoDebug() << "* TEST 1 'DisplayState get() - Screen status:";
    demoDebug() << stateWord(displayState->get());

    demoDebug() << "* TEST 2. set(DisplayState state) - Setting display to:";
    const bool dimmed = displayState->set(Vorna::KvDisplayState::Dimmed);
    demoDebug() << "- Dimmed: " << dimmed;
    const bool on = displayState->set(Vorna::KvDisplayState::On);
    demoDebug() << "- On: " << on;

    demoDebug() << "setbrightnessvalue(1)";
    displayState->setDisplayBrightnessValue(1);
    const int brightness = displayState->getDisplayBrightnessValue();
    demoDebug() << "getbrightnessvalue()" << brightness;

    demoDebug() << "setDisplayDimTimeout(6)";
    displayState->setDisplayDimTimeout(6);
    const int dimTimeout = displayState->getDisplayDimTimeout();
    demoDebug() << "getDisplayDimTimeout()" << dimTimeout;

    const bool paused = displayState->setBlankingPause();
    demoDebug() << "* TEST 3. bool setBlankingPause(void) - method called with success: " << paused;

    demoDebug() << "* TEST 4. Listening for display status changes...";
    connect(displayState, SIGNAL(displayStateChanged(Vorna::KvDisplayState::DisplayState)), this,
        SLOT(displayStateChanged(Vorna::KvDisplayState::DisplayState)));
}

client::~client()
{
    delete displayState;
}

void client::displayStateChanged(Vorna::KvDisplayState::DisplayState state)
{
    // The number, not the word: a change may carry a state that has none.
    demoDebug() << "  State changed to:" << int(state);
}
