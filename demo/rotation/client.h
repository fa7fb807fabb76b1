// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_ROTATION_CLIENT_H
#define DEMO_ROTATION_CLIENT_H

#include <kvrotation.h>

#include <QObject>

class client : public QObject
{
    Q_OBJECT
public:
    explicit client(QObject *parent = nullptr);
    ~client() override;

public slots:
    void dataAvailable(const Vorna::KvRotationReading &data);

private:
    Vorna::KvRotation *sensor;
};

#endif
