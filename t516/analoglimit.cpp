#include "analoglimit.h"
#include "linkerror.h"

#include <QRegularExpression>
#include <cmath>

namespace hv52 {

quint16 limitRegisterValue(const QString &field, const QString &text, int scale)
{
    const QString typed = text.trimmed();
    if (typed.isEmpty())
        throw LinkError(QStringLiteral("%1为空，设置未发送。").arg(field));
    // Plain digits with an optional sign and point: no exponent, no "inf",
    // no grouping, nothing the operator would not type as a limit.
    static const QRegularExpression decimal(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)$"));
    if (!decimal.match(typed).hasMatch())
        throw LinkError(QStringLiteral("%1“%2”不是数字，设置未发送。").arg(field, typed));

    const double product = typed.toDouble() * scale;
    if (!std::isfinite(product))
        throw LinkError(QStringLiteral("%1 %2 超出 0～65535，设置未发送。").arg(field, typed));
    // The default rounding mode rounds an exact half to the even neighbour.
    const double rounded = std::nearbyint(product);
    if (rounded < 0 || rounded > 65535) {
        throw LinkError(QStringLiteral("%1 %2 × %3 = %4 超出 0～65535，设置未发送。")
                            .arg(field, typed)
                            .arg(scale)
                            .arg(QString::number(rounded, 'f', 0)));
    }
    return quint16(rounded);
}

} // namespace hv52
