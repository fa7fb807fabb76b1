// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_CHARGE_EXPORTER_EXPORTER_H
#define DEMO_CHARGE_EXPORTER_EXPORTER_H

// The log as it comes, in pieces of any size, to the text file of its
// newest good row. Each line that is neither a header nor a good row of
// its header's columns is warned about on standard error with its number.

#include "chargelog.h"
#include "textfile.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

class Exporter
{
public:
    explicit Exporter(QString device) : device(std::move(device)) { }

    // Reads the whole lines that the bytes complete; a line's start without
    // its end waits for the next bytes. The text file of the newest good row
    // among them, or an empty text when they hold none.
    QByteArray take(const char *data, size_t size);

    // The end of the log: a line without its end is a row cut off by a
    // writer that died, never a row.
    void end();

private:
    bool line(std::string &text, Row *row);
    void warn(const QString &why);

    const QString device;
    RowReader reader;
    std::string pending;
    bool overlong = false;
    std::vector<char *> cells;
    std::vector<int> header;
    bool haveHeader = false;
    long long number = 0;
};

#endif
