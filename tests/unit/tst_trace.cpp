// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The call trace: one line a call, in the exact shape scripts parse.

#include "trace.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace Vorna {
// Stands in for a library class: the trace names the class without its namespace.
class KvProbe : public QObject
{
    Q_OBJECT
};
} // namespace Vorna

class client : public QObject
{
    Q_OBJECT
};

class CallTrace : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void lines();
    void quotedTexts_data();
    void quotedTexts();
    void records();
    void lifecycle();

private:
    QStringList written();
    QTemporaryDir dir;
    QString path;
    Vorna::KvProbe probe;
};

void CallTrace::initTestCase()
{
    path = dir.filePath("trace");
    qputenv("KVSYSTEM_TRACE", QFile::encodeName(path));
    Vorna::Trace::open();
    QVERIFY(Vorna::Trace::enabled());
}

void CallTrace::init()
{
    QFile::resize(path, 0);
}

QStringList CallTrace::written()
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

void CallTrace::lines()
{
    using Vorna::Trace::Call;
    Call(&probe, "stop");
    Call(&probe, "set").arg(1).returns(true);
    Call(&probe, "requestSession").arg(2).returns(0);
    Call(&probe, "move").arg(-1).arg(2);
    Call(&probe, "get").returns(false);
    QCOMPARE(written(),
        QStringList({ "KvProbe::stop()", "KvProbe::set(1) = true", "KvProbe::requestSession(2) = 0",
            "KvProbe::move(-1, 2)", "KvProbe::get() = false" }));
}

void CallTrace::quotedTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("line");
    QTest::newRow("empty text") << ""
                                << R"(KvProbe::lastError() = "")";
    QTest::newRow("plain text") << "no session granted"
                                << R"(KvProbe::lastError() = "no session granted")";
    QTest::newRow("quotes and backslashes escaped")
        << R"(say "hi" \o/)"
        << R"(KvProbe::lastError() = "say \"hi\" \\o/")";
    QTest::newRow("line ends keep the line whole") << "a\nb\r\tc\x01"
                                                   << R"(KvProbe::lastError() = "a\nb\r\tc\x01")";
    QTest::newRow("non-ASCII as UTF-8") << QString::fromUtf8(
        "Gerät belegt") << QString::fromUtf8("KvProbe::lastError() = \"Gerät belegt\"");
}

void CallTrace::quotedTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, line);
    QCOMPARE(Vorna::Trace::Call(&probe, "lastError").returns(text), text);
    QCOMPARE(written(), QStringList { line });
}

void CallTrace::records()
{
    Vorna::Backend::Sample s;
    s.timestamp = ~quint64(0);
    s.values = { 1, -2, 3, 4, 5, 6, 7 };
    Vorna::Trace::Call(&probe, "rotation").returns(s, Vorna::Backend::Sensor::Rotation);
    Vorna::Trace::Call(&probe, "magneticField").returns(s, Vorna::Backend::Sensor::Magnetometer);
    QCOMPARE(written(),
        QStringList({ "KvProbe::rotation() = {18446744073709551615 1 -2 3}",
            "KvProbe::magneticField() = {18446744073709551615 1 -2 3 4 5 6 7}" }));
}

void CallTrace::lifecycle()
{
    client owner;
    Vorna::Trace::constructed(Vorna::KvProbe::staticMetaObject, &owner);
    Vorna::Trace::constructed(Vorna::KvProbe::staticMetaObject, nullptr);
    Vorna::Trace::destroyed(Vorna::KvProbe::staticMetaObject);
    QCOMPARE(written(),
        QStringList(
            { "KvProbe::KvProbe(client)", "KvProbe::KvProbe(null)", "KvProbe::~KvProbe()" }));
}

QTEST_GUILESS_MAIN(CallTrace)
#include "tst_trace.moc"
