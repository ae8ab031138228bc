#pragma once
#include <QByteArray>
#include <QString>
#include <QVector>

// The judgement of the RTU answers to the read (function 3) and write
// (function 16) requests, whose frames are built from data units
// (dataunit.h). No port here: the link feeds these with what the port
// delivered.
namespace hv52 {

enum ExchangeState : qint16 {
    Waiting = 0,
    Valid = 1,
    Failed = 2,
    TimedOut = 3
};

// How one exchange ended, in more detail than its state: what the line
// monitor, the failure marks and the outcome messages name.
enum class Outcome : quint8 {
    Valid,
    Timeout,       // nothing at all within the response time
    Incomplete,    // an answer began and never reached its length
    BadCrc,        // the check bytes do not match
    WrongAddress,  // an intact answer from another bus address
    WrongFunction, // another function code
    WrongLength,   // intact but not the length or byte count this request expects
    Exception,     // the module refused the request (function code + 0x80)
    PortError,     // the port failed during the exchange
    Aborted,       // the operation was ended (window closed, stopped)
    TooLong,       // an intact answer followed by more bytes
    EchoMismatch,  // a write acknowledgement echoing another register or count
    Late,          // the module answers after the response time: this answer
                   // came too late, or may be another request's
    Unconfirmed,   // read again after a failure, the values did not agree
    Repeated,      // the line brought answers beyond those asked for (an answer
                   // repeated): this one may be another request's
    Flooded,       // far more bytes than any answer could be
};

struct Verdict
{
    Outcome outcome = Outcome::Valid;
    quint8 exceptionCode = 0; // for Outcome::Exception

    bool valid() const { return outcome == Outcome::Valid; }
};

// The operator's words for an outcome: "有效", "超时无应答", ...,
// "异常应答 02：非法数据地址".
QString outcomeText(Verdict verdict);
// The name of a Modbus exception code, "未知异常" for one without a name.
QString exceptionName(quint8 code);
// The exchange state an outcome leaves: 1 valid, 3 nothing received, else 2.
ExchangeState stateOf(Outcome outcome);

// Length of the answer an RTU request (frameRtu of a readUnit or writeUnit)
// expects: 7 or 9 for a read, 8 for a write.
int answerLength(const QByteArray &request);

// The receive rule of an exchange: the answer is judged once at least its
// length is buffered.
inline bool answerDue(qint64 buffered, const QByteArray &request)
{
    return buffered >= answerLength(request);
}

// Valid when the last two bytes are the CRC of the others and the answer is
// the one this request expects: from the addressed module, for the requested
// function, of the expected length, carrying the requested register count (a
// read) or echoing the register and count (a write); else why not. answer holds
// everything buffered once at least answerLength bytes were in.
Verdict judge(const QByteArray &answer, const QByteArray &request);
// What the bytes taken when the response timer expired amount to: nothing, an
// intact exception answer, or an answer that never reached its length.
Verdict judgeAtTimeout(const QByteArray &answer, const QByteArray &request);
// Whether the bytes buffered so far are a complete, intact exception answer
// to this request (5 bytes: our address, function + 0x80, code, CRC).
bool isExceptionAnswer(const QByteArray &answer, const QByteArray &request);

// Whether bytes found after a complete answer begin another answer from the
// same module (its address, then a read, write or exception function code).
bool isAnotherAnswer(const QByteArray &extra, const QByteArray &request);

// Whether the bytes begin with a whole, intact answer of this module to a
// read or write request of another shape than `request`: another request's.
bool isOtherRequestsAnswer(const QByteArray &bytes, const QByteArray &request);

// The whole, intact answers of the module at `address` found anywhere in
// `bytes`, in order: read answers of one or two registers, write
// acknowledgements and exception answers; what lies between them is skipped.
QVector<QByteArray> answersIn(const QByteArray &bytes, quint8 address);

} // namespace hv52
