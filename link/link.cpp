#include "link.h"

#include "frames.h"
#include "linkerror.h"
#include "maketransport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaMethod>

namespace hv52 {

namespace {

// Ends the busy state of a run on every path out, exceptions included.
struct BusyGuard
{
    bool &busy;
    explicit BusyGuard(bool &b) : busy(b) { busy = true; }
    ~BusyGuard() { busy = false; }
};

} // namespace

Link::Link(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<ExchangeRecord>();
    Timer1.setInterval(kResponseTimeoutMs);
    // A coarse timer fires up to 5 % late; the timeout is part of what the
    // operator waits for on a dead line, so keep it to the millisecond.
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &Link::Timer1_Timer);
}

Link::~Link()
{
    Timer1.stop();
    closePort();
}

int Link::guardMs() const
{
    if (m_guardMs >= 0)
        return m_guardMs;
    return std::max(kMinGuardMs, longestAnswerMs(m_settings.given >= 3 ? m_settings.speed : 0));
}

RunResult Link::run(const std::function<void()> &work)
{
    RunResult result;
    if (m_busy)
        return result;
    result.started = true;
    BusyGuard guard(m_busy);
    m_aborted = false;
    m_sinceEvents.start(); // a press or a command: the event loop just ran
    // Lateness and doubt belong to the operation: a new one starts with the
    // port just opened and nothing in flight that it could mistake. What
    // this operation's answers were, and which reads they may spoil, too.
    m_late.startOperation(m_serial);
    m_runClock.start();
    m_runStartedAt = QTime::currentTime();
    m_lastSentMs = 0; // no request of this operation yet
    m_held = {};
    m_ahead.reset();
    try {
        openPort();
        work();
    } catch (const Aborted &) {
        // Ended on purpose (window closing): close the port quietly below.
    } catch (const LinkError &e) {
        result.failure = e;
    } catch (const std::exception &e) {
        result.failure =
            LinkError(LinkError::Kind::ProgramError, LinkError::Fields().withText(QString::fromUtf8(e.what())));
    }
    if (result.failure)
        result.error = result.failure->text();
    dropAhead();
    closePort();
    result.aborted = m_aborted;
    if (m_aborted) {
        result.error.clear();
        result.failure.reset();
    }
    return result;
}

void Link::abort()
{
    if (!m_busy)
        return;
    m_aborted = true;
    Timer1.stop();
    if (m_loop)
        m_loop->quit();
}

void Link::openPort()
{
    closePort();
    m_portError.reset();
    if (makeTransport(m_settings, m_line, m_portLabel)) {
        connect(m_line.get(), &Transport::readyRead, this, &Link::MSComm1_OnComm);
        connect(m_line.get(), &Transport::failed, this, &Link::onLineFailed);
    }
    openLine();
}

void Link::openLine()
{
    try {
        m_line->open();
    } catch (...) {
        m_line.reset(); // a half-made connection is not reused
        throw;
    }
    emit portOpened();
}

void Link::closePort()
{
    if (m_line && m_line->isOpen()) {
        m_line->close();
        emit portClosed();
    } else if (m_line) {
        m_line->close();
    }
}

bool Link::isPortOpen() const
{
    return m_line && m_line->isOpen();
}

Framing Link::framing() const
{
    return m_line ? m_line->framing() : (m_settings.isTcp() ? m_settings.framing : Framing::Rtu);
}

QString Link::lineName() const
{
    return m_line ? m_line->lineName() : QStringLiteral("串口 %1").arg(m_portLabel);
}

void Link::setLine(const LineSettings &line)
{
    // Another kind of line, or another place: the next operation makes its
    // transport anew. The address and speed alone take effect at once.
    const bool samePlace = line.kind == m_settings.kind && line.device == m_settings.device
                           && line.host == m_settings.host && line.tcpPort == m_settings.tcpPort
                           && line.framing == m_settings.framing;
    m_settings = line;
    Timer1.setInterval(line.responseTimeoutMs);
    if (!samePlace)
        m_late.newPlace(); // whether the line repeats answers is the place's own
    if (!samePlace && !m_busy)
        m_line.reset();
}

void Link::setArgs(const ArgArray &args)
{
    LineSettings line;
    line.kind = LineSettings::Kind::SerialNumber;
    // The last element of the argument array is the terminating 0, not an argument.
    line.given = int(std::max<qsizetype>(0, args.size() - 1));
    line.address = args.value(0);
    line.portNumber = args.value(1);
    line.speed = args.value(2);
    line.responseTimeoutMs = responseTimeout();
    setLine(line);
}

QByteArray Link::frameOf(const QByteArray &unit)
{
    const quint8 address = busAddress();
    if (framing() == Framing::Mbap)
        return frameMbap(++m_transaction, address, unit);
    return frameRtu(address, unit);
}

quint8 Link::busAddress() const
{
    return busAddressOf(m_settings);
}

ReadResult Link::readRegister(quint16 reg, bool pair)
{
    ReadResult result;
    const quint32 serial = ++m_serial;
    // A bus scan addresses another module with each request: a late answer
    // gives itself away by its address there, and needs no second read; on
    // Modbus TCP every answer does, by its transaction identifier.
    if (m_late.unsure() && m_guardMs < 0 && framing() == Framing::Rtu) {
        m_held.hold();
        try {
            const qint64 failedSentMs = m_lastSentMs;
            result = readOnce(reg, pair);
            // An answer heard before, byte for byte, that turns out to be
            // another request's was repeated by the line, not late.
            const bool repeated = result.ok() && m_answerRepeats && !m_late.silenceSeen();
            const int firstRow = m_held.last(); // its row, when recorded
            const bool company = result.ok() && answerHadCompany(&result);
            if (result.ok() || company) {
                const qint64 arrivedMs = m_answerAtMs;
                bool another = company;
                result = confirm(reg, pair, result, firstRow, &another);
                another = another || result.verdict.outcome == Outcome::Late
                          || result.verdict.outcome == Outcome::Unconfirmed;
                // The first answer was the failed request's, this late.
                if (another && !repeated)
                    m_late.noteLate(arrivedMs - failedSentMs);
            }
        } catch (...) {
            flushHeld();
            throw;
        }
        flushHeld();
        verdictIs(result.verdict);
    } else {
        result = readOnce(reg, pair);
        // On a line that repeats answers an answer counts only when nothing
        // but its own repetition follows it within the lag heard: every
        // earlier copy came before the request went out.
        if (result.ok() && m_late.repeating() && framing() == Framing::Rtu && answerHadCompany(&result)) {
            result.verdict = {Outcome::Repeated};
            verdictIs(result.verdict);
        }
    }
    result.serial = serial;
    if (result.ok() && revoked(result)) {
        // The line brought an answer more than asked for while this read
        // was under way: its own answer may have been another's.
        result.verdict = {Outcome::Repeated};
        verdictIs(result.verdict);
    }
    if (!result.ok())
        countFailure();
    return result;
}

bool Link::revoked(const ReadResult &read) const
{
    return m_late.revoked(read.serial);
}

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

ReadResult Link::readOnce(quint16 reg, bool pair)
{
    if (m_ahead.isFor(reg, pair))
        claimAhead(); // already on its way
    else
        exchange(frameOf(readUnit(pair, reg)));
    if (m_state != Valid)
        return {m_verdict, 0};
    return {m_verdict, unitValue(m_answerUnit, pair)};
}

void Link::setNextRead(quint16 reg, bool pair, std::function<bool(quint32)> goOn)
{
    m_ahead.name(reg, pair, std::move(goOn));
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

void Link::record(const ExchangeRecord &r)
{
    ExchangeRecord framed = r;
    framed.framing = m_line ? m_line->framing() : Framing::Rtu;
    if (m_held.holding())
        m_held.add(framed);
    else
        emit exchanged(framed);
}

void Link::stray(const QByteArray &all)
{
    if (all.isEmpty())
        return;
    // A row keeps no more of a flood than an exchange does.
    const QByteArray bytes = all.left(ReceiveRule::kFloodBytes);
    if (m_held.holding())
        m_held.addStray(bytes);
    else
        emit strayBytes(bytes);
}

void Link::flushHeld()
{
    const QVector<HeldRows::Row> held = m_held.release();
    for (const HeldRows::Row &h : held) {
        if (h.stray.isEmpty())
            emit exchanged(h.record);
        else
            emit strayBytes(h.stray);
    }
}

WriteResult Link::writeRegister(quint16 reg, quint16 value)
{
    return write(reg, value);
}

WriteResult Link::write(quint16 reg, qint32 value)
{
    // The cfg_t540 question comes before anything else, the range check of
    // the value included.
    if (m_continueQuestion) {
        if (m_failures == -1)
            return {{}, true};
        if (m_failures % 6 == 5 && !m_continueQuestion(m_failures)) {
            m_failures = -1;
            return {{}, true};
        }
    }
    const quint8 address = busAddress();
    if (value < 0 || value > 65535)
        throw LinkError(LinkError::Kind::ValueOutOfRange, LinkError::Fields().withNumber(value));
    // A write is never repeated: the module may have carried it out even
    // when its acknowledgement was lost.
    Q_UNUSED(address);
    exchange(frameOf(writeUnit(reg, quint16(value))));
    if (m_state != Valid)
        countFailure();
    return {m_verdict, false};
}

QString Link::para_call(quint8 tp, quint8 CMD_H, quint8 CMD_L)
{
    const ReadResult r = readRegister(quint16(CMD_H << 8 | CMD_L), tp != 0);
    return r.ok() ? QString::number(r.value) : QStringLiteral("0");
}

bool Link::para_set(quint8 CMD_H, quint8 CMD_L, qint32 fshu)
{
    return write(quint16(CMD_H << 8 | CMD_L), fshu).ok();
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

LinkError::Fields Link::place() const
{
    return m_line ? LinkError::Fields::on(m_line->label(), m_line->isConnection()) : LinkError::Fields::on(m_portLabel);
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

void Link::countFailure()
{
    // Stops at the top instead of overflowing: a long-dead line must not turn
    // every later press into an error.
    if (m_failures < 32767)
        ++m_failures;
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

} // namespace hv52
