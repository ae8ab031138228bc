#pragma once
#include "dataunit.h"
#include "frames.h"

#include <QByteArray>

namespace hv52 {

// The receive rule of one exchange as a plain object: the bytes of the line
// go in as they arrive, and out comes a verdict, or nothing yet while more
// bytes are needed. The link and the answer fuzzer both run this one.
//
// RTU framing: the answer is judged once at least its length is in, or at
// once when its first 5 bytes are an intact exception answer; when the
// response time runs out first, nothing at all is a timeout and a begun
// answer incomplete.
// MBAP framing: a frame is whole when its header's length is in. A whole frame
// of another transaction is a late answer to an earlier request: it is
// dropped and the wait goes on.
class ReceiveRule
{
public:
    // Far more than any answer could be (the longest is 260 bytes): a peer
    // that sends this much while an answer is awaited floods the line. The
    // exchange ends there, and no more than this is kept of what came.
    static constexpr int kFloodBytes = 4096;

    ReceiveRule() = default;
    ReceiveRule(Framing framing, const QByteArray &request);

    // Takes bytes just received; true once the answer is judged.
    bool take(const QByteArray &bytes);
    // The response time ran out before a verdict: judges what is in.
    Verdict expire();

    bool done() const { return m_done; }
    const Verdict &verdict() const { return m_verdict; }
    // Every byte taken for this answer (dropped frames apart).
    const QByteArray &answer() const { return m_buffer; }
    // Whole frames of other transactions, dropped (MBAP only; the first
    // kFloodBytes of them).
    const QByteArray &dropped() const { return m_dropped; }
    // Every byte taken, kept or not.
    qint64 taken() const { return m_taken; }
    // At least this many more bytes are needed before a verdict can come
    // (1 once none is certain to be needed).
    int needed() const;
    // The answer's data unit once judged valid.
    QByteArray answerUnit() const;

private:
    bool takeRtu();
    bool takeMbap();
    bool finish(Verdict verdict);

    Framing m_framing = Framing::Rtu;
    QByteArray m_request;
    QByteArray m_buffer;
    QByteArray m_dropped;
    qint64 m_taken = 0;
    Verdict m_verdict;
    bool m_done = false;
};

} // namespace hv52
