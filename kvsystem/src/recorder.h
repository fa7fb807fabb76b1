#ifndef KVSYSTEM_SRC_RECORDER_H
#define KVSYSTEM_SRC_RECORDER_H

// The recorder: with KVSYSTEM_RECORD naming a file, everything the backend
// delivers to the library's classes (every getter's answer, every set's
// result, every reading and change with its time and thread) is written to
// that file as a scenario that KVSYSTEM_SCENARIO plays back.
//
// The file is a "recording": one scenario object a line, merged in order
// when it is played back (see scenario.h). Each part goes into a shared
// memory mapping of the file, so that adding one costs no system call and
// a process that is killed leaves every part it finished: the kernel keeps
// the mapping's pages. Space ahead of the parts is reserved as blanks,
// which JSON ignores; a program that ends normally cuts them off.

#include "backend.h"

#include <memory>

namespace Vorna::Backend {

// The backend itself when KVSYSTEM_RECORD is unset or empty; otherwise one
// that records what backend delivers. A file that cannot be written is a
// usage error.
std::unique_ptr<Backend> recordedIfAsked(std::unique_ptr<Backend> backend);

} // namespace Vorna::Backend

#endif
