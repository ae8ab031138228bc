#pragma once
// What the tests of the line's record and the site's record build their
// records from: real module definitions, plausible values, writes as the
// runs make them; and the check of a record written to a file.
#include "record.h"
#include "t516module.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <csignal>
#include <functional>
#include <optional>
#include <sys/resource.h>

namespace recordfixtures {

using namespace hv52;

inline QDateTime at(int hour, int minute, int second, int ms = 0)
{
    return QDateTime(QDate(2026, 12, 7), QTime(hour, minute, second, ms), QTimeZone(8 * 3600));
}

// A plausible register value for each kind of point, varied by position.
inline quint32 rawFor(const Point &p, int i)
{
    switch (p.show) {
    case Show::OnOff:
    case Show::OperatedReleased:
        return i % 2 ? 0x5050 : 0;
    case Show::RelayCommand:
        return 1;
    case Show::SignalType:
        return 0;
    case Show::Source:
        return 3;
    case Show::Limit:
        return p.key.endsWith(QLatin1String("upper")) ? 2000 : 0;
    case Show::Tenths:
        return 15 + i;
    case Show::Hundredths:
        return 1234 + i;
    default:
        return 100 + i;
    }
}

inline Value good(const Point &p, quint32 raw)
{
    Value v;
    v.point = &p;
    v.ok = true;
    v.raw = raw;
    v.text = registerText(p, raw, 1);
    v.json = jsonLiteral(p, raw, v.text);
    return v;
}

// The whole poll of a kind; from `failFrom` on each value fails with `why`.
inline QVector<Value> pollOf(const ModuleDef &def, int failFrom = -1, const QString &why = QString())
{
    QVector<Value> values;
    for (int i = 0; i < def.poll.size(); ++i) {
        const Point &p = def.poll[i];
        values << (failFrom >= 0 && i >= failFrom ? unreadValue(p, why) : good(p, rawFor(p, i)));
    }
    return values;
}

inline void setValue(QVector<Value> &values, const QString &key, const Value &v)
{
    for (Value &old : values) {
        if (old.point->key == key)
            old = v;
    }
}

inline WrittenValue written(const ModuleDef &def, const QString &key, quint16 before, quint16 value,
                            std::optional<quint16> readBack, WrittenValue::Outcome outcome,
                            const QString &reason = QString())
{
    WrittenValue w;
    w.key = key;
    w.point = def.point(key);
    w.caption = w.point->caption();
    w.reg = w.point->address;
    w.before = before;
    w.written = value;
    w.readBack = readBack;
    w.beforeText = registerText(*w.point, before, 1);
    w.writtenText = registerText(*w.point, value, 1);
    w.beforeJson = jsonLiteral(*w.point, before, w.beforeText);
    w.writtenJson = jsonLiteral(*w.point, value, w.writtenText);
    if (readBack) {
        w.readBackText = registerText(*w.point, *readBack, 1);
        w.readBackJson = jsonLiteral(*w.point, *readBack, w.readBackText);
    }
    w.outcome = outcome;
    w.reason = reason;
    return w;
}

// A meter of a summary: a T516 with its result and nothing else.
inline MeterRecord meter(int address, MeterRecord::Result result, const QString &detail = QString())
{
    MeterRecord m;
    m.address = address;
    m.def = &t516Module();
    m.result = result;
    m.detail = detail;
    return m;
}

inline QByteArray readAll(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The first line where two texts differ, for a failure message that shows it.
inline QString firstDifference(const QByteArray &actual, const QByteArray &expected)
{
    const QList<QByteArray> a = actual.split('\n'), e = expected.split('\n');
    for (int i = 0; i < std::max(a.size(), e.size()); ++i) {
        const QByteArray x = a.value(i), y = e.value(i);
        if (x != y)
            return QStringLiteral("line %1:\n  got:      %2\n  expected: %3")
                .arg(i + 1)
                .arg(QString::fromUtf8(x), QString::fromUtf8(y));
    }
    return QStringLiteral("same lines");
}

// `out` byte for byte as the golden `file` holds it; with HV52_UPDATE_GOLDEN=1
// the file is first rewritten with `write`.
inline void checkGolden(const QString &file, const QByteArray &out, const std::function<bool(QString *)> &write)
{
    if (qEnvironmentVariableIntValue("HV52_UPDATE_GOLDEN") == 1) {
        QString error;
        QVERIFY2(write(&error), qPrintable(error));
        qWarning("rewrote %s", qPrintable(file));
    }
    const QByteArray expected = readAll(file);
    QVERIFY2(!expected.isEmpty(), qPrintable(file + QStringLiteral(" is missing")));
    QVERIFY2(out == expected, qPrintable(firstDifference(out, expected)));
}

// Writes a record to `file` with `write` after `setup` ("" nothing, "old" an
// old file there, "dir" a directory there, "small disk" an old file and
// writes failing past 4 KiB), then checks the outcome: `expected` in the
// file, or, when `message` is given, a failure whose error holds it and the
// file's name, with an old file left whole. Either way no temporary file is
// left beside it. Fails the running test through QTest.
inline void checkWrite(const QString &file, const QString &setup, const std::function<bool(QString *)> &write,
                       const QByteArray &expected, const QString &message)
{
    const QByteArray old = "the record of yesterday\n";
    if (setup == QLatin1String("old") || setup == QLatin1String("small disk")) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
    }
    if (setup == QLatin1String("dir"))
        QVERIFY(QDir().mkpath(file));

    QString error;
    bool ok = false;
    if (setup == QLatin1String("small disk")) {
        // A file size limit fails the writes past it (EFBIG) as a full
        // disk does, for root too; the record is far larger.
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 4096;
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        ok = write(&error);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    } else {
        ok = write(&error);
    }

    if (message.isEmpty()) {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(readAll(file), expected);
    } else {
        QVERIFY(!ok);
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY2(error.contains(file), qPrintable(error));
        if (setup == QLatin1String("small disk"))
            QCOMPARE(readAll(file), old);
        if (setup == QLatin1String("dir"))
            QVERIFY(QFileInfo(file).isDir());
    }
    if (file.startsWith(QLatin1String("/dev/")))
        return;
    const QStringList left = QDir(QFileInfo(file).absolutePath()).entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(left.size() <= 1, qPrintable(left.join(u' ')));
}

// The columns of a write's rows: the file's name (in a fresh folder, or a
// path from /), the setup of checkWrite, the format the file must hold after
// success, and the words of the error (empty on success).
inline void writeColumns()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("message");
}

inline void writeRow(const char *title, const char *name, const char *setup, const char *format, const char *message)
{
    QTest::newRow(title) << QString::fromUtf8(name) << QString::fromUtf8(setup) << QString::fromUtf8(format)
                         << QString::fromUtf8(message);
}

// The running row of writeColumns(): the record written by `write` and
// checked by checkWrite against what `render` makes of the row's format.
inline void checkWriteRow(const std::function<bool(const QString &file, QString *error)> &write,
                          const std::function<QByteArray(const QString &format)> &render)
{
    QFETCH(QString, name);
    QFETCH(QString, setup);
    QFETCH(QString, format);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = name.startsWith(u'/') ? name : dir.filePath(name);
    checkWrite(
        file, setup, [&](QString *error) { return write(file, error); },
        message.isEmpty() ? render(format) : QByteArray(), message);
}

} // namespace recordfixtures
