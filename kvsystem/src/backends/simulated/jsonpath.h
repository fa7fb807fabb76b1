// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_BACKENDS_SIMULATED_JSONPATH_H
#define KVSYSTEM_SRC_BACKENDS_SIMULATED_JSONPATH_H

// JSON paths as scenario errors show them (battery.voltage[2]), and the
// scan for keys that stand twice in one object, which Qt's parser would
// silently take as one.

#include <QByteArray>
#include <QString>

#include <optional>

namespace Vorna::Backend {

// A key as a JSON path shows it: as it stands, or as a JSON string where it
// could not be read back from the path (empty, or holding a separator, a
// quote or a control character).
QString pathKey(const QString &key);

// The offset of the first byte that is not UTF-8, if any.
std::optional<int> invalidUtf8(const QByteArray &json);

// The offset of the first bracket or brace that opens a level deeper than
// maxDepth, if any (strings skipped).
std::optional<int> tooDeep(const QByteArray &json, int maxDepth);

// The JSON path of the first key that stands twice in one object, or
// nothing when there is none. Text that is not JSON is left for Qt's parser
// to report.
std::optional<QString> duplicateKey(const QByteArray &json);

} // namespace Vorna::Backend

#endif
