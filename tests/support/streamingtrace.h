// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_SUPPORT_STREAMINGTRACE_H
#define TESTS_SUPPORT_STREAMINGTRACE_H

#include <QStringList>

// The call trace of a streaming sensor demo that runs until Enter: the
// sensor made, a control session, whatever the demo asks before starting,
// the start, and on Enter the stop and the deletion.
inline QStringList streamingTrace(
    const QString &cls, const QStringList &beforeStart = {}, bool started = true)
{
    return QStringList { cls + "::" + cls + "(client)", cls + "::requestSession(2) = 2" }
    + beforeStart
        + QStringList { cls + "::start() = " + (started ? "true" : "false"), cls + "::stop()",
              cls + "::~" + cls + "()" };
}

#endif
