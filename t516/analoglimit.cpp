#include "analoglimit.h"
#include "linkerror.h"

#include <QRegularExpression>
#include <stdexcept>

namespace hv52 {

namespace {

// Rounds the decimal digits whole.fraction to a whole number, an exact half
// to the even neighbour. Works on the digits themselves: a binary double
// would take 4.985 for 4.98500000000000032 and round 498.5 up.
QString roundHalfEven(QString whole, const QString &fraction)
{
    int direction = -1; // below, at (0) or above (1) one half
    if (!fraction.isEmpty()) {
        if (fraction[0] > u'5')
            direction = 1;
        else if (fraction[0] == u'5')
            direction = fraction.mid(1).contains(QRegularExpression(QStringLiteral("[1-9]"))) ? 1 : 0;
    }
    const bool odd = (whole.back().unicode() - u'0') % 2 == 1;
    if (direction > 0 || (direction == 0 && odd)) {
        // Add one with carry.
        int i = int(whole.size()) - 1;
        for (; i >= 0 && whole[i] == u'9'; --i)
            whole[i] = u'0';
        if (i < 0)
            whole.prepend(u'1');
        else
            whole[i] = QChar(whole[i].unicode() + 1);
    }
    while (whole.size() > 1 && whole[0] == u'0')
        whole.remove(0, 1);
    return whole;
}

} // namespace

quint16 limitRegisterValue(const QString &field, const QString &text, int scale)
{
    const QString typed = text.trimmed();
    if (typed.isEmpty())
        throw LinkError(QStringLiteral("%1为空，设置未发送。").arg(field));
    // Plain digits with an optional sign and point: no exponent, no "inf",
    // no grouping, nothing the operator would not type as a limit.
    static const QRegularExpression decimal(QStringLiteral("^([+-]?)([0-9]*)(?:\\.([0-9]*))?$"));
    const QRegularExpressionMatch m = decimal.match(typed);
    if (!m.hasMatch() || (m.captured(2).isEmpty() && m.captured(3).isEmpty()))
        throw LinkError(QStringLiteral("%1“%2”不是数字，设置未发送。").arg(field, typed));

    // The scales are powers of ten: multiplying moves the decimal point.
    int shift = 0;
    for (int s = scale; s > 1; s /= 10, ++shift) {
        if (s % 10 != 0)
            throw std::invalid_argument("limit scale is not a power of ten");
    }
    const QString fraction = m.captured(3);
    const QString whole = m.captured(2) + fraction.left(shift).leftJustified(shift, u'0');
    const QString rounded = roundHalfEven(whole.isEmpty() ? QStringLiteral("0") : whole, fraction.mid(shift));

    const bool negative = m.captured(1) == u'-' && rounded != u'0';
    bool small = rounded.size() <= 5;
    const int value = small ? rounded.toInt() : 0;
    if (negative || !small || value > 65535) {
        throw LinkError(QStringLiteral("%1 %2 × %3 = %4%5 超出 0～65535，设置未发送。")
                            .arg(field, typed)
                            .arg(scale)
                            .arg(negative ? QStringLiteral("-") : QString(), rounded));
    }
    return quint16(value);
}

} // namespace hv52
