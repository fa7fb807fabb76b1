// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_ACTIVITY_CLIENT_H
#define DEMO_ACTIVITY_CLIENT_H

#include <kvactivity.h>

#include <QObject>

// idle-demo: prints whether the user is active, then every activity change.
class client : public QObject
{
    Q_OBJECT
public:
    explicit client(QObject *parent = nullptr);
    ~client() override;

public slots:
    void activityChanged(Vorna::KvActivity::Activity activity);

private:
    Vorna::KvActivity *userActivity;
};

#endif
