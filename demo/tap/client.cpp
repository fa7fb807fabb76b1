// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include <cstdio>

client::client(QObject *parent)
    : QObject(parent)
    , sensor(new Vorna::KvTap(this))
{
    connect(sensor, SIGNAL(tapped(const Vorna::KvTapReading)), this,
        SLOT(tapEvent(Vorna::KvTapReading)));
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    sensor->start();
}

client::~client()
{
    sensor->stop();
    delete sensor;
}

void client::tapEvent(Vorna::KvTapReading reading)
{
    // The two numbers are the library's tap direction and tap type.
    printf("\r[Tap]: (see enums) %d %d", reading.firstValue, reading.secondValue);
    fflush(stdout);
}
