// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include "debugmessage.h"

client::client(QObject *parent)
    : QObject(parent)
    , thermal(new Vorna::KvThermal(this))
{
    demoDebug() << "Getting thermal state" << int(thermal->get());

    demoDebug() << "Listening for thermal changes...";
    connect(thermal, SIGNAL(thermalChanged(Vorna::KvThermal::ThermalState)), this,
        SLOT(thermalChanged(Vorna::KvThermal::ThermalState)));

    demoDebug() << "Try to raise the CPU temperature...";
    // The main thread spins here until the process is ended from outside, so
    // the event loop never runs and no thermal change reaches the slot. The
    // volatile read keeps the loop a real one: a loop without observable
    // effects may be assumed to end and be dropped by the compiler.
    volatile bool spinning = true;
    while (spinning) { }
}

client::~client()
{
    delete thermal;
}

void client::thermalChanged(Vorna::KvThermal::ThermalState state)
{
    demoDebug() << "Thermal state changed to:" << int(state);
}
