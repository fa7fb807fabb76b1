// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// libFuzzer target: any bytes as the log that charge-exporter passes
// through, in three pieces cut where the first two bytes say, to the text
// file of its newest good row. Every text file it makes must be Prometheus'
// text format: HELP and TYPE comments, and samples of a name, labels whose
// values escape what the format wants escaped, and a number.

#include "exporter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

bool nameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// One sample line, its end removed.
bool wellFormedSample(const char *p, const char *end)
{
    const char *name = p;
    while (p < end && nameChar(*p))
        ++p;
    if (p == name || p == end || *p++ != '{')
        return false;
    for (bool first = true; p < end && *p != '}'; first = false) {
        if (!first && *p++ != ',')
            return false;
        const char *label = p;
        while (p < end && nameChar(*p))
            ++p;
        if (p == label || end - p < 2 || *p++ != '=' || *p++ != '"')
            return false;
        for (; p < end && *p != '"'; ++p) {
            if (*p == '\n')
                return false;
            if (*p == '\\' && (++p == end || (*p != '\\' && *p != '"' && *p != 'n')))
                return false;
        }
        if (p++ == end)
            return false;
    }
    if (p == end || *p++ != '}' || p == end || *p++ != ' ')
        return false;
    const std::string number(p, end);
    char *stop = nullptr;
    strtod(number.c_str(), &stop);
    return !number.empty() && *stop == '\0';
}

bool wellFormed(const QByteArray &text)
{
    if (!text.startsWith("# HELP kvsystem2_row_timestamp_seconds ") || !text.endsWith('\n'))
        return false;
    for (const char *p = text.constData(), *end = p + text.size(); p < end;) {
        const char *lineEnd = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
        if (strncmp(p, "# HELP ", 7) != 0 && strncmp(p, "# TYPE ", 7) != 0
            && !wellFormedSample(p, lineEnd))
            return false;
        p = lineEnd + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("TZ", "UTC", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const char *log = reinterpret_cast<const char *>(data + 2);
    size -= 2;
    const size_t cuts[] = { std::min<size_t>(data[0], size), std::min<size_t>(data[1], size) };
    const size_t first = std::min(cuts[0], cuts[1]);
    const size_t second = std::max(cuts[0], cuts[1]);
    Exporter exporter(QStringLiteral("lab \"1\"\\\n"));
    for (const auto &[from, to] : { std::pair { size_t(0), first }, std::pair { first, second },
             std::pair { second, size } }) {
        const QByteArray text = exporter.take(log + from, to - from);
        if (!text.isEmpty() && !wellFormed(text))
            __builtin_trap();
    }
    exporter.end();
    return 0;
}
