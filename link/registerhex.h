#pragma once
#include <QString>

namespace hv52 {

// "0x0E40": a register or a value written as the module's documents give them,
// four upper-case hexadecimal digits.
QString registerHex(quint16 value);

} // namespace hv52
