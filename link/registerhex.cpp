#include "registerhex.h"

namespace hv52 {

QString registerHex(quint16 value)
{
    return QStringLiteral("0x%1").arg(QString::number(value, 16).toUpper().rightJustified(4, u'0'));
}

} // namespace hv52
