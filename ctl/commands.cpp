// The commands of hv52ctl. Each checks all its words and options first and
// only then opens the port: a bad command line sends nothing.
#include "console.h"
#include "ctl.h"
#include "input.h"
#include "options.h"
#include "session.h"
#include "steps.h"

#include "hv52version.h"
#include "kinds.h"
#include "linkerror.h"
#include "report.h"
#include "systemtext.h"
#include "t516module.h"
#include "t540module.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <tuple>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace hv52ctl {

using namespace hv52;

void printOut(const QString &text)
{
    // Once a write has failed nothing more goes there: the run stops as on a
    // signal, its messages on stderr and its record still written.
    if (Interrupt::outputLost())
        return;
    if (!console::write(console::Stream::Out, text.toUtf8()))
        Interrupt::outputFailed(errno);
}

void printErr(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.endsWith('\n'))
        bytes += '\n';
    console::write(console::Stream::Err, bytes);
}

// Writes to standard output and says whether every byte went out.
bool writeOut(const QByteArray &bytes, QString *error)
{
    if (console::write(console::Stream::Out, bytes))
        return true;
    *error = systemErrorText(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

void expectWords(const Options &o, int count, const QString &usage)
{
    if (o.words.size() != count) {
        throw UsageError(
            QStringLiteral("%1 的参数%2：用法 hv52ctl %3，请求未发送。")
                .arg(o.command, o.words.size() < count ? QStringLiteral("不足") : QStringLiteral("过多"), usage));
    }
}

int numberWord(const QString &what, const QString &word, int low, int high)
{
    const std::optional<qint64> n = wholeNumberText(word);
    if (!n || *n < low || *n > high)
        throw UsageError(QStringLiteral("%1“%2”无效（应为 %3～%4），请求未发送。").arg(what, word).arg(low).arg(high));
    return int(*n);
}

QString failureLine(const Value &v)
{
    return QStringLiteral("%1 读取失败：%2。").arg(v.point->caption(), v.failure);
}

QString registerHex(quint16 reg)
{
    return QStringLiteral("0x%1").arg(QString::number(reg, 16).toUpper().rightJustified(4, u'0'));
}

// Why a command stopped before its end: a signal, or a module that answers nothing.
QString stopReason(const Session &s)
{
    return s.interrupted() ? Interrupt::text() : QStringLiteral("模块无应答");
}

QVector<Value> pollValues(Session &s, const ModuleDef &def, QString *stopped, QVector<Reading> *readingsOut)
{
    s.setFailFast(true);
    QVector<Reading> readings;
    QString stoppedClause; // the same inside another sentence
    ModuleClient client(s.link(), def);
    try {
        readings = client
                       .poll(
                           [&](const Reading &r) {
                               readings << r;
                               if (r.index + 1 < def.poll.size())
                                   s.stopIfInterrupted();
                           },
                           [&s] { return !s.mustStop(); })
                       .readings;
    } catch (const LinkError &e) {
        *stopped = s.errorText(e);
        stoppedClause = s.errorText(e, true);
    } catch (const Aborted &) {
        // a signal, or a dead module: what follows is marked unread
    }
    client.revise(readings); // what the poll did not revise itself, cut short
    const bool dead = s.moduleDead() && !s.interrupted();
    QVector<Value> values;
    for (int i = 0; i < def.poll.size(); ++i) {
        if (i < readings.size())
            values << valueOf(readings[i], readings);
        else if (i == readings.size() && !stopped->isEmpty())
            values << unreadValue(def.poll[i], stoppedClause);
        else if (s.interrupted())
            values << unreadValue(def.poll[i], Interrupt::text() + QStringLiteral("，未读取"));
        else if (dead)
            values << unreadValue(def.poll[i], QStringLiteral("模块无应答，未读取"));
        else
            values << unreadValue(def.poll[i], QStringLiteral("召测中止，未读取"));
    }
    if (readingsOut)
        *readingsOut = readings;
    return values;
}

namespace {

// ---------------------------------------------------------------- read

int readCommand(const Options &o)
{
    expectWords(o, 1, QStringLiteral("read MODULE"));
    const ModuleDef &def = moduleNamed(o.words[0]);
    if (o.multiMeter())
        return runMeters(o, sameForEvery(o, def, {}));
    Session s(o);
    QVector<Value> values;
    QString stopped;
    QVector<Reading> readings;
    const int status = s.run([&] {
        values = pollValues(s, def, &stopped, &readings);
        return Done;
    });
    if (status == NoPort)
        return NoPort;

    const bool dead = s.moduleDead() && !s.interrupted();
    const bool cut = s.interrupted(); // not a table that could not be printed
    printOut(o.json ? valuesJson(def, values, true) : valuesTable(values));
    bool failed = status != Done;
    if (!stopped.isEmpty()) {
        printErr(stopped);
        failed = true;
    } else if (cut) {
        printErr(Interrupt::text() + QStringLiteral("，召测未完成。"));
        failed = true;
    }
    for (int i = 0; i < readings.size() && i < values.size(); ++i) {
        if (!values[i].ok) {
            printErr(failureLine(values[i]));
            failed = true;
        }
    }
    if (dead)
        printErr(s.silenceHint());
    return failed ? Failed : Done;
}

} // namespace

// ---------------------------------------------------------------- apply, set, reset

// The source a limit of this group is scaled by, among `raw` values by
// register (written, before or read back); nullopt when it is not there.
std::optional<int> sourceIn(const ModuleDef &def, const Point &limit, const QHash<quint16, quint16> &raw)
{
    const quint16 sourceReg = def.poll[limit.scaleFrom].address;
    if (!raw.contains(sourceReg))
        return std::nullopt;
    return raw.value(sourceReg);
}

// The texts of the report's values, each limit in the unit of its own source.
void describeValues(const ModuleDef &def, WriteReport &report)
{
    QHash<quint16, quint16> written, before, readBack;
    for (const WrittenValue &v : report.values) {
        written.insert(v.reg, v.written);
        if (v.before)
            before.insert(v.reg, *v.before);
        if (v.readBack)
            readBack.insert(v.reg, *v.readBack);
    }
    for (WrittenValue &v : report.values) {
        if (!v.point)
            continue;
        const auto describe = [&](quint16 raw, const QHash<quint16, quint16> &sources, QString &text, QString &json) {
            int scale = 1;
            if (v.point->show == Show::Limit) {
                const std::optional<int> source = sourceIn(def, *v.point, sources);
                // A read-back limit whose source was not read back: the unit written.
                scale = limitScale(source.value_or(sourceIn(def, *v.point, written).value_or(0)));
            }
            describeRegister(*v.point, raw, scale, &text, &json);
        };
        describe(v.written, written, v.writtenText, v.writtenJson);
        if (v.before)
            describe(*v.before, before, v.beforeText, v.beforeJson);
        if (v.readBack)
            describe(*v.readBack, readBack, v.readBackText, v.readBackJson);
    }
}

WriteReport plannedReport(const ModuleDef &def, const QString &command, const QVector<Planned> &planned)
{
    WriteReport report{def.name, command, {}, {}};
    for (const Planned &p : planned) {
        for (int i = 0; i < p.values.size(); ++i) {
            WrittenValue v;
            v.reg = p.setting->registers[i];
            v.point = def.pointAt(v.reg);
            v.key = v.point ? v.point->key : p.setting->key;
            v.caption = v.point ? v.point->caption() : p.setting->name;
            v.written = p.values[i];
            report.values << v;
        }
    }
    return report;
}

// Inside a run: reads every register about to be written (nothing is written
// when one of these reads fails), writes the settings one whole group after
// the other, stopping between groups on a signal or a dead module, and reads
// back what was written.
void writeAndVerify(Session &s, const ModuleDef &def, const QVector<Planned> &planned, WriteReport &report,
                    const Say &say, const QHash<quint16, quint16> &known)
{
    Link &link = s.link();
    s.setFailFast(true);
    const auto valueAt = [&](quint16 reg) -> WrittenValue & {
        return *std::find_if(report.values.begin(), report.values.end(),
                             [reg](const WrittenValue &v) { return v.reg == reg; });
    };
    QVector<int> indices;
    for (const WrittenValue &v : report.values) {
        for (int i = 0; i < def.poll.size(); ++i) {
            if (def.poll[i].address == v.reg)
                indices << i;
        }
    }
    std::sort(indices.begin(), indices.end()); // sources before the limits they scale

    // Nothing is written when a register to be written could not be read
    // first; every value's reason says which read failed and why.
    const auto refuse = [&](const Point &point, const Verdict &verdict) {
        QString text = QStringLiteral("写入前读取%1（寄存器 %2）失败：%3，未写入任何值。")
                           .arg(point.name(), registerHex(point.address), outcomeText(verdict));
        if (verdict.outcome == Outcome::Exception && verdict.exceptionCode == 0x02)
            text += QStringLiteral("模块没有这个寄存器，可能不是 %1。").arg(def.name.toUpper());
        say(text);
        if (s.nothingHeard())
            say(s.silenceHint());
        for (WrittenValue &v : report.values)
            v.reason = QStringLiteral("写入前读取%1失败：%2").arg(point.name(), outcomeText(verdict));
    };
    try {
        QVector<std::pair<const Point *, ReadResult>> firstReads;
        for (const int i : indices) {
            s.stopIfInterrupted();
            const Point &point = def.poll[i];
            if (known.contains(point.address)) {
                valueAt(point.address).before = known.value(point.address);
                continue;
            }
            const ReadResult r = link.readRegister(point.address, point.pair);
            if (!r.ok()) {
                refuse(point, r.verdict);
                s.stopIfInterrupted(); // a dead module says so
                return;
            }
            firstReads.append({&point, r});
        }
        // Held only once the line has shown that no answer was a repetition.
        link.balance();
        for (const auto &[point, r] : firstReads) {
            if (link.revoked(r)) {
                refuse(*point, {Outcome::Repeated});
                return;
            }
            valueAt(point->address).before = quint16(r.value);
        }
        ModuleClient client(link, def);
        for (const Planned &p : planned) {
            s.stopIfInterrupted();
            // Each write is in the report as its answer comes, so that what
            // went out stays there whatever ends the run.
            int answered = 0;
            quint64 sent = link.requestsSent();
            try {
                client.apply(*p.setting, p.values, [&](int i, const WriteResult &r) {
                    WrittenValue &v = valueAt(p.setting->registers[i]);
                    if (r.ok()) {
                        v.outcome = WrittenValue::Outcome::Acknowledged;
                    } else {
                        v.outcome = WrittenValue::Outcome::WriteFailed;
                        v.reason = outcomeText(r.verdict);
                        say(QStringLiteral("写入%1失败：%2。").arg(v.caption, v.reason));
                    }
                    ++answered;
                    sent = link.requestsSent();
                });
            } catch (const LinkError &e) {
                // The line failed with a write on it: it went out, and
                // whether the module carried it out is not known.
                if (answered < p.values.size() && link.requestsSent() > sent) {
                    WrittenValue &v = valueAt(p.setting->registers[answered]);
                    v.outcome = WrittenValue::Outcome::WriteFailed;
                    v.reason = QStringLiteral("已发送，未收到确认（%1）").arg(s.errorText(e, true));
                }
                throw;
            }
        }
        // A write that failed is not read back: its register holds what it held.
        QVector<std::pair<WrittenValue *, ReadResult>> readBacks;
        for (const int i : indices) {
            const Point &point = def.poll[i];
            WrittenValue &v = valueAt(point.address);
            if (v.outcome != WrittenValue::Outcome::Acknowledged)
                continue;
            s.stopIfInterrupted();
            const ReadResult r = link.readRegister(point.address, point.pair);
            if (!r.ok()) {
                v.outcome = WrittenValue::Outcome::ReadBackFailed;
                v.reason = outcomeText(r.verdict);
                say(QStringLiteral("%1 读回失败：%2。").arg(v.caption, v.reason));
                continue;
            }
            readBacks.append({&v, r});
        }
        link.balance();
        for (auto &[v, r] : readBacks) {
            if (link.revoked(r)) {
                v->outcome = WrittenValue::Outcome::ReadBackFailed;
                v->reason = outcomeText({Outcome::Repeated});
                say(QStringLiteral("%1 读回失败：%2。").arg(v->caption, v->reason));
                continue;
            }
            v->readBack = quint16(r.value);
            v->outcome = *v->readBack == v->written ? WrittenValue::Outcome::Verified : WrittenValue::Outcome::Mismatch;
            if (v->outcome == WrittenValue::Outcome::Mismatch)
                v->reason = QStringLiteral("读回值与写入值不符");
        }
    } catch (const Aborted &) {
        report.stopped = stopReason(s);
        throw; // ends the run quietly
    }
}

namespace {

// After a run: what was never reached says why, the report's texts are
// filled in, every value not done has its line on stderr, and the report goes
// to stdout. Returns the exit status.
int finishReport(Session &s, const ModuleDef &def, WriteReport &report, int status, bool readBack)
{
    // An output that failed after the work is said once, by run().
    if (report.stopped.isEmpty() && s.interrupted() && !Interrupt::outputLost())
        report.stopped = Interrupt::text();
    const QString why = !report.stopped.isEmpty()  ? report.stopped
                        : !s.lastError().isEmpty() ? s.lastError(true)
                        : status != Done           ? QStringLiteral("操作中止")
                                                   : QString();
    for (WrittenValue &v : report.values) {
        if (v.outcome == WrittenValue::Outcome::Acknowledged && readBack) {
            v.outcome = WrittenValue::Outcome::ReadBackFailed;
            v.reason = QStringLiteral("%1，未读回").arg(why);
        } else if (v.outcome == WrittenValue::Outcome::NotSent && v.reason.isEmpty()) {
            v.reason = QStringLiteral("%1，未发送").arg(why);
        }
    }
    describeValues(def, report);
    for (const WrittenValue &v : report.values) {
        if (v.outcome == WrittenValue::Outcome::Mismatch)
            printErr(QStringLiteral("%1 读回值与写入值不符：写入 %2，读回 %3。")
                         .arg(v.caption, v.writtenText, v.readBackText));
    }
    if (!report.stopped.isEmpty()) {
        const int written = int(std::count_if(report.values.begin(), report.values.end(), [](const WrittenValue &v) {
            return v.outcome != WrittenValue::Outcome::NotSent && v.outcome != WrittenValue::Outcome::WriteFailed;
        }));
        printErr(QStringLiteral("%1：写入到一半的模拟量输出已写完，此后未再写入；已写入 %2 个值，%3 个未发送。")
                     .arg(report.stopped)
                     .arg(written)
                     .arg(report.count(WrittenValue::Outcome::NotSent)));
        if (report.stopped == u"模块无应答")
            printErr(s.silenceHint());
    }
    if (s.options().json) {
        printOut(report.json());
    } else {
        if (!report.stopped.isEmpty())
            printOut(report.table());
        printOut(report.summary() + u'\n');
    }
    return report.allDone() && status == Done ? Done : (status == NoPort ? NoPort : Failed);
}

// ---------------------------------------------------------------- set

int setCommand(const Options &o)
{
    if (o.words.size() < 2)
        throw UsageError(
            QStringLiteral("set 的参数不足：用法 hv52ctl set t516|t528 relay N 控制方式，"
                           "或 hv52ctl set t516 analog N --type T --source S --lower X --upper Y，请求未发送。"));
    const ModuleDef &def = moduleNamed(o.words[0]);
    const QString what = o.words[1];
    const bool analogOptions = o.type || o.source || o.lower || o.upper;
    const Setting *setting = nullptr;
    QVector<quint16> values;
    QStringList texts;
    if (what == u"relay") {
        if (!def.setting(QStringLiteral("relay1")))
            throw UsageError(QStringLiteral("%1 没有继电器输出，请求未发送。").arg(def.name.toUpper()));
        expectWords(o, 4, QStringLiteral("set %1 relay N 控制方式").arg(def.name));
        if (analogOptions)
            throw UsageError(QStringLiteral("--type、--source、--lower、--upper 只用于模拟量输出，请求未发送。"));
        int relays = 0;
        while (def.setting(QStringLiteral("relay%1").arg(relays + 1)))
            ++relays;
        const int n = numberWord(QStringLiteral("继电器号"), o.words[2], 1, relays);
        setting = def.setting(QStringLiteral("relay%1").arg(n));
        values << relayCommandWord(setting->name, o.words[3]);
        texts << *relayCommandText(values[0]);
    } else if (what == u"analog") {
        if (!def.setting(QStringLiteral("analog1")))
            throw UsageError(QStringLiteral("%1 没有模拟量输出，请求未发送。").arg(def.name.toUpper()));
        expectWords(o, 3, QStringLiteral("set %1 analog N --type T --source S --lower X --upper Y").arg(def.name));
        const int n = numberWord(QStringLiteral("模拟量输出号"), o.words[2], 1, kAnalogOutputs);
        setting = def.setting(QStringLiteral("analog%1").arg(n));
        const QVector<int> indices = pollIndices(def, *setting);
        const auto caption = [&](int i) { return def.poll[indices[i]].caption(); };
        using Given = std::pair<const char *, const std::optional<QString> *>;
        for (const auto &[name, given] :
             std::initializer_list<Given>{Given{"type", &o.type}, Given{"source", &o.source}, Given{"lower", &o.lower},
                                          Given{"upper", &o.upper}}) {
            if (!*given) {
                throw UsageError(QStringLiteral("缺少 --%1（%2 的四个值一起写入），请求未发送。")
                                     .arg(QLatin1String(name), setting->name));
            }
        }
        const int type = signalTypeWord(caption(0), *o.type);
        const int source = sourceWord(caption(1), *o.source);
        values << quint16(type) << quint16(source) << limitWord(caption(2), *o.lower, source)
               << limitWord(caption(3), *o.upper, source);
        for (int i = 0; i < 4; ++i)
            texts << QStringLiteral("%1 %2").arg(def.poll[indices[i]].column,
                                                 registerText(def.poll[indices[i]], values[i], limitScale(source)));
    } else {
        throw UsageError(QStringLiteral("set 的对象“%1”无效（应为 relay 或 analog），请求未发送。").arg(what));
    }

    const QVector<Planned> planned = {Planned{setting, values}};
    if (o.multiMeter())
        return runMeters(o, sameForEvery(o, def, planned, nullptr, true));
    WriteReport report = plannedReport(def, QStringLiteral("set"), planned);
    Session s(o);
    const int status = s.run([&] {
        writeAndVerify(s, def, planned, report);
        return Done;
    });
    if (status == NoPort)
        return NoPort;
    if (report.allDone() && status == Done && !o.json)
        printOut(QStringLiteral("已设置%1：%2（模块已确认，读回核对一致）。\n")
                     .arg(setting->name, texts.join(QStringLiteral("，"))));
    return finishReport(s, def, report, status, true);
}

// ---------------------------------------------------------------- reset

int resetCommand(const Options &o)
{
    if (o.list) {
        expectWords(o, 1, QStringLiteral("reset MODULE --list"));
        const ModuleDef &def = moduleNamed(o.words[0]);
        QStringList lines;
        for (int i = 0; i < def.resets.size(); ++i) {
            const QString text = QString::fromUtf8(def.resets[i].text);
            lines << (o.json ? QStringLiteral("  {\"position\": %1, \"text\": %2}").arg(i + 1).arg(jsonString(text))
                             : QStringLiteral("%1  %2").arg(i + 1).arg(text));
        }
        printOut(o.json ? QStringLiteral("[\n%1\n]\n").arg(lines.join(QStringLiteral(",\n")))
                        : lines.join(u'\n') + u'\n');
        return Done;
    }
    expectWords(o, 2, QStringLiteral("reset MODULE 复位项（文字或 reset MODULE --list 列出的序号）"));
    const ModuleDef &def = moduleNamed(o.words[0]);
    const QString what = o.words[1].trimmed();
    const std::optional<qint64> number = wholeNumberText(what);
    int position = -1;
    for (int i = 0; i < def.resets.size(); ++i) {
        if (what == QString::fromUtf8(def.resets[i].text) || (number && *number == i + 1))
            position = i;
    }
    if (position < 0) {
        throw UsageError(
            QStringLiteral(
                "复位项“%1”不在 %2 的复位列表中（hv52ctl reset %3 --list 列出文字和序号 1～%4），请求未发送。")
                .arg(o.words[1], def.name.toUpper(), def.name)
                .arg(def.resets.size()));
    }
    const ResetChoice &choice = def.resets[position];
    if (o.multiMeter())
        return runMeters(o, sameForEvery(o, def, {}, &choice, true));
    const QString text = QString::fromUtf8(choice.text);
    WriteReport report{def.name, QStringLiteral("reset"), {}, {}};
    report.values << resetValue(def, choice);
    Session s(o);
    const int status = s.run([&] {
        s.stopIfInterrupted();
        const WriteResult result = ModuleClient(s.link(), def).reset(choice);
        WrittenValue &r = report.values[0];
        if (result.ok()) {
            r.outcome = WrittenValue::Outcome::Acknowledged;
        } else {
            r.outcome = WrittenValue::Outcome::WriteFailed;
            r.reason = outcomeText(result.verdict);
            printErr(QStringLiteral("复位“%1”失败：%2。").arg(text, r.reason));
        }
        return Done;
    });
    if (status == NoPort)
        return NoPort;
    if (report.allDone() && status == Done && !o.json)
        printOut(QStringLiteral("已复位：%1（模块已确认）。\n").arg(text));
    return finishReport(s, def, report, status, false);
}

// ---------------------------------------------------------------- save, apply

QVector<int> settingIndices(const ModuleDef &def, const QVector<const Setting *> &settings)
{
    QVector<int> indices;
    for (const Setting *s : settings)
        indices += pollIndices(def, *s);
    std::sort(indices.begin(), indices.end()); // sources before the limits they scale
    return indices;
}

int saveCommand(const Options &o)
{
    expectWords(o, 2, QStringLiteral("save MODULE FILE"));
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
    Session s(o);
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

int applyCommand(const Options &o)
{
    expectWords(o, 2, QStringLiteral("apply MODULE FILE"));
    const ModuleDef &def = moduleNamed(o.words[0]);
    const QString file = o.words[1];
    const QVector<Planned> planned = plannedFromFile(def, readInputFile(file), file);
    if (o.check) {
        int count = 0;
        for (const Planned &p : planned)
            count += int(p.values.size());
        printOut(QStringLiteral("文件 %1 检查通过：%2 个值可写入 %3。\n").arg(file).arg(count).arg(def.name.toUpper()));
        return Done;
    }
    if (planned.isEmpty() && !o.multiMeter()) {
        printOut(QStringLiteral("文件 %1 中没有可写入的值。\n").arg(file));
        return Done;
    }
    if (o.multiMeter()) {
        RunPlan plan = sameForEvery(o, def, planned, nullptr, true);
        plan.inputs << file;
        return runMeters(o, plan);
    }
    WriteReport report = plannedReport(def, QStringLiteral("apply"), planned);
    Session s(o);
    const int status = s.run([&] {
        writeAndVerify(s, def, planned, report);
        return Done;
    });
    if (status == NoPort)
        return NoPort;
    return finishReport(s, def, report, status, true);
}

// ---------------------------------------------------------------- watch

int watchCommand(const Options &o)
{
    expectWords(o, 1, QStringLiteral("watch MODULE"));
    const ModuleDef &def = moduleNamed(o.words[0]);
    Session s(o);
    QHash<QString, QString> last; // key -> what was last printed
    int width = 0;
    for (const Point &point : def.poll)
        width = std::max(width, displayWidth(point.caption()));
    const int status = s.run([&] {
        ModuleClient client(s.link(), def);
        for (;;) {
            QVector<Reading> readings;
            client.poll(
                [&](const Reading &r) {
                    readings << r;
                    const Value v = valueOf(r, readings);
                    const QString state = (v.ok ? QStringLiteral("=") : QStringLiteral("!")) + v.shown();
                    const auto seen = last.constFind(v.point->key);
                    if (seen == last.constEnd() || *seen != state) {
                        last.insert(v.point->key, state);
                        const QDateTime now = QDateTime::currentDateTime();
                        if (o.json) {
                            printOut(QStringLiteral("{\"time\": %1, \"key\": %2, \"value\": %3%4}\n")
                                         .arg(jsonString(now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))),
                                              jsonString(v.point->key), v.json,
                                              v.ok ? QString()
                                                   : QStringLiteral(", \"failure\": %1").arg(jsonString(v.failure))));
                        } else {
                            printOut(QStringLiteral("%1  %2%3\n")
                                         .arg(now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
                                              padded(v.point->caption(), width + 2), v.shown()));
                        }
                    }
                    s.stopIfInterrupted();
                },
                [&s] { return !s.mustStop(); });
            s.pause(o.intervalMs);
            s.stopIfInterrupted();
        }
        return Done;
    });
    // A watch has no end of its own: a signal or its reader leaving (| head)
    // ends it, status 0. A write that failed otherwise lost lines.
    if (status == Done && Interrupt::cause() == Interrupt::Cause::OutputFailed) {
        printErr(Interrupt::text());
        return Failed;
    }
    return status;
}

// ---------------------------------------------------------------- scan

struct Found
{
    int speed;
    int address;
    QString module; // "t516", ..., or "unknown"
};

enum class Probe {
    Answered,
    Refused, // exception 02: the module has no such register
    Other,   // no answer, or a bad one: tells nothing
};

Probe probe(const ReadResult &r)
{
    if (r.ok())
        return Probe::Answered;
    if (r.verdict.outcome == Outcome::Exception && r.verdict.exceptionCode == 0x02)
        return Probe::Refused;
    return Probe::Other;
}

// Which module answered, named only when every probe agrees: the registers
// of its kind answer and those only the other kinds have are refused. A
// module that answers another pattern, or leaves a probe undecided, is of
// unknown kind.
QString kindOnLine(Link &link)
{
    QVector<bool> answered;
    QVector<ReadResult> reads;
    for (const KindProbe &p : kindProbes()) {
        reads << link.readRegister(p.address, p.pair);
        const Probe seen = probe(reads.last());
        if (seen == Probe::Other)
            return QStringLiteral("unknown");
        answered << (seen == Probe::Answered);
    }
    // A repeated answer taken for a refused probe would name another kind.
    link.balance();
    if (std::any_of(reads.begin(), reads.end(), [&link](const ReadResult &r) { return link.revoked(r); }))
        return QStringLiteral("unknown");
    const ModuleKind *kind = kindAnswering(answered);
    return kind ? kind->name : QStringLiteral("unknown");
}

// The bytes of a request and of the longest answer on the wire, 10 bits a
// byte; the module's turnaround is inside the scan timeout.
int frameMs(int speed)
{
    return int(std::ceil((8 + 9) * 10 * 1000.0 / speed));
}

// The progress bar: rewritten in place, so no line end.
void progress(const QString &text)
{
    console::write(console::Stream::Err, text.toUtf8());
}

QString foundJson(const QVector<Found> &list, bool withModule)
{
    QStringList rows;
    for (const Found &f : list) {
        rows << QStringLiteral("    {\"speed\": %1, \"address\": %2%3}")
                    .arg(f.speed)
                    .arg(f.address)
                    .arg(withModule ? QStringLiteral(", \"module\": %1").arg(jsonString(f.module)) : QString());
    }
    return rows.isEmpty() ? QStringLiteral("[]") : QStringLiteral("[\n%1\n  ]").arg(rows.join(QStringLiteral(",\n")));
}

int scanCommand(const Options &o)
{
    expectWords(o, 0, QStringLiteral("scan [--speeds LIST] [--addresses RANGE] [--scan-timeout MS]"));
    const bool bar = console::isConsole(console::Stream::Err);
    const Point *probePoint = t516Module().point(QStringLiteral("input1.count"));
    Session s(o);
    QVector<Found> found;
    QVector<Found> late; // answered after the scan timeout
    const int total = int(o.speeds.size() * o.addresses.size());
    int done = 0;
    int status = Done;
    for (int speed : o.speeds) {
        const qsizetype before = found.size();
        status = s.run(speed, o.addresses.first(), [&] {
            s.link().setResponseTimeout(o.scanTimeoutMs + frameMs(speed));
            // Each request goes to another address, so a late answer gives
            // itself away by its address: no quiet time between them.
            s.link().setGuardMs(0);
            const auto noteLate = [&](const ReadResult &r, int address) {
                if (r.verdict.outcome != Outcome::WrongAddress || s.link().receiveBuffer().isEmpty())
                    return;
                const int from = hv52::splitFrame(s.link().framing(), s.link().receiveBuffer()).address;
                const bool known = std::any_of(late.begin(), late.end(),
                                               [&](const Found &f) { return f.speed == speed && f.address == from; });
                if (from != address && o.addresses.contains(from) && !known)
                    late << Found{speed, from, {}};
            };
            for (int address : o.addresses) {
                s.stopIfInterrupted();
                s.setAddress(address, speed);
                if (bar) {
                    const int filled = 30 * done / total;
                    progress(QStringLiteral("\r扫描 %1 bit/s 地址 %2  [%3%4] %5/%6  已找到 %7 ")
                                 .arg(speed, 6)
                                 .arg(address, 3)
                                 .arg(QString(filled, u'#'), QString(30 - filled, u'.'))
                                 .arg(done)
                                 .arg(total)
                                 .arg(found.size()));
                }
                ++done;
                const ReadResult r = s.link().readRegister(probePoint->address, probePoint->pair);
                noteLate(r, address);
                if (r.ok())
                    found << Found{speed, address, kindOnLine(s.link())};
            }
            return Done;
        });
        if (bar)
            progress(QStringLiteral("\r%1\r").arg(QString(78, u' ')));
        if (status != Done || s.interrupted())
            break;
        printErr(QStringLiteral("已扫描 %1 bit/s：找到 %2 个模块").arg(speed).arg(found.size() - before));
    }
    if (status == NoPort && found.isEmpty())
        return NoPort;

    const bool cut = s.interrupted(); // not a list that could not be printed
    if (o.json) {
        printOut(QStringLiteral("{\n  \"found\": %1,\n  \"late\": %2\n}\n")
                     .arg(foundJson(found, true), foundJson(late, false)));
    } else if (!found.isEmpty()) {
        QString table =
            padded(QStringLiteral("波特率"), 9) + padded(QStringLiteral("地址"), 6) + QStringLiteral("模块\n");
        for (const Found &f : found) {
            table += padded(QString::number(f.speed), 9) + padded(QString::number(f.address), 6)
                     + (f.module == u"unknown" ? QStringLiteral("未知") : f.module.toUpper()) + u'\n';
        }
        printOut(table);
    }
    for (const Found &f : late) {
        printErr(
            QStringLiteral("%1 bit/s 地址 %2 的模块应答迟到（晚于扫描超时 %3 毫秒）：请加大 --scan-timeout 再扫描。")
                .arg(f.speed)
                .arg(f.address)
                .arg(o.scanTimeoutMs + frameMs(f.speed)));
    }
    if (cut) {
        printErr(Interrupt::text()
                 + (Interrupt::outputLost() ? QStringLiteral("，扫描未完成。")
                                            : QStringLiteral("，扫描未完成，只列出已找到的模块。")));
        return Failed;
    }
    if (status != Done) {
        printErr(QStringLiteral("扫描未完成，只列出已找到的模块。"));
        return status;
    }
    if (found.isEmpty()) {
        printErr(QStringLiteral("未找到模块。"));
        return Failed;
    }
    return Done;
}

int command(const Options &o)
{
    if (o.command == u"read")
        return readCommand(o);
    if (o.command == u"set")
        return setCommand(o);
    if (o.command == u"reset")
        return resetCommand(o);
    if (o.command == u"save")
        return saveCommand(o);
    if (o.command == u"apply")
        return applyCommand(o);
    if (o.command == u"watch")
        return watchCommand(o);
    if (o.command == u"commission")
        return commissionCommand(o);
    return scanCommand(o);
}

} // namespace

int run(const QStringList &arguments)
{
    try {
        const Options o = parseOptions(arguments);
        if (o.help) {
            printOut(helpText());
            return Done;
        }
        if (o.version) {
            printOut(QStringLiteral("hv52ctl %1\n").arg(QStringLiteral(HV52_VERSION)));
            return Done;
        }
        const int status = command(o);
        // The work done, its output lost at the end (the reader gone before
        // the last lines): not all that was asked for was done. A watch,
        // which has no end of its own, has decided for itself.
        if (status == Done && Interrupt::outputLost() && o.command != u"watch") {
            printErr(Interrupt::text());
            return Failed;
        }
        return status;
    } catch (const UsageError &e) {
        printErr(e.text());
        return BadInput;
    }
}

} // namespace hv52ctl
