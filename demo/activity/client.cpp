// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include "debugmessage.h"

client::client(QObject *parent)
    : QObject(parent)
    , userActivity(new Vorna::KvActivity(this))
{
    demoDebug() << "TEST1. get";
    switch (userActivity->get()) {
    case Vorna::KvActivity::Inactive:
        demoDebug() << "Inactive";
        break;
    case Vorna::KvActivity::Active:
        demoDebug() << "Active";
        break;
    default:
        // An activity this program does not know: it stops here, through
        // Qt's fatal channel, which writes the message and aborts.
        qFatal("ERROR");
    }

    demoDebug() << "TEST2. Listening for activityChanged(KvActivity::Activity activity)";
    connect(userActivity, SIGNAL(activityChanged(Vorna::KvActivity::Activity)), this,
        SLOT(activityChanged(Vorna::KvActivity::Activity)));
}

client::~client()
{
    delete userActivity;
}

void client::activityChanged(Vorna::KvActivity::Activity activity)
{
    demoDebug() << "Activity changed to:" << int(activity);
}
