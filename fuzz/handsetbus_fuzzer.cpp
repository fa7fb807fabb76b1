// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// libFuzzer target: the arguments of a shared-handset message (a Set()
// call the service reads, a Changed() signal or State() reply a joined
// program reads), decoded as they are from the bus. Whatever is accepted is
// kept in a handset, whose battery is then read in full: no crash, no
// undefined behaviour, no hang.
//
// The input: names separated by NUL bytes, a 0xff byte, then the numbers
// as little-endian 32-bit words; a first byte of 0xfe sends a number that
// is not an integer instead.

#include "backends/shared/handsetbus.h"
#include "backends/shared/handsetstate.h"

#include <QStringList>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace Vorna::Backend;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const int split = bytes.indexOf('\xff');
    const QByteArray head = split < 0 ? bytes : bytes.left(split);
    const QByteArray tail = split < 0 ? QByteArray() : bytes.mid(split + 1);
    QStringList names;
    if (!head.isEmpty())
        for (const QByteArray &name : head.split('\0'))
            names.append(QString::fromUtf8(name));
    QVariantList arguments { QVariant(names) };
    if (bytes.startsWith('\xfe')) {
        arguments.append(QVariant(std::nan("")));
    } else {
        QList<int> numbers;
        for (int i = 0; i + 4 <= tail.size(); i += 4) {
            qint32 n;
            std::memcpy(&n, tail.constData() + i, 4);
            numbers.append(n);
        }
        arguments.append(QVariant::fromValue(numbers));
    }
    QString error;
    const auto values = HandsetBus::decode(arguments, &error);
    if (!values)
        return 0;
    HandsetState state;
    for (const HandsetBus::Value &value : *values)
        state.apply(value);
    for (int v = 0; v < BatteryValueCount; ++v)
        for (int mode : { 0, 1 })
            (void)state.battery(BatteryValue(v), mode, 1000.0);
    return 0;
}
