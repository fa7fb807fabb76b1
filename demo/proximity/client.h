// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_PROXIMITY_CLIENT_H
#define DEMO_PROXIMITY_CLIENT_H

#include <kvproximity.h>

#include <QObject>

class client : public QObject
{
    Q_OBJECT
public:
    explicit client(QObject *parent = nullptr);
    ~client() override;

public slots:
    void ProximityChanged(const Vorna::KvProximityReading value);

private:
    Vorna::KvProximity *sensor;
};

#endif
