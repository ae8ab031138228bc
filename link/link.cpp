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

LinkError::Fields Link::place() const
{
    return m_line ? LinkError::Fields::on(m_line->label(), m_line->isConnection()) : LinkError::Fields::on(m_portLabel);
}

void Link::countFailure()
{
    // Stops at the top instead of overflowing: a long-dead line must not turn
    // every later press into an error.
    if (m_failures < 32767)
        ++m_failures;
}

} // namespace hv52
