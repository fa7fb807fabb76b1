// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_ALS_CLIENT_H
#define DEMO_ALS_CLIENT_H

#include <kvals.h>

#include <QObject>

class client : public QObject
{
    Q_OBJECT
public:
    explicit client(QObject *parent = nullptr);
    ~client() override;

public slots:
    void ALSChanged(const Vorna::KvAlsReading value);

private:
    Vorna::KvALS *sensor;
};

#endif
