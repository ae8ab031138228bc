#pragma once
#include "cmdline.h"
#include "exchange.h"
#include "frames.h"
#include "heldrows.h"
#include "latepolicy.h"
#include "linkerror.h"
#include "readahead.h"
#include "transport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QTime>
#include <QTimer>
#include <QVector>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QEventLoop;

namespace hv52 {

struct ReadResult
{
    Verdict verdict;
    quint32 value = 0;  // the register value when the read was valid
    quint32 serial = 0; // which read of the link this was (Link::revoked)
    bool ok() const { return verdict.valid(); }
};

struct WriteResult
{
    Verdict verdict;
    bool keptBack = false; // the operator declined the continue question: nothing sent
    bool ok() const { return !keptBack && verdict.valid(); }
};

// What became of one button operation.
struct RunResult
{
    bool started = false;             // false: another operation was running, nothing done
    bool aborted = false;             // ended by abort(): no message is due
    QString error;                    // the error path's text, empty when the work ended normally
    std::optional<LinkError> failure; // and what it says, to word otherwise
};

// The serial link of one tool: the port bracket around every button
// operation, the read and write requests and the reception of their answers.
// It knows frames, timing and the port, and nothing about windows: errors come
// back as text for the caller to show.
class Link : public QObject
{
    Q_OBJECT
public:
    using State = ExchangeState;
    static constexpr ExchangeState Waiting = hv52::Waiting, Valid = hv52::Valid, Failed = hv52::Failed,
                                   TimedOut = hv52::TimedOut;

    static constexpr int kResponseTimeoutMs = 1000;
    // After an exchange without a valid answer the line must be quiet this
    // long (at least) before the next request: a late answer must not pass
    // for the next one.
    static constexpr int kMinGuardMs = 50;
    // A line that does not go quiet within this time ends the operation.
    static constexpr int kSettleLimitMs = LatePolicy::kSettleLimitMs;
    // After a failure in an operation, an answer to a read that a later one
    // may agree with is followed by this quiet time (at least): a module that
    // fell behind sends its queued answers back to back.
    static constexpr int kAfterAnswerQuietMs = LatePolicy::kAfterAnswerQuietMs;

    // The cfg_t540 question before a write after repeated failures; true to
    // go on. Asked with the failure count.
    using ContinueQuestion = std::function<bool(qint16 failures)>;

    explicit Link(QObject *parent = nullptr);
    ~Link() override;

    // Where the line is, the bus address, the speed and the response
    // timeout, as typed settings. A new line is opened by the next operation.
    void setLine(const LineSettings &line);
    const LineSettings &line() const { return m_settings; }
    // The parent program's numbers as GetCommandLine gives them (address,
    // port number, speed, then 0): a serial port by number; the response
    // timeout stays as it is.
    void setArgs(const ArgArray &args);
    // How requests are framed on the present line.
    Framing framing() const;
    // The line as messages name it: "串口 COM3", "连接 127.0.0.1:5020".
    QString lineName() const;

    void setResponseTimeout(int ms)
    {
        Timer1.setInterval(ms);
        m_settings.responseTimeoutMs = ms;
    }
    // An answer is awaited on the line itself, off the event loop, for up to
    // kOffLoopMs (or this cadence, when longer), which spares the loop's
    // round trip on every exchange; the application's events are taken
    // between exchanges at least this often (the windows: 40 ms, so cells
    // still fill in as values arrive; a program without windows may allow
    // more). 0: every wait through the event loop.
    void setEventsEveryMs(int ms) { m_eventsEveryMs = ms; }
    static constexpr qint64 kOffLoopMs = 100;
    int responseTimeout() const { return m_settings.responseTimeoutMs; }
    // The quiet time needed after a failed exchange at the present speed.
    int guardMs() const;
    // A fixed quiet time instead (-1: back to the one by speed). For a bus
    // scan, where each request goes to another address and a late answer
    // gives itself away by its address.
    void setGuardMs(int ms) { m_guardMs = ms; }

    void setContinueQuestion(ContinueQuestion question) { m_continueQuestion = std::move(question); }

    // Runs one button operation: opens the port, runs work, closes the port, on
    // every path out. A LinkError thrown by work (or by the requests) ends it
    // on the error path: the port is closed and its text is returned. Does
    // nothing while another operation is running: a second press during a
    // wait is ignored.
    RunResult run(const std::function<void()> &work);
    bool isBusy() const { return m_busy; }

    // Ends a running operation at once; nothing more is sent.
    void abort();

    // One read request of one register or a pair (first register high).
    ReadResult readRegister(quint16 reg, bool pair);
    // The read the caller makes next in a fixed series (a poll): when the
    // next read's answer comes whole and valid on a line healthy so far, and
    // goOn (given its value) agrees, this read goes out at once, before that
    // answer is handed back, shown and recorded; readRegister then takes its
    // answer. Holds for the next read only.
    void setNextRead(quint16 reg, bool pair, std::function<bool(quint32 value)> goOn = {});
    void clearNextRead() { m_ahead.forget(); }
    // One write request of one register.
    WriteResult writeRegister(quint16 reg, quint16 value);

    // Modbus RTU answers carry no request number. A read on a healthy line
    // takes the first answer that fits; when that answer is, byte for byte,
    // one heard earlier in the operation, it may be that answer repeated by
    // the line (a device server that sends each answer twice), and the
    // real one still on its way. Then every read from that one on holds only
    // as long as the line brings no answer beyond those asked for: one that
    // comes later revokes them all (revoked(): they count as failed,
    // Outcome::Repeated), and the rest of the operation reads each register
    // twice with a quiet line between.
    //
    // The end of a series of reads (a poll, the reads before writing): when
    // such a read is in it, listens for as long as an answer takes, so that
    // an answer still on its way is heard before the values are used.
    void balance();
    // Whether a read taken as valid was found afterwards to be possibly
    // another request's answer.
    bool revoked(const ReadResult &read) const;
    // The longest time between an answer and the same bytes again, heard on
    // this line: it repeats answers. 0: none heard.
    int repeatLagMs() const { return m_late.repeatLagMs(); }
    // Whether this line has repeated answers: each read is then followed by
    // a quiet line, and none goes ahead.
    bool repeating() const { return m_late.repeating(); }
    // Requests handed to the line since the link was made: whether a write
    // went out before an error of the line ended the operation.
    quint64 requestsSent() const { return m_requestsSent; }

    // The same as text and flag, as the tools have always called them: the
    // value in decimal digits or "0" when the exchange failed; true when the
    // module confirmed the write.
    QString para_call(quint8 tp, quint8 CMD_H, quint8 CMD_L);
    bool para_set(quint8 CMD_H, quint8 CMD_L, qint32 fshu);

    // The longest time from a request to bytes heard after its response time
    // ran out, in the running (or last) operation: the module answers this
    // late. 0 when no answer came late.
    int lateAnswerMs() const { return m_late.lateMs(); }

    qint16 exchangeState() const { return m_state; }
    const Verdict &lastVerdict() const { return m_verdict; }
    qint16 failureCount() const { return m_failures; }
    void setFailureCount(qint16 n) { m_failures = n; }
    const QByteArray &sendBuffer() const { return m_x.request(); }
    const QByteArray &receiveBuffer() const { return m_x.received(); }
    bool isPortOpen() const;
    // "COMn" (or the device path) of the last opened port.
    const QString &portLabel() const { return m_portLabel; }

signals:
    // A request frame has been handed to the port.
    void requestSent(const QByteArray &frame);
    // Bytes arrived: the first chunk of an answer marks its arrival.
    void bytesArrived();
    // An exchange ended (also when it failed).
    void exchanged(const hv52::ExchangeRecord &record);
    // Bytes that arrived outside any exchange and were discarded.
    void strayBytes(const QByteArray &bytes);
    void portOpened();
    void portClosed();

private:
    // What the quiet wait after a failed exchange heard.
    struct Settled
    {
        QByteArray heard;
        qint64 firstByteMs = -1; // from the failed request, -1: nothing heard
    };

    void openPort();
    void openLine();
    QByteArray frameOf(const QByteArray &unit);
    void closePort();
    quint8 busAddress() const;
    WriteResult write(quint16 reg, qint32 value);
    ReadResult readOnce(quint16 reg, bool pair);
    ReadResult confirm(quint16 reg, bool pair, const ReadResult &first, int firstRow, bool *firstWasAnother);
    void exchange(const QByteArray &frame);
    // exchange() in its two halves: the request out (ahead: sent before the
    // answer before it was handed back; the events are not taken), then its
    // answer awaited and judged.
    // False when a read to go ahead was not sent: the line brought an
    // answer that no request asked for.
    bool send(const QByteArray &frame, bool ahead);
    void awaitAnswer();
    // What followed a failed exchange on a serial line: the quiet wait, and
    // what the bytes heard say of lateness and repetition.
    void judgeFailure(qint64 elapsedUs);
    // The line as an error names it.
    LinkError::Fields place() const;
    // A valid answer: the read set as next goes out, then this exchange is
    // recorded.
    void answered(bool recording, qint64 elapsedUs, const QByteArray &refused);
    bool sendAhead(quint32 value);
    void claimAhead();
    void dropAhead();
    // quietMs > 0: that quiet time alone, nothing owed to cover.
    Settled settleLine(int quietMs = 0);
    bool answerHadCompany(ReadResult *result);
    // Bytes that no request asked for, or answers beyond the one the
    // exchange `request` expects (see LatePolicy::unexplained); RTU only.
    // `arrivedMs`: when they came, on the operation's clock (at the latest).
    bool unexplained(const QByteArray &bytes, qint64 arrivedMs, const QByteArray &request = {});
    void record(const ExchangeRecord &record);
    void stray(const QByteArray &bytes);
    void flushHeld();
    void waitIn(QEventLoop &loop);
    bool waitOffLoop();
    [[noreturn]] void abandon();
    void finish(Verdict verdict);
    void countFailure();
    void verdictIs(Verdict verdict);

    void MSComm1_OnComm();
    void Timer1_Timer();
    void onLineFailed(const LinkError &reason);

    // The line: the serial port (MSComm1 in SerialTransport) or a TCP
    // connection, open only while an operation runs.
    std::unique_ptr<Transport> m_line;
    LineSettings m_settings;
    QString m_portLabel;
    quint16 m_transaction = 0; // the MBAP transaction identifier last sent
    QTimer Timer1;             // the response timer
    Exchange m_x;              // the exchange in flight, or the last one
    // What the caller reads of the last exchange or read: its state and why.
    qint16 m_state = Valid;
    Verdict m_verdict;
    qint16 m_failures = 0;
    ContinueQuestion m_continueQuestion;
    int m_guardMs = -1;
    LatePolicy m_late;
    ReadAhead m_ahead;
    HeldRows m_held;
    // The operation.
    bool m_busy = false;
    bool m_aborted = false;
    bool m_settle = false;                // the last exchange did not end with a valid answer
    std::optional<LinkError> m_portError; // the line broke during the operation
    QEventLoop *m_loop = nullptr;
    int m_eventsEveryMs = 40;
    QElapsedTimer m_sinceEvents; // since the event loop last ran for the link
    QElapsedTimer m_runClock;    // from the start of the operation
    QTime m_runStartedAt;        // the time of day when it started
    qint64 m_lastSentMs = 0;     // the latest request, on m_runClock
    quint64 m_requestsSent = 0;
    // The latest valid answer.
    QByteArray m_answerUnit;      // its data unit
    QByteArray m_answerFrame;     // and its frame
    bool m_answerRepeats = false; // which was heard before in the operation
    qint64 m_answerAtMs = 0;      // its arrival, on m_runClock
    quint32 m_serial = 0;         // the latest read
};

} // namespace hv52
