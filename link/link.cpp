#include "link.h"

#include "frames.h"
#include "linkerror.h"
#include "maketransport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaMethod>
#include <cmath>

namespace hv52 {

namespace {

// Ends the busy state of a run on every path out, exceptions included.
struct BusyGuard
{
    bool &busy;
    explicit BusyGuard(bool &b) : busy(b) { busy = true; }
    ~BusyGuard() { busy = false; }
};

// The longest answer (a pair read, 9 bytes) and the 3.5-character gap after
// it, 10 bits a character, at this speed.
int longestAnswerMs(qint32 speed)
{
    return speed > 0 ? int(std::ceil(12.5 * 10 * 1000.0 / speed)) : 0;
}

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
    // port just opened and nothing in flight that it could mistake.
    m_unsure = false;
    m_lateMs = 0;
    m_runClock.start();
    m_runStartedAt = QTime::currentTime();
    m_lastSentMs = 0; // no request of this operation yet
    m_holding = false;
    m_held.clear();
    m_next = {};
    m_sentAhead = false;
    m_aheadFailure = nullptr;
    // What this operation's answers were, and which reads they may spoil.
    m_heard.clear();
    m_atRiskFrom = 0;
    m_balancedUpTo = m_serial;
    m_revoked.clear();
    m_longestAnswerUs = 0;
    m_silenceSeen = false;
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
    if (!samePlace) {
        // Whether the line repeats answers is the place's own.
        m_repeating = false;
        m_repeatLagMs = 0;
    }
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
    if (m_unsure && m_guardMs < 0 && framing() == Framing::Rtu) {
        m_holding = true;
        try {
            const qint64 failedSentMs = m_lastSentMs;
            result = readOnce(reg, pair);
            // An answer heard before, byte for byte, that turns out to be
            // another request's was repeated by the line, not late.
            const bool repeated = result.ok() && m_answerRepeats && !m_silenceSeen;
            const int firstRow = int(m_held.size()) - 1; // its row, when recorded
            const bool company = result.ok() && answerHadCompany(&result);
            if (result.ok() || company) {
                const qint64 arrivedMs = m_answerAtMs;
                bool another = company;
                result = confirm(reg, pair, result, firstRow, &another);
                another = another || result.verdict.outcome == Outcome::Late
                          || result.verdict.outcome == Outcome::Unconfirmed;
                // The first answer was the failed request's, this late.
                if (another && !repeated)
                    m_lateMs = std::max(m_lateMs, int(arrivedMs - failedSentMs));
            }
        } catch (...) {
            flushHeld();
            throw;
        }
        flushHeld();
        m_verdict = result.verdict;
        m_state = stateOf(result.verdict.outcome);
    } else {
        result = readOnce(reg, pair);
        // On a line that repeats answers an answer counts only when nothing
        // but its own repetition follows it within the lag heard: every
        // earlier copy came before the request went out.
        if (result.ok() && m_repeating && framing() == Framing::Rtu && answerHadCompany(&result)) {
            result.verdict = m_verdict = {Outcome::Repeated};
            m_state = stateOf(Outcome::Repeated);
        }
    }
    result.serial = serial;
    if (result.ok() && revoked(result)) {
        // The line brought an answer more than asked for while this read
        // was under way: its own answer may have been another's.
        result.verdict = m_verdict = {Outcome::Repeated};
        m_state = stateOf(Outcome::Repeated);
    }
    if (!result.ok())
        countFailure();
    return result;
}

bool Link::revoked(const ReadResult &read) const
{
    return std::any_of(m_revoked.begin(), m_revoked.end(), [&read](const std::pair<quint32, quint32> &range) {
        return read.serial >= range.first && read.serial <= range.second;
    });
}

bool Link::heardBefore(const QByteArray &answer, qint64 againAtMs)
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

void Link::heard(const QByteArray &answer)
{
    if (m_heard.size() >= kHeardKept)
        m_heard.removeFirst();
    m_heard.append({answer, m_runClock.elapsed()});
}

bool Link::unexplained(const QByteArray &bytes, qint64 arrivedMs, const QByteArray &request)
{
    if (bytes.isEmpty() || framing() != Framing::Rtu || !m_settings.address)
        return false;
    bool own = request.isEmpty(); // one answer that fits the request is its own, however late
    bool extra = false;
    for (const QByteArray &answer : answersIn(bytes, quint8(m_settings.address))) {
        if (!own && (judge(answer, request).valid() || isExceptionAnswer(answer, request))) {
            own = true;
            heard(answer);
            continue;
        }
        // An answer more than asked for: a repetition, or the answer of a
        // request whose place a repetition took. Either way the line
        // repeats answers.
        heardBefore(answer, arrivedMs);
        heard(answer); // the next copy's original may be this one
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
    if (m_atRiskFrom == 0 || m_atRiskFrom <= m_balancedUpTo)
        return false;
    // A read took an answer heard before, and now an answer comes that no
    // request explains: that read may have taken a repetition, and each read
    // after it the answer of the one before. None of them holds.
    if (m_revoked.size() >= 256)
        m_revoked.removeFirst(); // reads long handed back and done with
    m_revoked.append({m_atRiskFrom, m_serial});
    m_balancedUpTo = m_serial;
    m_atRiskFrom = 0;
    return true;
}

void Link::balance()
{
    if (m_atRiskFrom == 0 || m_atRiskFrom <= m_balancedUpTo || m_sentAhead || !isPortOpen() || m_portError) {
        m_balancedUpTo = m_serial;
        m_atRiskFrom = 0;
        return;
    }
    // An answer still on its way comes about as long after its request as
    // the answers of this operation took, and a little more. The line is
    // listened to until then, not longer: repetitions that come later spoil
    // nothing the series took.
    const qint64 leftUs =
        m_longestAnswerUs + std::max<qint64>(500, m_longestAnswerUs / 4) - m_sentClock.nsecsElapsed() / 1000;
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
    m_balancedUpTo = m_serial;
    m_atRiskFrom = 0;
}

ReadResult Link::readOnce(quint16 reg, bool pair)
{
    if (m_sentAhead && m_aheadReg == reg && m_aheadPair == pair)
        claimAhead(); // already on its way
    else
        exchange(frameOf(readUnit(pair, reg)));
    if (m_state != Valid)
        return {m_verdict, 0};
    return {m_verdict, unitValue(m_answerUnit, pair)};
}

void Link::setNextRead(quint16 reg, bool pair, std::function<bool(quint32)> goOn)
{
    m_next = {true, reg, pair, std::move(goOn)};
}

void Link::answered(bool recording, qint64 elapsedUs, const QByteArray &refused)
{
    // The answer is whole and valid: the read the caller makes next goes out
    // now, before this one is handed back, shown and recorded; the module
    // turns round meanwhile. What is shown of this exchange is kept first.
    m_answerUnit = m_rule.answerUnit();
    m_answerFrame = m_receive;
    const ExchangeRecord done{m_sentAt, elapsedUs, m_send, m_receive, m_verdict};
    const Verdict verdict = m_verdict;
    const bool read = !m_answerUnit.isEmpty() && quint8(m_answerUnit[0]) == 3;
    m_longestAnswerUs = std::max(m_longestAnswerUs, elapsedUs);
    if (m_line->framing() == Framing::Rtu) {
        // A read not confirmed by a second one that takes an answer heard
        // before may have taken its repetition: it and the reads after it
        // hold only while no answer beyond those asked for comes.
        m_answerRepeats = heardBefore(m_answerFrame);
        // Once an answer went missing, reads are confirmed instead, and two
        // equal answers are what confirmation asks for.
        if (read && m_answerRepeats && !m_afterFailure && !m_repeating && !m_silenceSeen && !m_unsure
            && (m_atRiskFrom == 0 || m_atRiskFrom <= m_balancedUpTo))
            m_atRiskFrom = m_serial;
        heard(m_answerFrame);
    }
    if (read && sendAhead(unitValue(m_answerUnit, m_answerUnit.size() >= 6))) {
        // The state the caller reads is this exchange's, not the one in flight.
        m_verdict = verdict;
        m_state = Valid;
    }
    if (recording)
        record(done);
    stray(refused);
    stray(std::exchange(m_aheadStray, {})); // found before the read sent ahead, after this answer
}

bool Link::sendAhead(quint32 value)
{
    if (!m_next.set)
        return false;
    Next next = std::exchange(m_next, {});
    // Only on a line that has been healthy throughout the operation (after a
    // failure each read waits its turn and may be read again), and only when
    // the application's events are not due: they are taken before a request,
    // and may stop the operation.
    if (m_unsure || m_settle || m_repeating || m_aborted || m_portError || !isPortOpen() || m_eventsEveryMs <= 0
        || !m_sinceEvents.isValid() || m_sinceEvents.elapsed() >= m_eventsEveryMs)
        return false;
    if (next.goOn && !next.goOn(value))
        return false;
    m_aheadReg = next.reg;
    m_aheadPair = next.pair;
    m_sentAhead = true;
    try {
        if (!send(frameOf(readUnit(next.pair, next.reg)), true)) {
            m_sentAhead = false; // the line brought more than was asked: the next read waits its turn
            return false;
        }
    } catch (...) {
        // The read just done stands; the next one reports why it failed.
        m_aheadFailure = std::current_exception();
    }
    return true;
}

void Link::dropAhead()
{
    // A read sent ahead that the operation ended without claiming: it went
    // out, so it is shown, as ended before its answer was taken.
    m_next = {};
    if (!m_sentAhead)
        return;
    m_sentAhead = false;
    m_waiting = false;
    Timer1.stop();
    if (!m_aheadFailure && m_recording)
        record({m_sentAt, m_sentClock.nsecsElapsed() / 1000, m_send, m_receive, {Outcome::Aborted}});
    m_aheadFailure = nullptr;
    stray(std::exchange(m_aheadStray, {}));
}

void Link::claimAhead()
{
    m_sentAhead = false;
    if (m_aheadFailure)
        std::rethrow_exception(std::exchange(m_aheadFailure, nullptr));
    awaitAnswer();
}

bool Link::answerHadCompany(ReadResult *result)
{
    // A module that fell behind may have several answers queued, and sends
    // them back to back: bytes right after an intact answer say it may be
    // another request's, and two such answers of one earlier register would
    // otherwise agree. The line is listened to briefly before going on.
    const int row = int(m_held.size()) - 1;
    // A line that repeats answers sends the copies as far apart as heard.
    const Settled after =
        settleLine(std::max({kAfterAnswerQuietMs, longestAnswerMs(m_settings.speed), m_repeatLagMs * 3 / 2}));
    if (after.heard.isEmpty())
        return false;
    const qint64 cameMs = m_lastSentMs + after.firstByteMs;
    // The answer just taken again, and nothing else: the line repeats
    // answers, which says nothing against this one.
    QByteArray others = after.heard;
    others.replace(m_answerFrame, QByteArray());
    heardBefore(m_answerFrame, others.size() < after.heard.size() ? cameMs : -1);
    if (others.isEmpty()) {
        m_repeating = m_repeating || !m_silenceSeen;
        stray(after.heard);
        return false;
    }
    if (after.firstByteMs > responseTimeout())
        m_lateMs = std::max(m_lateMs, int(after.firstByteMs));
    unexplained(others, cameMs, m_send); // a repetition of an earlier answer: measured
    m_verdict = {m_lateMs > 0 ? Outcome::Late : m_repeating ? Outcome::Repeated : Outcome::Unconfirmed};
    m_state = stateOf(m_verdict.outcome);
    if (row >= 0 && m_held[row].stray.isEmpty())
        m_held[row].record.verdict = m_verdict;
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
                if (firstRow >= 0 && m_held[firstRow].stray.isEmpty())
                    m_held[firstRow].record.verdict = {*firstWasAnother ? Outcome::Late : Outcome::Unconfirmed};
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
    if (failure.valid())
        failure = {m_lateMs > 0 ? Outcome::Late : Outcome::Unconfirmed};
    else if (failure.outcome == Outcome::Timeout && m_lateMs > 0)
        failure = {Outcome::Late};
    if (firstRow >= 0 && m_held[firstRow].stray.isEmpty())
        m_held[firstRow].record.verdict = {m_lateMs > 0 ? Outcome::Late : Outcome::Unconfirmed};
    return {failure, 0};
}

void Link::record(const ExchangeRecord &r)
{
    ExchangeRecord framed = r;
    framed.framing = m_line ? m_line->framing() : Framing::Rtu;
    if (m_holding)
        m_held.append({framed, {}});
    else
        emit exchanged(framed);
}

void Link::stray(const QByteArray &all)
{
    if (all.isEmpty())
        return;
    // A row keeps no more of a flood than an exchange does.
    const QByteArray bytes = all.left(ReceiveRule::kFloodBytes);
    if (m_holding)
        m_held.append({{}, bytes});
    else
        emit strayBytes(bytes);
}

void Link::flushHeld()
{
    m_holding = false;
    const QVector<Held> held = std::exchange(m_held, {});
    for (const Held &h : held) {
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
    while (m_waiting) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || !m_line->waitForBytes(int(left)))
            break;
    }
    if (m_waiting)
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
    m_waiting = false;
    closePort();
    throw Aborted();
}

void Link::discard(const QByteArray &bytes)
{
    stray(bytes);
}

bool Link::spoiledByLateness(const Verdict &verdict) const
{
    switch (verdict.outcome) {
    case Outcome::TooLong:
        // Two answers back to back: one of them came late.
        return m_lateMs > 0 || isAnotherAnswer(m_receive.mid(answerLength(m_send)), m_send);
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
    // Once the module was heard answering late, the line must stay quiet as
    // long as it was late (its backlog of answers comes about that far
    // apart), and the wait lasts at least half again that lateness from the
    // failed request.
    const bool late = m_lateMs > 0 && m_guardMs < 0 && quietOverrideMs <= 0;
    // A line that repeats answers sends the copies as far apart as heard:
    // none may be left when the next request goes out.
    const int repeatMs = quietOverrideMs <= 0 ? m_repeatLagMs * 3 / 2 : 0;
    const int quietMs =
        quietOverrideMs > 0 ? quietOverrideMs : std::max(repeatMs, late ? std::max(guard, m_lateMs) : guard);
    const qint64 coverUntil =
        late ? qint64(m_lateMs) * 3 / 2 + longestAnswerMs(m_settings.given >= 3 ? m_settings.speed : 0) : 0;
    // What a line in flood sends is not kept, and the wait ends once it is
    // far more than any backlog of answers could be.
    qint64 heardBytes = 0;
    bool flooded = false;
    const auto take = [&] {
        const QByteArray bytes = m_line->readAll();
        if (bytes.isEmpty())
            return false;
        if (settled.firstByteMs < 0)
            settled.firstByteMs = m_sentClock.elapsed();
        heardBytes += bytes.size();
        if (settled.heard.size() < ReceiveRule::kFloodBytes)
            settled.heard += bytes.left(ReceiveRule::kFloodBytes - settled.heard.size());
        if (heardBytes > ReceiveRule::kFloodBytes) {
            flooded = true;
            loop.quit();
        }
        return true;
    };
    const auto restart = [&] { quiet.start(int(std::max<qint64>(quietMs, coverUntil - m_sentClock.elapsed()))); };
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
    // A line that never goes quiet ends the operation; a late module's
    // backlog is not that.
    const int limitMs = int(std::max<qint64>({kSettleLimitMs, 2 * guard, coverUntil + 4 * qint64(quietMs)}));
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
    if (m_sentAhead) {
        m_next = {};
        claimAhead();
    }
    send(frame, false);
    awaitAnswer();
}

bool Link::send(const QByteArray &frame, bool ahead)
{
    m_send = frame;
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
        m_aheadStray = stale; // shown after the exchange that it followed
    else
        discard(stale);
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
    m_receive.clear();
    m_rule = ReceiveRule(m_line->framing(), frame);
    // Wake once the shortest answer (an exception answer) could be in, not at
    // every byte.
    m_line->expect(m_rule.needed());
    m_state = Waiting;
    m_verdict = {};
    m_timedOut = false;

    m_recording = isSignalConnected(QMetaMethod::fromSignal(&Link::exchanged));
    if (m_recording)
        m_sentAt = m_runStartedAt.addMSecs(int(m_runClock.elapsed())); // cheaper than the clock's time of day
    m_sentClock.start();
    m_afterFailure = m_unsure;
    m_previousSentMs = m_lastSentMs;
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
    m_waiting = true;
    return true;
}

LinkError::Fields Link::place() const
{
    return m_line ? LinkError::Fields::on(m_line->label(), m_line->isConnection()) : LinkError::Fields::on(m_portLabel);
}

void Link::awaitAnswer()
{
    const QByteArray frame = m_send;
    const bool recording = m_recording;
    const bool afterFailure = m_afterFailure;
    const qint64 previousSentMs = m_previousSentMs;
    try {
        if (!waitOffLoop()) {
            // The response time runs from the request. The timer is started
            // only here: most answers come within the wait off the loop, and
            // a timer registered and dropped on every exchange would delay
            // the next request.
            Timer1.start(int(std::max<qint64>(0, responseTimeout() - m_sentClock.elapsed())));
            QEventLoop loop;
            waitIn(loop);
        }
        if (m_state == Waiting)
            abandon();
    } catch (...) {
        if (recording) {
            const Outcome outcome = m_aborted ? Outcome::Aborted : Outcome::PortError;
            record({m_sentAt, m_sentClock.nsecsElapsed() / 1000, frame, m_receive, {outcome}});
        }
        m_settle = true;
        throw;
    }
    const qint64 elapsedUs = m_sentClock.nsecsElapsed() / 1000;
    // Another transaction's answer on Modbus TCP: an earlier request's, late.
    const QByteArray refused = m_rule.dropped();
    if (m_line->framing() == Framing::Mbap) {
        if (m_verdict.outcome == Outcome::Flooded) {
            // Frames of other transactions without end: no backlog of late
            // answers is that long, and the next request would drown too.
            if (recording)
                record({m_sentAt, elapsedUs, frame, m_receive, m_verdict});
            m_settle = true;
            throw LinkError(LinkError::Kind::Flooded, place().withNumber(ReceiveRule::kFloodBytes));
        }
        // It came at the latest by now, after the request it answered.
        if (!refused.isEmpty())
            m_lateMs = std::max(m_lateMs, int(m_runClock.elapsed() - previousSentMs));
        if (m_verdict.valid()) {
            m_answerAtMs = m_runClock.elapsed();
            answered(recording, elapsedUs, refused);
            return;
        }
        if (recording)
            record({m_sentAt, elapsedUs, frame, m_receive, m_verdict});
        stray(refused);
        return; // no quiet wait: the identifier pairs answers with requests
    }
    if (m_verdict.valid()) {
        m_answerAtMs = m_runClock.elapsed();
        answered(recording, elapsedUs, {});
        return;
    }

    // A failed exchange: the line must go quiet before anything else is
    // sent, and what it brings meanwhile tells whether the module is late.
    // An intact refusal, or our answer with stray bytes after it, answered
    // this request: nothing is owed, the reads after it need no second read.
    const bool answered =
        m_verdict.outcome == Outcome::Exception
        || (m_verdict.outcome == Outcome::TooLong && !isAnotherAnswer(m_receive.mid(answerLength(frame)), frame));
    const bool wasUnsure = m_unsure;
    if (!answered)
        m_unsure = true;
    // Whole answers of ours heard before, byte for byte: the line repeats
    // answers, which tells nothing of lateness.
    const quint8 address = quint8(m_settings.address);
    // One answer that fits the request is its own, whatever it says (the
    // same refusal every time, or its answer with noise after it).
    const auto anyHeardBefore = [this, address, &frame](const QByteArray &bytes) {
        const QVector<QByteArray> answers = answersIn(bytes, address);
        if (answers.size() == 1 && (judge(answers[0], frame).valid() || isExceptionAnswer(answers[0], frame)))
            return false;
        return std::any_of(answers.begin(), answers.end(), [this](const QByteArray &a) { return heardBefore(a); });
    };
    if (afterFailure && (m_silenceSeen || !anyHeardBefore(m_receive)) && isOtherRequestsAnswer(m_receive, frame)) {
        // Just after a failed exchange, a whole answer of ours that fits
        // another request: the failed one's, this late.
        m_lateMs = std::max(m_lateMs, int(m_runClock.elapsed() - previousSentMs));
    }
    Settled settled;
    try {
        settled = settleLine();
    } catch (...) {
        if (recording)
            record({m_sentAt, elapsedUs, frame, m_receive, m_verdict});
        throw;
    }
    // Bytes after the response time ran out: the module answers late.
    if (m_timedOut && settled.firstByteMs >= 0)
        m_lateMs = std::max(m_lateMs, int(settled.firstByteMs));
    // What came and what followed: answers beyond this request's own revoke
    // the reads a repetition may have spoiled.
    const QByteArray all = m_receive + settled.heard;
    const bool repeated = !m_silenceSeen && anyHeardBefore(all);
    unexplained(all, m_lastSentMs + elapsedUs / 1000, frame);
    if (repeated) {
        m_verdict = {Outcome::Repeated};
        m_state = stateOf(Outcome::Repeated);
        // Its own answer came among the repetitions: nothing is owed.
        const QVector<QByteArray> answers = answersIn(all, address);
        if (std::any_of(answers.begin(), answers.end(),
                        [&frame](const QByteArray &a) { return judge(a, frame).valid(); }))
            m_unsure = wasUnsure;
    } else if (spoiledByLateness(m_verdict)) {
        // Two answers back to back, one an earlier request's: it came after
        // this request went out, so at least that long after its own.
        if (m_verdict.outcome == Outcome::TooLong && previousSentMs > 0)
            m_lateMs = std::max(m_lateMs, int(m_lastSentMs - previousSentMs));
        m_verdict = {Outcome::Late};
        m_state = stateOf(Outcome::Late);
    }
    if (recording)
        record({m_sentAt, elapsedUs, frame, m_receive, m_verdict});
    stray(settled.heard);
}

void Link::finish(Verdict verdict)
{
    Timer1.stop();
    m_verdict = verdict;
    m_state = stateOf(verdict.outcome);
    m_waiting = false;
    if (m_loop)
        m_loop->quit();
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
    if (!m_waiting)
        return; // left for the flush before the next request
    emit bytesArrived();
    if (m_rule.take(m_line->readAll())) {
        // Bytes after the answer stay with the terminal until the next
        // request takes them in as stray (takeStray), or the quiet wait does.
        m_receive = m_rule.answer();
        finish(m_rule.verdict());
    } else {
        m_line->expect(m_rule.needed());
    }
}

void Link::Timer1_Timer()
{
    if (!m_waiting) {
        Timer1.stop();
        return;
    }
    // Bytes not yet handed over (fewer than the answer still needed) come in
    // now; they may even complete it.
    m_line->pull();
    if (!m_waiting)
        return;
    // An answer that began but never reached its length (an exception
    // answer, a broken frame) is taken so it cannot leak into the next one.
    m_timedOut = true;
    m_silenceSeen = true;
    m_rule.take(m_line->readAll());
    m_receive = m_rule.answer();
    finish(m_rule.expire());
}

void Link::onLineFailed(const LinkError &reason)
{
    // The port failed or the peer closed the connection: the operation ends
    // with the transport's own reason.
    m_portError = reason;
    closePort();
    Timer1.stop();
    m_waiting = false;
    if (m_loop)
        m_loop->quit();
}

} // namespace hv52
