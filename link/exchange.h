#pragma once
#include "dataunit.h"
#include "frames.h"
#include "receiverule.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMetaType>
#include <QTime>

namespace hv52 {

// One exchange as it went over the line: what the line monitor shows.
struct ExchangeRecord
{
    QTime sentAt;         // wall clock when the request went out
    qint64 elapsedUs = 0; // from the request to the answer's last byte, or to the timeout
    QByteArray request;
    QByteArray answer; // whatever was received for it
    Verdict verdict;
    Framing framing = Framing::Rtu; // how request and answer are framed on the line
};

// The exchange in flight, or the last one: its request, what came for it
// under the receive rule, and where it stands. The link sends and waits;
// this holds what the waiting is about.
class Exchange
{
public:
    enum class Phase {
        Idle,     // nothing sent yet, or the answer to `request` not awaited
        Awaiting, // sent; bytes are taken for its answer
        Answered, // the receive rule judged what came
        Expired,  // the response time ran out first, and what was in was judged
        Cut,      // the wait ended without a verdict: aborted, the port lost
    };

    // The request about to go out (also when it never does: the port is
    // already lost).
    void prepare(const QByteArray &request) { m_request = request; }
    // Ready for its answer on a line of this framing: nothing received yet.
    void arm(Framing framing);
    // It goes out now. `sentAt`: the time of day, when recorded.
    void begin(bool recording, QTime sentAt, bool afterFailure, qint64 previousSentMs);
    // Written to the line: bytes are now this exchange's.
    void sentOut() { m_phase = Phase::Awaiting; }

    // Bytes for the answer; true once the receive rule judged them.
    bool take(const QByteArray &bytes);
    // The response time ran out: what is in is judged, with the bytes not
    // yet handed over.
    Verdict expire(const QByteArray &bytes);
    // The wait ended without a verdict.
    void cut()
    {
        if (m_phase == Phase::Awaiting)
            m_phase = Phase::Cut;
    }

    Phase phase() const { return m_phase; }
    bool awaiting() const { return m_phase == Phase::Awaiting; }
    bool timedOut() const { return m_phase == Phase::Expired; }

    const QByteArray &request() const { return m_request; }
    const QByteArray &received() const { return m_received; }
    const Verdict &verdict() const { return m_rule.verdict(); }
    // At least this many more bytes are needed before a verdict can come.
    int needed() const { return m_rule.needed(); }
    // Whole frames of other transactions, dropped (Modbus TCP).
    const QByteArray &dropped() const { return m_rule.dropped(); }
    // The answer's data unit once judged valid.
    QByteArray answerUnit() const { return m_rule.answerUnit(); }

    bool recording() const { return m_recording; }
    bool afterFailure() const { return m_afterFailure; }
    qint64 previousSentMs() const { return m_previousSentMs; }
    qint64 elapsedMs() const { return m_clock.elapsed(); }
    qint64 elapsedUs() const { return m_clock.nsecsElapsed() / 1000; }
    // The monitor's row of it, ended so long after the request with this verdict.
    ExchangeRecord row(qint64 elapsedUs, Verdict verdict) const
    {
        return {m_sentAt, elapsedUs, m_request, m_received, verdict};
    }

private:
    Phase m_phase = Phase::Idle;
    QByteArray m_request;
    QByteArray m_received;
    ReceiveRule m_rule;
    bool m_recording = false;    // a monitor is listening: rows are made
    bool m_afterFailure = false; // sent while an earlier exchange may still owe its answer
    qint64 m_previousSentMs = 0; // the request before, on the operation's clock
    QElapsedTimer m_clock;       // from the request
    QTime m_sentAt;
};

} // namespace hv52

Q_DECLARE_METATYPE(hv52::ExchangeRecord)
