// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include <cstdio>

client::client(QObject *parent)
    : QObject(parent)
    , sensor(new Vorna::KvALS(this))
{
    connect(sensor, SIGNAL(ALSChanged(const Vorna::KvAlsReading)), this,
        SLOT(ALSChanged(const Vorna::KvAlsReading)));
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    sensor->start();
}

client::~client()
{
    sensor->stop();
    delete sensor;
}

void client::ALSChanged(const Vorna::KvAlsReading value)
{
    printf("\r[ALS]: [%lld] %3d lux", static_cast<long long>(value.timestamp), value.value);
    fflush(stdout);
}
