// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_ORIENTATION_CLIENT_H
#define DEMO_ORIENTATION_CLIENT_H

#include <kvorientation.h>

#include <QObject>

class client : public QObject
{
    Q_OBJECT
public:
    explicit client(QObject *parent = nullptr);
    ~client() override;

public slots:
    void orientationChanged(const Vorna::KvOrientationReading orientation);

private:
    Vorna::KvOrientation *sensor;
};

#endif
