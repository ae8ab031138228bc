// The link's reads in doubt: a read confirmed by reading again after a
// failure that may still owe an answer, an answer followed by company, the
// bytes that no request explains, and the listen at the end of a series.
#include "link.h"

#include "frames.h"

#include <QDeadlineTimer>

namespace hv52 {

bool Link::unexplained(const QByteArray &bytes, qint64 arrivedMs, const QByteArray &request)
{
    if (bytes.isEmpty() || framing() != Framing::Rtu || !m_settings.address)
        return false;
    return m_late.unexplained(bytes, quint8(m_settings.address), arrivedMs, m_runClock.elapsed(), m_serial, request);
}

void Link::balance()
{
    if (!m_late.readAtRisk() || m_ahead.inFlight() || !isPortOpen() || m_portError) {
        m_late.balanced(m_serial);
        return;
    }
    // An answer still on its way comes about as long after its request as
    // the answers of this operation took, and a little more. The line is
    // listened to until then, not longer: repetitions that come later spoil
    // nothing the series took.
    const qint64 leftUs = m_late.balanceWindowUs() - m_x.elapsedUs();
    QDeadlineTimer deadline(std::max<qint64>(0, (leftUs + 999) / 1000), Qt::PreciseTimer);
    m_line->expect(1);
    QByteArray heard;
    while (heard.size() <= ReceiveRule::kFloodBytes && !deadline.hasExpired()
           && m_line->waitForBytes(int(std::max<qint64>(1, deadline.remainingTime()))))
        heard += m_line->readAll();
    m_line->takeStray();
    heard += m_line->readAll();
    if (m_portError)
        throw *m_portError;
    heard.truncate(ReceiveRule::kFloodBytes);
    if (unexplained(heard, m_runClock.elapsed()))
        m_settle = true; // the next request waits for a quiet line
    stray(heard);
    m_late.balanced(m_serial);
}

bool Link::answerHadCompany(ReadResult *result)
{
    // A module that fell behind may have several answers queued, and sends
    // them back to back: bytes right after an intact answer say it may be
    // another request's, and two such answers of one earlier register would
    // otherwise agree. The line is listened to briefly before going on.
    const int row = m_held.last();
    // A line that repeats answers sends the copies as far apart as heard.
    const Settled after = settleLine(m_late.afterAnswerQuietMs(m_settings.speed));
    if (after.heard.isEmpty())
        return false;
    const qint64 cameMs = m_lastSentMs + after.firstByteMs;
    // The answer just taken again, and nothing else: the line repeats
    // answers, which says nothing against this one.
    QByteArray others = after.heard;
    others.replace(m_answerFrame, QByteArray());
    m_late.heardBefore(m_answerFrame, others.size() < after.heard.size() ? cameMs : -1);
    if (others.isEmpty()) {
        if (!m_late.silenceSeen())
            m_late.setRepeating();
        stray(after.heard);
        return false;
    }
    if (after.firstByteMs > responseTimeout())
        m_late.noteLate(after.firstByteMs);
    unexplained(others, cameMs, m_x.request()); // a repetition of an earlier answer: measured
    verdictIs({m_late.lateMs() > 0 ? Outcome::Late : m_late.repeating() ? Outcome::Repeated : Outcome::Unconfirmed});
    m_held.mark(row, m_verdict);
    stray(after.heard);
    *result = {m_verdict, 0};
    return true;
}

ReadResult Link::confirm(quint16 reg, bool pair, const ReadResult &first, int firstRow, bool *firstWasAnother)
{
    // Modbus RTU answers carry no request number. After a failed exchange the
    // module may still be answering an earlier request, each answer one
    // request behind, so the first answer here may be another register's.
    // Two answers in a row that agree are this register's: when behind by
    // one, the second and third both answer this register's requests. Each
    // answer that may yet be agreed with was followed by a quiet line.
    const bool firstMarked = *firstWasAnother;
    ReadResult previous = first;
    Verdict failure;
    for (int more = 0; more < 2; ++more) {
        ReadResult again = readOnce(reg, pair);
        if (again.ok() && previous.ok() && again.value == previous.value) {
            if (more == 1) {
                // The second and third agree without the first: it answered
                // another request.
                *firstWasAnother = firstMarked || previous.value != first.value;
                m_held.mark(firstRow, {*firstWasAnother ? Outcome::Late : Outcome::Unconfirmed});
            }
            return again;
        }
        if (more == 0 && again.ok())
            answerHadCompany(&again);
        if (!again.ok())
            failure = again.verdict;
        previous = again;
    }
    // Nothing agreed. A silent or late second read after a valid first one
    // says the first answer most likely came late, for another request.
    const bool late = m_late.lateMs() > 0;
    if (failure.valid())
        failure = {late ? Outcome::Late : Outcome::Unconfirmed};
    else if (failure.outcome == Outcome::Timeout && late)
        failure = {Outcome::Late};
    m_held.mark(firstRow, {late ? Outcome::Late : Outcome::Unconfirmed});
    return {failure, 0};
}

} // namespace hv52
