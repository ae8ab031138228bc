#pragma once
#include "dataunit.h"
#include "frames.h"
#include "linkerror.h"
#include "receiverule.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QVector>

namespace hv52 {

// When an answer counts. Modbus RTU answers carry no request number, so on a
// serial line (and through a device server) only what the line did tells an
// answer from another request's. The rule, as a line trace can check it:
//
//  1. An exchange takes the first whole answer that fits its request (our
//     address, its function, its length, a good CRC) within the response time
//     counted from the request.
//  2. While nothing has gone wrong in the operation, that answer is the
//     request's own and the read counts. When its bytes are, byte for byte,
//     an answer heard earlier, it may be that answer repeated by the line: if
//     it came no later than this module's own answers have come at this place
//     (and 16 ms or a quarter more), the read and every one after it count
//     only if, to the end of the series and a listen as long as its answers
//     took, no answer comes that no request asked for; one that comes makes
//     them fail (应答重复), and they are read again under rule 3. Later than
//     that, its own answer may be held: the read is confirmed under rule 3.
//  3. After any exchange that may still owe its answer (silence, a broken or
//     another request's answer, a read made to fail by rule 2 or 4), the rest
//     of the operation is careful until that answer can no longer come (the
//     timeout, the quiet limit and the longest repetition lag after its
//     request): before the next request the line is quiet for the guard time
//     (longer once answers were heard late, up to the quiet limit), and a read
//     counts only when its answers in a row agree, each followed by a quiet
//     line (20 ms at least, the longest answer, half again the longest
//     repetition lag heard) with nothing in it but copies of that answer, and
//     outnumber what could still bring that value from elsewhere: each
//     request still owed an answer of that shape whose value is not known to
//     differ (another register's, or this one's sent before a write to it),
//     and each recent answer with that value the line may repeat. At least
//     two; one when nothing owed could bring an answer of that shape. Three
//     requests at most; when those left cannot outnumber them, the read first
//     waits until they can, else fails unsent: 应答迟到 or 复读不一致.
//     A read that took an answer heard before still owes its own answer to
//     the rest of the operation, held on trust or not; and a write makes what
//     was known of its register unknown.
//  4. On a line heard repeating answers, every answer is followed by that
//     quiet too; an answer with anything else after it, or one heard before,
//     counts only as rule 3 confirms it.
//  5. Writes are never repeated. An intact exception answer ends its exchange
//     and owes nothing.
//  6. A series of reads is handed over at its end: no value handed over can be
//     revoked by what arrives afterwards.
//  7. Every wait is bounded: an answer's by the response time, every quiet
//     wait by the quiet limit (a line not quiet by then ends the operation).
//     A read makes at most three requests and is read again at most once, so
//     an operation of n reads and w writes ends within
//     (6n + w) x (timeout + 2 x limit) + limit.
// On Modbus TCP the transaction identifier pairs answers with requests: rule 1
// alone, and another transaction's answer is dropped as late.
//
// The judge is this rule and nothing else: no port, timer or event loop. The
// link (or a model of a line in virtual time) asks it what to do next, does
// it, and tells it what happened: the bytes heard and when, on the
// operation's clock in microseconds.
class Judge
{
public:
    static constexpr int kMinGuardMs = 50;
    // The shortest quiet after an answer a later one may agree with.
    static constexpr int kAfterAnswerQuietMs = 20;
    // No quiet wait lasts longer than this: a line still sending then ends the
    // operation.
    static constexpr int kQuietLimitMs = 1000;
    // The longest lag between an answer and its copy that is measured as
    // such; later copies are told by their bytes alone.
    static constexpr int kRepeatLagLimitMs = 250;
    // How far an answer heard before may come from this line's answer time
    // and still pass for its own (a quarter of the longest, if more).
    static constexpr int kBandMarginMs = 5;
    // On the late side, more: one tick of a USB serial adapter's latency
    // timer (16 ms by default) delays any answer by up to that much, and a
    // loaded laptop wakes late by as much.
    static constexpr int kLateMarginMs = 16;
    // Requests one read makes at most.
    static constexpr int kMostAttempts = 3;

    struct Config
    {
        Framing framing = Framing::Rtu;
        quint8 address = 1;
        int timeoutMs = 1000;
        int guardMs = kMinGuardMs; // the quiet after a failed exchange at this speed
        bool scan = false;         // a bus scan: a fixed guard, a late answer tells itself by its address
        qint32 speed = 0;          // 0: not known
        // The longest repetition lag this line is judged for (kRepeatLagLimitMs
        // unless a test's short timeouts ask for less).
        int repeatLagLimitMs = kRepeatLagLimitMs;
    };

    struct Ask
    {
        quint16 reg = 0;
        bool pair = false;
    };

    struct Read
    {
        Verdict verdict{Outcome::Aborted};
        quint32 value = 0;
        // Counted on trust: its answer was byte for byte one heard shortly
        // before and came as this line's answers do, and nothing came against
        // it; or two of its answers agreed, on a line never heard repeating
        // an answer, with quiets shorter than a repetition may lag.
        bool trusted = false;
        bool ok() const { return verdict.valid(); }
    };

    enum class Do {
        Flush,    // take in whatever the line holds, then flushed()
        Send,     // write `frame`, then sent()
        Wait,     // wait for bytes until `untilUs` (wake at `needed` bytes), heard() them, then next()
        Answered, // read `read` has a value for now; the next step may send the next request ahead
        Done,     // the series or the write is judged: results() are final
        Fail,     // the line ends the operation: `failure` with `number`
    };
    struct Step
    {
        Do what = Do::Done;
        QByteArray frame;
        qint64 untilUs = 0;
        int needed = 1; // Wait, Send: the answer needs at least this many bytes
        int read = -1;
        bool sendsNext = false; // Answered: the next steps are Flush and Send, nothing to wait for
        bool forAnswer = false; // Wait: for an answer, not a quiet line
        LinkError::Kind failure = LinkError::Kind::Noisy;
        int number = 0;
    };

    // What the line monitor shows, as it happens.
    struct Event
    {
        enum Kind {
            Row,   // an exchange ended: id, request, answer, verdict, sentUs, elapsedUs
            Stray, // bytes no exchange took: bytes, atUs
            Mark,  // the row of exchange id now has this verdict
        } kind = Row;
        quint64 id = 0;
        int read = -1; // Row: the read of the series it was for, -1: a write
        QByteArray request;
        QByteArray bytes; // the answer, or the stray bytes
        Verdict verdict;
        qint64 sentUs = 0;
        qint64 elapsedUs = 0;
    };

    // Another place: whether the line repeats answers is the place's own.
    void newPlace();
    // A new operation on a port just opened: lateness and doubt are its own.
    void startOperation(const Config &config);
    // The settings of the next series or write (a bus scan moves from one
    // address to the next within an operation).
    void setConfig(const Config &config) { m_config = config; }
    const Config &config() const { return m_config; }

    // A series of reads; its values are final once next() says Done.
    void startReads(const QVector<Ask> &reads);
    // One write.
    void startWrite(quint16 reg, quint16 value);
    // The caller ends the series after the read last answered.
    void stopSeries();
    // The operation ended under the series (stopped, the port lost): the
    // exchange in flight is shown so, and reads not yet sure fail.
    void cut(Verdict why, qint64 nowUs);

    Step next(qint64 nowUs);
    void flushed(const QByteArray &bytes, qint64 atUs);
    void sent(qint64 atUs);
    void heard(const QByteArray &bytes, qint64 atUs);

    QVector<Event> takeEvents() { return std::exchange(m_events, {}); }
    bool hasEvents() const { return !m_events.isEmpty(); }
    // One per read reached, in series order; final once Done (or cut).
    const QVector<Read> &results() const { return m_results; }
    Verdict writeVerdict() const { return m_writeVerdict; }
    // The exchange last judged: its request and what it received.
    const QByteArray &lastRequest() const { return m_x.request; }
    const QByteArray &lastReceived() const { return m_x.received; }
    Verdict lastVerdict() const { return m_x.verdict; }

    // What the operation learnt, for hints: how late the module answered (ms
    // from a request to its answer heard after the response time, 0: never),
    // and the lag of the line's repetitions (0: none heard).
    int lateMs() const { return m_lateMs; }
    int repeatLagMs() const { return m_repeatLagMs; }
    bool repeating() const { return m_repeating; }
    // Whether an answer may still be owed: reads are confirmed.
    bool careful() const;
    int owedCount() const { return int(m_owed.size()); }
    QString owedText() const
    {
        QStringList out;
        for (const Owed &o : m_owed)
            out << QStringLiteral("%1@%2").arg(o.reg, 0, 16).arg(o.sentUs / 1000.0);
        return out.join(u',');
    }

    // The quiet wait after a failed exchange: quiet this long, every byte
    // restarting it, and lasting until this long after the failed request.
    struct Quiet
    {
        int quietMs = 0;
        qint64 coverMs = 0;
    };
    Quiet settleQuiet() const;
    // The quiet after an answer that a later one may agree with.
    int afterAnswerQuietMs() const;
    // How many answers in a row must agree, with this many sources of another
    // register's answer that may bring the same value.
    int answersNeeded(int sources) const;

private:
    enum class Phase {
        Idle,
        Flush,    // take in the line's stale bytes
        PreQuiet, // the line must be quiet before the request
        HoldOff,  // a confirming read waits until answers still owed cannot agree into it
        Send,
        Await,
        After,  // the quiet after an answer in doubt
        Settle, // the quiet after a failed exchange
        Answered,
        Balance, // the listen at the end of a series
        Done,
        Failed,
    };
    struct Exchange
    {
        quint64 id = 0;
        QByteArray request;
        ReceiveRule rule;
        QByteArray received;
        Verdict verdict;
        qint64 sentUs = 0;
        qint64 endUs = 0; // its verdict, or the timeout
        bool judged = false;
        bool timedOut = false;
        bool afterFailure = false;  // sent while an earlier exchange may still owe its answer
        qint64 previousSentUs = -1; // the request before it
        bool anotherAfter = false;  // failed: another answer began after its own length
        bool repeats = false;       // valid: its bytes were heard before
        quint32 value = 0;          // valid read: its value
    };
    struct Listen
    {
        qint64 startUs = 0;
        qint64 quietUs = 0;
        qint64 coverUntilUs = 0;
        qint64 lastByteUs = -1;
        qint64 firstByteUs = -1;
        qint64 bytes = 0;
        QByteArray heard;
        qint64 endUs() const;
        qint64 limitUs() const { return startUs + qint64(kQuietLimitMs) * 1000; }
    };
    struct Heard
    {
        QByteArray frame;
        qint64 atUs = 0;
    };
    // What may still bring another register's answer that fits a read.
    struct Source
    {
        bool known = false; // its value is known
        quint32 value = 0;
        qint64 untilUs = 0; // it can until then
        static int count(const QVector<Source> &sources, quint32 value);
    };
    struct ReadState
    {
        Ask ask;
        int attempts = 0;
        bool carefulStart = false; // it began on a careful line: it is confirmed
        bool havePrevious = false; // the answer before, valid and followed by a quiet line
        int runLength = 0;         // answers in a row that agree, the latest last
        quint32 runValue = 0;
        int holdOffAllowed = 1; // a hold-off waits until no more sources than this
        quint32 firstValue = 0;
        quint64 firstRow = 0;          // the row of its first exchange
        QVector<quint64> validRows;    // the rows of its exchanges shown valid
        QVector<qint64> attemptSentUs; // its requests sent while answers were owed
        QVector<Source> sources;       // at the latest request
        QVector<Source> runSources;    // at the request of the run's first answer
        qint64 holdOffUntilUs = 0;
        bool tookRepeat = false; // it took an answer heard before, on trust
        bool tookEarly = false;  // that answer came sooner than this line's answers do
        qint64 takenSentUs = -1; // the request whose answer it took
        bool firstMarked = false;
        bool firstRepeats = false; // its first answer was heard before
        qint64 firstArrivalUs = 0;
        qint64 failedSentUs = -1; // the request before it
        bool another = false;     // its first answer was another request's
        Verdict failure;
        bool revoked = false;
    };

    bool rtu() const { return m_config.framing == Framing::Rtu; }
    QByteArray frameOf(const QByteArray &unit);
    void beginExchange(const QByteArray &unit);
    void beginAttempt();
    void expire();
    void judged(qint64 nowUs);
    void answeredValid();
    void afterQuietEnded();
    void settleEnded();
    void balanceEnded();
    void attemptFailed(Verdict verdict);
    void confirmFailed();
    void finishConfirmed(Verdict verdict, quint32 value);
    void readDone(Read result);
    void advance();
    bool anyHeardBefore(const QByteArray &bytes) const;
    bool spoiledByLateness(const Verdict &verdict, bool anotherAfter) const;
    void startListen(Phase phase, qint64 nowUs, int quietMs, qint64 coverUntilUs = 0);
    bool listenOver(qint64 nowUs, Step *step);
    // Answers in `bytes` beyond those asked for: they tell the line repeats
    // answers, and revoke the reads of the series a repetition may have
    // spoiled. `own`: the request whose one fitting answer is explained.
    // True when they revoked reads.
    bool unexplained(const QByteArray &bytes, qint64 arrivedUs, const QByteArray &own = {});
    // Whether the bytes were heard within the longest repetition lag, or at all.
    bool heardBefore(const QByteArray &frame, qint64 againUs, bool recentOnly = false);
    void note(const QByteArray &frame, qint64 atUs);
    void noteLate(qint64 us);
    qint64 horizonUs() const;
    void owe(const Exchange &x);
    void owe(qint64 sentUs, const QByteArray &unit);
    void release(qint64 sentUs);
    QVector<Source> sourcesFor(const Ask &read) const;
    // As they stood at a time: what was owed then, what had been heard.
    QVector<Source> sourcesFor(const Ask &read, qint64 atUs) const;
    // When at most one of them can still bring this value; -1: already so.
    qint64 sourcesClearUs(const Ask &read, quint32 value, int allowed) const;
    void holdOff();
    void revokeFrom(int read);
    void row(const Exchange &x, Verdict verdict);
    void mark(quint64 id, Verdict verdict);
    void stray(const QByteArray &bytes, qint64 atUs);
    void fail(LinkError::Kind kind, int number);
    qint64 balanceWindowUs() const;
    void noteAnswerTime(int length, qint64 us);
    bool inBand(int length, qint64 us) const;
    bool early(int length, qint64 us) const;

    Config m_config;
    // The place.
    bool m_repeating = false;
    int m_repeatLagMs = 0;
    // The operation.
    // Requests that may still owe their answer, until the horizon after them.
    struct Owed
    {
        qint64 sentUs = 0;
        int length = 0; // of the answer's data unit
        quint16 reg = 0;
        quint8 function = 0;
        // Held on trust: its answer may be on its way, which matters to a
        // read already careful; it does not make the reads after it careful.
        bool onTrust = false;
    };
    QVector<Owed> m_owed;
    void oweOnTrust(qint64 sentUs, const QByteArray &unit);
    bool writtenSince(const Ask &read, qint64 sinceUs) const;
    // The values handed over this operation, by register and shape.
    QHash<quint32, quint32> m_known;
    // When each register was last written this operation.
    QHash<quint16, qint64> m_writtenUs;
    quint16 m_writeReg = 0;
    qint64 m_nowUs = 0;
    bool m_silenceSeen = false; // an exchange timed out
    int m_lateMs = 0;
    qint64 m_longestAnswerUs = 0;
    qint64 m_lastSentUs = -1;
    QVector<Heard> m_heard; // valid answers of the operation, latest last
    // How long this line's new answers took, by shape (one register, a pair).
    struct Band
    {
        int count = 0;
        qint64 loUs = 0, hiUs = 0;
    };
    // Kept for the place, by module and speed: a module answers in its own
    // time, and the late side of it is what every operation of it has shown.
    struct Bands
    {
        Band byShape[2];
    };
    QHash<quint64, Bands> m_bands;
    static constexpr int kMostBands = 1024;
    quint64 m_bandKey = 0;
    Band &band(int length) { return m_bands[m_bandKey].byShape[length == 9 ? 1 : 0]; }
    const Band &band(int length) const
    {
        static const Band none;
        const auto it = m_bands.constFind(m_bandKey);
        return it == m_bands.constEnd() ? none : it->byShape[length == 9 ? 1 : 0];
    }
    quint16 m_transaction = 0;
    quint64 m_nextId = 0;
    // The series (or the write).
    bool m_writing = false;
    QVector<ReadState> m_reads;
    QVector<Read> m_results;
    int m_current = -1;    // the read under way
    int m_atRiskFrom = -1; // the first read that took an answer heard before
    bool m_stopAsked = false;
    bool m_rereading = false;     // the pass that reads the revoked reads again
    bool m_revokeCurrent = false; // the read under way is revoked when it is done
    bool m_hopeless = false;      // the confirming read about to go cannot confirm: not sent
    Verdict m_writeVerdict{Outcome::Aborted};
    Phase m_phase = Phase::Idle;
    Exchange m_x;
    Listen m_listen;
    bool m_revokeNow = false; // the flush found answers that revoke reads: quiet first
    LinkError::Kind m_failure = LinkError::Kind::Noisy;
    int m_failureNumber = 0;
    QVector<Event> m_events;
};

// The longest answer (a pair read, 9 bytes) and the 3.5-character gap after
// it, 10 bits a character, at this speed; 0 for an unknown speed.
int longestAnswerMs(qint32 speed);

} // namespace hv52
