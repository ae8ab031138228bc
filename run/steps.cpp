// The steps the commands share: a poll as values, the kind a module answers
// as, writing settings and reading them back, and the report of what became
// of each value.
#include "steps.h"
#include "runstatus.h"

#include "kinds.h"
#include "linkerror.h"
#include "registerhex.h"

#include <QHash>

#include <algorithm>
#include <optional>

namespace hv52run {

using namespace hv52;

QString failureLine(const Value &v)
{
    return QStringLiteral("%1 读取失败：%2。").arg(v.point->caption(), v.failure);
}

// Why a command stopped before its end: a signal, or a module that answers nothing.
QString stopReason(const Session &s)
{
    return s.interrupted() ? Interrupt::text() : QStringLiteral("模块无应答");
}

QVector<Value> pollValues(Session &s, const ModuleDef &def, QString *stopped, QVector<Reading> *readingsOut)
{
    s.setFailFast(true);
    QString stoppedClause; // the same inside another sentence
    ModuleClient client(s.link(), def);
    try {
        client.poll(
            [&](const Reading &r) {
                if (r.index + 1 < def.poll.size())
                    s.stopIfInterrupted();
            },
            [&s] { return !s.mustStop(); });
    } catch (const LinkError &e) {
        *stopped = s.errorText(e);
        stoppedClause = s.errorText(e, true);
    } catch (const Aborted &) {
        // a signal, or a dead module: what follows is marked unread
    }
    // The poll's readings, final also when it was cut short.
    const QVector<Reading> readings = client.lastReadings();
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

} // namespace

const ModuleKind *kindOnLine(Link &link)
{
    // The probes as one series, handed over once nothing can come to say a
    // refusal or an answer was another probe's; one that neither answers
    // nor refuses ends it.
    QVector<SeriesRead> probes;
    for (const KindProbe &p : kindProbes())
        probes.append({p.address, p.pair});
    SeriesHooks hooks;
    hooks.goOn = [](int, const ReadResult &r) { return probe(r) != Probe::Other; };
    QVector<ReadResult> reads;
    link.readSeries(probes, reads, hooks);
    if (reads.size() < probes.size())
        return nullptr;
    QVector<bool> answered;
    for (const ReadResult &r : reads) {
        const Probe seen = probe(r);
        if (seen == Probe::Other)
            return nullptr;
        answered << (seen == Probe::Answered);
    }
    return kindAnswering(answered);
}

namespace {

// The points read as one series, a stop between two reads: each result final.
// `stopAtFailure`: the first read that fails ends the series.
QVector<ReadResult> readInTurn(Session &s, Link &link, const QVector<const Point *> &points, bool stopAtFailure)
{
    QVector<ReadResult> results;
    if (points.isEmpty())
        return results;
    s.stopIfInterrupted();
    QVector<SeriesRead> reads;
    for (const Point *p : points)
        reads.append({p->address, p->pair});
    SeriesHooks hooks;
    hooks.ahead = false;
    hooks.goOn = [stopAtFailure](int, const ReadResult &r) { return r.ok() || !stopAtFailure; };
    hooks.each = [&](int k, const ReadResult &) {
        if (k + 1 < points.size())
            s.stopIfInterrupted();
    };
    link.readSeries(reads, results, hooks);
    return results;
}

// The source a limit of this group is scaled by, among `raw` values by
// register (written, before or read back); nullopt when it is not there.
std::optional<int> sourceIn(const ModuleDef &def, const Point &limit, const QHash<quint16, quint16> &raw)
{
    const quint16 sourceReg = def.poll[limit.scaleFrom].address;
    if (!raw.contains(sourceReg))
        return std::nullopt;
    return raw.value(sourceReg);
}

} // namespace

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
        const auto describe = [&](quint16 raw, const QHash<quint16, quint16> &sources, QString &text,
                                  QJsonValue &json) {
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
// back what was written; a failed write ends its group.
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
        QVector<const Point *> firstPoints;
        for (const int i : indices) {
            const Point &point = def.poll[i];
            if (known.contains(point.address))
                valueAt(point.address).before = known.value(point.address);
            else
                firstPoints << &point;
        }
        // One series, stopped by the first read that fails; its values are
        // final, so no answer among them was a repetition.
        const QVector<ReadResult> firstReads = readInTurn(s, link, firstPoints, true);
        for (int k = 0; k < firstReads.size(); ++k) {
            if (!firstReads[k].ok()) {
                refuse(*firstPoints[k], firstReads[k].verdict);
                s.stopIfInterrupted(); // a dead module says so
                return;
            }
            valueAt(firstPoints[k]->address).before = quint16(firstReads[k].value);
        }
        s.stopIfInterrupted();
        // A group's values mean something only together (an output's limits
        // are scaled by its source): its first failed write ends the group,
        // and the group is read back to show what the module holds.
        QHash<quint16, bool> inFailedGroup; // register -> whether its write went out
        for (const Planned &p : planned) {
            s.stopIfInterrupted();
            // Each write is in the report as its answer comes, so that what
            // went out stays there whatever ends the run.
            int i = 0;
            try {
                const Interrupt::Group whole; // a stop at once waits for the group's end
                for (; i < p.values.size() && i < p.setting->registers.size(); ++i) {
                    const WriteResult r = link.writeRegister(p.setting->registers[i], p.values[i]);
                    WrittenValue &v = valueAt(p.setting->registers[i]);
                    if (r.ok()) {
                        v.outcome = WrittenValue::Outcome::Acknowledged;
                        continue;
                    }
                    v.outcome = WrittenValue::Outcome::WriteFailed;
                    v.reason = outcomeText(r.verdict);
                    say(QStringLiteral("写入%1失败：%2。").arg(v.caption, v.reason));
                    break;
                }
            } catch (const LinkError &e) {
                // The line failed with a write on it: it went out, and
                // whether the module carried it out is not known.
                if (i < p.values.size()) {
                    WrittenValue &v = valueAt(p.setting->registers[i]);
                    v.outcome = WrittenValue::Outcome::WriteFailed;
                    v.reason = QStringLiteral("已发送，未收到确认（%1）").arg(s.errorText(e, true));
                }
                throw;
            }
            if (i >= p.values.size())
                continue;
            const QString failed = valueAt(p.setting->registers[i]).caption;
            for (int k = 0; k < p.values.size(); ++k) {
                const quint16 reg = p.setting->registers[k];
                inFailedGroup.insert(reg, k <= i);
                if (k > i)
                    valueAt(reg).reason = QStringLiteral("同组的%1写入失败，未发送").arg(failed);
            }
        }
        // Read back: what was acknowledged, to compare; a failed group
        // whole, to report what the module now holds.
        QVector<const Point *> backPoints;
        QVector<WrittenValue *> backValues;
        for (const int i : indices) {
            const Point &point = def.poll[i];
            WrittenValue &v = valueAt(point.address);
            if (v.outcome != WrittenValue::Outcome::Acknowledged && !inFailedGroup.contains(point.address))
                continue;
            backPoints << &point;
            backValues << &v;
        }
        const QVector<ReadResult> backReads = readInTurn(s, link, backPoints, false);
        QVector<WrittenValue *> held; // of failed groups, read back
        for (int k = 0; k < backReads.size(); ++k) {
            WrittenValue *v = backValues[k];
            const ReadResult &r = backReads[k];
            const bool compare = v->outcome == WrittenValue::Outcome::Acknowledged;
            if (!r.ok()) {
                if (compare) {
                    v->outcome = WrittenValue::Outcome::ReadBackFailed;
                    v->reason = outcomeText(r.verdict);
                    say(QStringLiteral("%1 读回失败：%2。").arg(v->caption, v->reason));
                } else {
                    say(QStringLiteral("%1 读回失败：%2，模块现值不明。").arg(v->caption, outcomeText(r.verdict)));
                }
                continue;
            }
            v->readBack = quint16(r.value);
            if (!compare) {
                held << v;
                continue;
            }
            v->outcome = *v->readBack == v->written ? WrittenValue::Outcome::Verified : WrittenValue::Outcome::Mismatch;
            if (v->outcome == WrittenValue::Outcome::Mismatch)
                v->reason = QStringLiteral("读回值与写入值不符");
        }
        if (!held.isEmpty()) {
            describeValues(def, report); // limits in the unit of the source read back
            for (const WrittenValue *v : held) {
                say(QStringLiteral("%1 模块现为 %2（%3后读回）。")
                        .arg(v->caption, v->readBackText,
                             v->outcome == WrittenValue::Outcome::NotSent ? QStringLiteral("未发送")
                                                                          : QStringLiteral("写入失败")));
            }
        }
    } catch (const Aborted &) {
        report.stopped = stopReason(s);
        throw; // ends the run quietly
    }
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

} // namespace hv52run
