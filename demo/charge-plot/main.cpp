// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// charge-plot: a charge-recorder log as a picture, SVG or PNG.

#include "chargelog.h"
#include "chart.h"
#include "replacefile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QFontMetrics>
#include <QDateTime>
#include <QSvgGenerator>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char usage[] = "Usage: charge-plot [OPTION]... [LOG]...\n"
                     "\n"
                     "Draws a charge-recorder log as a picture: charge, voltage, current and\n"
                     "remaining times on one time axis, and the charger, charging and battery\n"
                     "states as a band of coloured spans.\n"
                     "\n"
                     "  LOG                the CSV that charge-recorder wrote; standard input\n"
                     "                     when missing or -; several logs are drawn in one\n"
                     "                     picture, one colour a log\n"
                     "  -o, --output=FILE  the picture, SVG or PNG as FILE ends in .svg or .png;\n"
                     "                     by default LOG ending in .svg, or charge.svg for\n"
                     "                     standard input\n"
                     "      --from=TIME    leave out the rows before TIME, local time as\n"
                     "                     YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]\n"
                     "      --to=TIME      leave out the rows after TIME\n"
                     "      --size=W[xH]   the picture's width, and height, in pixels\n"
                     "      --panels=LIST  the panels to draw, separated by commas, of: charge,\n"
                     "                     capacity, voltage, current, uses, remaining, states\n"
                     "      --label=NAME   the name of the log after it in the picture; by\n"
                     "                     default its file name\n"
                     "  -h, --help         this text\n"
                     "      --version      the program's version\n"
                     "\n"
                     "Exit status: 0 drawn, 1 a log without rows or that cannot be read, or a\n"
                     "picture that cannot be written, 2 a refused command line.\n";

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

// Two names of one file, a hard link or a symbolic one included.
bool sameFile(const QByteArray &a, const QByteArray &b)
{
    struct stat first, second;
    return stat(a.constData(), &first) == 0 && stat(b.constData(), &second) == 0
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int fail(const QString &name, const QString &message)
{
    fprintf(stderr, "charge-plot: %s: %s\n", escapedLine(name.toLocal8Bit()).constData(),
        escapedLine(message.toLocal8Bit()).constData());
    return 1;
}

// A refused command line: what was wrong, naming the option, and where to
// read how it is used.
int usageError(const QString &message)
{
    fprintf(stderr, "charge-plot: %s\nTry 'charge-plot --help'.\n",
        escapedLine(message.toLocal8Bit()).constData());
    return 2;
}

// Local time, from a day's start or to the second.
bool parseTime(const QString &text, long long *seconds)
{
    QDateTime time = QDateTime::fromString(QString(text).replace(QLatin1Char(' '), QLatin1Char('T')), Qt::ISODate);
    if (!time.isValid()) {
        const QDate day = QDate::fromString(text, Qt::ISODate);
        if (!day.isValid())
            return false;
        time = QDateTime(day, QTime(0, 0));
    }
    *seconds = time.toSecsSinceEpoch();
    return true;
}

// "1200" or "1200x800".
bool parseSize(const QString &text, int *width, int *height)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    if (parts.size() > 2)
        return false;
    bool ok = true;
    *width = parts[0].toInt(&ok);
    if (!ok || *width < Chart::minimumWidth || *width > Chart::maximumSide)
        return false;
    *height = 0;
    if (parts.size() == 2) {
        *height = parts[1].toInt(&ok);
        if (!ok || *height < 1 || *height > Chart::maximumSide)
            return false;
    }
    return true;
}

QByteArray svg(const Chart &chart)
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
    generator.setTitle(chart.title());
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

// Without a font the picture's text is drawn as boxes; the picture is
// still made, but the user is told why it cannot be read.
void warnAboutFonts()
{
    // Qt names families even where fontconfig has no file at all; a
    // digit that no font can draw is the sign.
    const bool none = !QFontMetrics(QFont(QStringLiteral("DejaVu Sans"))).inFont(QLatin1Char('0'));
    if (none)
        fputs("charge-plot: no font found: the picture's text will not be readable "
              "(fonts-dejavu-core has the font it is drawn with)\n",
            stderr);
}

// What the command line asks for.
struct CommandLine
{
    QString output;
    Format format = Format::Unknown;
    ReadRange range;
    ChartLayout layout;
    QStringList logNames;
    QStringList labels; // of each log; null for its file name
};

// Reads the options and logs named; -1 when the program goes on, else its
// exit status (help, version, a refused command line).
int parseCommandLine(int argc, char **argv, CommandLine *line)
{
    enum { FromOption = 256, ToOption, SizeOption, PanelsOption, LabelOption, VersionOption };
    static const option options[] = {
        { "output", required_argument, nullptr, 'o' },
        { "from", required_argument, nullptr, FromOption },
        { "to", required_argument, nullptr, ToOption },
        { "size", required_argument, nullptr, SizeOption },
        { "panels", required_argument, nullptr, PanelsOption },
        { "label", required_argument, nullptr, LabelOption },
        { "help", no_argument, nullptr, 'h' },
        { "version", no_argument, nullptr, VersionOption },
        { nullptr, 0, nullptr, 0 },
    };
    QString &output = line->output;
    ReadRange &range = line->range;
    ChartLayout &layout = line->layout;
    QStringList &logNames = line->logNames;
    QStringList &labels = line->labels;
    QString pendingLabel;
    // The messages are ours: they name the option and end with where to
    // read more, as for our other tools.
    opterr = 0;
    for (;;) {
        // "-": the logs come back in their place among the options, so that
        // a --label names the log after it.
        const int option = getopt_long(argc, argv, "-:o:h", options, nullptr);
        if (option == -1)
            break;
        const QString given = QString::fromLocal8Bit(argv[optind - 1]);
        const QString value = optarg ? QString::fromLocal8Bit(optarg) : QString();
        switch (option) {
        case 'h':
            fputs(usage, stdout);
            return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;
        case VersionOption:
            fputs("charge-plot " KV_VERSION "\n", stdout);
            return fflush(stdout) == 0 && !ferror(stdout) ? 0 : 1;
        case 'o':
            output = value;
            break;
        case LabelOption:
            if (!pendingLabel.isNull())
                return usageError(QStringLiteral("--label: \"%1\" names no log").arg(pendingLabel));
            pendingLabel = value;
            break;
        case 1:
            logNames << value;
            labels << pendingLabel;
            pendingLabel = QString();
            break;
        case FromOption:
        case ToOption:
            if (!parseTime(value, option == FromOption ? &range.from : &range.to))
                return usageError(QStringLiteral("--%1: \"%2\" is not a time (YYYY-MM-DD or "
                                                 "YYYY-MM-DD HH:MM[:SS])")
                                      .arg(QLatin1String(option == FromOption ? "from" : "to"),
                                          value));
            break;
        case SizeOption:
            if (!parseSize(value, &layout.width, &layout.height))
                return usageError(QStringLiteral("--size: \"%1\" is not a width from %2 to %3, "
                                                 "or WIDTHxHEIGHT")
                                      .arg(value)
                                      .arg(Chart::minimumWidth)
                                      .arg(Chart::maximumSide));
            break;
        case PanelsOption:
            layout.panels.clear();
            for (const QString &name : value.split(QLatin1Char(','))) {
                if (!Chart::panelNames().contains(name))
                    return usageError(QStringLiteral("--panels: no panel \"%1\"; there are %2")
                                          .arg(name, Chart::panelNames().join(QLatin1String(", "))));
                layout.panels << name;
            }
            break;
        case ':':
            return usageError(QStringLiteral("option '%1' needs a value").arg(given));
        case '?':
            if (optopt == 'h' || optopt == VersionOption)
                return usageError(QStringLiteral("option '%1' takes no value")
                                      .arg(given.section(QLatin1Char('='), 0, 0)));
            Q_FALLTHROUGH();
        default:
            // An unknown or ambiguous option, or one given a value it does
            // not take: as it was written, a short one by its letter.
            if (optopt > 0 && optopt < 256 && !given.startsWith(QLatin1String("--")))
                return usageError(QStringLiteral("unknown option '-%1'").arg(QChar(optopt)));
            return usageError(QStringLiteral("unknown or ambiguous option '%1'").arg(given.section(QLatin1Char('='), 0, 0)));
        }
    }
    if (range.from > range.to)
        return usageError(QStringLiteral("--from: later than --to"));
    // After "--" every argument is a log.
    for (int i = optind; i < argc; ++i) {
        logNames << QString::fromLocal8Bit(argv[i]);
        labels << pendingLabel;
        pendingLabel = QString();
    }
    if (logNames.isEmpty()) {
        logNames << QStringLiteral("-");
        labels << pendingLabel;
        pendingLabel = QString();
    }
    if (!pendingLabel.isNull())
        return usageError(QStringLiteral("--label: \"%1\" names no log").arg(pendingLabel));
    if (logNames.count(QStringLiteral("-")) > 1)
        return usageError(QStringLiteral("standard input (-) given more than once"));
    if (output.isEmpty())
        output = defaultOutput(logNames.first());
    const Format format = formatOf(output);
    if (format == Format::Unknown) {
        return usageError(QStringLiteral("%1: the picture's name must end in .svg or .png").arg(output));
    }
    for (const QString &logName : logNames) {
        if (logName != QLatin1String("-")
            && (sameFile(QFile::encodeName(logName), QFile::encodeName(output))
                || QFileInfo(logName).absoluteFilePath() == QFileInfo(output).absoluteFilePath()))
            return usageError(QStringLiteral("%1: the picture would overwrite the log").arg(output));
    }
    line->format = format;
    return -1;

}

// Reads each log on its own, its warnings naming it; -1 when all have
// rows, else the exit status.
int readLogs(CommandLine &line, std::vector<ChargeLog> *logs, QStringList *shownNames)
{
    logs->reserve(size_t(line.logNames.size()));
    for (const QString &logName : line.logNames) {
        const bool standardInput = logName == QLatin1String("-");
        const QString shownName = standardInput ? QStringLiteral("standard input") : logName;
        FILE *stream = standardInput ? stdin : fopen(QFile::encodeName(logName).constData(), "r");
        if (!stream)
            return fail(shownName, QString::fromLocal8Bit(strerror(errno)));
        logs->push_back(readChargeLog(stream, shownName, line.range));
        const bool readError = ferror(stream);
        const int readErrno = errno;
        if (!standardInput)
            fclose(stream);
        if (readError)
            return fail(shownName, QString::fromLocal8Bit(strerror(readErrno)));
        if (logs->back().rows == 0)
            return fail(shownName, QStringLiteral("no rows to draw"));
        *shownNames << shownName;
        QString &label = line.labels[shownNames->size() - 1];
        if (label.isNull())
            label = standardInput ? shownName : QFileInfo(logName).fileName();
    }

    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    // The picture is drawn into a file: no display is needed, or used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    setlocale(LC_ALL, "");
    // Past a file-size limit the write fails with EFBIG, named and the
    // unfinished picture removed, instead of a kill that leaves it behind.
    signal(SIGXFSZ, SIG_IGN);

    CommandLine line;
    if (const int status = parseCommandLine(argc, argv, &line); status >= 0)
        return status;
    std::vector<ChargeLog> logs;
    QStringList shownNames;
    if (const int status = readLogs(line, &logs, &shownNames); status >= 0)
        return status;

    defaultHandler = qInstallMessageHandler(filterMessages);
    QGuiApplication application(argc, argv);
    warnAboutFonts();
    std::vector<const ChargeLog *> drawn;
    for (const ChargeLog &log : logs)
        drawn.push_back(&log);
    const Chart chart(drawn, line.labels, line.layout);
    const QString names = shownNames.join(QLatin1String(", "));
    if (chart.empty())
        return fail(names, drawn.size() > 1
                ? QStringLiteral("the logs share no column to draw; draw each on its own")
                : QStringLiteral("no column to draw"));
    if (line.layout.height > 0 && line.layout.height < chart.minimumHeight())
        return usageError(QStringLiteral("--size: a height of %1 cannot hold the panels of %2; "
                                         "they need at least %3")
                              .arg(line.layout.height)
                              .arg(names)
                              .arg(chart.minimumHeight()));
    if (chart.size().height() > Chart::maximumSide)
        return fail(names, QStringLiteral("the picture would be %1 pixels high, more than %2; "
                                          "draw fewer logs or panels")
                               .arg(chart.size().height())
                               .arg(Chart::maximumSide));
    const QStringList leftOut = chart.leftOut();
    if (!leftOut.isEmpty())
        fprintf(stderr, "charge-plot: no battery values in %s: %s left out\n",
            escapedLine(names.toLocal8Bit()).constData(),
            leftOut.join(QLatin1String(", ")).toLocal8Bit().constData());
    const QByteArray picture = line.format == Format::Svg ? svg(chart) : png(chart);
    if (picture.isEmpty())
        return fail(line.output, QStringLiteral("the picture could not be made"));
    const QString problem = replaceFile(QFile::encodeName(line.output), picture);
    if (!problem.isEmpty())
        return fail(line.output, problem);
    return 0;
}
