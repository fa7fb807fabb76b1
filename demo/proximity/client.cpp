// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include <cstdio>

client::client(QObject *parent)
    : QObject(parent)
    , sensor(new Vorna::KvProximity(this))
{
    connect(sensor, SIGNAL(ProximityChanged(const Vorna::KvProximityReading)), this,
        SLOT(ProximityChanged(const Vorna::KvProximityReading)));
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    sensor->start();
}

client::~client()
{
    sensor->stop();
    delete sensor;
}

void client::ProximityChanged(const Vorna::KvProximityReading value)
{
    printf("\r[Proximity]: [%lld] %3d \n", static_cast<long long>(value.timestamp), value.value);
    fflush(stdout);
}
