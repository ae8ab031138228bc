#pragma once
#include "frames.h"

#include <QByteArray>
#include <QVector>
#include <utility>

namespace hv52 {

// The longest answer (a pair read, 9 bytes) and the 3.5-character gap after
// it, 10 bits a character, at this speed; 0 for an unknown speed.
int longestAnswerMs(qint32 speed);

// What an operation has learnt of answers that may be another request's, and
// what follows from it: how long the line must be quiet after a failed
// exchange, whether a read counts only when read again alike, and which reads
// a repeated answer may have spoiled. Modbus RTU answers carry no request
// number, so a late answer, or one the line repeats, would pass for the next
// request's. No port here: the link tells it what came and when (on the
// operation's clock), and asks it what to do.
class LatePolicy
{
public:
    // A new operation: lateness, doubt and the answers heard belong to it.
    // Reads up to `serial` are done with.
    void startOperation(quint32 serial);
    // Another place: whether the line repeats answers is the place's own.
    void newPlace();

    // --- lateness -------------------------------------------------------
    // The longest time from a request to bytes heard after its response time
    // ran out, this operation; 0 when no answer came late.
    int lateMs() const { return m_lateMs; }
    void noteLate(qint64 ms) { m_lateMs = std::max(m_lateMs, int(ms)); }
    // An exchange failed and may still owe its answer: a read now counts only
    // when read again alike.
    bool unsure() const { return m_unsure; }
    void setUnsure(bool unsure) { m_unsure = unsure; }
    // An exchange of this operation timed out.
    bool silenceSeen() const { return m_silenceSeen; }
    void noteSilence() { m_silenceSeen = true; }
    // The longest valid exchange of the operation.
    void noteAnswerTime(qint64 us) { m_longestAnswerUs = std::max(m_longestAnswerUs, us); }
    qint64 longestAnswerUs() const { return m_longestAnswerUs; }
    // How long after the latest request the line is listened to at the end
    // of a series with a read at risk: as long as this operation's answers
    // took, and a little more.
    qint64 balanceWindowUs() const { return m_longestAnswerUs + std::max<qint64>(500, m_longestAnswerUs / 4); }

    // The quiet wait after a failed exchange.
    struct Quiet
    {
        int quietMs = 0;       // the line must be quiet this long, every byte restarting it
        qint64 coverUntil = 0; // and the wait lasts until this long after the failed request
        int limitMs = 0;       // a line not quiet by then ends the operation
    };
    // guardMs: the guard time by speed; fixedGuard: a bus scan's fixed one
    // (lateness then is told by the address); overrideMs > 0: that quiet time
    // alone, nothing owed to cover. speed 0 when not given.
    Quiet quietWait(int guardMs, bool fixedGuard, int overrideMs, qint32 speed) const;
    // The quiet time after an answer in doubt: a module that fell behind
    // sends its queued answers back to back, a repeating line its copies
    // as far apart as heard.
    int afterAnswerQuietMs(qint32 speed) const;
    static constexpr int kAfterAnswerQuietMs = 20;
    // A line that does not go quiet within this time ends the operation.
    static constexpr int kSettleLimitMs = 1000;
    // Whether a failure is lateness rather than damage: an answer of another
    // shape, or none in time, from a module heard answering late; two answers
    // back to back (`anotherAfter`: the bytes after the first begin another).
    bool spoiledByLateness(const Verdict &verdict, bool anotherAfter) const;

    // --- repeated answers -------------------------------------------------
    // The line has repeated answers (kept while the place is the same): no
    // read goes ahead, and each answer is followed by a quiet line.
    bool repeating() const { return m_repeating; }
    void setRepeating() { m_repeating = true; }
    // The longest lag between an answer and its copy, heard on this line.
    int repeatLagMs() const { return m_repeatLagMs; }
    // Whether an answer is the same bytes as one heard earlier in the
    // operation; notes the lag when it came again at `againAtMs` (>= 0).
    bool heardBefore(const QByteArray &answer, qint64 againAtMs = -1);
    void heard(const QByteArray &answer, qint64 atMs);
    // A valid answer taken by read `serial`, not confirmed by a second one:
    // when heard before, it and the reads after it hold only while no
    // answer beyond those asked for comes. `repeats`: heardBefore said so.
    void provisional(quint32 serial, bool repeats, bool afterFailure);
    // Bytes that no request asked for, or answers beyond the one `request`
    // expects (empty: any one answer is its own), from the module at
    // `address`, arrived at `arrivedMs` and taken in at `nowMs`, with
    // `serial` the latest read:
    // answers among them tell the line repeats answers, and revoke the reads
    // a repeated answer may have spoiled. True when they revoked reads.
    bool unexplained(const QByteArray &bytes, quint8 address, qint64 arrivedMs, qint64 nowMs, quint32 serial,
                     const QByteArray &request = {});
    // Whether a read taken as valid was found afterwards to be possibly
    // another request's answer.
    bool revoked(quint32 serial) const;
    // A read took an answer heard before and nothing has balanced it yet.
    bool readAtRisk() const { return m_atRiskFrom != 0 && m_atRiskFrom > m_balancedUpTo; }
    // Reads up to `serial` hold, whatever comes.
    void balanced(quint32 serial)
    {
        m_balancedUpTo = serial;
        m_atRiskFrom = 0;
    }

private:
    int m_lateMs = 0;
    bool m_unsure = false;
    bool m_silenceSeen = false;
    qint64 m_longestAnswerUs = 0;
    bool m_repeating = false;
    int m_repeatLagMs = 0;
    // The valid answers of the operation, latest last, with their arrival.
    struct Heard
    {
        QByteArray frame;
        qint64 atMs = 0;
    };
    QVector<Heard> m_heard;
    static constexpr int kHeardKept = 64;
    // The longest lag between an answer and its copy that is measured as
    // such; a gateway that repeats later than this is told by the copies
    // alone, and the quiet waits do not grow for it.
    static constexpr int kRepeatLagLimitMs = 200;
    quint32 m_atRiskFrom = 0;                       // the first read that took an answer heard before, 0: none
    quint32 m_balancedUpTo = 0;                     // reads up to here hold, whatever comes
    QVector<std::pair<quint32, quint32>> m_revoked; // ranges of reads revoked, this operation
};

} // namespace hv52
