// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_QUIETWRITE_H
#define KVSYSTEM_SRC_QUIETWRITE_H

// Writes of the library's own files (the call trace, a recording) that
// cannot end the program. The kernel answers some failed writes with a
// signal whose default action kills the process: SIGPIPE for a pipe whose
// reader left, SIGXFSZ for a file that would pass RLIMIT_FSIZE. Both are
// held back on the writing thread for the time of the write, and one that
// the write raised is taken back, so that the caller sees EPIPE or EFBIG
// and decides. A signal that was pending before stays pending.

#include <sys/types.h>
#include <sys/uio.h>

namespace Vorna::Backend {

// writev(), or pwritev() at offset when offset is not negative; errno as
// they set it.
ssize_t quietWrite(int fd, const iovec *parts, int count, off_t offset = -1);

} // namespace Vorna::Backend

#endif
