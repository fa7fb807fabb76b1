// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include "debugmessage.h"

client::client(QObject *parent)
    : QObject(parent)
    , systemState(new Vorna::KvSystemState(this))
{
    // Connected before the requests: the system may answer a request with an
    // indication while the request is still being made.
    demoDebug() << "* TEST 2 - Listening for systemStateChanged";
    connect(systemState, SIGNAL(systemStateChanged(Vorna::KvSystemState::StateIndication)), this,
        SLOT(systemStateChanged(Vorna::KvSystemState::StateIndication)));

    demoDebug() << "* TEST 1 -  set(NextState nextState)";
    const bool reboot = systemState->set(Vorna::KvSystemState::Reboot);
    demoDebug() << "- Reboot: " << reboot;
    const bool shutdown = systemState->set(Vorna::KvSystemState::Shutdown);
    demoDebug() << "- Shutdown: " << shutdown;
    const bool powerup = systemState->set(Vorna::KvSystemState::Powerup);
    demoDebug() << "- Powerup: " << powerup;
}

client::~client()
{
    delete systemState;
}

void client::systemStateChanged(Vorna::KvSystemState::StateIndication what)
{
    demoDebug() << "  System State changed to:" << int(what);
}
