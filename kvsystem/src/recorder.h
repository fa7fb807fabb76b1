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
#include <sys/types.h>

namespace Vorna::Backend {

// A file as the file system knows it, whatever its name or links.
struct FileId
{
    dev_t device = 0;
    ino_t inode = 0; // 0: no file
};

// The backend itself when KVSYSTEM_RECORD is unset or empty; otherwise one
// that records what backend delivers. A file that cannot be written, that
// another program records into, or that is the scenario being played
// (playing) is a usage error.
std::unique_ptr<Backend> recordedIfAsked(std::unique_ptr<Backend> backend, const FileId &playing);

} // namespace Vorna::Backend

#endif
