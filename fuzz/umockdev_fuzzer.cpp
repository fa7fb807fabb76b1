// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// libFuzzer target: any bytes as a umockdev-record file given to
// kvsystem2-snapshot. The import either refuses the file, writing nothing,
// or writes a tree of plain files below its directory, one an attribute it
// counts, and a README; it never crashes, hangs or grows without bound.
// An "A:" value's escapes never make it longer than it was.

#include "snapshot.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray record(reinterpret_cast<const char *>(data), int(size));
    check(Snapshot::unescaped(record).size() <= record.size());

    static QTemporaryDir base;
    static int run = 0;
    const QString out = base.path() + '/' + QString::number(run++);
    const Snapshot::Result result = Snapshot::importUmockdev(record, QStringLiteral("fuzz"), out);
    check(result.ok == result.error.isEmpty());
    int files = 0;
    bool readme = false;
    QDirIterator it(out, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        check(!info.isSymLink());
        if (info.isFile()) {
            ++files;
            readme = readme || info.filePath() == out + QStringLiteral("/README");
        }
    }
    if (result.ok)
        check(readme && files == result.attributes + 1);
    else
        check(files == 0); // refused before the first write
    QDir(out).removeRecursively();
    return 0;
}
