#include "frames.h"
#include "crc.h"
#include "dataunit.h"

namespace hv52 {

namespace {

quint8 at(const QByteArray &b, int i)
{
    return static_cast<quint8>(b[i]);
}

} // namespace

int answerLength(const QByteArray &request)
{
    if (request.size() > 5 && request[1] == 3)
        return 5 + 2 * at(request, 5);
    return 8;
}

static bool crcIntact(const QByteArray &bytes)
{
    const int n = int(bytes.size());
    if (n < 3)
        return false;
    const quint16 crc = crc16(bytes.constData(), n - 2);
    return static_cast<quint8>(bytes[n - 2]) == (crc & 255) && static_cast<quint8>(bytes[n - 1]) == (crc >> 8);
}

bool isExceptionAnswer(const QByteArray &answer, const QByteArray &request)
{
    return answer.size() == 5 && request.size() > 1 && answer[0] == request[0]
           && at(answer, 1) == (at(request, 1) | 0x80) && crcIntact(answer);
}

Verdict judge(const QByteArray &answer, const QByteArray &request)
{
    const int n = int(answer.size());
    if (n < 4 || request.size() < 2)
        return {Outcome::Incomplete};
    if (!crcIntact(answer)) {
        // The whole answer this request expects, intact, and more after it:
        // the module did answer (a reset may have been carried out), and the
        // line speed is right; something else is on the line.
        const int expected = answerLength(request);
        if (n > expected && judge(answer.left(expected), request).valid())
            return {Outcome::TooLong};
        return {Outcome::BadCrc};
    }
    // An intact frame from another slave answers some other request: it is
    // no confirmation of ours.
    if (answer[0] != request[0])
        return {Outcome::WrongAddress};
    return judgeUnit(answer.mid(1, n - 3), request.mid(1, request.size() - 3));
}

Verdict judgeAtTimeout(const QByteArray &answer, const QByteArray &request)
{
    if (answer.isEmpty())
        return {Outcome::Timeout};
    if (isExceptionAnswer(answer, request))
        return {Outcome::Exception, at(answer, 2)};
    return {Outcome::Incomplete};
}

ExchangeState stateOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Valid:
        return Valid;
    case Outcome::Timeout:
        return TimedOut;
    default:
        return Failed;
    }
}

QString exceptionName(quint8 code)
{
    switch (code) {
    case 0x01:
        return QStringLiteral("非法功能");
    case 0x02:
        return QStringLiteral("非法数据地址");
    case 0x03:
        return QStringLiteral("非法数据值");
    case 0x04:
        return QStringLiteral("从站设备故障");
    case 0x05:
        return QStringLiteral("确认");
    case 0x06:
        return QStringLiteral("从站设备忙");
    case 0x08:
        return QStringLiteral("存储奇偶性差错");
    case 0x0A:
        return QStringLiteral("网关路径不可用");
    case 0x0B:
        return QStringLiteral("网关目标设备响应失败");
    default:
        return QStringLiteral("未知异常");
    }
}

QString outcomeText(Verdict verdict)
{
    switch (verdict.outcome) {
    case Outcome::Valid:
        return QStringLiteral("有效");
    case Outcome::Timeout:
        return QStringLiteral("超时无应答");
    case Outcome::Incomplete:
        return QStringLiteral("应答不完整");
    case Outcome::BadCrc:
        return QStringLiteral("校验错误");
    case Outcome::WrongAddress:
        return QStringLiteral("地址不符");
    case Outcome::WrongFunction:
        return QStringLiteral("功能码不符");
    case Outcome::WrongLength:
        return QStringLiteral("长度不符");
    case Outcome::Exception:
        return QStringLiteral("异常应答 %1：%2")
            .arg(verdict.exceptionCode, 2, 16, QLatin1Char('0'))
            .toUpper()
            .arg(exceptionName(verdict.exceptionCode));
    case Outcome::PortError:
        return QStringLiteral("串口错误");
    case Outcome::Aborted:
        return QStringLiteral("已中止");
    case Outcome::TooLong:
        return QStringLiteral("应答过长");
    case Outcome::EchoMismatch:
        return QStringLiteral("应答回显不符");
    case Outcome::Late:
        return QStringLiteral("应答迟到");
    case Outcome::Unconfirmed:
        return QStringLiteral("复读不一致");
    case Outcome::Repeated:
        return QStringLiteral("应答重复");
    case Outcome::Flooded:
        return QStringLiteral("应答数据过多");
    }
    return QString();
}

bool isAnotherAnswer(const QByteArray &extra, const QByteArray &request)
{
    if (extra.size() < 2 || request.isEmpty() || extra[0] != request[0])
        return false;
    const quint8 function = at(extra, 1) & 0x7F;
    return function == 3 || function == 16;
}

bool isOtherRequestsAnswer(const QByteArray &bytes, const QByteArray &request)
{
    if (bytes.size() < 7 || request.size() < 2 || bytes[0] != request[0])
        return false;
    // A read answer of one or two registers (7 or 9 bytes) or a write
    // acknowledgement (8), told by function code and byte count.
    int length = 0;
    if (bytes[1] == 3)
        length = 5 + at(bytes, 2);
    else if (bytes[1] == 16)
        length = 8;
    if ((length != 7 && length != 8 && length != 9) || bytes.size() < length)
        return false;
    const QByteArray frame = bytes.left(length);
    return crcIntact(frame) && !judge(frame, request).valid();
}

QVector<QByteArray> answersIn(const QByteArray &bytes, quint8 address)
{
    QVector<QByteArray> found;
    for (int i = 0; i + 5 <= bytes.size();) {
        int length = 0;
        if (at(bytes, i) == address) {
            const quint8 function = at(bytes, i + 1);
            if (function == 3 && (at(bytes, i + 2) == 2 || at(bytes, i + 2) == 4))
                length = 5 + at(bytes, i + 2);
            else if (function == 16)
                length = 8;
            else if (function == 0x83 || function == 0x90)
                length = 5;
        }
        if (length > 0 && i + length <= bytes.size() && crcIntact(bytes.mid(i, length))) {
            found << bytes.mid(i, length);
            i += length;
        } else {
            ++i;
        }
    }
    return found;
}

} // namespace hv52
