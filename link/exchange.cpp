#include "exchange.h"

namespace hv52 {

void Exchange::arm(Framing framing)
{
    m_received.clear();
    m_rule = ReceiveRule(framing, m_request);
    m_phase = Phase::Idle;
}

void Exchange::begin(bool recording, QTime sentAt, bool afterFailure, qint64 previousSentMs)
{
    m_recording = recording;
    if (recording)
        m_sentAt = sentAt;
    m_clock.start();
    m_afterFailure = afterFailure;
    m_previousSentMs = previousSentMs;
}

bool Exchange::take(const QByteArray &bytes)
{
    if (!m_rule.take(bytes))
        return false;
    // Bytes after the answer stay with the line until the next request takes
    // them in as stray, or the quiet wait does.
    m_received = m_rule.answer();
    m_phase = Phase::Answered;
    return true;
}

Verdict Exchange::expire(const QByteArray &bytes)
{
    // An answer that began but never reached its length (an exception
    // answer, a broken frame) is taken so it cannot leak into the next one.
    m_rule.take(bytes);
    m_received = m_rule.answer();
    m_phase = Phase::Expired;
    return m_rule.expire();
}

} // namespace hv52
