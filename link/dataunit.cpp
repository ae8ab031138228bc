#include "dataunit.h"
#include "crc.h"

namespace hv52 {

namespace {

quint8 at(const QByteArray &b, int i)
{
    return static_cast<quint8>(b[i]);
}

} // namespace

QByteArray readUnit(bool pair, quint16 reg)
{
    QByteArray unit(5, 0);
    unit[0] = 3;
    unit[1] = char(reg >> 8);
    unit[2] = char(reg & 255);
    unit[4] = char(pair ? 2 : 1);
    return unit;
}

QByteArray writeUnit(quint16 reg, quint16 value)
{
    QByteArray unit(6, 0);
    unit[0] = 16;
    unit[1] = char(reg >> 8);
    unit[2] = char(reg & 255);
    unit[4] = 1;
    unit[5] = 2;
    unit.append(char(value / 256));
    unit.append(char(value % 256));
    return unit;
}

int answerUnitLength(const QByteArray &requestUnit)
{
    if (requestUnit.size() > 4 && requestUnit[0] == 3)
        return 2 + 2 * at(requestUnit, 4);
    return 5;
}

Verdict judgeUnit(const QByteArray &answer, const QByteArray &request)
{
    if (answer.isEmpty() || request.isEmpty())
        return {Outcome::Incomplete};
    // A refusal is function + 0x80 and one code byte, nothing more.
    if (answer.size() == 2 && at(answer, 0) == (at(request, 0) | 0x80))
        return {Outcome::Exception, at(answer, 1)};
    if (answer[0] != request[0])
        return {Outcome::WrongFunction};
    // A late answer to the previous request must not pass for this one's: a
    // read answer carries the registers asked for, a write answer echoes this
    // write's register and count.
    if (answer.size() != answerUnitLength(request))
        return {Outcome::WrongLength};
    if (request[0] == 3)
        return {at(answer, 1) == 2 * at(request, 4) ? Outcome::Valid : Outcome::WrongLength};
    return {answer.mid(1, 4) == request.mid(1, 4) ? Outcome::Valid : Outcome::EchoMismatch};
}

quint32 unitValue(const QByteArray &unit, bool pair)
{
    if (unit.size() < (pair ? 6 : 4))
        return 0;
    if (pair)
        return (quint32(at(unit, 2)) << 24) | (quint32(at(unit, 3)) << 16) | (quint32(at(unit, 4)) << 8) | at(unit, 5);
    return (quint32(at(unit, 2)) << 8) | at(unit, 3);
}

QByteArray frameRtu(quint8 address, const QByteArray &unit)
{
    QByteArray frame;
    frame.reserve(unit.size() + 3);
    frame.append(char(address));
    frame.append(unit);
    const quint16 crc = crc16(frame);
    frame.append(char(crc & 255));
    frame.append(char(crc >> 8));
    return frame;
}

QByteArray frameMbap(quint16 transaction, quint8 unitId, const QByteArray &unit)
{
    const int length = int(unit.size()) + 1;
    QByteArray frame;
    frame.reserve(kMbapHeader + unit.size());
    frame.append(char(transaction >> 8));
    frame.append(char(transaction & 255));
    frame.append(char(0));
    frame.append(char(0));
    frame.append(char(length >> 8));
    frame.append(char(length & 255));
    frame.append(char(unitId));
    frame.append(unit);
    return frame;
}

FrameParts splitFrame(Framing framing, const QByteArray &frame)
{
    FrameParts parts;
    if (framing == Framing::Rtu) {
        if (frame.size() >= 1)
            parts.address = at(frame, 0);
        if (frame.size() > 3)
            parts.unit = frame.mid(1, frame.size() - 3);
        return parts;
    }
    if (frame.size() >= 2)
        parts.transaction = quint16(at(frame, 0) << 8 | at(frame, 1));
    if (frame.size() >= kMbapHeader) {
        parts.address = at(frame, 6);
        parts.unit = frame.mid(kMbapHeader);
    }
    return parts;
}

MbapFrame mbapFrameAt(const QByteArray &bytes, int at)
{
    MbapFrame frame;
    if (bytes.size() - at < kMbapHeader)
        return frame;
    const auto word = [&bytes](int i) { return quint16(quint8(bytes[i]) << 8 | quint8(bytes[i + 1])); };
    frame.transaction = word(at);
    frame.length = word(at + 4);
    if (word(at + 2) != 0 || frame.length < 2)
        frame.state = MbapFrame::NotHeader;
    else
        frame.state = bytes.size() - at < frame.size() ? MbapFrame::Partial : MbapFrame::Whole;
    return frame;
}

} // namespace hv52
