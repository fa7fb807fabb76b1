// charge-plot: a charge-recorder log as a picture, SVG or PNG.

#include "chargelog.h"
#include "chart.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgGenerator>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <getopt.h>

namespace {

const char usage[] = "Usage: charge-plot [-o FILE] [LOG]\n"
                     "\n"
                     "Draws a charge-recorder log as a picture: charge, voltage, current and\n"
                     "remaining times on one time axis, and the charger, charging and battery\n"
                     "states as a band of coloured spans.\n"
                     "\n"
                     "  LOG                the CSV that charge-recorder wrote; standard input\n"
                     "                     when missing or -\n"
                     "  -o, --output=FILE  the picture, SVG or PNG as FILE ends in .svg or .png;\n"
                     "                     by default LOG ending in .svg, or charge.svg for\n"
                     "                     standard input\n"
                     "  -h, --help         this text\n"
                     "\n"
                     "Exit status: 0 drawn, 1 a refused command line, 2 a log without rows or\n"
                     "that cannot be read, or a picture that cannot be written.\n";

enum class Format { Svg, Png, Unknown };

Format formatOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("svg"))
        return Format::Svg;
    if (suffix == QLatin1String("png"))
        return Format::Png;
    return Format::Unknown;
}

QString defaultOutput(const QString &log)
{
    if (log == QLatin1String("-"))
        return QStringLiteral("charge.svg");
    const QFileInfo info(log);
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(base + QStringLiteral(".svg"));
}

bool sameFile(const QString &a, const QString &b)
{
    const QFileInfo first(a), second(b);
    if (first.exists() && second.exists())
        return first.canonicalFilePath() == second.canonicalFilePath();
    return first.absoluteFilePath() == second.absoluteFilePath();
}

int fail(const QString &name, const QString &message)
{
    fprintf(stderr, "charge-plot: %s: %s\n", name.toLocal8Bit().constData(),
        message.toLocal8Bit().constData());
    return 2;
}

QByteArray svg(const Chart &chart, const ChargeLog &log)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    // At the 96 dots an inch of CSS, the picture shows as many pixels wide
    // as the PNG.
    generator.setResolution(96);
    generator.setSize(chart.size());
    generator.setViewBox(QRect(QPoint(0, 0), chart.size()));
    generator.setTitle(QStringLiteral("Battery log %1 to %2").arg(log.firstStamp, log.lastStamp));
    generator.setDescription(QStringLiteral("Drawn by charge-plot"));
    QPainter painter(&generator);
    chart.draw(painter);
    painter.end();
    return buffer.data();
}

QByteArray png(const Chart &chart)
{
    QImage image(chart.size(), QImage::Format_RGB32);
    QPainter painter(&image);
    chart.draw(painter);
    painter.end();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return QByteArray();
    return buffer.data();
}

// Qt's offscreen platform asks for a runtime directory that drawing into
// a file never uses; its complaint about a missing XDG_RUNTIME_DIR is not
// the user's concern.
QtMessageHandler defaultHandler = nullptr;

void filterMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: ")))
        return;
    defaultHandler(type, context, message);
}

} // namespace

int main(int argc, char **argv)
{
    // The picture is drawn into a file: no display is needed, or used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    setlocale(LC_ALL, "");

    static const option options[] = {
        { "output", required_argument, nullptr, 'o' },
        { "help", no_argument, nullptr, 'h' },
        { nullptr, 0, nullptr, 0 },
    };
    QString output;
    for (;;) {
        const int option = getopt_long(argc, argv, "o:h", options, nullptr);
        if (option == -1)
            break;
        if (option == 'h') {
            fputs(usage, stdout);
            return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 2;
        }
        if (option != 'o') {
            fputs(usage, stderr);
            return 1;
        }
        output = QString::fromLocal8Bit(optarg);
    }
    if (argc - optind > 1) {
        fprintf(stderr, "charge-plot: one log at a time\n%s", usage);
        return 1;
    }
    const QString logName = optind < argc ? QString::fromLocal8Bit(argv[optind]) : QStringLiteral("-");
    if (output.isEmpty())
        output = defaultOutput(logName);
    const Format format = formatOf(output);
    if (format == Format::Unknown) {
        fprintf(stderr, "charge-plot: %s: the picture's name must end in .svg or .png\n%s",
            output.toLocal8Bit().constData(), usage);
        return 1;
    }
    if (logName != QLatin1String("-") && sameFile(logName, output)) {
        fprintf(stderr, "charge-plot: %s: the picture would overwrite the log\n%s",
            output.toLocal8Bit().constData(), usage);
        return 1;
    }

    const bool standardInput = logName == QLatin1String("-");
    const QString shownName = standardInput ? QStringLiteral("standard input") : logName;
    FILE *stream = standardInput ? stdin : fopen(argv[optind], "r");
    if (!stream)
        return fail(shownName, QString::fromLocal8Bit(strerror(errno)));
    const ChargeLog log = readChargeLog(stream, shownName);
    const bool readError = ferror(stream);
    const int readErrno = errno;
    if (!standardInput)
        fclose(stream);
    if (readError)
        return fail(shownName, QString::fromLocal8Bit(strerror(readErrno)));
    if (log.rows == 0)
        return fail(shownName, QStringLiteral("no rows to draw"));

    defaultHandler = qInstallMessageHandler(filterMessages);
    QGuiApplication application(argc, argv);
    const Chart chart(log);
    const QByteArray picture = format == Format::Svg ? svg(chart, log) : png(chart);
    QFile file(output);
    if (picture.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(picture) != picture.size() || !file.flush()) {
        return fail(output, file.errorString());
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return fail(output, file.errorString());
    return 0;
}
