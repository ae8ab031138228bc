#include "judge.h"

#include <algorithm>
#include <cmath>

namespace hv52 {

namespace {

constexpr qint64 kUsPerMs = 1000;

} // namespace

int longestAnswerMs(qint32 speed)
{
    return speed > 0 ? int(std::ceil(12.5 * 10 * 1000.0 / speed)) : 0;
}

// ---------------------------------------------------------------------------
// Place, operation, series

void Judge::newPlace()
{
    m_repeating = false;
    m_repeatLagMs = 0;
    m_bands.clear();
}

void Judge::startOperation(const Config &config)
{
    m_config = config;
    m_owed.clear();
    m_nowUs = 0;
    m_silenceSeen = false;
    m_lateMs = 0;
    m_longestAnswerUs = 0;
    m_lastSentUs = -1;
    m_heard.clear();
    // This module's answer times, as earlier operations at this place saw
    // them (a scan's every address and speed kept within bounds).
    m_bandKey =
        quint64(config.address) << 40 | quint64(quint32(config.speed)) << 8 | quint64(config.framing == Framing::Rtu);
    if (m_bands.size() > kMostBands && !m_bands.contains(m_bandKey))
        m_bands.clear();
    m_known.clear();
    m_writtenUs.clear();
    m_reads.clear();
    m_results.clear();
    m_phase = Phase::Idle;
    m_events.clear();
}

void Judge::startReads(const QVector<Ask> &reads)
{
    m_writing = false;
    m_reads.clear();
    m_results.clear();
    for (const Ask &a : reads) {
        ReadState r;
        r.ask = a;
        m_reads << r;
    }
    m_atRiskFrom = -1;
    m_stopAsked = false;
    m_rereading = false;
    m_revokeCurrent = false;
    m_current = -1;
    m_phase = Phase::Idle;
    advance();
}

void Judge::startWrite(quint16 reg, quint16 value)
{
    m_writing = true;
    m_writeReg = reg;
    m_reads.clear();
    m_results.clear();
    m_current = -1;
    m_writeVerdict = {Outcome::Aborted};
    beginExchange(writeUnit(reg, value));
}

void Judge::stopSeries()
{
    m_stopAsked = true;
    // Asked after an answer, before the next read went out: it does not.
    if (m_phase == Phase::Flush && !m_writing)
        advance();
}

QByteArray Judge::frameOf(const QByteArray &unit)
{
    if (m_config.framing == Framing::Mbap)
        return frameMbap(++m_transaction, m_config.address, unit);
    return frameRtu(m_config.address, unit);
}

void Judge::beginExchange(const QByteArray &unit)
{
    m_x = Exchange{};
    m_x.id = ++m_nextId;
    m_x.request = frameOf(unit);
    m_x.rule = ReceiveRule(m_config.framing, m_x.request);
    m_x.afterFailure = careful();
    m_x.previousSentUs = m_lastSentUs;
    m_phase = Phase::Flush;
}

void Judge::advance()
{
    // The next read of the series, the next read of the pass that reads the
    // revoked ones again, or the end of the series.
    int next = -1;
    if (!m_stopAsked) {
        for (int i = m_current + 1; i < m_reads.size(); ++i) {
            if (!m_rereading || m_reads[i].revoked) {
                next = i;
                break;
            }
        }
    }
    if (next < 0 && !m_rereading && !m_stopAsked) {
        const auto revoked = std::find_if(m_reads.begin(), m_reads.end(), [](const ReadState &r) { return r.revoked; });
        if (revoked != m_reads.end()) {
            // Reads a repetition may have spoiled are read again, in series
            // order (a source before the limits it scales), carefully.
            m_rereading = true;
            next = int(revoked - m_reads.begin());
        }
    }
    if (next >= 0) {
        m_current = next;
        ReadState &r = m_reads[next];
        r.attempts = 0;
        r.havePrevious = false;
        r.firstMarked = false;
        r.revoked = false;
        r.failedSentUs = m_lastSentUs;
        r.another = false;
        r.failure = {};
        r.validRows.clear();
        r.attemptSentUs.clear();
        r.tookRepeat = false;
        r.tookEarly = false;
        r.runLength = 0;
        beginAttempt();
        return;
    }
    // The end of the series: reads that took an answer heard before hold only
    // once the line has been listened to for as long as its answers took.
    if (m_atRiskFrom >= 0 && m_phase != Phase::Balance) {
        const qint64 until = m_lastSentUs + balanceWindowUs();
        startListen(Phase::Balance, m_lastSentUs, 0, until);
        return;
    }
    m_phase = Phase::Done;
}

void Judge::holdOff()
{
    const ReadState &r = m_reads[m_current];
    const qint64 clear = std::min(sourcesClearUs(r.ask, r.runValue, r.holdOffAllowed), r.holdOffUntilUs);
    if (clear > m_nowUs)
        startListen(Phase::HoldOff, m_nowUs, 0, clear);
}

void Judge::beginAttempt()
{
    ReadState &r = m_reads[m_current];
    ++r.attempts;
    beginExchange(readUnit(r.ask.pair, r.ask.reg));
    if (r.attempts >= 2) {
        // A confirming read. Answers agree into a value only when they
        // outnumber what could still bring that value from another register.
        // When the answers left cannot, a second read waits until one at
        // most can, and the count starts again; a third has no hope and is
        // not sent.
        const int need = r.havePrevious ? answersNeeded(Source::count(r.runSources, r.runValue)) : 2;
        const int reachable = (r.havePrevious ? r.runLength : 0) + 1 + (kMostAttempts - r.attempts);
        if (need > reachable) {
            if (r.attempts == kMostAttempts) {
                m_hopeless = true;
                return;
            }
            r.havePrevious = false;
            r.holdOffAllowed = 1;
            r.holdOffUntilUs = m_nowUs + horizonUs();
            holdOff();
        }
    }
}

void Judge::readDone(Read result)
{
    if (m_results.size() <= m_current)
        m_results.resize(m_current + 1);
    if (std::exchange(m_revokeCurrent, false) && result.ok() && !m_rereading) {
        result = {{Outcome::Repeated}, 0};
        m_reads[m_current].revoked = true;
        for (const quint64 id : m_reads[m_current].validRows)
            mark(id, result.verdict);
        m_reads[m_current].validRows.clear();
    }
    m_results[m_current] = result;
    if (result.ok()) {
        m_reads[m_current].takenSentUs = m_x.sentUs;
        // A value known for sure tells which late answers cannot carry
        // another; one that holds only while nothing comes against it does not.
        const Ask &a = m_reads[m_current].ask;
        if (m_atRiskFrom < 0 || m_reads[m_current].attempts > 1)
            m_known.insert(quint32(a.reg) << 1 | (a.pair ? 1 : 0), result.value);
    }
    // A read that failed shows no exchange of its own as valid.
    if (!result.ok()) {
        for (const quint64 id : m_reads[m_current].validRows)
            mark(id, result.verdict);
    }
    m_phase = Phase::Answered;
}

// ---------------------------------------------------------------------------
// Steps

Judge::Step Judge::next(qint64 nowUs)
{
    m_nowUs = std::max(m_nowUs, nowUs);
    Step step;
    for (;;) {
        switch (m_phase) {
        case Phase::Idle:
        case Phase::Done:
            step.what = Do::Done;
            return step;
        case Phase::Failed:
            step.what = Do::Fail;
            step.failure = m_failure;
            step.number = m_failureNumber;
            return step;
        case Phase::Flush:
            if (std::exchange(m_hopeless, false)) {
                // Nothing can confirm this read now: it fails unsent.
                m_reads[m_current].failure = {};
                m_reads[m_current].attempts -= 1;
                confirmFailed();
                continue;
            }
            step.what = Do::Flush;
            return step;
        case Phase::PreQuiet:
            if (!listenOver(nowUs, &step))
                return step;
            unexplained(m_listen.heard, m_listen.lastByteUs);
            stray(m_listen.heard, m_listen.firstByteUs);
            m_phase = Phase::Send;
            continue;
        case Phase::HoldOff:
            if (nowUs < m_listen.coverUntilUs) {
                step.what = Do::Wait;
                step.untilUs = m_listen.coverUntilUs;
                step.needed = 1;
                return step;
            }
            unexplained(m_listen.heard, m_listen.lastByteUs);
            stray(m_listen.heard, m_listen.firstByteUs);
            for (const QByteArray &a : answersIn(m_listen.heard, m_config.address))
                note(a, m_listen.lastByteUs);
            m_phase = Phase::Flush;
            // What came meanwhile may be sent again: wait for it too.
            holdOff();
            continue;
        case Phase::Send:
            step.what = Do::Send;
            step.frame = m_x.request;
            step.needed = m_x.rule.needed();
            return step;
        case Phase::Await:
            if (!m_x.judged && nowUs >= m_x.sentUs + qint64(m_config.timeoutMs) * kUsPerMs)
                expire();
            if (m_x.judged) {
                judged(nowUs);
                continue;
            }
            step.what = Do::Wait;
            step.untilUs = m_x.sentUs + qint64(m_config.timeoutMs) * kUsPerMs;
            step.needed = m_x.rule.needed();
            step.forAnswer = true;
            return step;
        case Phase::After:
            if (!listenOver(nowUs, &step))
                return step;
            afterQuietEnded();
            continue;
        case Phase::Settle:
            if (!listenOver(nowUs, &step))
                return step;
            settleEnded();
            continue;
        case Phase::Balance:
            if (!listenOver(nowUs, &step))
                return step;
            balanceEnded();
            continue;
        case Phase::Answered: {
            step.what = Do::Answered;
            step.read = m_current;
            advance();
            // Only on a line healthy throughout may the next request go out
            // before this value is handed back.
            step.sendsNext = m_phase == Phase::Flush && !careful() && !(m_repeating && rtu() && !m_config.scan);
            return step;
        }
        }
    }
}

void Judge::flushed(const QByteArray &bytes, qint64 atUs)
{
    if (m_phase != Phase::Flush)
        return;
    m_phase = Phase::Send;
    if (bytes.isEmpty())
        return;
    const bool revoking = unexplained(bytes, atUs);
    stray(bytes, atUs);
    if (revoking) {
        // An answer came that no request asked for, after a read that may
        // have taken a repetition: the line must be quiet before a request.
        startListen(Phase::PreQuiet, atUs, settleQuiet().quietMs);
    }
}

void Judge::sent(qint64 atUs)
{
    if (m_phase != Phase::Send)
        return;
    m_x.sentUs = atUs;
    m_lastSentUs = atUs;
    m_phase = Phase::Await;
    if (m_writing) {
        // What was known of the register is what it held before: from now
        // its answers may carry either.
        m_writtenUs.insert(m_writeReg, atUs);
        m_known.remove(quint32(m_writeReg) << 1);
        m_known.remove(quint32(m_writeReg) << 1 | 1);
        m_known.remove(quint32(quint16(m_writeReg - 1)) << 1 | 1);
    }
    // A read sent while an answer may be owed, or read again, owes its own:
    // what it takes may be another's.
    if (!m_writing) {
        ReadState &r = m_reads[m_current];
        const bool owing = careful() || r.attempts > 1;
        r.sources = owing || m_repeating ? sourcesFor(r.ask) : QVector<Source>{};
        if (owing) {
            owe(m_x);
            r.attemptSentUs << atUs;
        }
    }
}

void Judge::heard(const QByteArray &bytes, qint64 atUs)
{
    if (bytes.isEmpty())
        return;
    switch (m_phase) {
    case Phase::Await:
        if (m_x.judged)
            return;
        if (m_x.rule.take(bytes)) {
            m_x.judged = true;
            m_x.endUs = atUs;
            m_x.verdict = m_x.rule.verdict();
            m_x.received = m_x.rule.answer();
        }
        return;
    case Phase::PreQuiet:
    case Phase::HoldOff:
    case Phase::After:
    case Phase::Settle:
    case Phase::Balance:
        if (m_listen.firstByteUs < 0)
            m_listen.firstByteUs = atUs;
        m_listen.lastByteUs = atUs;
        m_listen.bytes += bytes.size();
        if (m_listen.heard.size() < ReceiveRule::kFloodBytes)
            m_listen.heard += bytes.left(ReceiveRule::kFloodBytes - m_listen.heard.size());
        if (m_listen.bytes > ReceiveRule::kFloodBytes) {
            // Far more than any backlog of answers: the line floods.
            stray(m_listen.heard, m_listen.firstByteUs);
            fail(LinkError::Kind::Flooded, ReceiveRule::kFloodBytes);
        }
        return;
    default:
        stray(bytes, atUs);
        return;
    }
}

void Judge::cut(Verdict why, qint64 nowUs)
{
    if (m_phase == Phase::Await) {
        m_x.endUs = nowUs;
        row(m_x, why);
    } else if (m_phase == Phase::Settle) {
        row(m_x, m_x.verdict);
    }
    // Reads not yet sure are not handed over as values.
    if (!m_writing && m_atRiskFrom >= 0) {
        for (int i = m_atRiskFrom; i < m_results.size(); ++i) {
            if (!m_results[i].ok())
                continue;
            m_results[i] = {why, 0};
            // What it took may have been a repetition: its own answer may
            // still come, into whatever this operation reads next.
            owe(m_reads[i].takenSentUs, readUnit(m_reads[i].ask.pair, m_reads[i].ask.reg));
            for (const quint64 id : m_reads[i].validRows)
                mark(id, why);
        }
    }
    // A read the pass of second reads had under way fails for the same
    // reason; the exchanges of a read cut short show no value as taken.
    if (!m_writing && m_current >= 0 && m_current < m_reads.size() && m_phase != Phase::Answered) {
        if (m_rereading && m_current < m_results.size() && !m_results[m_current].ok())
            m_results[m_current] = {why, 0};
        if (m_current >= m_results.size() || !m_results[m_current].ok()) {
            for (const quint64 id : m_reads[m_current].validRows)
                mark(id, why);
        }
    }
    m_atRiskFrom = -1;
    m_phase = Phase::Done;
}

// ---------------------------------------------------------------------------
// Judging an exchange

void Judge::expire()
{
    m_x.verdict = m_x.rule.expire();
    m_x.received = m_x.rule.answer();
    m_x.judged = true;
    m_x.timedOut = true;
    m_x.endUs = m_x.sentUs + qint64(m_config.timeoutMs) * kUsPerMs;
    m_silenceSeen = true;
}

void Judge::judged(qint64 nowUs)
{
    Q_UNUSED(nowUs);
    if (m_x.verdict.outcome == Outcome::Flooded) {
        // Frames of other transactions without end: no backlog of late
        // answers is that long, and the next request would drown too.
        fail(LinkError::Kind::Flooded, ReceiveRule::kFloodBytes);
        return;
    }
    if (!rtu()) {
        // Another transaction's answer on Modbus TCP: an earlier request's,
        // late; no quiet wait, the identifier pairs answers with requests.
        const QByteArray refused = m_x.rule.dropped();
        if (!refused.isEmpty())
            noteLate(m_x.endUs - m_x.previousSentUs);
        if (m_x.verdict.valid())
            m_longestAnswerUs = std::max(m_longestAnswerUs, m_x.endUs - m_x.sentUs);
        row(m_x, m_x.verdict);
        stray(refused, m_x.endUs);
        if (m_writing) {
            m_writeVerdict = m_x.verdict;
            m_phase = Phase::Done;
            return;
        }
        const bool pair = m_reads[m_current].ask.pair;
        readDone({m_x.verdict, m_x.verdict.valid() ? unitValue(m_x.rule.answerUnit(), pair) : 0});
        return;
    }
    if (m_x.verdict.valid()) {
        answeredValid();
        return;
    }
    // A failed exchange: the line must go quiet before anything else is
    // sent, and what it brings meanwhile tells whether the module is late.
    // An intact refusal, or our answer with stray bytes after it, answered
    // this request: nothing is owed.
    const QByteArray &frame = m_x.request;
    m_x.anotherAfter = isAnotherAnswer(m_x.received.mid(answerLength(frame)), frame);
    const bool answered =
        m_x.verdict.outcome == Outcome::Exception || (m_x.verdict.outcome == Outcome::TooLong && !m_x.anotherAfter);
    if (!answered)
        owe(m_x);
    else if (m_x.verdict.outcome == Outcome::TooLong)
        noteAnswerTime(answerLength(frame), m_x.endUs - m_x.sentUs); // its own answer came, in this time
    if (m_x.afterFailure && (m_silenceSeen || !anyHeardBefore(m_x.received))
        && isOtherRequestsAnswer(m_x.received, frame))
        noteLate(m_x.endUs - m_x.previousSentUs); // the failed one's answer, this late
    const Quiet q = settleQuiet();
    startListen(Phase::Settle, m_x.endUs, q.quietMs, q.coverMs > 0 ? m_x.sentUs + q.coverMs * kUsPerMs : 0);
}

bool Judge::anyHeardBefore(const QByteArray &bytes) const
{
    // One answer that fits the request is its own, whatever it says (the same
    // refusal every time, or its answer with noise after it).
    const QVector<QByteArray> answers = answersIn(bytes, m_config.address);
    if (answers.size() == 1 && (judge(answers[0], m_x.request).valid() || isExceptionAnswer(answers[0], m_x.request)))
        return false;
    return std::any_of(answers.begin(), answers.end(), [this](const QByteArray &a) {
        return std::any_of(m_heard.begin(), m_heard.end(), [&a](const Heard &h) { return h.frame == a; });
    });
}

void Judge::settleEnded()
{
    const QByteArray heardBytes = m_listen.heard;
    // Bytes after the response time ran out: the module answers late.
    if (m_x.timedOut && m_listen.firstByteUs >= 0)
        noteLate(m_listen.firstByteUs - m_x.sentUs);
    const QByteArray all = m_x.received + heardBytes;
    const bool repeated = !m_silenceSeen && anyHeardBefore(all);
    unexplained(all, m_listen.lastByteUs >= 0 ? m_listen.lastByteUs : m_x.endUs, m_x.request);
    Verdict verdict = m_x.verdict;
    if (repeated) {
        verdict = {Outcome::Repeated};
    } else if (spoiledByLateness(verdict, m_x.anotherAfter)) {
        // Two answers back to back, one an earlier request's: it came after
        // this request went out, so at least that long after its own.
        if (verdict.outcome == Outcome::TooLong && m_x.previousSentUs >= 0)
            noteLate(m_x.sentUs - m_x.previousSentUs);
        verdict = {Outcome::Late};
    }
    m_x.verdict = verdict;
    row(m_x, verdict);
    stray(heardBytes, m_listen.firstByteUs);
    attemptFailed(verdict);
}

bool Judge::spoiledByLateness(const Verdict &verdict, bool anotherAfter) const
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

void Judge::attemptFailed(Verdict verdict)
{
    if (m_writing) {
        m_writeVerdict = verdict;
        m_phase = Phase::Done;
        return;
    }
    ReadState &r = m_reads[m_current];
    if (r.attempts == 1) {
        readDone({verdict, 0});
        return;
    }
    // A confirming read failed: no two answers in a row can agree now.
    r.failure = verdict;
    confirmFailed();
}

void Judge::confirmFailed()
{
    ReadState &r = m_reads[m_current];
    // Nothing agreed. A silent or late confirming read after a valid first
    // one says the first answer most likely came late, for another request.
    const bool late = m_lateMs > 0;
    Verdict failure = r.failure;
    if (failure.valid())
        failure = {late ? Outcome::Late : Outcome::Unconfirmed};
    else if (failure.outcome == Outcome::Timeout && late)
        failure = {Outcome::Late};
    if (!r.firstMarked)
        mark(r.firstRow, {late ? Outcome::Late : Outcome::Unconfirmed});
    r.another = true;
    finishConfirmed(failure, 0);
}

void Judge::finishConfirmed(Verdict verdict, quint32 value)
{
    ReadState &r = m_reads[m_current];
    // The first answer was the failed request's, this late.
    if (r.another && !r.firstRepeats && r.failedSentUs >= 0)
        noteLate(r.firstArrivalUs - r.failedSentUs);
    readDone({verdict, value});
}

void Judge::answeredValid()
{
    m_longestAnswerUs = std::max(m_longestAnswerUs, m_x.endUs - m_x.sentUs);
    const QByteArray &frame = m_x.received;
    const bool repeats = heardBefore(frame, -1, true);
    note(frame, m_x.endUs);
    m_x.repeats = repeats;
    if (m_writing) {
        row(m_x, m_x.verdict);
        m_writeVerdict = m_x.verdict;
        m_phase = Phase::Done;
        return;
    }
    ReadState &r = m_reads[m_current];
    const quint32 value = unitValue(m_x.rule.answerUnit(), r.ask.pair);
    m_x.value = value;
    row(m_x, m_x.verdict);
    if (r.attempts == 1) {
        r.firstRow = m_x.id;
        r.firstArrivalUs = m_x.endUs;
        r.firstRepeats = repeats && !m_silenceSeen;
        r.carefulStart = careful();
        if (r.carefulStart && !repeats && Source::count(r.sources, value) == 0) {
            // Answers may be owed, but none that fits this read could bring
            // this value: it is its own.
            readDone({m_x.verdict, value});
            return;
        }
    }
    const qint64 tookUs = m_x.endUs - m_x.sentUs;
    if (r.attempts == 1 && !careful() && !(m_repeating && !m_config.scan)) {
        // A healthy line: the answer is the request's own. One heard before
        // may be a repetition: when it came as long after its request as
        // this line's answers take, it and the reads after it hold only while
        // no answer beyond those asked for comes; at another time it is read
        // again.
        if (!repeats) {
            noteAnswerTime(frame.size(), tookUs);
        } else if (!inBand(frame.size(), tookUs)) {
            // Its own answer may be on its way yet.
            owe(m_x);
            startListen(Phase::After, m_x.endUs, afterAnswerQuietMs());
            return;
        }
        if (repeats && m_atRiskFrom < 0 && !m_x.afterFailure && !m_silenceSeen)
            m_atRiskFrom = m_current;
        r.tookRepeat = repeats;
        r.tookEarly = repeats && early(frame.size(), tookUs);
        readDone({m_x.verdict, value, repeats});
        return;
    }
    // The run of answers in a row that agree, each followed by a quiet line.
    if (r.havePrevious && value == r.runValue) {
        ++r.runLength;
    } else {
        r.runLength = 1;
        r.runValue = value;
        r.runSources = r.sources;
    }
    if (r.attempts >= 2) {
        if (r.runLength >= answersNeeded(Source::count(r.runSources, value))) {
            if (r.attempts == 3) {
                // The second and third agree without the first: it answered
                // another request.
                r.another = r.another || r.firstValue != value;
                if (!r.firstMarked)
                    mark(r.firstRow, {r.another ? Outcome::Late : Outcome::Unconfirmed});
            }
            // Its requests' own answers may still be on their way (this
            // register's own late answers agree as well): they stay owed,
            // carrying the value now known.
            finishConfirmed(m_x.verdict, value);
            return;
        }
        if (r.attempts == kMostAttempts) {
            r.failure = {};
            confirmFailed();
            return;
        }
    }
    // An answer a later one may agree with: followed by a quiet line, so that
    // a module that fell behind shows its queued answers, and a line that
    // repeats its copies.
    startListen(Phase::After, m_x.endUs, afterAnswerQuietMs());
}

void Judge::afterQuietEnded()
{
    ReadState &r = m_reads[m_current];
    const QByteArray heardBytes = m_listen.heard;
    bool clean = true;
    if (!heardBytes.isEmpty()) {
        // The answer just taken again, and nothing else: the line repeats
        // answers, which says nothing against this one.
        QByteArray others = heardBytes;
        others.replace(m_x.received, QByteArray());
        heardBefore(m_x.received, others.size() < heardBytes.size() ? m_listen.firstByteUs : -1);
        if (others.isEmpty()) {
            if (!m_silenceSeen)
                m_repeating = true;
        } else {
            clean = false;
            if (m_listen.firstByteUs - m_x.sentUs > qint64(m_config.timeoutMs) * kUsPerMs)
                noteLate(m_listen.firstByteUs - m_x.sentUs);
            unexplained(others, m_listen.firstByteUs, m_x.request);
            // Its own answer may still be on its way.
            owe(m_x);
            const Verdict company{m_lateMs > 0  ? Outcome::Late
                                  : m_repeating ? Outcome::Repeated
                                                : Outcome::Unconfirmed};
            mark(m_x.id, company);
            if (m_x.id == r.firstRow)
                r.firstMarked = true;
            r.another = true;
        }
        stray(heardBytes, m_listen.firstByteUs);
    }
    if (r.attempts == 1 && !r.carefulStart && clean && !m_x.repeats) {
        // A line that repeats answers: this one came alone, and new.
        readDone({m_x.verdict, m_x.value});
        return;
    }
    // An answer heard before may have taken the place of its own, which may
    // still be on its way.
    if (m_x.repeats)
        owe(m_x);
    if (r.attempts == 1)
        r.firstValue = m_x.value;
    r.havePrevious = clean;
    beginAttempt();
}

void Judge::balanceEnded()
{
    const QByteArray heardBytes = m_listen.heard;
    unexplained(heardBytes, m_listen.lastByteUs);
    stray(heardBytes, m_listen.firstByteUs);
    // What still holds from the first read at risk on holds on trust.
    for (int i = std::max(0, m_atRiskFrom); m_atRiskFrom >= 0 && i < m_results.size(); ++i) {
        m_results[i].trusted = m_results[i].ok();
        // One that took an answer heard before may have taken a copy: its
        // own answer may still come, into whatever this operation reads
        // next. Sooner than this line's answers come, that makes the rest
        // careful; in their time, it is weighed only by reads careful anyway
        // (a healthy module with equal registers looks the same).
        if (m_results[i].ok() && m_reads[i].tookEarly)
            owe(m_reads[i].takenSentUs, readUnit(m_reads[i].ask.pair, m_reads[i].ask.reg));
        else if (m_results[i].ok() && m_reads[i].tookRepeat)
            oweOnTrust(m_reads[i].takenSentUs, readUnit(m_reads[i].ask.pair, m_reads[i].ask.reg));
    }
    m_atRiskFrom = -1;
    m_phase = Phase::Idle;
    m_current = int(m_reads.size()); // nothing more of the first pass
    advance();
    if (m_phase == Phase::Balance)
        m_phase = Phase::Done;
}

// ---------------------------------------------------------------------------
// Quiet waits

qint64 Judge::Listen::endUs() const
{
    const qint64 quietFrom = lastByteUs >= 0 ? lastByteUs : startUs;
    return std::max(quietFrom + quietUs, coverUntilUs);
}

void Judge::startListen(Phase phase, qint64 nowUs, int quietMs, qint64 coverUntilUs)
{
    m_listen = Listen{};
    m_listen.startUs = nowUs;
    m_listen.quietUs = qint64(quietMs) * kUsPerMs;
    m_listen.coverUntilUs = coverUntilUs;
    m_phase = phase;
}

bool Judge::listenOver(qint64 nowUs, Step *step)
{
    const qint64 end = m_listen.endUs();
    const qint64 limit = m_listen.limitUs();
    if (end <= limit && nowUs >= end)
        return true;
    if (nowUs >= limit) {
        // A line that never goes quiet ends the operation; its bytes are
        // shown for what they were.
        stray(m_listen.heard, m_listen.firstByteUs);
        fail(LinkError::Kind::Noisy, kQuietLimitMs);
        step->what = Do::Fail;
        step->failure = m_failure;
        step->number = m_failureNumber;
        return false;
    }
    step->what = Do::Wait;
    step->untilUs = std::min(end, limit);
    step->needed = 1;
    return false;
}

Judge::Quiet Judge::settleQuiet() const
{
    Quiet q;
    const int guard = m_config.guardMs;
    // Once the module was heard answering late, the line must stay quiet
    // longer (up to a quarter of the quiet limit), and the wait lasts until
    // half again that lateness after the failed request, and the answer's own
    // length: its backlog of answers comes off the line there. A bus scan's
    // fixed guard ignores lateness: each request goes to another address.
    const bool late = m_lateMs > 0 && !m_config.scan;
    const int lateQuiet = std::min(m_lateMs, kQuietLimitMs / 4);
    // A line that repeats answers sends the copies as far apart as heard.
    const int repeatMs = std::min(m_repeatLagMs * 3 / 2, kQuietLimitMs / 4);
    q.quietMs = std::max(repeatMs, late ? std::max(guard, lateQuiet) : guard);
    if (late)
        q.coverMs = std::min<qint64>(qint64(m_lateMs) * 3 / 2 + longestAnswerMs(m_config.speed),
                                     qint64(m_config.timeoutMs) + kQuietLimitMs / 2);
    return q;
}

int Judge::afterAnswerQuietMs() const
{
    // Long enough for a module that fell behind to show its queued answers,
    // and, where an answer may be owed or the line repeats, for any copy of
    // this one to come in it, not in the next read's wait: two answers then
    // agree only when the second is not the first again.
    const int copies = careful() || m_repeating ? m_config.repeatLagLimitMs : 0;
    return std::max({kAfterAnswerQuietMs, longestAnswerMs(m_config.speed), copies});
}

int Judge::answersNeeded(int sources) const
{
    // Each source may bring one answer with this value: the answers in a row
    // that agree must outnumber them.
    return std::max(2, sources + 1);
}

qint64 Judge::horizonUs() const
{
    // An answer held as long as a line may hold one, and a copy of it, may
    // come until this long after its request.
    return qint64(m_config.timeoutMs + kQuietLimitMs + m_config.repeatLagLimitMs) * kUsPerMs;
}

void Judge::owe(const Exchange &x)
{
    if (x.request.size() >= 4)
        owe(x.sentUs, x.request.mid(1, x.request.size() - 3));
}

void Judge::owe(qint64 sentUs, const QByteArray &unit)
{
    if (sentUs < 0 || !rtu() || unit.size() < 3)
        return;
    const auto same = [sentUs](const Owed &o) { return o.sentUs == sentUs; };
    const auto found = std::find_if(m_owed.begin(), m_owed.end(), same);
    if (found != m_owed.end()) {
        found->onTrust = false;
        return;
    }
    const quint16 reg = quint16(quint8(unit[1]) << 8 | quint8(unit[2]));
    m_owed.append({sentUs, answerUnitLength(unit), reg, quint8(unit[0])});
    if (m_owed.size() > 256)
        m_owed.removeFirst();
}

void Judge::oweOnTrust(qint64 sentUs, const QByteArray &unit)
{
    const auto same = [sentUs](const Owed &o) { return o.sentUs == sentUs; };
    if (std::any_of(m_owed.begin(), m_owed.end(), same))
        return;
    owe(sentUs, unit);
    if (!m_owed.isEmpty() && m_owed.last().sentUs == sentUs)
        m_owed.last().onTrust = true;
}

void Judge::release(qint64 sentUs)
{
    m_owed.erase(std::remove_if(m_owed.begin(), m_owed.end(), [sentUs](const Owed &o) { return o.sentUs == sentUs; }),
                 m_owed.end());
}

bool Judge::careful() const
{
    if (!rtu() || m_config.scan)
        return false;
    const qint64 horizon = horizonUs();
    return std::any_of(m_owed.begin(), m_owed.end(),
                       [&](const Owed &o) { return !o.onTrust && o.sentUs + horizon > m_nowUs; });
}

QVector<Judge::Source> Judge::sourcesFor(const Ask &read) const
{
    return sourcesFor(read, m_nowUs);
}

QVector<Judge::Source> Judge::sourcesFor(const Ask &read, qint64 atUs) const
{
    // What could still bring an answer that fits this read but is not its
    // register's: a request for another register that may still owe its
    // answer, and an answer heard lately, which the line may send again.
    QVector<Source> out;
    const QByteArray unit = readUnit(read.pair, read.reg);
    const int length = answerUnitLength(unit);
    const qint64 horizon = horizonUs();
    for (const Owed &o : m_owed) {
        // Requests for this register too: a late answer of an earlier one
        // carries the value it had then, and two of them agree as well.
        if (o.function != 3 || o.length != length || o.sentUs + horizon <= atUs || o.sentUs >= atUs)
            continue;
        // An earlier request for this very register counts only when a write
        // to it went out after it: its late answer then carries what the
        // register held before the write. Without one, it carries a value
        // the register held this operation, as a fresh answer would.
        if (o.reg == read.reg && !writtenSince(read, o.sentUs))
            continue;
        // What is known of its register now is not what it held before a
        // write to it.
        const Ask theirs{o.reg, length == 5};
        auto known = m_known.constFind(quint32(o.reg) << 1 | (length == 5 ? 1 : 0));
        if (writtenSince(theirs, o.sentUs))
            known = m_known.constEnd();
        out.append({known != m_known.constEnd(), known != m_known.constEnd() ? *known : 0, o.sentUs + horizon});
    }
    const qint64 copies = qint64(m_config.repeatLagLimitMs) * kUsPerMs;
    for (const Heard &h : m_heard) {
        if (h.frame.size() == length + 4 - 1 && h.atUs + copies > atUs && h.atUs <= atUs)
            out.append({true, unitValue(h.frame.mid(1, h.frame.size() - 3), length == 5), h.atUs + copies});
    }
    return out;
}

bool Judge::writtenSince(const Ask &read, qint64 sinceUs) const
{
    const auto after = [&](quint16 reg) { return m_writtenUs.value(reg, -1) > sinceUs; };
    return after(read.reg) || (read.pair && after(quint16(read.reg + 1)));
}

int Judge::Source::count(const QVector<Source> &sources, quint32 value)
{
    return int(std::count_if(sources.begin(), sources.end(),
                             [value](const Source &s) { return !s.known || s.value == value; }));
}

qint64 Judge::sourcesClearUs(const Ask &read, quint32 value, int allowed) const
{
    // Until at most `allowed` of them can bring this value (or any, when the
    // value is yet to come).
    QVector<qint64> ends;
    for (const Source &src : sourcesFor(read)) {
        if (!src.known || src.value == value)
            ends << src.untilUs;
    }
    if (ends.size() <= allowed)
        return -1;
    std::sort(ends.begin(), ends.end());
    return ends[ends.size() - 1 - allowed];
}

void Judge::noteAnswerTime(int length, qint64 us)
{
    Band &b = band(length);
    if (b.count++ == 0) {
        b.loUs = b.hiUs = us;
    } else {
        b.loUs = std::min(b.loUs, us);
        b.hiUs = std::max(b.hiUs, us);
    }
}

bool Judge::inBand(int length, qint64 us) const
{
    // Answers of one shape take about as long on one line: a little jitter,
    // and a quarter of the longest.
    const Band &b = band(length);
    if (b.count == 0)
        return false;
    // Only the late side: the first answers of an operation on a fresh port
    // come slower than the rest, and an answer sooner than any before is
    // not told from its own by that alone.
    const qint64 margin = std::max<qint64>(qint64(kLateMarginMs) * kUsPerMs, b.hiUs / 4);
    return us <= b.hiUs + margin;
}

bool Judge::early(int length, qint64 us) const
{
    const Band &b = band(length);
    if (b.count == 0)
        return true;
    const qint64 margin = std::max<qint64>(qint64(kBandMarginMs) * kUsPerMs, b.loUs / 4);
    return us < b.loUs - margin;
}

qint64 Judge::balanceWindowUs() const
{
    // An answer still on its way comes about as long after its request as
    // the answers of this operation took, and a little more.
    return m_longestAnswerUs + std::max<qint64>(500, m_longestAnswerUs / 4);
}

// ---------------------------------------------------------------------------
// Answers beyond those asked for

bool Judge::heardBefore(const QByteArray &frame, qint64 againUs, bool recentOnly)
{
    int back = 0;
    for (auto it = m_heard.crbegin(); it != m_heard.crend(); ++it, ++back) {
        // A copy comes within the longest lag of its original: the same bytes
        // heard longer ago are another register's equal answer.
        if (recentOnly && m_nowUs - it->atUs > qint64(m_config.repeatLagLimitMs + kBandMarginMs) * kUsPerMs)
            break;
        if (it->frame == frame) {
            // The same bytes heard long or several answers ago are another
            // register's equal answer, not this copy's original: they tell no
            // lag.
            const qint64 lagUs = againUs - it->atUs;
            if (againUs >= 0 && lagUs <= qint64(m_config.repeatLagLimitMs) * kUsPerMs && back < 4)
                m_repeatLagMs = std::max(int(lagUs / kUsPerMs), m_repeatLagMs);
            return true;
        }
    }
    return false;
}

void Judge::note(const QByteArray &frame, qint64 atUs)
{
    if (m_heard.size() >= 64)
        m_heard.removeFirst();
    m_heard.append({frame, atUs});
}

void Judge::noteLate(qint64 us)
{
    if (us > 0)
        m_lateMs = std::max(m_lateMs, int(std::min<qint64>(us / kUsPerMs, 3600 * 1000)));
}

bool Judge::unexplained(const QByteArray &bytes, qint64 arrivedUs, const QByteArray &own)
{
    if (bytes.isEmpty() || !rtu() || m_config.address == 0)
        return false;
    bool ownSeen = own.isEmpty(); // one answer that fits `own` is its own, however late
    bool extra = false;
    for (const QByteArray &answer : answersIn(bytes, m_config.address)) {
        if (!ownSeen && (judge(answer, own).valid() || isExceptionAnswer(answer, own))) {
            ownSeen = true;
            note(answer, arrivedUs);
            continue;
        }
        // An answer more than asked for: a repetition, or the answer of a
        // request whose place a repetition took.
        heardBefore(answer, arrivedUs);
        note(answer, arrivedUs); // the next copy's original may be this one
        extra = true;
    }
    if (!extra)
        return false;
    // Once an answer went missing, an answer heard again may be a late one of
    // the same register read again: lateness, not repetition.
    if (!m_silenceSeen)
        m_repeating = true;
    // The line sends what nobody asked for: what was held on trust is owed.
    for (Owed &o : m_owed)
        o.onTrust = false;
    if (m_atRiskFrom < 0 || m_writing)
        return false;
    // A read took an answer heard before, and now an answer comes that no
    // request explains: that read may have taken a repetition, and each read
    // after it the answer of the one before. None of them holds, and their own
    // answers may still be on the way.
    revokeFrom(m_atRiskFrom);
    m_atRiskFrom = -1;
    return true;
}

void Judge::revokeFrom(int read)
{
    // The read under way took what it took beside answers now in doubt: it
    // is read again too.
    if (!m_writing && m_current >= read && m_current >= m_results.size())
        m_revokeCurrent = true;
    for (int i = read; i < m_results.size() && i < m_reads.size(); ++i) {
        if (!m_results[i].ok())
            continue;
        m_results[i] = {{Outcome::Repeated}, 0};
        m_reads[i].revoked = true;
        m_known.remove(quint32(m_reads[i].ask.reg) << 1 | (m_reads[i].ask.pair ? 1 : 0));
        // Its own answer may have been displaced, and still be on its way.
        owe(m_reads[i].takenSentUs, readUnit(m_reads[i].ask.pair, m_reads[i].ask.reg));
        for (const quint64 id : m_reads[i].validRows)
            mark(id, {Outcome::Repeated});
    }
}

// ---------------------------------------------------------------------------
// What the monitor shows

void Judge::row(const Exchange &x, Verdict verdict)
{
    Event e;
    e.kind = Event::Row;
    e.id = x.id;
    e.read = m_writing ? -1 : m_current;
    e.request = x.request;
    e.bytes = x.received;
    e.verdict = verdict;
    e.sentUs = x.sentUs;
    e.elapsedUs = std::max<qint64>(0, x.endUs - x.sentUs);
    m_events.append(e);
    if (!m_writing && m_current >= 0 && verdict.valid())
        m_reads[m_current].validRows << x.id;
}

void Judge::mark(quint64 id, Verdict verdict)
{
    if (id == 0)
        return;
    Event e;
    e.kind = Event::Mark;
    e.id = id;
    e.verdict = verdict;
    m_events.append(e);
}

void Judge::stray(const QByteArray &bytes, qint64 atUs)
{
    if (bytes.isEmpty())
        return;
    Event e;
    e.kind = Event::Stray;
    // A row keeps no more of a flood than an exchange does.
    e.bytes = bytes.left(ReceiveRule::kFloodBytes);
    e.sentUs = atUs;
    m_events.append(e);
}

void Judge::fail(LinkError::Kind kind, int number)
{
    m_failure = kind;
    m_failureNumber = number;
    cut({kind == LinkError::Kind::Flooded ? Outcome::Flooded : Outcome::Aborted}, m_nowUs);
    m_phase = Phase::Failed;
}

} // namespace hv52
