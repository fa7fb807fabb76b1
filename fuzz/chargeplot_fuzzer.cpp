// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// libFuzzer target: any bytes as a charge log, read as charge-plot reads
// it and drawn into a picture of bounded size. Reading and drawing must
// neither crash, hang nor grow without bound; a picture the program would
// draw stays within its largest side.

#include "chargelog.h"
#include "chart.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

int applicationArgc = 1;
char applicationName[] = "chargeplot_fuzzer";
char *applicationArgv[] = { applicationName, nullptr };

} // namespace

// Fontconfig keeps the patterns of the fonts it found until the process
// ends, past the point where LeakSanitizer looks: one set, not one an
// input.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Text needs fonts, and fonts a QGuiApplication; no display is used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(applicationArgc, applicationArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A log of no bytes is a stream of none.
    static char none;
    FILE *stream = size > 0 ? fmemopen(const_cast<uint8_t *>(data), size, "r")
                            : fmemopen(&none, 1, "r");
    if (!stream)
        __builtin_trap();
    if (size == 0)
        fgetc(stream);
    const ChargeLog log = readChargeLog(stream, QStringLiteral("fuzz"));
    fclose(stream);
    if (log.rows == 0)
        return 0;
    // An odd length draws the log beside itself, as two logs.
    std::vector<const ChargeLog *> logs { &log };
    QStringList labels { QStringLiteral("fuzz") };
    if (size % 2) {
        logs.push_back(&log);
        labels << QStringLiteral("again");
    }
    ChartLayout layout;
    layout.width = Chart::minimumWidth;
    const Chart chart(logs, labels, layout);
    // What charge-plot refuses to draw.
    if (chart.empty() || chart.size().height() > Chart::maximumSide)
        return 0;
    if (chart.size().width() != Chart::minimumWidth || chart.size().height() < 1)
        __builtin_trap();
    // The whole picture, scaled into a few hundred pixels.
    QImage image(200, 400, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.scale(200.0 / chart.size().width(), 400.0 / chart.size().height());
    chart.draw(painter);
    painter.end();
    return 0;
}
