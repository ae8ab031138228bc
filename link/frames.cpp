#include "frames.h"
#include "crc.h"

namespace hv52 {

namespace {

constexpr int kGenpoly = 40961; // 0xA001

// Stores the CRC of the bytes before the last two in those two, low byte first.
void closeFrame(QByteArray &frame)
{
    const int n = int(frame.size()) - 2;
    int crc = 0xFFFF;
    for (int i = 0; i < n; ++i)
        crc = CrcResult(static_cast<unsigned char>(frame[i]), kGenpoly, crc);
    frame[n] = char(crc & 255);
    frame[n + 1] = char((crc / 256) & 255);
}

quint8 at(const QByteArray &b, int i) { return static_cast<quint8>(b[i]); }

} // namespace

QByteArray readRequest(quint8 address, bool pair, quint8 CMD_H, quint8 CMD_L)
{
    QByteArray frame(8, 0);
    frame[0] = char(address);
    frame[1] = 3;
    frame[2] = char(CMD_H);
    frame[3] = char(CMD_L);
    frame[5] = char(pair ? 2 : 1);
    closeFrame(frame);
    return frame;
}

QByteArray writeRequest(quint8 address, quint8 CMD_H, quint8 CMD_L, quint16 value)
{
    QByteArray frame(11, 0);
    frame[0] = char(address);
    frame[1] = 16;
    frame[2] = char(CMD_H);
    frame[3] = char(CMD_L);
    frame[5] = 1;
    frame[6] = 2;
    frame[7] = char(value / 256);
    frame[8] = char(value % 256);
    closeFrame(frame);
    return frame;
}

int answerLength(const QByteArray &request)
{
    if (request.size() > 5 && request[1] == 3)
        return 5 + 2 * at(request, 5);
    return 8;
}

ExchangeState judgeAnswer(const QByteArray &answer, const QByteArray &request)
{
    const int n = int(answer.size());
    if (n < 4 || request.size() < 2)
        return Failed;
    const quint16 crc = crc16(answer.constData(), n - 2);
    if (at(answer, n - 2) != (crc & 255) || at(answer, n - 1) != (crc >> 8))
        return Failed;
    // An intact frame from another slave, or for another function, answers
    // some other request: it is no confirmation of ours.
    if (answer[0] != request[0] || answer[1] != request[1])
        return Failed;
    // Nor is a late answer to the previous request that lands in this one's
    // wait: a read answer must carry the registers asked for, a write answer
    // must echo this write's register and count.
    if (n != answerLength(request))
        return Failed;
    if (request[1] == 3)
        return at(answer, 2) == 2 * at(request, 5) ? Valid : Failed;
    return answer.mid(2, 4) == request.mid(2, 4) ? Valid : Failed;
}

quint32 answerValue(const QByteArray &answer, bool pair)
{
    if (answer.size() < (pair ? 7 : 5))
        return 0;
    if (pair)
        return (quint32(at(answer, 3)) << 24) | (quint32(at(answer, 4)) << 16) | (quint32(at(answer, 5)) << 8)
               | at(answer, 6);
    return (quint32(at(answer, 3)) << 8) | at(answer, 4);
}

} // namespace hv52
