// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_RECORDER_H
#define KVSYSTEM_SRC_RECORDER_H

// The recorder: with KVSYSTEM_RECORD naming a file, everything the backend
// delivers to the library's classes (every getter's answer, every set's
// result, every reading and change with its time and thread) is written to
// that file as a scenario that KVSYSTEM_SCENARIO plays back.
//
// The file is a "recording": one scenario object a line, merged in order
// when it is played back (see scenario.h), whole JSON after every part.

#include "backend.h"

#include <memory>

namespace Vorna::Backend {

// The backend itself when KVSYSTEM_RECORD is unset or empty; otherwise one
// that records what backend delivers. A file that cannot be written, that
// another program records into, that is the scenario being played
// (playing) or the call trace (tracing) is a usage error.
std::unique_ptr<Backend> recordedIfAsked(
    std::unique_ptr<Backend> backend, const FileId &playing, const FileId &tracing);

} // namespace Vorna::Backend

#endif
