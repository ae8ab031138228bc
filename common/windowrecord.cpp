#include "windowrecord.h"

namespace hv52 {

WindowRecord::WindowRecord(const ModuleDef &module, const QDateTime &opened) : m_module(module), m_opened(opened) {}

void WindowRecord::addPoll(const QDateTime &time, const QVector<Reading> &readings, const QString &notReached,
                           const QString &stoppedBy)
{
    // The readings are kept as they came; turning them into values waits
    // until a record asks for them, so a poll pays nothing for it.
    Poll &p = m_written ? m_after : m_before;
    p = Poll();
    p.made = true;
    p.time = time;
    p.readings = readings;
    p.notReached = notReached;
    p.stoppedBy = stoppedBy;
    p.reached = int(readings.size());
    for (const Reading &r : readings) {
        const Verdict &verdict = r.result.verdict;
        if (verdict.outcome == Outcome::Timeout)
            ++p.timeouts;
        if (verdict.outcome == Outcome::Exception && verdict.exceptionCode == 2)
            p.refused = true;
    }
}

const QVector<Value> &WindowRecord::Poll::values(const ModuleDef &module) const
{
    if (cache)
        return *cache;
    QVector<Value> out;
    if (made) {
        for (int i = 0; i < module.poll.size(); ++i) {
            const auto reading =
                std::find_if(readings.begin(), readings.end(), [i](const Reading &r) { return r.index == i; });
            if (reading == readings.end()) {
                const bool underWay = i == readings.size() && !stoppedBy.isEmpty();
                out << unreadValue(module.poll[i], underWay ? stoppedBy : notReached);
                continue;
            }
            out << valueOf(*reading, readings);
        }
    }
    cache = out;
    return *cache;
}

void WindowRecord::noteWrites(int from)
{
    // A setting refused or cancelled before its first write changed nothing:
    // the poll before is still before, and the poll after still after.
    for (int i = from; i < m_writes.size(); ++i) {
        if (m_writes[i].outcome != WrittenValue::Outcome::NotSent) {
            m_written = true;
            m_after = Poll();
            return;
        }
    }
}

namespace {

// A written register value as text and JSON, as the window would show it.
void describe(WrittenValue &v, int scale)
{
    if (!v.point)
        return;
    describeRegister(*v.point, v.written, scale, &v.writtenText, &v.writtenJson);
}

// How an unanswered write failed: the verdict's words, or that the operator
// kept it back.
void settle(WrittenValue &v, const WriteResult &result)
{
    if (result.keptBack) {
        v.outcome = WrittenValue::Outcome::NotSent;
        v.reason = QStringLiteral("已取消，未发送");
    } else if (result.ok()) {
        v.outcome = WrittenValue::Outcome::Acknowledged;
    } else {
        v.outcome = WrittenValue::Outcome::WriteFailed;
        v.reason = outcomeText(result.verdict);
    }
}

} // namespace

void WindowRecord::addSetting(const QDateTime &time, const Setting &setting, const QVector<quint16> &values,
                              const QVector<WriteResult> &results, const QString &stoppedBy)
{
    const int first = int(m_writes.size());
    const int count = int(std::min(setting.registers.size(), values.size()));
    for (int i = 0; i < count; ++i) {
        WrittenValue v;
        v.reg = setting.registers[i];
        v.point = m_module.pointAt(v.reg);
        v.key = v.point ? v.point->key : setting.key;
        v.caption = v.point ? v.point->caption() : setting.name;
        v.written = values[i];
        v.time = time;
        int scale = 1;
        if (v.point && v.point->show == Show::Limit && v.point->scaleFrom >= 0) {
            // A limit is in the unit of the source written with it, else of
            // the source the last poll read.
            const Point &source = m_module.poll[v.point->scaleFrom];
            const int at = int(setting.registers.indexOf(source.address));
            if (at >= 0 && at < values.size())
                scale = limitScale(values[at]);
            else if (latest().made && latest().values(m_module)[v.point->scaleFrom].ok)
                scale = limitScale(int(latest().values(m_module)[v.point->scaleFrom].raw));
        }
        describe(v, scale);
        if (i < results.size()) {
            settle(v, results[i]);
        } else if (i == results.size() && !stoppedBy.isEmpty()) {
            // The write under way when the error came: it may have reached
            // the module, but nothing acknowledged it.
            v.outcome = WrittenValue::Outcome::WriteFailed;
            v.reason = stoppedBy;
        } else {
            v.outcome = WrittenValue::Outcome::NotSent;
            v.reason = stoppedBy.isEmpty() ? QStringLiteral("未发送") : QStringLiteral("设置中止，未发送");
        }
        m_writes << v;
    }
    noteWrites(first);
}

void WindowRecord::addReset(const QDateTime &time, const ResetChoice &choice, const WriteResult &result,
                            const QString &stoppedBy)
{
    WrittenValue v = resetValue(m_module, choice);
    v.time = time;
    if (stoppedBy.isEmpty()) {
        settle(v, result);
    } else {
        v.outcome = WrittenValue::Outcome::WriteFailed;
        v.reason = stoppedBy;
    }
    m_writes << v;
    noteWrites(int(m_writes.size()) - 1);
}

MeterRecord WindowRecord::meter(int address, const QDateTime &now) const
{
    MeterRecord m;
    m.address = address;
    m.def = &m_module;
    m.started = m_opened;
    m.elapsedMs = m_opened.msecsTo(now);
    m.hasBefore = m_before.made;
    m.beforeTime = m_before.time;
    m.before = poll();
    m.hasAfter = m_after.made;
    m.afterTime = m_after.time;
    m.after = pollAfter();
    m.writes = m_writes;

    // The result goes by the latest poll; the failures of both are told.
    const Poll &last = latest();
    QString firstReadFailure;
    const auto readFailures = [&](const Poll &p, const QString &which) {
        for (const Value &v : p.values(m_module)) {
            if (v.ok)
                continue;
            const QString text = which + QStringLiteral("%1：%2").arg(v.point->caption(), v.failure);
            if (&p == &last && firstReadFailure.isEmpty())
                firstReadFailure = text;
            m.failures << text;
        }
    };
    readFailures(m_before, m_after.made ? QStringLiteral("（调试前）") : QString());
    readFailures(m_after, QStringLiteral("（调试后）"));
    QString firstWriteFailure;
    int acknowledged = 0;
    for (const WrittenValue &w : m_writes) {
        if (w.done()) {
            ++acknowledged;
            continue;
        }
        const QString text = QStringLiteral("%1：%2").arg(w.caption, w.reason);
        if (firstWriteFailure.isEmpty())
            firstWriteFailure = text;
        m.failures << text;
    }
    // The window sends a setting and takes the acknowledgement: it does not
    // read back, so no value is ever "done and checked".
    const QString written =
        acknowledged > 0 ? QStringLiteral("%1 个值已写入并应答，未读回核对").arg(acknowledged) : QString();
    const auto joined = [](const QString &a, const QString &b) {
        return a.isEmpty() ? b : b.isEmpty() ? a : a + QStringLiteral("；") + b;
    };
    if (!firstWriteFailure.isEmpty()) {
        m.result = MeterRecord::Result::WriteFailed;
        m.detail = firstWriteFailure;
    } else if (!last.made) {
        m.result = MeterRecord::Result::NotReached;
        m.detail = joined(QStringLiteral("本窗口尚未召测"), written);
    } else if (!firstReadFailure.isEmpty()) {
        if (last.reached > 0 && last.timeouts == m_module.poll.size())
            m.result = MeterRecord::Result::NoAnswer;
        else if (last.refused)
            m.result = MeterRecord::Result::Incomplete;
        else
            m.result = MeterRecord::Result::ReadFailed;
        m.detail = joined(firstReadFailure, written);
    } else {
        m.result = MeterRecord::Result::Recorded;
        m.detail = written;
    }
    return m;
}

RunRecord WindowRecord::record(const Line &line, const QDateTime &now) const
{
    RunRecord r;
    r.line = line.line;
    r.speed = line.speed;
    r.started = m_opened;
    r.finished = now;
    r.tool = line.tool;
    r.version = line.version;
    r.command = QStringLiteral("window");
    r.meters << meter(line.address, now);
    return r;
}

} // namespace hv52
