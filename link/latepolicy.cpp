#include "latepolicy.h"

#include <algorithm>
#include <cmath>

namespace hv52 {

int longestAnswerMs(qint32 speed)
{
    return speed > 0 ? int(std::ceil(12.5 * 10 * 1000.0 / speed)) : 0;
}

void LatePolicy::startOperation(quint32 serial)
{
    m_unsure = false;
    m_lateMs = 0;
    m_heard.clear();
    m_atRiskFrom = 0;
    m_balancedUpTo = serial;
    m_revoked.clear();
    m_longestAnswerUs = 0;
    m_silenceSeen = false;
}

void LatePolicy::newPlace()
{
    m_repeating = false;
    m_repeatLagMs = 0;
}

LatePolicy::Quiet LatePolicy::quietWait(int guard, bool fixedGuard, int overrideMs, qint32 speed) const
{
    Quiet q;
    // Once the module was heard answering late, the line must stay quiet as
    // long as it was late (its backlog of answers comes about that far
    // apart), and the wait lasts at least half again that lateness from the
    // failed request, and the answer's own length.
    const bool late = m_lateMs > 0 && !fixedGuard && overrideMs <= 0;
    // A line that repeats answers sends the copies as far apart as heard:
    // none may be left when the next request goes out.
    const int repeatMs = overrideMs <= 0 ? m_repeatLagMs * 3 / 2 : 0;
    q.quietMs = overrideMs > 0 ? overrideMs : std::max(repeatMs, late ? std::max(guard, m_lateMs) : guard);
    q.coverUntil = late ? qint64(m_lateMs) * 3 / 2 + longestAnswerMs(speed) : 0;
    // A line that never goes quiet ends the operation; a late module's
    // backlog is not that.
    q.limitMs = int(std::max<qint64>({kSettleLimitMs, 2 * qint64(guard), q.coverUntil + 4 * qint64(q.quietMs)}));
    return q;
}

int LatePolicy::afterAnswerQuietMs(qint32 speed) const
{
    return std::max({kAfterAnswerQuietMs, longestAnswerMs(speed), m_repeatLagMs * 3 / 2});
}

bool LatePolicy::spoiledByLateness(const Verdict &verdict, bool anotherAfter) const
{
    switch (verdict.outcome) {
    case Outcome::TooLong:
        // Two answers back to back: one of them came late.
        return m_lateMs > 0 || anotherAfter;
    case Outcome::Timeout:
    case Outcome::Incomplete:
    case Outcome::WrongLength:
    case Outcome::WrongFunction:
    case Outcome::EchoMismatch:
        // The shape of another request's answer, or none in time, from a
        // module already heard answering late.
        return m_lateMs > 0;
    default:
        return false; // damage, a refusal or another module: not lateness
    }
}

bool LatePolicy::heardBefore(const QByteArray &answer, qint64 againAtMs)
{
    int back = 0;
    for (auto it = m_heard.crbegin(); it != m_heard.crend(); ++it, ++back) {
        if (it->frame == answer) {
            // The same bytes heard long or several answers ago are another
            // register's equal answer, not this copy's original: they tell
            // no lag.
            const qint64 lagMs = againAtMs - it->atMs;
            if (againAtMs >= 0 && lagMs <= kRepeatLagLimitMs && back < 4)
                m_repeatLagMs = std::max(int(lagMs), m_repeatLagMs);
            return true;
        }
    }
    return false;
}

void LatePolicy::heard(const QByteArray &answer, qint64 atMs)
{
    if (m_heard.size() >= kHeardKept)
        m_heard.removeFirst();
    m_heard.append({answer, atMs});
}

void LatePolicy::provisional(quint32 serial, bool repeats, bool afterFailure)
{
    // Once an answer went missing, reads are confirmed instead, and two
    // equal answers are what confirmation asks for.
    if (repeats && !afterFailure && !m_repeating && !m_silenceSeen && !m_unsure && !readAtRisk())
        m_atRiskFrom = serial;
}

bool LatePolicy::unexplained(const QByteArray &bytes, quint8 address, qint64 arrivedMs, qint64 nowMs, quint32 serial,
                             const QByteArray &request)
{
    bool own = request.isEmpty(); // one answer that fits the request is its own, however late
    bool extra = false;
    for (const QByteArray &answer : answersIn(bytes, address)) {
        if (!own && (judge(answer, request).valid() || isExceptionAnswer(answer, request))) {
            own = true;
            heard(answer, nowMs);
            continue;
        }
        // An answer more than asked for: a repetition, or the answer of a
        // request whose place a repetition took. Either way the line
        // repeats answers.
        heardBefore(answer, arrivedMs);
        heard(answer, nowMs); // the next copy's original may be this one
        extra = true;
    }
    if (!extra)
        return false;
    // Once an answer went missing, an answer heard again may be a late one
    // of the same register read again: lateness, not repetition.
    // The same once the answers are confirmed: a confirmed read never
    // counts an answer alone.
    if (m_silenceSeen)
        return false;
    m_repeating = true;
    if (!readAtRisk())
        return false;
    // A read took an answer heard before, and now an answer comes that no
    // request explains: that read may have taken a repetition, and each read
    // after it the answer of the one before. None of them holds.
    if (m_revoked.size() >= 256)
        m_revoked.removeFirst(); // reads long handed back and done with
    m_revoked.append({m_atRiskFrom, serial});
    balanced(serial);
    return true;
}

bool LatePolicy::revoked(quint32 serial) const
{
    return std::any_of(m_revoked.begin(), m_revoked.end(), [serial](const std::pair<quint32, quint32> &range) {
        return serial >= range.first && serial <= range.second;
    });
}

} // namespace hv52
