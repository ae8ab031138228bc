#include "receiverule.h"

#include <algorithm>

namespace hv52 {

namespace {

constexpr int kExceptionLength = 5; // RTU: address, function + 0x80, code, CRC
constexpr int kMaxMbapLength = 254; // unit identifier and the largest data unit

quint16 word(const QByteArray &b, int i)
{
    return quint16(quint8(b[i]) << 8 | quint8(b[i + 1]));
}

} // namespace

// Copies of their own: the caller's bytes may be a view of memory that goes
// away before the verdict.
ReceiveRule::ReceiveRule(Framing framing, const QByteArray &request)
    : m_framing(framing), m_request(request.constData(), request.size())
{}

bool ReceiveRule::take(const QByteArray &bytes)
{
    if (m_done)
        return true; // bytes after the verdict stay with the caller
    m_taken += bytes.size();
    m_buffer.append(bytes.constData(), bytes.size());
    const bool judged = m_framing == Framing::Rtu ? takeRtu() : takeMbap();
    if (!judged && m_taken > kFloodBytes)
        finish({Outcome::Flooded}); // frames of other transactions without end
    // What is kept of an answer is bounded whatever the peer sends: the
    // verdict needs only its start.
    if (m_buffer.size() > kFloodBytes)
        m_buffer.truncate(kFloodBytes);
    return m_done;
}

bool ReceiveRule::finish(Verdict verdict)
{
    m_verdict = verdict;
    m_done = true;
    return true;
}

bool ReceiveRule::takeRtu()
{
    // A module that refuses the request says so in 5 bytes: no need to wait
    // for the timer once they are in and intact.
    if (m_buffer.size() == kExceptionLength && isExceptionAnswer(m_buffer, m_request))
        return finish(judge(m_buffer, m_request));
    if (!answerDue(m_buffer.size(), m_request))
        return false; // the answer is still coming in pieces
    return finish(judge(m_buffer, m_request));
}

bool ReceiveRule::takeMbap()
{
    const FrameParts asked = splitFrame(Framing::Mbap, m_request);
    // Dropped frames are walked over and removed once: a peer may send
    // thousands of them in one read.
    int at = 0;
    const auto judged = [&](Verdict verdict) {
        m_buffer.remove(0, at);
        return finish(verdict);
    };
    for (;;) {
        const int have = int(m_buffer.size()) - at;
        const MbapFrame frame = mbapFrameAt(m_buffer, at);
        if (frame.state == MbapFrame::Short)
            break;
        if (frame.state == MbapFrame::NotHeader || frame.length > kMaxMbapLength)
            return judged({Outcome::WrongLength}); // not a Modbus TCP header
        const int whole = frame.size();
        if (frame.state == MbapFrame::Partial)
            break;
        if (frame.transaction != asked.transaction) {
            // Another transaction's answer: an earlier request's, late. Its
            // identifier gives it away; ours may still come.
            if (m_dropped.size() < kFloodBytes)
                m_dropped += m_buffer.mid(at, std::min<qsizetype>(whole, kFloodBytes - m_dropped.size()));
            at += whole;
            if (at > kFloodBytes)
                return judged({Outcome::Flooded});
            continue;
        }
        if (have > whole)
            return judged({Outcome::TooLong});
        if (quint8(m_buffer[at + 6]) != asked.address)
            return judged({Outcome::WrongAddress});
        return judged(judgeUnit(m_buffer.mid(at + kMbapHeader), asked.unit));
    }
    m_buffer.remove(0, at);
    return false;
}

Verdict ReceiveRule::expire()
{
    if (m_done)
        return m_verdict;
    m_done = true;
    if (m_framing == Framing::Rtu) {
        m_verdict = judgeAtTimeout(m_buffer, m_request);
    } else if (m_buffer.isEmpty()) {
        // Only another request's answer came: the module answers late.
        m_verdict = {m_dropped.isEmpty() ? Outcome::Timeout : Outcome::Late};
    } else {
        m_verdict = {Outcome::Incomplete};
    }
    return m_verdict;
}

int ReceiveRule::needed() const
{
    if (m_done)
        return 0;
    const int have = int(m_buffer.size());
    if (m_framing == Framing::Rtu) {
        if (have < kExceptionLength)
            return kExceptionLength - have;
        return std::max(1, answerLength(m_request) - have);
    }
    if (have < kMbapHeader)
        return kMbapHeader - have;
    return std::max(1, 6 + word(m_buffer, 4) - have);
}

QByteArray ReceiveRule::answerUnit() const
{
    return splitFrame(m_framing, m_buffer).unit;
}

} // namespace hv52
