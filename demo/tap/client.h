// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_TAP_CLIENT_H
#define DEMO_TAP_CLIENT_H

#include <kvtap.h>

#include <QObject>

class client : public QObject
{
    Q_OBJECT
public:
    explicit client(QObject *parent = nullptr);
    ~client() override;

public slots:
    void tapEvent(Vorna::KvTapReading);

private:
    Vorna::KvTap *sensor;
};

#endif
