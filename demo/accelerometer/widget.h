// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_ACCELEROMETER_WIDGET_H
#define DEMO_ACCELEROMETER_WIDGET_H

#include <debugmessage.h>
#include <kvaccelerometer.h>

#include <QObject>

// Asks for a controlling session on the accelerometer and, when the sensor
// reports one, writes every reading as a debug message. The sensor is
// released when the application quits; the widget itself lives until the
// process ends.
class AccelerometerWidget : public QObject
{
    Q_OBJECT
public:
    AccelerometerWidget()
        : QObject(nullptr)
        , accelerometer(new Vorna::KvAccelerometer(nullptr))
    {
        accelerometer->requestSession(Vorna::KvSensor::ControlSession);
        // What the sensor holds decides, not what the request answered.
        if (accelerometer->sessionType() != Vorna::KvSensor::NoSession) {
            demoDebug() << "Got session:" << int(accelerometer->sessionType());
            connect(accelerometer, SIGNAL(dataAvailable(const Vorna::KvAccelerometerReading &)),
                this, SLOT(dataAvailable(const Vorna::KvAccelerometerReading &)));
            accelerometer->start();
        } else {
            demoDebug() << "Error while connecting to sensor: " << accelerometer->lastError();
        }
    }

    ~AccelerometerWidget() override { cleanUp(); }

public slots:
    void dataAvailable(const Vorna::KvAccelerometerReading &data)
    {
        demoDebug() << "Time:" << data.timestamp << "X: " << data.x << "Y: " << data.y
                    << "Z: " << data.z;
    }

    // Releases the sensor once; later calls find nothing to release.
    void cleanUp()
    {
        if (!accelerometer)
            return;
        accelerometer->stop();
        accelerometer->closeSession();
        delete accelerometer;
        accelerometer = nullptr;
    }

private:
    Vorna::KvAccelerometer *accelerometer;
};

#endif
