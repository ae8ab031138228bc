#include "addressing.h"
#include "input.h"
#include "linespeed.h"
#include "runstatus.h"

#include <algorithm>

namespace hv52run {

int wholeNumber(const QString &option, const QString &text, int low, int high)
{
    const std::optional<qint64> value = wholeNumberText(text);
    if (!value)
        throw UsageError(
            QStringLiteral("%1 的值“%2”不是整数（应为 %3～%4），请求未发送。").arg(option, text).arg(low).arg(high));
    if (*value < low || *value > high)
        throw UsageError(QStringLiteral("%1 的值 %2 超出范围（应为 %3～%4），请求未发送。")
                             .arg(option, text.trimmed())
                             .arg(low)
                             .arg(high));
    return int(*value);
}

int standardSpeed(const QString &option, const QString &text)
{
    const int speed = wholeNumber(option, text, 1, 999999999);
    if (!hv52::kStandardSpeeds.contains(speed))
        throw UsageError(QStringLiteral("%1 的值 %2 不是模块的波特率（应为 %3），请求未发送。")
                             .arg(option)
                             .arg(speed)
                             .arg(hv52::standardSpeedsText()));
    return speed;
}

QList<int> parseAddressRange(const QString &text, const QString &option)
{
    QList<int> out;
    const QStringList parts = text.split(u',');
    for (const QString &part : parts) {
        const QStringList ends = part.split(u'-');
        if (ends.size() > 2 || part.trimmed().isEmpty())
            throw UsageError(
                QStringLiteral("%1 的“%2”不是地址或地址范围（如 1-247 或 1-10,17），请求未发送。").arg(option, part));
        if (wholeNumberText(ends[0]) == 0 || (ends.size() == 2 && wholeNumberText(ends[1]) == 0))
            throw UsageError(
                QStringLiteral("%1 的“%2”含广播地址 0，不能用于通讯（应为 1～247），请求未发送。").arg(option, part));
        const int first = wholeNumber(option, ends[0], 1, 247);
        const int last = ends.size() == 2 ? wholeNumber(option, ends[1], 1, 247) : first;
        if (last < first)
            throw UsageError(QStringLiteral("%1 的范围“%2”从大到小，请求未发送。").arg(option, part));
        for (int a = first; a <= last; ++a) {
            if (!out.contains(a))
                out << a;
        }
    }
    return out;
}

void parseEndpoint(const QString &option, const QString &text, QString *host, quint16 *port)
{
    // HOST:PORT, an IPv6 address in brackets: [::1]:502. Read by hand: a
    // regular expression would be compiled (and its code generated) at
    // every start of a run that reaches a gateway.
    const QString t = text.trimmed();
    const QStringView all(t);
    QStringView name, digits;
    bool ok = false;
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        if (close > 1 && close + 1 < t.size() && t[close + 1] == u':') {
            name = all.mid(1, close - 1);
            digits = all.mid(close + 2);
            ok = std::all_of(name.begin(), name.end(), [](QChar c) {
                const char16_t u = c.unicode();
                return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F') || u == u':'
                       || u == u'.';
            });
        }
    } else if (const qsizetype colon = t.indexOf(u':'); colon > 0) {
        name = all.left(colon);
        digits = all.mid(colon + 1);
        ok = std::none_of(name.begin(), name.end(), [](QChar c) { return c == u'[' || c == u']' || c.isSpace(); });
    }
    ok = ok && !digits.isEmpty()
         && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (!ok)
        throw UsageError(
            QStringLiteral("%1 的值“%2”无效（应为 主机:端口，如 192.168.1.10:502），请求未发送。").arg(option, text));
    // Leading zeros taken, as in every number; a long one clamped so that it
    // reads as out of range.
    const qint64 number = wholeNumberText(digits.toString()).value_or(0);
    if (number < 1 || number > 65535)
        throw UsageError(QStringLiteral("%1 的端口 %2 无效（应为 1～65535），请求未发送。").arg(option).arg(number));
    *host = name.toString();
    *port = quint16(number);
}

} // namespace hv52run
