// The link as the judge's driver: it takes in what the line holds, sends,
// waits off the event loop or in it under the response timer, and tells the
// judge what came and when; the judge says what to do next and what counts.
#include "link.h"

#include "frames.h"
#include "linkerror.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaMethod>

namespace hv52 {

void Link::drive(QVector<ReadResult> *results, const SeriesHooks *hooks)
{
    m_recording = isSignalConnected(QMetaMethod::fromSignal(&Link::exchanged));
    // A read that has a value for now, not yet handed to the caller: handed
    // once the read after it went out ahead, or at once.
    int pending = -1;
    const auto hand = [&] {
        if (pending < 0)
            return;
        const int read = pending;
        pending = -1;
        if (hooks && hooks->each) {
            const Judge::Read &r = m_judge.results()[read];
            hooks->each(read, {r.verdict, r.value});
        }
    };
    try {
        for (;;) {
            const Judge::Step step = m_judge.next(nowUs());
            takeEvents();
            switch (step.what) {
            case Judge::Do::Flush:
                flush(pending >= 0);
                break;
            case Judge::Do::Send:
                send(step.frame, step.needed);
                hand(); // the read before goes to the caller while the module turns round
                break;
            case Judge::Do::Wait:
                hand();
                waitBytes(step.untilUs, step.needed, step.forAnswer);
                break;
            case Judge::Do::Answered: {
                hand();
                const Judge::Read &r = m_judge.results()[step.read];
                const bool goOn = !hooks || !hooks->goOn || hooks->goOn(step.read, {r.verdict, r.value});
                if (!goOn)
                    m_judge.stopSeries();
                pending = step.read;
                // The next read goes out before this value is handed back, on a
                // line healthy so far and when the application's events are not
                // due: they are taken before a request, and may stop it.
                if (!goOn || !step.sendsNext || !r.ok() || (hooks && !hooks->ahead) || m_eventsEveryMs <= 0
                    || eventsDue())
                    hand();
                break;
            }
            case Judge::Do::Done:
                hand();
                takeEvents();
                finalResults(results);
                return;
            case Judge::Do::Fail: {
                takeEvents();
                finalResults(results);
                LinkError::Fields fields = place().withNumber(step.number);
                if (step.failure == LinkError::Kind::Noisy)
                    fields.quietMs = guardMs();
                throw LinkError(step.failure, fields);
            }
            }
        }
    } catch (...) {
        // Stopped, the port lost, or the caller's own stop: what is sure so
        // far is final, and the exchange in flight is shown as ended.
        m_judge.cut({m_portError || m_lineBroke ? Outcome::PortError : Outcome::Aborted}, nowUs());
        takeEvents();
        finalResults(results);
        Timer1.stop();
        throw;
    }
}

void Link::finalResults(QVector<ReadResult> *results) const
{
    if (!results)
        return;
    results->clear();
    for (const Judge::Read &r : m_judge.results())
        results->append({r.verdict, r.value});
}

void Link::takeEvents()
{
    if (!m_judge.hasEvents())
        return;
    const Framing framing = m_line ? m_line->framing() : Framing::Rtu;
    for (const Judge::Event &e : m_judge.takeEvents()) {
        switch (e.kind) {
        case Judge::Event::Row:
            if (m_recording) {
                // The time of day from the operation's clock: cheaper than the clock's.
                ExchangeRecord r;
                r.sentAt = m_runStartedAt.addMSecs(int((e.sentUs - m_runStartUs) / 1000));
                r.elapsedUs = e.elapsedUs;
                r.request = e.request;
                r.answer = e.bytes;
                r.verdict = e.verdict;
                r.framing = framing;
                r.id = e.id;
                emit exchanged(r);
            }
            break;
        case Judge::Event::Stray:
            emit strayBytes(e.bytes);
            break;
        case Judge::Event::Mark:
            emit exchangeRevised(e.id, e.verdict);
            break;
        }
    }
}

bool Link::eventsDue() const
{
    return !m_sinceEvents.isValid() || m_sinceEvents.elapsed() >= m_eventsEveryMs;
}

void Link::flush(bool ahead)
{
    if (m_portError)
        throw *m_portError;
    if (!isPortOpen())
        throw LinkError(LinkError::Kind::LineNotOpen, place());
    // Waits kept off the event loop: its events (a repaint, Esc, a closed
    // window) are taken here, between two exchanges, at least as often as
    // the application asked.
    if (!ahead && m_eventsEveryMs > 0 && eventsDue()) {
        QCoreApplication::processEvents();
        m_sinceEvents.start();
        if (m_aborted)
            abandon();
        if (m_portError)
            throw *m_portError;
    }
    // Stale bytes of an earlier exchange, or garbage from an adapter that was
    // just opened, must not be taken for this answer.
    const bool held = m_line->takeStray();
    if (m_portError)
        throw *m_portError; // taking them in found the port gone
    const QByteArray stale = m_line->readAll();
    if (held || !stale.isEmpty())
        m_line->clear();
    m_judge.flushed(stale, nowUs());
}

void Link::send(const QByteArray &frame, int needed)
{
    // Wake once the shortest answer (an exception answer) could be in, not at
    // every byte.
    m_line->expect(needed);
    if (!m_line->write(frame)) {
        const LinkError failure = m_portError         ? *m_portError
                                  : m_line->failure() ? *m_line->failure()
                                                      : LinkError(QString());
        m_lineBroke = true;
        closePort();
        throw failure;
    }
    m_judge.sent(nowUs());
    ++m_requestsSent;
    emit requestSent(frame);
}

void Link::waitBytes(qint64 untilUs, int needed, bool forAnswer)
{
    // Whatever the line brings until then is the judge's; it may ask again.
    // An answer is awaited off the event loop first; a quiet line in it, as
    // the end of an answer's wait: the application's events (a stop, a
    // closed window, the port's own troubles) get their turn then.
    m_line->expect(needed);
    m_waiting = true;
    m_heard = false;
    const auto done = qScopeGuard([this] { m_waiting = false; });
    if (!(forAnswer && waitOffLoop(untilUs)) && !m_heard) {
        // The wait runs to its end in the event loop. The timer is started
        // only here: most answers come within the wait off the loop, and a
        // timer registered and dropped on every exchange would delay the
        // next request.
        const qint64 leftUs = untilUs - nowUs();
        if (leftUs > 0) {
            Timer1.start(int((leftUs + 999) / 1000));
            QEventLoop loop;
            waitIn(loop);
            Timer1.stop();
        } else {
            Timer1_Timer();
        }
    }
    if (m_aborted)
        abandon();
    if (m_portError)
        throw *m_portError; // onLineFailed has closed the line
}

void Link::MSComm1_OnComm()
{
    if (!m_waiting)
        return; // left for the flush before the next request
    emit bytesArrived();
    const QByteArray bytes = m_line->readAll();
    if (bytes.isEmpty())
        return;
    m_judge.heard(bytes, nowUs());
    m_heard = true;
    if (m_loop)
        m_loop->quit();
}

void Link::Timer1_Timer()
{
    Timer1.stop();
    if (!m_waiting)
        return;
    // Bytes not yet handed over (fewer than the wait asked for) come in now.
    m_line->pull();
    if (!m_heard) {
        const QByteArray bytes = m_line->readAll();
        if (!bytes.isEmpty()) {
            m_judge.heard(bytes, nowUs());
            m_heard = true;
        }
    }
    if (m_loop)
        m_loop->quit();
}

void Link::onLineFailed(const LinkError &reason)
{
    // The port failed or the peer closed the connection: the operation ends
    // with the transport's own reason.
    m_portError = reason;
    closePort();
    Timer1.stop();
    if (m_loop)
        m_loop->quit();
}

bool Link::waitOffLoop(qint64 untilUs)
{
    // Most answers come long before the response time runs out. Waiting for
    // them on the line itself, for as long as the application may go without
    // its event loop, spares the loop's round trip on each exchange; an
    // answer that takes longer is awaited in the loop as before. True when
    // the wait reached its end off the loop.
    if (m_eventsEveryMs <= 0)
        return false;
    // The application's events get their turn between exchanges (see
    // flush()), so one wait may take longer than that cadence: up to a
    // tenth of a second, beyond which a press would be felt to lag.
    const qint64 budgetUs = std::max<qint64>(m_eventsEveryMs, kOffLoopMs) * 1000;
    const qint64 endUs = std::min(untilUs - 1000, nowUs() + budgetUs);
    while (!m_heard && !m_portError && !m_aborted) {
        const qint64 leftUs = endUs - nowUs();
        if (leftUs <= 0 || !m_line->waitForBytes(int((leftUs + 999) / 1000)))
            break;
    }
    return m_heard || m_portError || m_aborted;
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
    if (m_waiting && !m_heard && Timer1.isActive()) {
        // Ended by nothing at all (neither bytes, the timer nor the port): the
        // window closed or the application is quitting.
        abandon();
    }
}

void Link::abandon()
{
    // Ended by abort(), or by nothing at all: the window closed or the
    // application is quitting.
    m_aborted = true;
    Timer1.stop();
    closePort();
    throw Aborted();
}

} // namespace hv52
