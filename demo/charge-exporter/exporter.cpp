// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "exporter.h"

#include <cstdio>
#include <cstring>

QByteArray Exporter::take(const char *data, size_t size)
{
    Row row;
    bool haveRow = false;
    for (const char *p = data, *end = data + size; p < end;) {
        const char *newline = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
        const char *stop = newline ? newline : end;
        if (!overlong && pending.size() + size_t(stop - p) <= maxLineLength)
            pending.append(p, stop);
        else
            overlong = true;
        p = stop;
        if (!newline)
            break;
        ++p;
        ++number;
        if (overlong)
            warn(QStringLiteral("longer than %1 bytes").arg(maxLineLength));
        else if (line(pending, &row))
            haveRow = true;
        pending.clear();
        overlong = false;
    }
    return haveRow ? textfile(row, device) : QByteArray();
}

void Exporter::end()
{
    if (pending.empty() && !overlong)
        return;
    ++number;
    warn(QStringLiteral("cut off (no line end)"));
    pending.clear();
    overlong = false;
}

// One whole line, its end removed: true when it is a good row, read into row.
bool Exporter::line(std::string &text, Row *row)
{
    QString leftOut;
    size_t start = afterNulBytes(text.data(), text.size(), &leftOut);
    if (start > 0)
        warn(leftOut);
    if (text.size() > start && text.back() == '\r')
        text.pop_back();
    splitCells(text.data() + start, cells);
    if (cells.size() == 1 && !*cells[0])
        return false; // the recorder's blank line before a usage error
    if (strcmp(cells[0], "TIME") == 0) {
        header = headerColumns(cells);
        haveHeader = true;
        return false;
    }
    if (!haveHeader) {
        warn(QStringLiteral("not a header, and no header before it"));
        return false;
    }
    Row read;
    if (!reader.parseStamp(cells[0], &read.time)) {
        warn(QStringLiteral("\"%1\" is not a time stamp").arg(QString::fromLocal8Bit(cells[0])));
        return false;
    }
    const QString problem = readRow(cells, header, &read);
    if (!problem.isEmpty()) {
        warn(problem);
        return false;
    }
    *row = std::move(read);
    return true;
}

void Exporter::warn(const QString &why)
{
    fprintf(stderr, "charge-exporter: line %lld: %s: left out\n", number,
        escapedLine(why.toLocal8Bit()).constData());
}
