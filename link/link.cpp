#include "link.h"

#include "frames.h"
#include "linkerror.h"
#include "maketransport.h"

#include <QCoreApplication>
#include <QEventLoop>

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
    qRegisterMetaType<Verdict>();
    Timer1.setInterval(kResponseTimeoutMs);
    Timer1.setSingleShot(true);
    // A coarse timer fires up to 5 % late; the timeout is part of what the
    // operator waits for on a dead line, so keep it to the millisecond.
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &Link::Timer1_Timer);
    m_clock.start();
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

Judge::Config Link::judgeConfig() const
{
    Judge::Config c;
    c.framing = framing();
    c.address = busAddress();
    c.timeoutMs = responseTimeout();
    c.guardMs = guardMs();
    c.scan = m_guardMs >= 0;
    c.speed = m_settings.given >= 3 ? m_settings.speed : 0;
    c.repeatLagLimitMs = m_repeatLagLimitMs;
    return c;
}

RunResult Link::run(const std::function<void()> &work)
{
    RunResult result;
    if (m_busy)
        return result;
    result.started = true;
    BusyGuard guard(m_busy);
    m_aborted = false;
    m_lineBroke = false;
    m_sinceEvents.start(); // a press or a command: the event loop just ran
    m_runStartedAt = QTime::currentTime();
    m_runStartUs = nowUs();
    try {
        openPort();
        // Lateness and doubt belong to the operation: a new one starts with
        // the port just opened and nothing in flight that it could mistake.
        Judge::Config config;
        config.framing = framing();
        m_judge.startOperation(config);
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
                           && line.framing == m_settings.framing && line.portNumber == m_settings.portNumber;
    m_settings = line;
    Timer1.setInterval(line.responseTimeoutMs);
    if (!samePlace)
        m_judge.newPlace(); // whether the line repeats answers is the place's own
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

quint8 Link::busAddress() const
{
    return busAddressOf(m_settings);
}

void Link::readSeries(const QVector<SeriesRead> &reads, QVector<ReadResult> &results, const SeriesHooks &hooks)
{
    results.clear();
    // The address is checked before anything is sent, as each request's.
    m_judge.setConfig(judgeConfig());
    QVector<Judge::Ask> asks;
    asks.reserve(reads.size());
    for (const SeriesRead &r : reads)
        asks.append({r.reg, r.pair});
    m_judge.startReads(asks);
    drive(&results, &hooks);
    for (const ReadResult &r : results) {
        if (!r.ok())
            countFailure();
    }
    if (!results.isEmpty()) {
        m_verdict = results.last().verdict;
        m_state = stateOf(m_verdict.outcome);
    }
}

ReadResult Link::readRegister(quint16 reg, bool pair)
{
    QVector<ReadResult> results;
    readSeries({{reg, pair}}, results);
    return results.value(0, ReadResult{{Outcome::Aborted}, 0});
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
    const Judge::Config config = judgeConfig(); // the address, checked first
    if (value < 0 || value > 65535)
        throw LinkError(LinkError::Kind::ValueOutOfRange, LinkError::Fields().withNumber(value));
    // A write is never repeated: the module may have carried it out even
    // when its acknowledgement was lost.
    m_judge.setConfig(config);
    m_judge.startWrite(reg, quint16(value));
    drive(nullptr, nullptr);
    m_verdict = m_judge.writeVerdict();
    m_state = stateOf(m_verdict.outcome);
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
