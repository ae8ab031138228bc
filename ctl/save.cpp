// save: every setting the windows can make read from a module, written to
// a file whole or not at all (or to standard output).
#include "commands.h"
#include "commandsteps.h"
#include "console.h"
#include "consoleoutput.h"
#include "ctl.h"
#include "steps.h"

#include "systemtext.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

namespace hv52ctl {

using namespace hv52;

namespace {

// Writes to standard output and says whether every byte went out.
bool writeOut(const QByteArray &bytes, QString *error)
{
    if (console::write(console::Stream::Out, bytes))
        return true;
    *error = systemErrorText(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

QVector<int> settingIndices(const ModuleDef &def, const QVector<const Setting *> &settings)
{
    QVector<int> indices;
    for (const Setting *s : settings)
        indices += pollIndices(def, *s);
    std::sort(indices.begin(), indices.end()); // sources before the limits they scale
    return indices;
}

} // namespace

int saveCommand(const Options &o)
{
    expectWords(o, 2, o.entry->usage);
    const ModuleDef &def = moduleNamed(o.words[0]);
    const QString file = o.words[1];
    const bool toStdout = file == u"-";
    // Written to a temporary file beside it and renamed over it only when
    // every byte is in: a full disk leaves the old file whole. Opened before
    // anything is sent: a file that cannot be written is bad input.
    QSaveFile out(file);
    if (!toStdout) {
        const QFileInfo info(file);
        if (info.isDir())
            throw UsageError(fileWriteError(file, QStringLiteral("Is a directory")) + QStringLiteral("，请求未发送。"));
        if (info.exists() && !info.isFile())
            throw UsageError(
                QStringLiteral("无法写入文件 %1：不是普通文件（要写到标准输出请用 -），请求未发送。").arg(file));
        if (!out.open(QIODevice::WriteOnly))
            throw UsageError(fileWriteError(file, out.errorString()) + QStringLiteral("，请求未发送。"));
    }
    const QString where = toStdout ? QStringLiteral("标准输出") : QStringLiteral("文件 %1 ").arg(file);

    const QVector<int> indices = settingIndices(def, readableSettings(def));
    Session s(o.line, o.command, o.address, ConsoleOutput::standard());
    QVector<Reading> readings;
    const int status = s.run([&] {
        s.setFailFast(true);
        readings = readPoints(s.link(), def, indices, [&] { s.stopIfInterrupted(); });
        return Done;
    });
    if (status != Done) {
        printErr(QStringLiteral("%1未写入。").arg(where));
        return status;
    }
    if (s.interrupted() || s.moduleDead()) {
        if (s.interrupted())
            printErr(Interrupt::text() + QStringLiteral("，%1未写入。").arg(where));
        else
            printErr(QStringLiteral("%1\n%2未写入。").arg(s.silenceHint(), where));
        return Failed;
    }
    QVector<Value> values;
    bool failed = false;
    for (const Reading &r : readings) {
        values << valueOf(r, readings);
        const Value &v = values.last();
        if (!v.ok) {
            printErr(failureLine(v));
            failed = true;
        }
    }
    if (failed) {
        printErr(QStringLiteral("%1未写入。").arg(where));
        return Failed;
    }
    const QByteArray bytes = valuesJson(def, values, false).toUtf8();
    if (toStdout) {
        QString error;
        if (!writeOut(bytes, &error)) {
            printErr(QStringLiteral("无法写入标准输出：%1。").arg(error));
            return Failed;
        }
        return Done;
    }
    // flush() is where the bytes meet the disk: a full one fails there, and
    // commit() alone would rename an empty file over the old one.
    if (out.write(bytes) != bytes.size() || !out.flush() || out.error() != QFileDevice::NoError || !out.commit()) {
        printErr(fileWriteError(file, out.errorString()) + QStringLiteral("，原文件未改动。"));
        return Failed;
    }
    printOut(QStringLiteral("已将 %1 个值保存到 %2。\n").arg(values.size()).arg(file));
    return Done;
}

} // namespace hv52ctl
