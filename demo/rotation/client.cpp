// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include <debugmessage.h>

#include <cstdio>

client::client(QObject *parent)
    : QObject(parent)
    , sensor(new Vorna::KvRotation(this))
{
    connect(sensor, SIGNAL(dataAvailable(const Vorna::KvRotationReading &)), this,
        SLOT(dataAvailable(const Vorna::KvRotationReading &)));
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    // The sensor answers property reads before it is started, with a session held.
    demoDebug() << "Requesting property from unstarted sensor:";
    dataAvailable(sensor->rotation());
    const bool z = sensor->hasZ();
    demoDebug() << "Z-Axis availability:" << z;
    demoDebug() << "Starting sensor";
    sensor->start();
}

client::~client()
{
    sensor->stop();
    delete sensor;
}

void client::dataAvailable(const Vorna::KvRotationReading &data)
{
    printf("\r [%lld]: (%d, %d, %d)       ", static_cast<long long>(data.timestamp), data.x, data.y,
        data.z);
    fflush(stdout);
}
