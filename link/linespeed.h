#pragma once
#include <QList>
#include <QString>

namespace hv52 {

// The line speeds the modules are set to, slowest first: the only ones a
// tool opens a port at.
extern const QList<int> kStandardSpeeds;

// "1200、2400、…、115200", as messages list them.
QString standardSpeedsText();

} // namespace hv52
