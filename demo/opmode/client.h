// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_OPMODE_CLIENT_H
#define DEMO_OPMODE_CLIENT_H

#include <kvdevicemode.h>

#include <QObject>

// opmode-demo: a placeholder that creates the device-mode object, says it is
// not implemented and idles.
class client : public QObject
{
    Q_OBJECT
public:
    explicit client(QObject *parent = nullptr);
    ~client() override;

private:
    Vorna::KvDeviceMode *deviceMode;
};

#endif
