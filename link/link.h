#pragma once
#include "cmdline.h"
#include "exchange.h"
#include "frames.h"
#include "judge.h"
#include "linkerror.h"
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
    quint32 value = 0; // the register value when the read was valid
    bool ok() const { return verdict.valid(); }
};

struct WriteResult
{
    Verdict verdict;
    bool keptBack = false; // the operator declined the continue question: nothing sent
    bool ok() const { return !keptBack && verdict.valid(); }
};

// One read of a series: a register, or a pair read as one 32-bit value.
struct SeriesRead
{
    quint16 reg = 0;
    bool pair = false;
};

// What a caller of a series is asked while it runs.
struct SeriesHooks
{
    // Asked with each read's result (not yet final) before the next read
    // goes out, ahead of showing it when valid: false ends the series after
    // this read.
    std::function<bool(int read, const ReadResult &result)> goOn;
    // Each read's result as it comes, for a window to show at once. Not yet
    // final: the series' own results are.
    std::function<void(int read, const ReadResult &result)> each;
    // Whether a read may go out before the one before it is handed to `each`.
    bool ahead = true;
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
// It carries out what the judge (judge.h) decides: it sends, waits, times and
// listens, and tells the judge what it heard and when; whether an answer
// counts is the judge's alone. It knows frames, timing and the port, and
// nothing about windows: errors come back as text for the caller to show.
class Link : public QObject
{
    Q_OBJECT
public:
    using State = ExchangeState;
    static constexpr ExchangeState Waiting = hv52::Waiting, Valid = hv52::Valid, Failed = hv52::Failed,
                                   TimedOut = hv52::TimedOut;

    static constexpr int kResponseTimeoutMs = 1000;
    // After an exchange without a valid answer the line must be quiet this
    // long (at least) before the next request.
    static constexpr int kMinGuardMs = Judge::kMinGuardMs;
    // A line that does not go quiet within this time ends the operation.
    static constexpr int kSettleLimitMs = Judge::kQuietLimitMs;
    static constexpr int kAfterAnswerQuietMs = Judge::kAfterAnswerQuietMs;

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
    // The longest lag between an answer and its copy the judge allows for
    // (Judge::kRepeatLagLimitMs): the quiet after each answer in doubt. Only
    // tests with short response timeouts, on lines that never repeat an
    // answer, shorten it, as they shorten the timeout.
    void setRepeatLagLimit(int ms) { m_repeatLagLimitMs = ms; }

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

    // A series of reads, in order. `results` gets one result per read
    // reached, final: nothing that can still arrive changes them. They are
    // final also when the series ends by an error of the line or a stop
    // (thrown on): then a read that was not yet sure has failed. Each read
    // goes out as soon as the answer before it is whole and valid, on a
    // line healthy so far, while that answer is handed to `each`.
    void readSeries(const QVector<SeriesRead> &reads, QVector<ReadResult> &results, const SeriesHooks &hooks = {});
    // A series of one read.
    ReadResult readRegister(quint16 reg, bool pair);
    // One write request of one register.
    WriteResult writeRegister(quint16 reg, quint16 value);

    // The longest time between an answer and the same bytes again, heard on
    // this line: it repeats answers. 0: none heard.
    int repeatLagMs() const { return m_judge.repeatLagMs(); }
    // Whether this line has repeated answers.
    bool repeating() const { return m_judge.repeating(); }
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
    int lateAnswerMs() const { return m_judge.lateMs(); }

    qint16 exchangeState() const { return m_state; }
    const Verdict &lastVerdict() const { return m_verdict; }
    qint16 failureCount() const { return m_failures; }
    void setFailureCount(qint16 n) { m_failures = n; }
    const QByteArray &sendBuffer() const { return m_judge.lastRequest(); }
    const QByteArray &receiveBuffer() const { return m_judge.lastReceived(); }
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
    // An exchange shown earlier turned out otherwise: the read that took its
    // answer was not sure of it after all, or its answer another request's.
    void exchangeRevised(quint64 id, hv52::Verdict verdict);
    // Bytes that arrived outside any exchange and were discarded.
    void strayBytes(const QByteArray &bytes);
    void portOpened();
    void portClosed();

private:
    void openPort();
    void openLine();
    void closePort();
    quint8 busAddress() const;
    Judge::Config judgeConfig() const;
    WriteResult write(quint16 reg, qint32 value);
    // Carries out the judge's steps to the end of the series or the write;
    // a stop or an error of the line cuts the judge short and is thrown on.
    void drive(QVector<ReadResult> *results, const SeriesHooks *hooks);
    void flush(bool ahead);
    void send(const QByteArray &frame, int needed);
    void waitBytes(qint64 untilUs, int needed, bool forAnswer);
    void waitIn(QEventLoop &loop);
    bool waitOffLoop(qint64 untilUs);
    bool eventsDue() const;
    void takeEvents();
    void finalResults(QVector<ReadResult> *results) const;
    // The line as an error names it.
    LinkError::Fields place() const;
    [[noreturn]] void abandon();
    void countFailure();
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }

    void MSComm1_OnComm();
    void Timer1_Timer();
    void onLineFailed(const LinkError &reason);

    // The line: the serial port (MSComm1 in SerialTransport) or a TCP
    // connection, open only while an operation runs.
    std::unique_ptr<Transport> m_line;
    LineSettings m_settings;
    QString m_portLabel;
    QTimer Timer1; // the response timer, and every other wait's end
    Judge m_judge;
    // What the caller reads of the last read or write: its state and why.
    qint16 m_state = Valid;
    Verdict m_verdict;
    qint16 m_failures = 0;
    ContinueQuestion m_continueQuestion;
    int m_guardMs = -1;
    int m_repeatLagLimitMs = Judge::kRepeatLagLimitMs;
    // The operation.
    bool m_busy = false;
    bool m_aborted = false;
    std::optional<LinkError> m_portError; // the line broke during the operation
    bool m_lineBroke = false;             // or refused a request
    QEventLoop *m_loop = nullptr;
    bool m_waiting = false; // a wait takes what the line brings
    bool m_heard = false;   // and it brought something
    int m_eventsEveryMs = 40;
    QElapsedTimer m_sinceEvents; // since the event loop last ran for the link
    QElapsedTimer m_clock;       // the link's own clock, from its making
    QTime m_runStartedAt;        // the time of day when the operation started
    qint64 m_runStartUs = 0;     // and then on the link's clock
    quint64 m_requestsSent = 0;
    bool m_recording = false; // a monitor is listening: rows are made
};

} // namespace hv52
