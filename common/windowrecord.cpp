#include "windowrecord.h"

namespace hv52 {

WindowRecord::WindowRecord(const ModuleDef &module, const QDateTime &opened) : m_module(module), m_opened(opened) {}

void WindowRecord::addPoll(const QDateTime &time, const QVector<Reading> &readings, const QString &notReached,
                           const QString &stoppedBy)
{
    // The readings are kept as they came; turning them into values waits
    // until a record asks for them, so a poll pays nothing for it.
    m_hasPoll = true;
    m_pollTime = time;
    m_readings = readings;
    m_notReached = notReached;
    m_stoppedBy = stoppedBy;
    m_poll.reset();
    m_pollReached = int(readings.size());
    m_pollTimeouts = 0;
    m_pollRefused = false;
    for (const Reading &r : readings) {
        const Verdict &verdict = r.result.verdict;
        if (verdict.outcome == Outcome::Timeout)
            ++m_pollTimeouts;
        if (verdict.outcome == Outcome::Exception && verdict.exceptionCode == 2)
            m_pollRefused = true;
    }
}

const QVector<Value> &WindowRecord::poll() const
{
    if (m_poll)
        return *m_poll;
    QVector<Value> values;
    if (m_hasPoll) {
        for (int i = 0; i < m_module.poll.size(); ++i) {
            const auto reading =
                std::find_if(m_readings.begin(), m_readings.end(), [i](const Reading &r) { return r.index == i; });
            if (reading == m_readings.end()) {
                const bool underWay = i == m_readings.size() && !m_stoppedBy.isEmpty();
                values << unreadValue(m_module.poll[i], underWay ? m_stoppedBy : m_notReached);
                continue;
            }
            values << valueOf(*reading, m_readings);
        }
    }
    m_poll = values;
    return *m_poll;
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
            else if (m_hasPoll && poll()[v.point->scaleFrom].ok)
                scale = limitScale(int(poll()[v.point->scaleFrom].raw));
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
}

MeterRecord WindowRecord::meter(int address, const QDateTime &now) const
{
    MeterRecord m;
    m.address = address;
    m.def = &m_module;
    m.started = m_opened;
    m.elapsedMs = m_opened.msecsTo(now);
    m.hasBefore = m_hasPoll;
    m.beforeTime = m_pollTime;
    m.before = poll();
    m.writes = m_writes;

    QString firstReadFailure;
    for (const Value &v : poll()) {
        if (v.ok)
            continue;
        const QString text = QStringLiteral("%1：%2").arg(v.point->caption(), v.failure);
        if (firstReadFailure.isEmpty())
            firstReadFailure = text;
        m.failures << text;
    }
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
    } else if (!m_hasPoll) {
        m.result = MeterRecord::Result::NotReached;
        m.detail = joined(QStringLiteral("本窗口尚未召测"), written);
    } else if (!firstReadFailure.isEmpty()) {
        if (m_pollReached > 0 && m_pollTimeouts == m_module.poll.size())
            m.result = MeterRecord::Result::NoAnswer;
        else if (m_pollRefused)
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
