// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_BATTERYLOG_REPLACEFILE_H
#define DEMO_BATTERYLOG_REPLACEFILE_H

#include <QByteArray>
#include <QString>

// Replaces the file at path whole with data: the bytes go into a new file
// beside it, created under a name nobody can guess and never through a
// symbolic link (mkstemp: O_CREAT | O_EXCL), which is then renamed over
// path. A reader sees the old contents or the new, never half of either; a
// full disk or a file-size limit leaves the old file as it was and the new
// one removed. The name of the new file is path followed by a dot and six
// characters, so a collector that reads only names ending in ".prom" never
// reads it. SIGXFSZ is held for the write: a file-size limit is an error
// like ENOSPC, not the end of the program. Returns the cause of a failure,
// or an empty text.
QString replaceFile(const QByteArray &path, const QByteArray &data);

#endif
