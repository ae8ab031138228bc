// A line of meters commissioned one after the other: for each meter the
// whole poll (before), the settings written and read back, the whole poll
// again (after), as hv52ctl commission and the line window's 开始调试 run it.
#include "commissionrun.h"
#include "files.h"
#include "runstatus.h"

#include "linkerror.h"

#include <QFileInfo>

#include <algorithm>

namespace hv52run {

using namespace hv52;
using Result = MeterRecord::Result;

RunPlan sameForEvery(const RunRequest &o, const ModuleDef &def, const QVector<Planned> &planned,
                     const ResetChoice *reset, bool write)
{
    RunPlan plan{o.command, o.site, o.operatorName, {}, {}};
    for (const int address : o.meters)
        plan.meters << MeterPlan{address, &def, write, planned, reset, {}, {}, {}};
    return plan;
}

namespace {

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

} // namespace

void pollBefore(MeterTurn &turn, const QString &step, QVector<Reading> *readings, bool audit)
{
    Session &s = turn.session;
    MeterRecord &m = turn.record;
    const Say &say = turn.say;
    const ModuleDef &def = *turn.plan.def;
    turn.step(step);
    QString stopped;
    m.beforeTime = QDateTime::currentDateTime();
    m.before = pollValues(s, def, &stopped, readings);
    m.hasBefore = true;
    if (!stopped.isEmpty())
        say(stopped);

    if (s.interrupted()) {
        m.result = Result::Stopped;
        m.detail = Interrupt::text();
    } else if (s.nothingHeard() || s.moduleDead()) {
        m.result = Result::NoAnswer;
        if (std::any_of(readings->begin(), readings->end(), [](const Reading &r) { return r.ok(); }))
            m.detail = QStringLiteral("召测中途");
        say(QStringLiteral("模块无应答。"));
    } else if (!stopped.isEmpty()) {
        m.result = Result::ReadFailed;
        m.detail = stopped;
    } else if (hasRefusal(*readings)) {
        // A register of its kind refused: another kind, most likely. Nothing
        // is written to it or compared; the probes say what it is, if they can.
        m.result = Result::Incomplete;
        turn.step(QStringLiteral("判断型号"));
        const ModuleKind *kind = kindOnLine(s.link());
        m.detail = kind && kind->def().name != def.name
                       ? QStringLiteral("是 %1，不是 %2").arg(kind->label(), def.name.toUpper())
                       : QStringLiteral("可能不是 %1").arg(def.name.toUpper());
        say(audit ? QStringLiteral("寄存器不全（%1），未核对。").arg(m.detail)
                  : QStringLiteral("寄存器不全（%1），未写入任何值。").arg(m.detail));
    }
    for (const Value &v : m.before) {
        if (!v.ok && m.result == Result::NotReached && &v - m.before.data() < readings->size())
            say(failureLine(v));
    }
}

void commissionMeter(MeterTurn &turn)
{
    Session &s = turn.session;
    const MeterPlan &plan = turn.plan;
    MeterRecord &m = turn.record;
    const Say &say = turn.say;
    const ModuleDef &def = *plan.def;
    QVector<Reading> readings;
    pollBefore(turn, QStringLiteral("召测（调试前）"), &readings, false);
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
            turn.step(QStringLiteral("写入设置并读回核对"));
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
        turn.step(QStringLiteral("召测（调试后）"));
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

namespace {

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1);
}

} // namespace

QString meterLine(const MeterRecord &m)
{
    const QString line = QStringLiteral("地址 %1  %2  %3")
                             .arg(m.address, 3)
                             .arg(m.kindLabel(), resultWithDetail(m, QStringLiteral("（"), QStringLiteral("）")));
    return line + QStringLiteral("  用时 %1 秒\n").arg(seconds(m.elapsedMs));
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

} // namespace hv52run
