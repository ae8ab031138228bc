#pragma once
#include <QString>

namespace hv52 {

// The register value of an analog output limit as the operator typed it: the
// decimal text (blanks around it ignored) times the scale of the output's
// source quantity, rounded to the nearest whole number with an exact half
// going to the even neighbour. Throws LinkError, naming `field` and the text,
// for an empty text, a text that is no plain decimal number, or a value
// outside 0 to 65535.
quint16 limitRegisterValue(const QString &field, const QString &text, int scale);

} // namespace hv52
