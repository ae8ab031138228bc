// The answer path of the link: a request, then whatever the line delivers in
// pieces, fed to the link's own receive rule (link/receiverule.h) and checked
// against what an answer must be, over RTU and over Modbus TCP framing.
//
// Input: kind, address, register high, register low, value high, value low,
// piece count, that many piece lengths, then the bytes on the line.
//   kind % 3: 0 read of one register, 1 read of a pair, 2 write.
//   kind & 0x80: ignore the line bytes' framing and send a correct answer
//   built from them instead; it must be recognised.
//   kind & 0x40: the same line also as Modbus TCP frames.
#include "crc.h"
#include "dataunit.h"
#include "frames.h"
#include "receiverule.h"

#include "check.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace hv52;

namespace {

// Table-driven CRC-16, written apart from link/crc.cpp so a fault in one is
// not mirrored by the other.
quint16 referenceCrc(const QByteArray &bytes, int n)
{
    static const std::vector<quint16> table = [] {
        std::vector<quint16> t(256);
        for (int i = 0; i < 256; ++i) {
            quint16 c = quint16(i);
            for (int b = 0; b < 8; ++b)
                c = (c & 1) ? quint16((c >> 1) ^ 0xA001) : quint16(c >> 1);
            t[i] = c;
        }
        return t;
    }();
    quint16 crc = 0xFFFF;
    for (int i = 0; i < n; ++i)
        crc = quint16((crc >> 8) ^ table[(crc ^ quint8(bytes[i])) & 0xFF]);
    return crc;
}

bool crcOk(const QByteArray &frame)
{
    const int n = int(frame.size());
    if (n < 2)
        return false;
    const quint16 crc = referenceCrc(frame, n - 2);
    return quint8(frame[n - 2]) == (crc & 0xFF) && quint8(frame[n - 1]) == (crc >> 8);
}

void appendCrc(QByteArray &frame)
{
    const quint16 crc = referenceCrc(frame, int(frame.size()));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
}

quint8 byteAt(const QByteArray &b, int i)
{
    return quint8(b[i]);
}

// A QByteArray over a heap block of exactly its size: a QByteArray of its own
// keeps spare capacity and a terminating zero, which would hide a read one
// past the end from AddressSanitizer.
class Exact
{
public:
    explicit Exact(const QByteArray &bytes) : m_mem(new char[size_t(bytes.size())])
    {
        std::copy(bytes.begin(), bytes.end(), m_mem.get());
        m_view = QByteArray::fromRawData(m_mem.get(), bytes.size());
    }
    const QByteArray &operator*() const { return m_view; }

private:
    std::unique_ptr<char[]> m_mem;
    QByteArray m_view;
};

// The register value of an RTU answer as the link reads it: its data unit's.
// Both steps see exact copies, so neither can read past what it was given.
quint32 valueOf(const QByteArray &answer, bool pair)
{
    return unitValue(*Exact(splitFrame(Framing::Rtu, *Exact(answer)).unit), pair);
}

struct Received
{
    ExchangeState state;
    QByteArray received;
};

// Splits line into pieces of the given lengths; what is left comes last.
std::vector<QByteArray> split(const QByteArray &line, const std::vector<int> &lengths)
{
    std::vector<QByteArray> pieces;
    int at = 0;
    for (int length : lengths) {
        pieces.push_back(line.mid(at, length));
        at = std::min(int(line.size()), at + length);
    }
    if (at < line.size())
        pieces.push_back(line.mid(at));
    return pieces;
}

// The link's own receive rule over the pieces: the verdict as soon as it
// has one, else what the response timer makes of the bytes in.
Received receive(Framing framing, const QByteArray &request, const std::vector<QByteArray> &pieces,
                 QByteArray *dropped = nullptr)
{
    ReceiveRule rule(framing, *Exact(request));
    Verdict verdict;
    bool done = false;
    for (const QByteArray &piece : pieces) {
        if (rule.take(*Exact(piece))) {
            done = true;
            break;
        }
    }
    verdict = done ? rule.verdict() : rule.expire();
    if (dropped)
        *dropped = rule.dropped();
    // The same judgement on an exact copy of what the rule took, so that a read
    // past its end shows (the rule keeps a buffer of its own).
    if (framing == Framing::Rtu && rule.answer().size() >= 4)
        CHECK(judge(*Exact(rule.answer()), *Exact(request)).outcome == verdict.outcome || !done);
    return {stateOf(verdict.outcome), rule.answer()};
}

// Modbus TCP: the same request as a data unit behind an MBAP header. A valid
// verdict needs this transaction, protocol 0, the length in the header, the
// unit and the data unit this request expects; every frame dropped on the way
// was whole and of another transaction.
void checkMbap(int op, quint8 address, quint16 reg, quint16 value, const QByteArray &line,
               const std::vector<int> &lengths)
{
    const bool pair = op == 1;
    const QByteArray unit = op == 2 ? writeUnit(reg, value) : readUnit(pair, reg);
    const quint16 transaction = quint16(value ^ 0x5A5A);
    const QByteArray request = frameMbap(transaction, address, unit);
    CHECK(request.size() == kMbapHeader + unit.size());
    CHECK(splitFrame(Framing::Mbap, request).unit == unit);
    QByteArray dropped;
    const Received got = receive(Framing::Mbap, request, split(line, lengths), &dropped);
    const QByteArray &r = got.received;
    if (got.state == Valid) {
        CHECK(r.size() >= kMbapHeader);
        CHECK(r.left(2) == request.left(2) && r[2] == 0 && r[3] == 0 && r[6] == request[6]);
        CHECK((byteAt(r, 4) << 8 | byteAt(r, 5)) == int(r.size()) - 6);
        const QByteArray answerUnit = r.mid(kMbapHeader);
        CHECK(judgeUnit(answerUnit, unit).valid());
        CHECK(answerUnit.size() == (op == 2 ? 5 : pair ? 6 : 4));
        (void)unitValue(*Exact(answerUnit), pair);
    }
    for (int at = 0; at < dropped.size();) {
        CHECK(dropped.size() - at >= kMbapHeader);
        CHECK(dropped.mid(at, 2) != request.left(2));
        at += 6 + (byteAt(dropped, at + 4) << 8 | byteAt(dropped, at + 5));
        CHECK(at <= dropped.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 7)
        return 0;
    const quint8 kind = data[0];
    const quint8 address = data[1], regHigh = data[2], regLow = data[3];
    const quint16 value = quint16(data[4] << 8 | data[5]);
    const bool buildValid = kind & 0x80;
    size_t at = 6;
    const int pieceCount = data[at++] % 16;
    std::vector<int> lengths;
    for (int i = 0; i < pieceCount && at < size; ++i)
        lengths.push_back(data[at++]);
    QByteArray line(reinterpret_cast<const char *>(data + at), qsizetype(size - at));

    const int op = kind % 3;
    const bool pair = op == 1;
    const quint16 reg = quint16(regHigh << 8 | regLow);
    const QByteArray request = frameRtu(address, op == 2 ? writeUnit(reg, value) : readUnit(pair, reg));

    // The request itself: fixed size, intact CRC, the expected answer length.
    CHECK(request.size() == (op == 2 ? 11 : 8));
    CHECK(crcOk(request));
    CHECK(byteAt(request, 0) == address && byteAt(request, 2) == regHigh && byteAt(request, 3) == regLow);
    const int threshold = answerLength(request);
    CHECK(threshold == (op == 2 ? 8 : pair ? 9 : 7));

    if (buildValid) {
        // The module's correct answer, with register data from the line bytes.
        QByteArray answer;
        answer.append(char(address));
        if (op == 2) {
            answer.append(char(16));
            answer.append(request.mid(2, 4));
        } else {
            const int bytes = pair ? 4 : 2;
            answer.append(char(3));
            answer.append(char(bytes));
            answer.append(line.left(bytes).leftJustified(bytes, '\0', true));
        }
        appendCrc(answer);
        CHECK(answer.size() == threshold);
        const Received got = receive(Framing::Rtu, request, split(answer, lengths));
        CHECK(got.state == Valid);
        CHECK(got.received == answer);
        if (op != 2) {
            const quint32 expect = pair ? quint32(byteAt(answer, 3)) << 24 | quint32(byteAt(answer, 4)) << 16
                                              | quint32(byteAt(answer, 5)) << 8 | byteAt(answer, 6)
                                        : quint32(byteAt(answer, 3)) << 8 | byteAt(answer, 4);
            CHECK(valueOf(got.received, pair) == expect);
        }
        return 0;
    }

    if (kind & 0x40)
        checkMbap(op, address, reg, value, line, lengths);

    const Received got = receive(Framing::Rtu, request, split(line, lengths));
    const QByteArray &r = got.received;
    if (r.size() < threshold) {
        // Only the timer ends an exchange that never reached its length.
        CHECK(got.state == (r.isEmpty() ? TimedOut : Failed));
    } else {
        // Valid exactly for an intact frame from the addressed module for the
        // requested function that is the answer this request expects: its
        // length, its byte count (read) or the echo of register and count
        // (write). Anything else may be a late answer to another request.
        const bool intact = crcOk(r) && r[0] == request[0] && r[1] == request[1];
        const bool expected =
            r.size() == threshold && (op == 2 ? r.mid(2, 4) == request.mid(2, 4) : byteAt(r, 2) == threshold - 5);
        CHECK(got.state == (intact && expected ? Valid : Failed));
        // Agrees with the link's own CRC too, on the bytes it was judged on.
        if (got.state == Valid)
            CHECK(crc16(r.constData(), r.size() - 2) == (byteAt(r, r.size() - 2) | byteAt(r, r.size() - 1) << 8));
    }
    // Whatever was received, reading a value stays inside the buffer (ASan
    // watches); on a valid read answer it is the data bytes after the count.
    const quint32 v = valueOf(r, pair);
    if (got.state == Valid && op != 2) {
        const quint32 expect =
            pair ? quint32(byteAt(r, 3)) << 24 | quint32(byteAt(r, 4)) << 16 | quint32(byteAt(r, 5)) << 8 | byteAt(r, 6)
                 : quint32(byteAt(r, 3)) << 8 | byteAt(r, 4);
        CHECK(v == expect);
    }
    // Answers shorter than any value: no value, no read past the end.
    for (int n = 0; n < 7 && n <= r.size(); ++n) {
        (void)valueOf(r.left(n), false);
        (void)valueOf(r.left(n), true);
    }
    return 0;
}
