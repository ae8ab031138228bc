// A line of meters commissioned one after the other: the same work for every
// address of --address, or a plan file naming each meter's kind and
// settings. Each meter is polled before, written and read back, polled
// after; a meter that fails never stops the others. The run ends in a
// summary and, with --record, a record for the inspector to sign.
#include "console.h"
#include "ctl.h"
#include "files.h"
#include "steps.h"

#include "hv52version.h"
#include "kinds.h"
#include "linkerror.h"
#include "record.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace hv52ctl {

using namespace hv52;
using Result = MeterRecord::Result;

RunPlan sameForEvery(const Options &o, const ModuleDef &def, const QVector<Planned> &planned, const ResetChoice *reset,
                     bool write)
{
    RunPlan plan{o.command, o.site, o.operatorName, {}, {}};
    for (const int address : o.meters)
        plan.meters << MeterPlan{address, &def, write, planned, reset, {}};
    return plan;
}

namespace {

// --- the plan file ---------------------------------------------------------

// Refuses keys a plan does not know: a misspelt key would otherwise be a
// setting silently left out.
void onlyKeys(const QJsonObject &object, const QStringList &known, const QString &where)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!known.contains(it.key()))
            throw UsageError(QStringLiteral("%1：未知条目“%2”（应为 %3），请求未发送。")
                                 .arg(where, it.key(), known.join(QStringLiteral("、"))));
    }
}

QString textEntry(const QJsonObject &object, const QString &key, const QString &where)
{
    const QJsonValue v = object.value(key);
    if (v.isUndefined())
        return {};
    const QString text = v.toString().trimmed();
    if (!v.isString() || text.size() > 200 || text.contains(u'\n'))
        throw UsageError(QStringLiteral("%1：“%2”应为一行文字（最多 200 字），请求未发送。").arg(where, key));
    return text;
}

// A number entry as text, so that it meets the same checks as on the
// command line.
QString numberEntry(const QJsonValue &v)
{
    if (v.isDouble())
        return QString::number(v.toDouble(), 'g', 17);
    return v.toString(QStringLiteral("?"));
}

// The line of a plan, where the command line has not given it: the options
// as if typed.
void takeLine(const QJsonObject &line, Options &o, const QString &where)
{
    onlyKeys(line, {"port", "device", "tcp", "modbus_tcp", "speed", "timeout"}, where);
    const bool lineGiven = o.port || !o.device.isEmpty() || !o.tcpHost.isEmpty();
    int places = 0;
    for (const char *key : {"port", "device", "tcp", "modbus_tcp"})
        places += line.contains(QLatin1String(key)) ? 1 : 0;
    if (places > 1)
        throw UsageError(QStringLiteral("%1：port、device、tcp 和 modbus_tcp 只能给出一个，请求未发送。").arg(where));
    if (!lineGiven) {
        if (line.contains(QStringLiteral("port")))
            o.port = wholeNumberIn(where + QStringLiteral("的 port "), numberEntry(line.value(QStringLiteral("port"))),
                                   1, 32767);
        if (line.contains(QStringLiteral("device"))) {
            o.device = line.value(QStringLiteral("device")).toString();
            if (o.device.isEmpty())
                throw UsageError(QStringLiteral("%1：device 应为串口设备路径，请求未发送。").arg(where));
        }
        for (const char *key : {"tcp", "modbus_tcp"}) {
            const QString k = QLatin1String(key);
            if (line.contains(k)) {
                parseEndpoint(where + QStringLiteral("的 ") + k, line.value(k).toString(), &o.tcpHost, &o.tcpPort);
                o.modbusTcp = k == u"modbus_tcp";
            }
        }
    }
    if (line.contains(QStringLiteral("speed")) && !o.given.contains(QStringLiteral("speed"))) {
        const int speed = wholeNumberIn(where + QStringLiteral("的 speed "),
                                        numberEntry(line.value(QStringLiteral("speed"))), 1, 999999999);
        if (!kStandardSpeeds.contains(speed))
            throw UsageError(QStringLiteral("%1：speed %2 不是模块的波特率，请求未发送。").arg(where).arg(speed));
        o.speed = speed;
    }
    if (line.contains(QStringLiteral("timeout")) && !o.given.contains(QStringLiteral("timeout")))
        o.timeoutMs = wholeNumberIn(where + QStringLiteral("的 timeout "),
                                    numberEntry(line.value(QStringLiteral("timeout"))), 1, 60000);
}

// The settings of one plan entry: a file written by save (relative to the
// plan's folder), or the same keys inline.
QVector<Planned> settingsOf(const ModuleDef &def, const QJsonValue &v, const QDir &folder, const QString &where,
                            QString *source)
{
    if (v.isString()) {
        const QString file = folder.filePath(v.toString());
        *source = v.toString();
        return plannedFromFile(def, readInputFile(file), file);
    }
    if (v.isObject()) {
        // Inline settings belong to the entry's kind: "module" may be left out.
        QJsonObject settings = v.toObject();
        if (!settings.contains(QStringLiteral("module")))
            settings.insert(QStringLiteral("module"), def.name);
        *source = where;
        return plannedFromFile(def, QJsonDocument(settings).toJson(), where + QStringLiteral("的 settings"));
    }
    throw UsageError(QStringLiteral("%1：settings 应为设置文件名或设置对象，请求未发送。").arg(where));
}

const ModuleDef &kindEntry(const QJsonValue &v, const QString &where)
{
    const ModuleKind *kind = moduleKind(v.toString());
    if (!kind)
        throw UsageError(QStringLiteral("%1：模块“%2”未知（应为 %3），请求未发送。")
                             .arg(where, v.isString() ? v.toString() : QStringLiteral("（缺少）"), kindNames()));
    return kind->def();
}

// Every address once in the whole plan.
void refuseTwice(QHash<int, QString> &seen, int address, const QString &where)
{
    const auto first = seen.constFind(address);
    if (first != seen.constEnd())
        throw UsageError(QStringLiteral("%1：地址 %2 已在%3中出现，请求未发送。").arg(where).arg(address).arg(*first));
    seen.insert(address, where);
}

QJsonObject jsonFile(const QString &file, const QString &what)
{
    return jsonObject(readInputFile(file), QStringLiteral("%1 %2").arg(what, file));
}

// A plan file, checked whole: every meter, every value, no address twice.
RunPlan planFromFile(const QString &file, Options &o)
{
    const QJsonObject plan = jsonFile(file, QStringLiteral("计划"));
    const QString where = QStringLiteral("计划 %1").arg(file);
    onlyKeys(plan, {"site", "operator", "line", "meters"}, where);
    RunPlan run;
    run.command = QStringLiteral("commission");
    run.inputs << file;
    run.site = o.site.isEmpty() ? textEntry(plan, QStringLiteral("site"), where) : o.site;
    run.operatorName = o.operatorName.isEmpty() ? textEntry(plan, QStringLiteral("operator"), where) : o.operatorName;
    if (plan.contains(QStringLiteral("line"))) {
        if (!plan.value(QStringLiteral("line")).isObject())
            throw UsageError(QStringLiteral("%1：line 应为一个对象，请求未发送。").arg(where));
        takeLine(plan.value(QStringLiteral("line")).toObject(), o, where + QStringLiteral(" 的 line"));
    }
    const QJsonArray meters = plan.value(QStringLiteral("meters")).toArray();
    if (meters.isEmpty())
        throw UsageError(QStringLiteral("%1：meters 应为非空的列表，请求未发送。").arg(where));
    const QDir folder = QFileInfo(file).absoluteDir();
    QHash<int, QString> seen;
    for (int i = 0; i < meters.size(); ++i) {
        const QString entry = QStringLiteral("%1 的第 %2 项").arg(where).arg(i + 1);
        if (!meters[i].isObject())
            throw UsageError(QStringLiteral("%1：应为一个对象，请求未发送。").arg(entry));
        const QJsonObject m = meters[i].toObject();
        onlyKeys(m, {"address", "module", "settings"}, entry);
        const QJsonValue a = m.value(QStringLiteral("address"));
        if (a.isUndefined())
            throw UsageError(QStringLiteral("%1：缺少 address，请求未发送。").arg(entry));
        const QList<int> addresses =
            a.isDouble() ? QList<int>{wholeNumberIn(entry + QStringLiteral("的 address "), numberEntry(a), 1, 247)}
                         : parseAddressRange(a.toString(), entry + QStringLiteral("的 address"));
        const ModuleDef &def = kindEntry(m.value(QStringLiteral("module")), entry);
        MeterPlan meter{0, &def, m.contains(QStringLiteral("settings")), {}, nullptr, {}};
        if (meter.write) {
            const QJsonValue settings = m.value(QStringLiteral("settings"));
            meter.planned = settingsOf(def, settings, folder, entry, &meter.source);
            if (settings.isString())
                run.inputs << folder.filePath(settings.toString());
        }
        for (const int address : addresses) {
            refuseTwice(seen, address, entry);
            meter.address = address;
            run.meters << meter;
        }
    }
    return run;
}

// `scan --json` output as a plan: every meter found, with the settings given
// for its kind (--settings t516=a.json,t528=b.json), or recorded only.
RunPlan planFromScan(const Options &o)
{
    const QJsonObject scan = jsonFile(o.fromScan, QStringLiteral("扫描结果"));
    const QString where = QStringLiteral("扫描结果 %1").arg(o.fromScan);
    QHash<QString, QVector<Planned>> byKind;
    QHash<QString, QString> sources;
    if (!o.settingsByKind.isEmpty()) {
        for (const QString &part : o.settingsByKind.split(u',')) {
            const int eq = int(part.indexOf(u'='));
            const ModuleKind *kind = eq > 0 ? moduleKind(part.left(eq).trimmed()) : nullptr;
            if (!kind || part.mid(eq + 1).trimmed().isEmpty())
                throw UsageError(
                    QStringLiteral("--settings 的“%1”无效（应为 型号=文件，如 t516=a.json；型号为 %2），请求未发送。")
                        .arg(part, kindNames()));
            if (byKind.contains(kind->name))
                throw UsageError(QStringLiteral("--settings 给出了两次 %1 的设置，请求未发送。").arg(kind->name));
            const QString file = part.mid(eq + 1).trimmed();
            byKind.insert(kind->name, plannedFromFile(kind->def(), readInputFile(file), file));
            sources.insert(kind->name, file);
        }
    }
    const QJsonArray found = scan.value(QStringLiteral("found")).toArray();
    if (!scan.value(QStringLiteral("found")).isArray())
        throw UsageError(
            QStringLiteral("%1：缺少 found 列表（应为 hv52ctl scan --json 的输出），请求未发送。").arg(where));
    if (found.isEmpty())
        throw UsageError(QStringLiteral("%1：没有找到的模块，请求未发送。").arg(where));
    RunPlan run{QStringLiteral("commission"), o.site, o.operatorName, {}, {o.fromScan}};
    run.inputs += sources.values();
    QHash<int, QString> seen;
    int speed = 0;
    for (int i = 0; i < found.size(); ++i) {
        const QJsonObject f = found[i].toObject();
        const QString entry = QStringLiteral("%1 的第 %2 个模块").arg(where).arg(i + 1);
        const int address = wholeNumberIn(entry + QStringLiteral("的 address "),
                                          numberEntry(f.value(QStringLiteral("address"))), 1, 247);
        const int at = wholeNumberIn(entry + QStringLiteral("的 speed "), numberEntry(f.value(QStringLiteral("speed"))),
                                     1, 999999999);
        if (speed && at != speed)
            throw UsageError(
                QStringLiteral("%1：波特率 %2 与前面的模块（%3）不同；一次调试一条线路、一种波特率，请求未发送。")
                    .arg(entry)
                    .arg(at)
                    .arg(speed));
        speed = at;
        const QString kind = f.value(QStringLiteral("module")).toString();
        if (kind == u"unknown")
            throw UsageError(QStringLiteral("%1：地址 %2 的模块型号未知，无法调试；请从扫描结果中删去它，请求未发送。")
                                 .arg(entry)
                                 .arg(address));
        const ModuleDef &def = kindEntry(f.value(QStringLiteral("module")), entry);
        refuseTwice(seen, address, entry);
        run.meters << MeterPlan{address, &def, byKind.contains(kind), byKind.value(kind), nullptr, sources.value(kind)};
    }
    for (auto it = byKind.constBegin(); it != byKind.constEnd(); ++it) {
        const bool used = std::any_of(run.meters.begin(), run.meters.end(),
                                      [&](const MeterPlan &m) { return m.def->name == it.key(); });
        if (!used)
            throw UsageError(QStringLiteral("--settings 给出了 %1 的设置，但扫描结果中没有 %2，请求未发送。")
                                 .arg(it.key(), it.key().toUpper()));
    }
    if (!kStandardSpeeds.contains(speed))
        throw UsageError(QStringLiteral("%1：波特率 %2 不是模块的波特率，请求未发送。").arg(where).arg(speed));
    return run;
}

// --- the run -----------------------------------------------------------------

QString lineText(const Options &o)
{
    if (!o.tcpHost.isEmpty())
        return QStringLiteral("%1:%2（%3）")
            .arg(o.tcpHost.contains(u':') ? QStringLiteral("[%1]").arg(o.tcpHost) : o.tcpHost)
            .arg(o.tcpPort)
            .arg(o.modbusTcp ? QStringLiteral("Modbus TCP 网关") : QStringLiteral("串口服务器"));
    if (!o.device.isEmpty())
        return o.device;
    return QStringLiteral("COM%1").arg(o.port);
}

// Progress on a terminal only, rewritten in place on standard error.
class Progress
{
public:
    Progress() : m_on(console::isConsole(console::Stream::Err)) {}
    void show(const QString &text)
    {
        if (m_on)
            put(QStringLiteral("\r\033[K") + text);
    }
    void clear()
    {
        if (m_on)
            put(QStringLiteral("\r\033[K"));
    }

private:
    static void put(const QString &text) { console::write(console::Stream::Err, text.toUtf8()); }
    bool m_on;
};

bool hasRefusal(const QVector<Reading> &readings)
{
    return std::any_of(readings.begin(), readings.end(), [](const Reading &r) {
        return r.result.verdict.outcome == Outcome::Exception && r.result.verdict.exceptionCode == 0x02;
    });
}

bool allOk(const QVector<Value> &values)
{
    return std::all_of(values.begin(), values.end(), [](const Value &v) { return v.ok; });
}

// The kind a meter answers as, by the probes that tell kinds apart; null
// when they do not agree on one.
const ModuleKind *kindOnTheLine(Link &link)
{
    QVector<bool> answered;
    QVector<ReadResult> reads;
    for (const KindProbe &p : kindProbes()) {
        const ReadResult r = link.readRegister(p.address, p.pair);
        if (r.ok())
            answered << true;
        else if (r.verdict.outcome == Outcome::Exception && r.verdict.exceptionCode == 0x02)
            answered << false;
        else
            return nullptr;
        reads << r;
    }
    // A repeated answer taken for a refused probe would name another kind.
    link.balance();
    if (std::any_of(reads.begin(), reads.end(), [&link](const ReadResult &r) { return link.revoked(r); }))
        return nullptr;
    return kindAnswering(answered);
}

// What became of the values never sent or never read back, as apply says it.
void closeReport(WriteReport &report, const QString &why)
{
    for (WrittenValue &v : report.values) {
        if (v.outcome == WrittenValue::Outcome::Acknowledged && v.key != u"reset") {
            v.outcome = WrittenValue::Outcome::ReadBackFailed;
            v.reason = QStringLiteral("%1，未读回").arg(why);
        } else if (v.outcome == WrittenValue::Outcome::NotSent && v.reason.isEmpty()) {
            v.reason = QStringLiteral("%1，未发送").arg(why);
        }
    }
}

// One meter, start to end, inside the port's run. Fills `m`.
void commissionMeter(Session &s, const MeterPlan &plan, MeterRecord &m, const Say &say, Progress &progress,
                     const QString &step)
{
    const ModuleDef &def = *plan.def;
    progress.show(step + QStringLiteral("召测（调试前）"));
    QString stopped;
    QVector<Reading> readings;
    m.beforeTime = QDateTime::currentDateTime();
    m.before = pollValues(s, def, &stopped, &readings);
    m.hasBefore = true;
    if (!stopped.isEmpty())
        say(stopped);

    if (s.interrupted()) {
        m.result = Result::Stopped;
        m.detail = Interrupt::text();
    } else if (s.nothingHeard() || s.moduleDead()) {
        m.result = Result::NoAnswer;
        if (std::any_of(readings.begin(), readings.end(), [](const Reading &r) { return r.ok(); }))
            m.detail = QStringLiteral("召测中途");
        say(QStringLiteral("模块无应答。"));
    } else if (!stopped.isEmpty()) {
        m.result = Result::ReadFailed;
        m.detail = stopped;
    } else if (hasRefusal(readings)) {
        // A register of its kind refused: another kind, most likely. Nothing
        // is written to it; the probes say what it is, if they can.
        m.result = Result::Incomplete;
        progress.show(step + QStringLiteral("判断型号"));
        const ModuleKind *kind = kindOnTheLine(s.link());
        m.detail = kind && kind->def().name != def.name
                       ? QStringLiteral("是 %1，不是 %2").arg(kind->label(), def.name.toUpper())
                       : QStringLiteral("可能不是 %1").arg(def.name.toUpper());
        say(QStringLiteral("寄存器不全（%1），未写入任何值。").arg(m.detail));
    }
    for (const Value &v : m.before) {
        if (!v.ok && m.result == Result::NotReached && &v - m.before.data() < readings.size())
            say(failureLine(v));
    }
    if (m.result != Result::NotReached) {
        // The poll already told what went wrong; nothing more is sent.
        if (plan.write) {
            WriteReport report = plannedReport(def, QStringLiteral("commission"), plan.planned);
            closeReport(report, resultWords(m.result));
            describeValues(def, report);
            m.writes = report.values;
        }
        return;
    }

    if (plan.write) {
        WriteReport report = plannedReport(def, QStringLiteral("commission"), plan.planned);
        if (plan.reset)
            report.values << resetValue(def, *plan.reset);
        QHash<quint16, quint16> known;
        for (const Reading &r : readings) {
            if (r.ok() && !r.point->pair)
                known.insert(r.point->address, quint16(r.result.value));
        }
        try {
            progress.show(step + QStringLiteral("写入设置并读回核对"));
            if (!plan.planned.isEmpty())
                writeAndVerify(s, def, plan.planned, report, say, known);
            const bool readFirstFailed =
                std::any_of(report.values.begin(), report.values.end(),
                            [](const WrittenValue &v) { return v.reason.startsWith(QStringLiteral("写入前读取")); });
            if (plan.reset && !readFirstFailed) {
                s.stopIfInterrupted();
                WrittenValue &v = report.values.last();
                const WriteResult result = ModuleClient(s.link(), def).reset(*plan.reset);
                v.time = QDateTime::currentDateTime();
                if (result.ok()) {
                    v.outcome = WrittenValue::Outcome::Acknowledged;
                } else {
                    v.outcome = WrittenValue::Outcome::WriteFailed;
                    v.reason = outcomeText(result.verdict);
                    say(QStringLiteral("复位“%1”失败：%2。").arg(v.writtenText, v.reason));
                }
            }
        } catch (const Aborted &) {
            closeReport(report, stopReason(s));
        } catch (const LinkError &e) {
            // The line failed mid-meter: what went out before stays in the
            // record with its outcome; the run's error path says the rest.
            const QString why = s.errorText(e, true);
            closeReport(report, why);
            describeValues(def, report);
            m.writes = report.values;
            m.result = Result::WriteFailed;
            m.detail = why;
            throw;
        }
        closeReport(report, QStringLiteral("操作中止"));
        describeValues(def, report);
        for (const WrittenValue &v : report.values) {
            if (v.outcome == WrittenValue::Outcome::Mismatch)
                say(QStringLiteral("%1 读回值与写入值不符：写入 %2，读回 %3。")
                        .arg(v.caption, v.writtenText, v.readBackText));
        }
        m.writes = report.values;
        const bool notWritten =
            !m.writes.isEmpty() && std::all_of(m.writes.begin(), m.writes.end(), [](const WrittenValue &v) {
                return v.outcome == WrittenValue::Outcome::NotSent;
            });
        const bool allDone =
            std::all_of(m.writes.begin(), m.writes.end(), [](const WrittenValue &v) { return v.done(); });
        if (s.interrupted()) {
            m.result = Result::Stopped;
            m.detail = Interrupt::text();
            return;
        }
        if (s.moduleDead()) {
            m.result = Result::NoAnswer;
            m.detail = QStringLiteral("写入中途");
            return;
        }
        if (notWritten) {
            m.result = Result::NotWritten;
            m.detail = m.writes.first().reason;
        } else if (!allDone) {
            m.result = Result::WriteFailed;
            const auto bad =
                std::find_if(m.writes.begin(), m.writes.end(), [](const WrittenValue &v) { return !v.done(); });
            m.detail = QStringLiteral("%1：%2").arg(bad->caption, outcomeWords(bad->outcome));
        }
        // Whatever was written, the module is read whole again.
        progress.show(step + QStringLiteral("召测（调试后）"));
        QString after;
        m.afterTime = QDateTime::currentDateTime();
        m.after = pollValues(s, def, &after, nullptr);
        m.hasAfter = true;
        if (!after.isEmpty())
            say(after);
        if (s.interrupted() && m.result == Result::NotReached) {
            m.result = Result::Stopped;
            m.detail = Interrupt::text();
        }
    }
    if (m.result != Result::NotReached)
        return;
    const QVector<Value> &last = m.hasAfter ? m.after : m.before;
    if (!allOk(m.before) || !allOk(last)) {
        m.result = Result::ReadFailed;
        const QVector<Value> &bad = allOk(m.before) ? last : m.before;
        const auto v = std::find_if(bad.begin(), bad.end(), [](const Value &v) { return !v.ok; });
        m.detail = QStringLiteral("%1：%2").arg(v->point->caption(), v->failure);
        if (m.hasAfter && &bad == &m.after)
            say(QStringLiteral("调试后召测：") + failureLine(*v));
    } else {
        m.result = plan.write ? Result::Done : Result::Recorded;
    }
}

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1);
}

// Checked before anything is sent: a record that could not be written
// would be found out only at the end of a long run, and one written over an
// input would destroy it (under any of its names).
void checkRecordFile(const QString &file, const QStringList &inputs)
{
    if (recordFormat(file).isEmpty())
        throw UsageError(
            QStringLiteral("--record 的文件 %1 扩展名无效（应为 .html、.csv 或 .json），请求未发送。").arg(file));
    const QFileInfo info(file);
    if (info.isDir())
        throw UsageError(QStringLiteral("--record 的 %1 是目录，请求未发送。").arg(file));
    if (info.exists() && !info.isFile())
        throw UsageError(QStringLiteral("--record 的 %1 不是普通文件，请求未发送。").arg(file));
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        throw UsageError(QStringLiteral("--record 的目录 %1 不存在，请求未发送。").arg(folder.filePath()));
    if (!folder.isWritable())
        throw UsageError(QStringLiteral("--record 的目录 %1 不可写，请求未发送。").arg(folder.filePath()));
    for (const QString &input : inputs) {
        if (sameFile(file, input))
            throw UsageError(QStringLiteral("--record 的 %1 与输入文件 %2 是同一个文件（记录会覆盖它），请求未发送。")
                                 .arg(file, input));
    }
}

} // namespace

int runMeters(const Options &options, const RunPlan &plan)
{
    if (!options.record.isEmpty())
        checkRecordFile(options.record, plan.inputs);
    const Options &o = options;
    Session s(o);
    RunRecord record;
    record.site = plan.site;
    record.operatorName = plan.operatorName;
    record.line = lineText(o);
    record.speed = o.modbusTcp ? 0 : o.speed;
    record.started = QDateTime::currentDateTime();
    record.tool = QStringLiteral("hv52ctl");
    record.version = QStringLiteral(HV52_VERSION);
    record.command = plan.command;

    Progress progress;
    const int total = int(plan.meters.size());
    QString portFailure; // the port could not be opened: the run ends there
    bool anyOpened = false;
    for (int n = 0; n < total; ++n) {
        const MeterPlan &meter = plan.meters[n];
        MeterRecord m;
        m.address = meter.address;
        m.def = meter.def;
        m.started = QDateTime::currentDateTime();
        if (s.interrupted() || !portFailure.isEmpty()) {
            // Why the run ended is said once, in its own line.
            if (meter.write) {
                WriteReport report = plannedReport(*meter.def, plan.command, meter.planned);
                closeReport(report, QStringLiteral("未进行"));
                describeValues(*meter.def, report);
                m.writes = report.values;
            }
            record.meters << m;
            continue;
        }
        const QString step = QStringLiteral("[%1/%2] 地址 %3（%4）：")
                                 .arg(n + 1)
                                 .arg(total)
                                 .arg(meter.address)
                                 .arg(meter.def->name.toUpper());
        const Say say = [&](const QString &text) {
            m.failures << text;
            progress.clear();
            printErr(QStringLiteral("地址 %1：%2").arg(meter.address).arg(text));
        };
        QElapsedTimer clock;
        clock.start();
        const int status = s.run(o.speed, meter.address, [&] {
            commissionMeter(s, meter, m, say, progress, step);
            return Done;
        });
        progress.clear();
        m.elapsedMs = clock.elapsed();
        if (status == NoPort) {
            portFailure = s.lastError().isEmpty() ? QStringLiteral("串口无法打开") : s.lastError(true);
            m.result = Result::NotReached;
            m.failures << portFailure;
        } else {
            anyOpened = true;
            if (status != Done && m.result == Result::NotReached) {
                // The link's error path (a port lost mid-meter) ended the work.
                m.result = Result::ReadFailed;
                m.detail = s.lastError();
                m.failures << s.lastError();
            } else if (status != Done) {
                m.failures << s.lastError(); // ended while writing: the writes say how far it got
            } else if (m.result == Result::NotReached) {
                m.result = Result::Stopped;
                m.detail = Interrupt::text();
            }
        }
        record.meters << m;
        if (!o.json) {
            QString line =
                QStringLiteral("地址 %1  %2  %3").arg(m.address, 3).arg(m.kindLabel(), resultWords(m.result));
            if (!m.detail.isEmpty())
                line += QStringLiteral("（%1）").arg(m.detail);
            printOut(line + QStringLiteral("  用时 %1 秒\n").arg(seconds(m.elapsedMs)));
        }
    }
    record.finished = QDateTime::currentDateTime();
    if (s.interrupted())
        record.stopped = Interrupt::text();
    else if (!portFailure.isEmpty())
        record.stopped = portFailure;

    const bool cut = s.interrupted(); // not a summary that could not be printed
    if (o.json)
        printOut(QString::fromUtf8(recordJson(record)));
    else
        printOut(record.summary() + u'\n');
    if (cut)
        printErr(QStringLiteral("%1：调试未完成，其余的表计未进行。").arg(record.stopped));
    else if (!portFailure.isEmpty())
        printErr(QStringLiteral("串口无法打开，调试未完成，其余的表计未进行。"));

    int status = record.allDone() ? Done : Failed;
    if (!anyOpened && !portFailure.isEmpty())
        status = NoPort;
    if (!o.record.isEmpty()) {
        QString error;
        if (!writeRecord(o.record, record, &error)) {
            printErr(error);
            return status == Done ? Failed : status;
        }
        const QString saved = QStringLiteral("调试记录已保存到 %1。").arg(o.record);
        if (o.json || Interrupt::outputLost())
            printErr(saved);
        else
            printOut(saved + u'\n');
    }
    return status;
}

int commissionCommand(const Options &o)
{
    Options options = o;
    RunPlan plan;
    if (!o.fromScan.isEmpty()) {
        expectWords(o, 0, QStringLiteral("commission --from-scan FILE [--settings t516=a.json,...]"));
        plan = planFromScan(o);
        options.speed = o.given.contains(QStringLiteral("speed")) ? o.speed : 0;
        if (!options.speed) {
            // The speed the meters were found at.
            const QJsonObject scan = jsonFile(o.fromScan, QStringLiteral("扫描结果"));
            options.speed =
                scan.value(QStringLiteral("found")).toArray().first().toObject().value(QStringLiteral("speed")).toInt();
        }
    } else {
        if (!o.settingsByKind.isEmpty())
            throw UsageError(QStringLiteral("--settings 只与 --from-scan 一起使用，请求未发送。"));
        expectWords(o, 1, QStringLiteral("commission PLAN 或 commission --from-scan FILE"));
        plan = planFromFile(o.words[0], options);
    }
    if (!options.port && options.device.isEmpty() && options.tcpHost.isEmpty())
        throw UsageError(QStringLiteral(
            "缺少线路：请在计划的 line 中给出 port 或 device，或用 --port N、--device 路径 指定，请求未发送。"));
    return runMeters(options, plan);
}

} // namespace hv52ctl
