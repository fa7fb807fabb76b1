// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_TOOLS_CTL_COMMANDS_H
#define KVSYSTEM_TOOLS_CTL_COMMANDS_H

// The console's commands: what each spelling sets on the shared handset,
// and the handset written back in the same spellings. Pure functions.

#include "backends/shared/handsetbus.h"
#include "backends/shared/handsetstate.h"

#include <QByteArrayList>

namespace Vorna::Ctl {

struct Request
{
    enum Kind { Set, Show, Play } kind = Set;
    QVector<Backend::HandsetBus::Value> values; // Set
    QByteArray file; // Play
};

// A command line after the options. None, and a one-line reason in *error
// (what it quotes escaped), for an unknown command, a missing or extra
// argument, or a value that is not a whole number or out of range.
std::optional<Request> parse(const QByteArrayList &arguments, QString *error);

// The handset as commands that would set it, one a line, and the battery as
// the library's getters see it secondsRun after the battery model started.
QByteArray show(const Backend::HandsetState &state, double secondsRun);

// The commands and their arguments, for --help.
QByteArray synopsis();

} // namespace Vorna::Ctl

#endif
