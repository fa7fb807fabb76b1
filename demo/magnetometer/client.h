// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_MAGNETOMETER_CLIENT_H
#define DEMO_MAGNETOMETER_CLIENT_H

#include <kvmagnetometer.h>

#include <QObject>

class client : public QObject
{
    Q_OBJECT
public:
    explicit client(QObject *parent = nullptr);
    ~client() override;

public slots:
    void dataAvailable(const Vorna::KvMagnetometerReading &data);

private:
    Vorna::KvMagnetometer *sensor;
};

#endif
