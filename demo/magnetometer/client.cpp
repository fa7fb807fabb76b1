// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include <debugmessage.h>

#include <cstdio>

client::client(QObject *parent)
    : QObject(parent)
    , sensor(new Vorna::KvMagnetometer(this))
{
    connect(sensor, SIGNAL(dataAvailable(const Vorna::KvMagnetometerReading &)), this,
        SLOT(dataAvailable(const Vorna::KvMagnetometerReading &)));
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    // The sensor answers property reads before it is started, with a session held.
    demoDebug() << "Requesting property from unstarted sensor:";
    dataAvailable(sensor->magneticField());
    demoDebug() << "Starting sensor";
    sensor->start();
}

client::~client()
{
    sensor->stop();
    delete sensor;
}

void client::dataAvailable(const Vorna::KvMagnetometerReading &data)
{
    // The calibration level comes last in the record but second in the block:
    // it tells how far the calibrated values below it can be trusted.
    printf("Timestamp        : %lld\n", static_cast<long long>(data.timestamp));
    printf("CalibrationLevel : %d\n", data.level);
    printf("Calibrated values: %d %d %d\n", data.x, data.y, data.z);
    printf("Raw values       : %d %d %d\n", data.rx, data.ry, data.rz);
    puts("------");
    fflush(stdout);
}
