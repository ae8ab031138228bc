#pragma once
#include "frames.h"

#include <QByteArray>

// The protocol data unit (function code and data) of the read and write
// requests, built and judged apart from its framing: RTU framing adds the bus
// address and the CRC, Modbus TCP framing the MBAP header.
namespace hv52 {

// 5 bytes: 3, register, count (1 or 2).
QByteArray readUnit(bool pair, quint16 reg);
// 6 bytes: 16, register, count 1, byte count 2, value.
QByteArray writeUnit(quint16 reg, quint16 value);
// The length of the data unit a request's answer carries: 2 + 2 per register
// for a read, 5 for a write acknowledgement.
int answerUnitLength(const QByteArray &requestUnit);

// An answer's data unit against its request's, the checks in a fixed order:
// an exception answer, the function code, the length, the byte count (a read)
// or the echo of register and count (a write).
Verdict judgeUnit(const QByteArray &answerUnit, const QByteArray &requestUnit);

// The register value of a valid read answer's data unit: bytes 2-3, or 2-5.
quint32 unitValue(const QByteArray &answerUnit, bool pair);

// How the data unit travels.
enum class Framing : quint8 {
    Rtu,  // address, data unit, CRC: on a serial line and through a device server
    Mbap, // Modbus TCP: transaction, protocol 0, length, unit, data unit
};

// The MBAP header is 7 bytes; its length field counts the unit identifier and
// the data unit.
constexpr int kMbapHeader = 7;

QByteArray frameRtu(quint8 address, const QByteArray &unit);
QByteArray frameMbap(quint16 transaction, quint8 unitId, const QByteArray &unit);

// The parts of a frame of either framing; empty unit when it has none.
struct FrameParts
{
    quint8 address = 0;      // the bus address, or the unit identifier
    quint16 transaction = 0; // MBAP only
    QByteArray unit;         // the data unit
};
FrameParts splitFrame(Framing framing, const QByteArray &frame);

// The Modbus TCP frame that starts `at` in bytes: Short while fewer than
// kMbapHeader bytes are there, NotHeader when protocol or length cannot be a
// frame's, Partial until the whole frame is in. The receive rule and the line
// monitor walk frames with it; the rule also bounds `length`.
struct MbapFrame
{
    enum State {
        Short,
        NotHeader,
        Partial,
        Whole
    } state = Short;
    quint16 transaction = 0;
    int length = 0; // the header's length field
    int size() const { return 6 + length; }
};
MbapFrame mbapFrameAt(const QByteArray &bytes, int at);

} // namespace hv52
