#pragma once
#include <QByteArray>

// The frames of the read (function 3) and write (function 16) requests and
// the judgement of their answers. No port here: the link feeds these with
// what the port delivered.
namespace hv52 {

enum ExchangeState : qint16 { Waiting = 0, Valid = 1, Failed = 2, TimedOut = 3 };

// 8 bytes: address, 3, register, count (1 or 2), CRC low, CRC high.
QByteArray readRequest(quint8 address, bool pair, quint8 CMD_H, quint8 CMD_L);
// 11 bytes: address, 16, register, count 1, byte count 2, value, CRC.
QByteArray writeRequest(quint8 address, quint8 CMD_H, quint8 CMD_L, quint16 value);
// Length of the answer a request expects: 7 or 9 for a read, 8 for a write.
int answerLength(const QByteArray &request);

// The receive rule of an exchange: the answer is judged once at least its
// length is buffered; when the response timer expires first, nothing at all
// is a timeout and a begun answer a failure.
inline bool answerDue(qint64 buffered, const QByteArray &request) { return buffered >= answerLength(request); }
inline ExchangeState timeoutState(qint64 buffered) { return buffered < 1 ? TimedOut : Failed; }

// Valid when the last two bytes are the CRC of the others and the answer is
// the one this request expects: from the addressed module, for the requested
// function, of the expected length, carrying the requested register count (a
// read) or echoing the register and count (a write). Else Failed. answer holds
// everything buffered once at least answerLength bytes were in.
ExchangeState judgeAnswer(const QByteArray &answer, const QByteArray &request);

// The register value of a valid read answer: bytes 3-4, or 3-6 for a pair.
quint32 answerValue(const QByteArray &answer, bool pair);

} // namespace hv52
