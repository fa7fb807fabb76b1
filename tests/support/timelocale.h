// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_SUPPORT_TIMELOCALE_H
#define TESTS_SUPPORT_TIMELOCALE_H

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

// Builds the locale xx_XX.UTF-8 in dir (use it with LOCPATH=dir and
// LC_ALL=xx_XX.UTF-8): en_US in every category, but with the twelve month
// abbreviations given, which is what a time stamp's %b shows. Returns
// localedef's complaint, empty when the locale was built. localedef and the
// en_US sources come with Debian's locales package.
inline QByteArray buildMonthLocale(const QString &dir, const QStringList &months, int timeoutMs)
{
    QFile source(QDir(dir).filePath(QStringLiteral("months")));
    if (!source.open(QIODevice::WriteOnly))
        return "cannot write the locale's source";
    for (const char *category :
        { "LC_CTYPE", "LC_COLLATE", "LC_MONETARY", "LC_NUMERIC", "LC_MESSAGES", "LC_PAPER",
            "LC_NAME", "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION" })
        source.write(QByteArray(category) + "\ncopy \"en_US\"\nEND " + category + "\n");
    source.write("LC_TIME\n"
                 R"(abday "Sun";"Mon";"Tue";"Wed";"Thu";"Fri";"Sat")"
                 "\n"
                 R"(day "Sunday";"Monday";"Tuesday";"Wednesday";"Thursday";"Friday";"Saturday")"
                 "\nabmon \""
        + months.join(QStringLiteral("\";\"")).toUtf8() + "\"\n"
        + R"(mon "January";"February";"March";"April";"May";"June";"July";"August";)"
          R"("September";"October";"November";"December")"
          "\n"
          R"(d_t_fmt "%a %d %b %Y %T")"
          "\n"
          R"(d_fmt "%d/%m/%Y")"
          "\n"
          R"(t_fmt "%T")"
          "\n"
          R"(am_pm "AM";"PM")"
          "\n"
          R"(t_fmt_ampm "%I:%M:%S %p")"
          "\nEND LC_TIME\n");
    source.close();
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"),
        { QStringLiteral("-i"), source.fileName(), QStringLiteral("-f"), QStringLiteral("UTF-8"),
            QDir(dir).filePath(QStringLiteral("xx_XX.UTF-8")) });
    if (!localedef.waitForFinished(timeoutMs))
        return "localedef did not finish";
    if (localedef.exitStatus() != QProcess::NormalExit || localedef.exitCode() != 0)
        return localedef.readAllStandardError();
    return {};
}

#endif
