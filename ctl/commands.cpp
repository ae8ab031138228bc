// The commands of hv52ctl. Each checks all its words and options first and
// only then opens the port: a bad command line sends nothing.
#include "ctl.h"
#include "options.h"
#include "session.h"
#include "values.h"

#include "hv52version.h"
#include "linkerror.h"
#include "t516module.h"
#include "t540module.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace hv52ctl {

using namespace hv52;

void printOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void printErr(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.endsWith('\n'))
        bytes += '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

namespace {

const QString kInterrupted = QStringLiteral("已中断（Ctrl-C）");

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
    bool ok = false;
    const int n = word.toInt(&ok);
    if (!ok || n < low || n > high || word != QString::number(n))
        throw UsageError(QStringLiteral("%1“%2”无效（应为 %3～%4），请求未发送。").arg(what, word).arg(low).arg(high));
    return n;
}

QString failureLine(const Value &v)
{
    return QStringLiteral("%1 读取失败：%2。").arg(v.point->caption(), v.failure);
}

// What a write of one register came to, named by its value.
bool reportWrites(const ModuleDef &def, const Setting &setting, const QVector<WriteResult> &results)
{
    bool ok = true;
    for (int i = 0; i < results.size(); ++i) {
        if (results[i].ok())
            continue;
        ok = false;
        const Point *point = def.pointAt(setting.registers[i]);
        printErr(QStringLiteral("写入%1失败：%2。")
                     .arg(point ? point->caption() : setting.name, outcomeText(results[i].verdict)));
    }
    return ok;
}

// ---------------------------------------------------------------- read

int readCommand(const Options &o)
{
    expectWords(o, 1, QStringLiteral("read MODULE"));
    const ModuleDef &def = moduleNamed(o.words[0]);
    Session s(o);
    QVector<Reading> readings;
    QString stopped;
    const int status = s.run([&] {
        ModuleClient client(s.link(), def);
        try {
            client.poll([&](const Reading &r) {
                readings << r;
                if (r.index + 1 < def.poll.size())
                    s.stopIfInterrupted();
            });
        } catch (const LinkError &e) {
            stopped = e.text();
        }
        return Done;
    });
    if (status == NoPort)
        return NoPort;

    QVector<Value> values;
    for (int i = 0; i < def.poll.size(); ++i) {
        if (i < readings.size())
            values << valueOf(readings[i], readings);
        else if (i == readings.size() && !stopped.isEmpty())
            values << unreadValue(def.poll[i], s.portText(stopped).remove(QRegularExpression(QStringLiteral("。$"))));
        else
            values << unreadValue(def.poll[i], s.interrupted() ? kInterrupted + QStringLiteral("，未读取")
                                                               : QStringLiteral("召测中止，未读取"));
    }
    printOut(o.json ? valuesJson(def, values, true) : valuesTable(values));
    bool failed = status != Done;
    if (!stopped.isEmpty()) {
        printErr(s.portText(stopped));
        failed = true;
    } else if (s.interrupted()) {
        printErr(kInterrupted + QStringLiteral("，召测未完成。"));
        failed = true;
    }
    for (int i = 0; i < readings.size(); ++i) {
        if (!values[i].ok) {
            printErr(failureLine(values[i]));
            failed = true;
        }
    }
    return failed ? Failed : Done;
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
        const int n = numberWord(QStringLiteral("继电器号"), o.words[2], 1, 2);
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

    Session s(o);
    bool written = false;
    const int status = s.run([&] {
        ModuleClient client(s.link(), def);
        written = reportWrites(def, *setting, client.apply(*setting, values));
        return written ? Done : Failed;
    });
    if (status == Done)
        printOut(QStringLiteral("已设置%1：%2。\n").arg(setting->name, texts.join(QStringLiteral("，"))));
    return status;
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
    int position = -1;
    for (int i = 0; i < def.resets.size(); ++i) {
        if (what == QString::fromUtf8(def.resets[i].text) || what == QString::number(i + 1))
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
    Session s(o);
    return s.run([&] {
        const WriteResult result = ModuleClient(s.link(), def).reset(choice);
        if (!result.ok()) {
            printErr(
                QStringLiteral("复位“%1”失败：%2。").arg(QString::fromUtf8(choice.text), outcomeText(result.verdict)));
            return Failed;
        }
        printOut(QStringLiteral("已复位：%1。\n").arg(QString::fromUtf8(choice.text)));
        return Done;
    });
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
    QSaveFile out(file);
    // Opened before anything is sent: a file that cannot be written is bad input.
    if (!out.open(QIODevice::WriteOnly))
        throw UsageError(QStringLiteral("无法写入文件 %1：%2，请求未发送。").arg(file, out.errorString()));

    const QVector<int> indices = settingIndices(def, readableSettings(def));
    Session s(o);
    QVector<Reading> readings;
    const int status = s.run([&] {
        readings = readPoints(s.link(), def, indices, [&] { s.stopIfInterrupted(); });
        return Done;
    });
    if (status != Done)
        return status;
    if (s.interrupted()) {
        printErr(kInterrupted + QStringLiteral("，文件 %1 未写入。").arg(file));
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
        } else if (v.point->show == Show::RelayCommand && !relayCommandText(v.raw)) {
            printErr(QStringLiteral("读回的%1 %2 不是可设置的控制方式。").arg(v.point->caption()).arg(v.raw));
            failed = true;
        }
    }
    if (failed) {
        printErr(QStringLiteral("文件 %1 未写入。").arg(file));
        return Failed;
    }
    out.write(valuesJson(def, values, false).toUtf8());
    if (!out.commit()) {
        printErr(QStringLiteral("无法写入文件 %1：%2。").arg(file, out.errorString()));
        return BadInput;
    }
    printOut(QStringLiteral("已将 %1 个值保存到 %2。\n").arg(values.size()).arg(file));
    return Done;
}

int applyCommand(const Options &o)
{
    expectWords(o, 2, QStringLiteral("apply MODULE FILE"));
    const ModuleDef &def = moduleNamed(o.words[0]);
    const QString file = o.words[1];
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        throw UsageError(QStringLiteral("无法读取文件 %1：%2，请求未发送。").arg(file, in.errorString()));
    const QVector<Planned> planned = plannedFromFile(def, in.readAll(), file);

    QVector<const Setting *> settings;
    QHash<quint16, quint16> written; // register -> value written
    for (const Planned &p : planned) {
        settings << p.setting;
        for (int i = 0; i < p.values.size(); ++i)
            written.insert(p.setting->registers[i], p.values[i]);
    }
    const QVector<int> indices = settingIndices(def, settings);

    Session s(o);
    QSet<quint16> writeFailed;
    QVector<Reading> readings;
    const int status = s.run([&] {
        ModuleClient client(s.link(), def);
        for (const Planned &p : planned) {
            s.stopIfInterrupted();
            const QVector<WriteResult> results = client.apply(*p.setting, p.values);
            reportWrites(def, *p.setting, results);
            for (int i = 0; i < results.size(); ++i) {
                if (!results[i].ok())
                    writeFailed << p.setting->registers[i];
            }
        }
        readings = readPoints(s.link(), def, indices, [&] { s.stopIfInterrupted(); });
        return Done;
    });
    if (status != Done)
        return status;
    if (s.interrupted()) {
        printErr(kInterrupted + QStringLiteral("，设置未全部写入和核对。"));
        return Failed;
    }

    bool failed = !writeFailed.isEmpty();
    for (const Reading &r : readings) {
        const Value v = valueOf(r, readings);
        const quint16 reg = r.point->address;
        if (writeFailed.contains(reg))
            continue; // already reported
        if (!r.ok()) {
            printErr(QStringLiteral("%1 读回失败：%2。").arg(r.point->caption(), outcomeText(r.result.verdict)));
            failed = true;
            continue;
        }
        if (r.result.value == written.value(reg))
            continue;
        // Each side in the unit of its own source.
        int scale = 1;
        if (r.point->show == Show::Limit)
            scale = limitScale(written.value(def.poll[r.point->scaleFrom].address));
        printErr(QStringLiteral("%1 读回值与写入值不符：写入 %2，读回 %3。")
                     .arg(r.point->caption(), registerText(*r.point, written.value(reg), scale),
                          v.ok ? v.text : QString::number(r.result.value)));
        failed = true;
    }
    if (failed)
        return Failed;
    printOut(planned.isEmpty() ? QStringLiteral("文件 %1 中没有可写入的值。\n").arg(file)
                               : QStringLiteral("已写入并读回核对 %1 个值。\n").arg(written.size()));
    return Done;
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
    return s.run([&] {
        ModuleClient client(s.link(), def);
        for (;;) {
            QVector<Reading> readings;
            client.poll([&](const Reading &r) {
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
            });
            s.pause(o.intervalMs);
            s.stopIfInterrupted();
        }
        return Done;
    });
}

// ---------------------------------------------------------------- scan

struct Found
{
    int speed;
    int address;
    QString module; // "t516", ..., or "unknown"
};

bool illegalAddress(const ReadResult &r)
{
    return r.verdict.outcome == Outcome::Exception && r.verdict.exceptionCode == 0x02;
}

// Which module answered: only the T540 has a third input, only the T516
// analog outputs; a module refuses a register it does not have (exception 02).
QString moduleKind(Link &link)
{
    const Point *thirdInput = t540Module().point(QStringLiteral("input3.count"));
    const ReadResult input = link.readRegister(thirdInput->address, thirdInput->pair);
    if (input.ok())
        return QStringLiteral("t540");
    if (!illegalAddress(input))
        return QStringLiteral("unknown");
    const Point *analog = t516Module().point(QStringLiteral("analog1.value"));
    const ReadResult value = link.readRegister(analog->address, analog->pair);
    if (value.ok())
        return QStringLiteral("t516");
    return illegalAddress(value) ? QStringLiteral("t528") : QStringLiteral("unknown");
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
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int scanCommand(const Options &o)
{
    expectWords(o, 0, QStringLiteral("scan [--speeds LIST] [--addresses RANGE] [--scan-timeout MS]"));
    const bool bar = ::isatty(STDERR_FILENO) == 1;
    const Point *probe = t516Module().point(QStringLiteral("input1.count"));
    Session s(o);
    QVector<Found> found;
    const int total = int(o.speeds.size() * o.addresses.size());
    int done = 0;
    for (int speed : o.speeds) {
        const int status = s.run(speed, o.addresses.first(), [&] {
            s.link().setResponseTimeout(o.scanTimeoutMs + frameMs(speed));
            // Each request goes to another address, so a late answer gives
            // itself away by its address: no quiet time between them.
            s.link().setGuardMs(0);
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
                if (s.link().readRegister(probe->address, probe->pair).ok())
                    found << Found{speed, address, moduleKind(s.link())};
            }
            return Done;
        });
        if (status == NoPort || status == Failed)
            return status;
        if (s.interrupted())
            break;
        if (!bar)
            printErr(QStringLiteral("已扫描 %1 bit/s：共找到 %2 个模块。").arg(speed).arg(found.size()));
    }
    if (bar)
        progress(QStringLiteral("\r%1\r").arg(QString(78, u' ')));

    if (o.json) {
        QStringList rows;
        for (const Found &f : found)
            rows << QStringLiteral("    {\"speed\": %1, \"address\": %2, \"module\": %3}")
                        .arg(f.speed)
                        .arg(f.address)
                        .arg(jsonString(f.module));
        printOut(rows.isEmpty()
                     ? QStringLiteral("{\n  \"found\": []\n}\n")
                     : QStringLiteral("{\n  \"found\": [\n%1\n  ]\n}\n").arg(rows.join(QStringLiteral(",\n"))));
    } else if (!found.isEmpty()) {
        QString table =
            padded(QStringLiteral("波特率"), 9) + padded(QStringLiteral("地址"), 6) + QStringLiteral("模块\n");
        for (const Found &f : found) {
            table += padded(QString::number(f.speed), 9) + padded(QString::number(f.address), 6)
                     + (f.module == u"unknown" ? QStringLiteral("未知") : f.module.toUpper()) + u'\n';
        }
        printOut(table);
    }
    if (s.interrupted()) {
        printErr(kInterrupted + QStringLiteral("，扫描未完成，只列出已找到的模块。"));
        return Failed;
    }
    if (found.isEmpty()) {
        printErr(QStringLiteral("未找到模块。"));
        return Failed;
    }
    return Done;
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
        return scanCommand(o);
    } catch (const UsageError &e) {
        printErr(e.text());
        return BadInput;
    }
}

} // namespace hv52ctl
