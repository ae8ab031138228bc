// The answer path of the link: a request, then whatever the line delivers in
// pieces, received the way Link does it (accumulate; once answerLength bytes
// are in, judge everything buffered; input over first: the timeout rule).
//
// Input: kind, address, register high, register low, value high, value low,
// piece count, that many piece lengths, then the bytes on the line.
//   kind % 3: 0 read of one register, 1 read of a pair, 2 write.
//   kind & 0x80: ignore the line bytes' framing and send a correct answer
//   built from them instead; it must be recognised.
#include "crc.h"
#include "frames.h"

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

struct Received
{
    ExchangeState state;
    QByteArray received;
};

// What Link::MSComm1_OnComm and Link::Timer1_Timer make of the pieces: an
// intact exception answer ends the exchange as soon as its 5 bytes are in.
Received receive(const QByteArray &request, const std::vector<QByteArray> &pieces)
{
    QByteArray buffered;
    for (const QByteArray &piece : pieces) {
        buffered += piece;
        if (buffered.size() == 5 && isExceptionAnswer(*Exact(buffered), *Exact(request)))
            return {stateOf(judge(*Exact(buffered), *Exact(request)).outcome), buffered};
        if (answerDue(buffered.size(), request))
            return {judgeAnswer(*Exact(buffered), *Exact(request)), buffered};
    }
    return {stateOf(judgeAtTimeout(*Exact(buffered), *Exact(request)).outcome), buffered};
}

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
    const QByteArray request =
        op == 2 ? writeRequest(address, regHigh, regLow, value) : readRequest(address, pair, regHigh, regLow);

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
        const Received got = receive(request, split(answer, lengths));
        CHECK(got.state == Valid);
        CHECK(got.received == answer);
        if (op != 2) {
            const quint32 expect = pair ? quint32(byteAt(answer, 3)) << 24 | quint32(byteAt(answer, 4)) << 16
                                              | quint32(byteAt(answer, 5)) << 8 | byteAt(answer, 6)
                                        : quint32(byteAt(answer, 3)) << 8 | byteAt(answer, 4);
            CHECK(answerValue(*Exact(got.received), pair) == expect);
        }
        return 0;
    }

    const Received got = receive(request, split(line, lengths));
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
    const quint32 v = answerValue(*Exact(r), pair);
    if (got.state == Valid && op != 2) {
        const quint32 expect =
            pair ? quint32(byteAt(r, 3)) << 24 | quint32(byteAt(r, 4)) << 16 | quint32(byteAt(r, 5)) << 8 | byteAt(r, 6)
                 : quint32(byteAt(r, 3)) << 8 | byteAt(r, 4);
        CHECK(v == expect);
    }
    // Answers shorter than any value: no value, no read past the end.
    for (int n = 0; n < 7 && n <= r.size(); ++n) {
        (void)answerValue(*Exact(r.left(n)), false);
        (void)answerValue(*Exact(r.left(n)), true);
    }
    return 0;
}
