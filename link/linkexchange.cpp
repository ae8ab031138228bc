// One exchange of the link on the line: the request out (a read sent ahead
// included), its answer awaited off the event loop or in it under the
// response timer, judged, and after a failure the quiet wait that keeps a
// late answer from passing for the next one.
#include "link.h"

#include "frames.h"
#include "linkerror.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaMethod>

namespace hv52 {

void Link::exchange(const QByteArray &frame)
{
    // A read sent ahead that nobody claimed is seen to its end first: its
    // answer is shown as what it was, and cannot pass for this one's.
    if (m_ahead.inFlight()) {
        m_ahead.forget();
        claimAhead();
    }
    send(frame, false);
    awaitAnswer();
}

bool Link::send(const QByteArray &frame, bool ahead)
{
    m_x.prepare(frame);
    if (m_portError)
        throw *m_portError;
    if (!isPortOpen())
        throw LinkError(LinkError::Kind::LineNotOpen, place());

    if (m_settle) {
        stray(settleLine().heard);
        if (m_portError)
            throw *m_portError; // the port failed while the line settled
    }
    // Waits kept off the event loop: its events (a repaint, Esc, a closed
    // window) are taken here, between two exchanges, at least as often as
    // the application asked.
    if (!ahead && m_eventsEveryMs > 0 && (!m_sinceEvents.isValid() || m_sinceEvents.elapsed() >= m_eventsEveryMs)) {
        QCoreApplication::processEvents();
        m_sinceEvents.start();
        if (m_aborted)
            abandon();
        if (m_portError)
            throw *m_portError;
    }
    // Stale bytes of an earlier exchange, or garbage from an adapter that was
    // just opened, must not be taken for this answer.
    bool held = m_line->takeStray();
    if (m_portError)
        throw *m_portError; // taking them in found the port gone
    QByteArray stale = m_line->readAll();
    const bool revoking = unexplained(stale, m_runClock.elapsed());
    if (ahead)
        m_ahead.keepStray(stale); // shown after the exchange that it followed
    else
        stray(stale);
    if (revoking) {
        // An answer came that no request asked for, after a read that may
        // have taken a repetition: the line must be quiet before a request.
        if (ahead)
            return false;
        stray(settleLine().heard);
        if (m_portError)
            throw *m_portError;
        held = true;
    }
    if (held || !stale.isEmpty())
        m_line->clear();
    m_x.arm(m_line->framing());
    // Wake once the shortest answer (an exception answer) could be in, not at
    // every byte.
    m_line->expect(m_x.needed());
    m_state = Waiting;
    m_verdict = {};

    const bool recording = isSignalConnected(QMetaMethod::fromSignal(&Link::exchanged));
    // The time of day from the operation's clock: cheaper than the clock's.
    m_x.begin(recording, recording ? m_runStartedAt.addMSecs(int(m_runClock.elapsed())) : QTime(), m_late.unsure(),
              m_lastSentMs);
    m_lastSentMs = m_runClock.elapsed();
    if (!m_line->write(frame)) {
        const LinkError failure = m_portError         ? *m_portError
                                  : m_line->failure() ? *m_line->failure()
                                                      : LinkError(QString());
        closePort();
        throw failure;
    }
    ++m_requestsSent;
    emit requestSent(frame);
    m_x.sentOut();
    return true;
}

void Link::awaitAnswer()
{
    try {
        if (!waitOffLoop()) {
            // The response time runs from the request. The timer is started
            // only here: most answers come within the wait off the loop, and
            // a timer registered and dropped on every exchange would delay
            // the next request.
            Timer1.start(int(std::max<qint64>(0, responseTimeout() - m_x.elapsedMs())));
            QEventLoop loop;
            waitIn(loop);
        }
        if (m_state == Waiting)
            abandon();
    } catch (...) {
        if (m_x.recording())
            record(m_x.row(m_x.elapsedUs(), {m_aborted ? Outcome::Aborted : Outcome::PortError}));
        m_settle = true;
        throw;
    }
    const qint64 elapsedUs = m_x.elapsedUs();
    if (m_line->framing() == Framing::Mbap) {
        // Another transaction's answer on Modbus TCP: an earlier request's, late.
        const QByteArray refused = m_x.dropped();
        if (m_verdict.outcome == Outcome::Flooded) {
            // Frames of other transactions without end: no backlog of late
            // answers is that long, and the next request would drown too.
            if (m_x.recording())
                record(m_x.row(elapsedUs, m_verdict));
            m_settle = true;
            throw LinkError(LinkError::Kind::Flooded, place().withNumber(ReceiveRule::kFloodBytes));
        }
        // It came at the latest by now, after the request it answered.
        if (!refused.isEmpty())
            m_late.noteLate(m_runClock.elapsed() - m_x.previousSentMs());
        if (m_verdict.valid()) {
            m_answerAtMs = m_runClock.elapsed();
            answered(m_x.recording(), elapsedUs, refused);
            return;
        }
        if (m_x.recording())
            record(m_x.row(elapsedUs, m_verdict));
        stray(refused);
        return; // no quiet wait: the identifier pairs answers with requests
    }
    if (m_verdict.valid()) {
        m_answerAtMs = m_runClock.elapsed();
        answered(m_x.recording(), elapsedUs, {});
        return;
    }
    judgeFailure(elapsedUs);
}

void Link::judgeFailure(qint64 elapsedUs)
{
    // A failed exchange: the line must go quiet before anything else is
    // sent, and what it brings meanwhile tells whether the module is late.
    // An intact refusal, or our answer with stray bytes after it, answered
    // this request: nothing is owed, the reads after it need no second read.
    const QByteArray frame = m_x.request();
    const bool anotherAfter = isAnotherAnswer(m_x.received().mid(answerLength(frame)), frame);
    const bool answered =
        m_verdict.outcome == Outcome::Exception || (m_verdict.outcome == Outcome::TooLong && !anotherAfter);
    const bool wasUnsure = m_late.unsure();
    if (!answered)
        m_late.setUnsure(true);
    // Whole answers of ours heard before, byte for byte: the line repeats
    // answers, which tells nothing of lateness.
    const quint8 address = quint8(m_settings.address);
    // One answer that fits the request is its own, whatever it says (the
    // same refusal every time, or its answer with noise after it).
    const auto anyHeardBefore = [this, address, &frame](const QByteArray &bytes) {
        const QVector<QByteArray> answers = answersIn(bytes, address);
        if (answers.size() == 1 && (judge(answers[0], frame).valid() || isExceptionAnswer(answers[0], frame)))
            return false;
        return std::any_of(answers.begin(), answers.end(),
                           [this](const QByteArray &a) { return m_late.heardBefore(a); });
    };
    if (m_x.afterFailure() && (m_late.silenceSeen() || !anyHeardBefore(m_x.received()))
        && isOtherRequestsAnswer(m_x.received(), frame)) {
        // Just after a failed exchange, a whole answer of ours that fits
        // another request: the failed one's, this late.
        m_late.noteLate(m_runClock.elapsed() - m_x.previousSentMs());
    }
    Settled settled;
    try {
        settled = settleLine();
    } catch (...) {
        if (m_x.recording())
            record(m_x.row(elapsedUs, m_verdict));
        throw;
    }
    // Bytes after the response time ran out: the module answers late.
    if (m_x.timedOut() && settled.firstByteMs >= 0)
        m_late.noteLate(settled.firstByteMs);
    // What came and what followed: answers beyond this request's own revoke
    // the reads a repetition may have spoiled.
    const QByteArray all = m_x.received() + settled.heard;
    const bool repeated = !m_late.silenceSeen() && anyHeardBefore(all);
    unexplained(all, m_lastSentMs + elapsedUs / 1000, frame);
    if (repeated) {
        verdictIs({Outcome::Repeated});
        // Its own answer came among the repetitions: nothing is owed.
        const QVector<QByteArray> answers = answersIn(all, address);
        if (std::any_of(answers.begin(), answers.end(),
                        [&frame](const QByteArray &a) { return judge(a, frame).valid(); }))
            m_late.setUnsure(wasUnsure);
    } else if (m_late.spoiledByLateness(m_verdict, anotherAfter)) {
        // Two answers back to back, one an earlier request's: it came after
        // this request went out, so at least that long after its own.
        if (m_verdict.outcome == Outcome::TooLong && m_x.previousSentMs() > 0)
            m_late.noteLate(m_lastSentMs - m_x.previousSentMs());
        verdictIs({Outcome::Late});
    }
    if (m_x.recording())
        record(m_x.row(elapsedUs, m_verdict));
    stray(settled.heard);
}

void Link::answered(bool recording, qint64 elapsedUs, const QByteArray &refused)
{
    // The answer is whole and valid: the read the caller makes next goes out
    // now, before this one is handed back, shown and recorded; the module
    // turns round meanwhile. What is shown of this exchange is kept first.
    m_answerUnit = m_x.answerUnit();
    m_answerFrame = m_x.received();
    const ExchangeRecord done = m_x.row(elapsedUs, m_verdict);
    const Verdict verdict = m_verdict;
    const bool read = !m_answerUnit.isEmpty() && quint8(m_answerUnit[0]) == 3;
    m_late.noteAnswerTime(elapsedUs);
    if (m_line->framing() == Framing::Rtu) {
        // A read not confirmed by a second one that takes an answer heard
        // before may have taken its repetition: it and the reads after it
        // hold only while no answer beyond those asked for comes.
        m_answerRepeats = m_late.heardBefore(m_answerFrame);
        m_late.provisional(m_serial, read && m_answerRepeats, m_x.afterFailure());
        m_late.heard(m_answerFrame, m_runClock.elapsed());
    }
    if (read && sendAhead(unitValue(m_answerUnit, m_answerUnit.size() >= 6))) {
        // The state the caller reads is this exchange's, not the one in flight.
        m_verdict = verdict;
        m_state = Valid;
    }
    if (recording)
        record(done);
    stray(refused);
    stray(m_ahead.takeStray()); // found before the read sent ahead, after this answer
}

bool Link::sendAhead(quint32 value)
{
    // Only on a line that has been healthy throughout the operation (after a
    // failure each read waits its turn and may be read again), and only when
    // the application's events are not due: they are taken before a request,
    // and may stop the operation.
    const bool lineAllows =
        !(m_late.unsure() || m_settle || m_late.repeating() || m_aborted || m_portError || !isPortOpen()
          || m_eventsEveryMs <= 0 || !m_sinceEvents.isValid() || m_sinceEvents.elapsed() >= m_eventsEveryMs);
    ReadAhead::Read next;
    if (!m_ahead.take(value, lineAllows, &next))
        return false;
    m_ahead.sent(next);
    try {
        if (!send(frameOf(readUnit(next.pair, next.reg)), true)) {
            m_ahead.unsent(); // the line brought more than was asked: the next read waits its turn
            return false;
        }
    } catch (...) {
        // The read just done stands; the next one reports why it failed.
        m_ahead.failed(std::current_exception());
    }
    return true;
}

void Link::dropAhead()
{
    // A read sent ahead that the operation ended without claiming: it went
    // out, so it is shown, as ended before its answer was taken.
    if (!m_ahead.drop())
        return;
    m_x.cut();
    Timer1.stop();
    if (!m_ahead.failedToSend() && m_x.recording())
        record(m_x.row(m_x.elapsedUs(), {Outcome::Aborted}));
    m_ahead.failed(nullptr);
    stray(m_ahead.takeStray());
}

void Link::claimAhead()
{
    m_ahead.claim();
    awaitAnswer();
}

void Link::finish(Verdict verdict)
{
    Timer1.stop();
    verdictIs(verdict);
    if (m_loop)
        m_loop->quit();
}

void Link::verdictIs(Verdict verdict)
{
    m_verdict = verdict;
    m_state = stateOf(verdict.outcome);
}

void Link::MSComm1_OnComm()
{
    if (!m_x.awaiting())
        return; // left for the flush before the next request
    emit bytesArrived();
    if (m_x.take(m_line->readAll()))
        finish(m_x.verdict());
    else
        m_line->expect(m_x.needed());
}

void Link::Timer1_Timer()
{
    if (!m_x.awaiting()) {
        Timer1.stop();
        return;
    }
    // Bytes not yet handed over (fewer than the answer still needed) come in
    // now; they may even complete it.
    m_line->pull();
    if (!m_x.awaiting())
        return;
    m_late.noteSilence();
    finish(m_x.expire(m_line->readAll()));
}

void Link::onLineFailed(const LinkError &reason)
{
    // The port failed or the peer closed the connection: the operation ends
    // with the transport's own reason.
    m_portError = reason;
    closePort();
    Timer1.stop();
    m_x.cut();
    if (m_loop)
        m_loop->quit();
}

bool Link::waitOffLoop()
{
    // Most answers come long before the response time runs out. Waiting for
    // them on the line itself, for as long as the application may go without
    // its event loop, spares the loop's round trip on each exchange; an
    // answer that takes longer is awaited in the loop as before.
    if (m_eventsEveryMs <= 0)
        return false;
    // The application's events get their turn between exchanges (see
    // exchange()), so one wait may take longer than that cadence: up to a
    // tenth of a second, beyond which a press would be felt to lag.
    const qint64 budget = std::min<qint64>(std::max<qint64>(m_eventsEveryMs, kOffLoopMs), responseTimeout() - 1);
    if (budget <= 0)
        return false;
    QDeadlineTimer deadline(budget, Qt::PreciseTimer);
    while (m_x.awaiting()) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || !m_line->waitForBytes(int(left)))
            break;
    }
    if (m_x.awaiting())
        return false;
    if (m_aborted)
        abandon();
    if (m_portError)
        throw *m_portError; // onLineFailed has closed the line
    return true;
}

void Link::waitIn(QEventLoop &loop)
{
    // A local event loop keeps the window live and costs no CPU while the
    // line is quiet; the receive and timer handlers quit it.
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
    m_sinceEvents.start();
    if (m_aborted)
        abandon();
    if (m_portError)
        throw *m_portError; // onLineFailed has closed the line
}

void Link::abandon()
{
    // Ended by abort(), or by nothing at all (neither answer, timeout nor
    // port error): the window closed or the application is quitting.
    m_aborted = true;
    Timer1.stop();
    m_x.cut();
    closePort();
    throw Aborted();
}

Link::Settled Link::settleLine(int quietOverrideMs)
{
    // Modbus RTU answers carry no request number: a late answer to the
    // request that just failed would pass for the next one of the same shape.
    // Wait until the line has been quiet for the guard time, dropping what
    // comes meanwhile. Once the module was heard answering late, the wait
    // also covers that lateness (half again, and the answer's own length),
    // counted from the failed request.
    Settled settled;
    QEventLoop loop;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setTimerType(Qt::PreciseTimer);
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    bool noisy = false;
    bool done = false;
    const int guard = guardMs();
    const LatePolicy::Quiet wait =
        m_late.quietWait(guard, m_guardMs >= 0, quietOverrideMs, m_settings.given >= 3 ? m_settings.speed : 0);
    const int quietMs = wait.quietMs;
    const qint64 coverUntil = wait.coverUntil;
    // What a line in flood sends is not kept, and the wait ends once it is
    // far more than any backlog of answers could be.
    qint64 heardBytes = 0;
    bool flooded = false;
    const auto take = [&] {
        const QByteArray bytes = m_line->readAll();
        if (bytes.isEmpty())
            return false;
        if (settled.firstByteMs < 0)
            settled.firstByteMs = m_x.elapsedMs();
        heardBytes += bytes.size();
        if (settled.heard.size() < ReceiveRule::kFloodBytes)
            settled.heard += bytes.left(ReceiveRule::kFloodBytes - settled.heard.size());
        if (heardBytes > ReceiveRule::kFloodBytes) {
            flooded = true;
            loop.quit();
        }
        return true;
    };
    const auto restart = [&] { quiet.start(int(std::max<qint64>(quietMs, coverUntil - m_x.elapsedMs()))); };
    connect(&quiet, &QTimer::timeout, &loop, [&] {
        done = true;
        loop.quit();
    });
    connect(&limit, &QTimer::timeout, &loop, [&] {
        noisy = true;
        loop.quit();
    });
    m_line->expect(1); // every byte restarts the quiet time
    const auto arrived = connect(m_line.get(), &Transport::readyRead, &loop, [&] {
        take();
        restart();
    });
    take();
    const int limitMs = wait.limitMs;
    if (!flooded) {
        restart();
        limit.start(limitMs);
        waitIn(loop);
    }
    disconnect(arrived);
    if (flooded) {
        stray(settled.heard);
        throw LinkError(LinkError::Kind::Flooded, place().withNumber(ReceiveRule::kFloodBytes));
    }
    if (!done && !noisy)
        abandon();
    if (noisy) {
        stray(settled.heard);
        LinkError::Fields noise = place().withNumber(limitMs);
        noise.quietMs = guard;
        throw LinkError(LinkError::Kind::Noisy, noise);
    }
    m_settle = false;
    return settled;
}

} // namespace hv52
