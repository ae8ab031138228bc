#pragma once
// Work for each line of a site, every line in a thread of its own, bound
// to its status row; returns once every line has ended. The calling thread
// runs its event loop meanwhile: the signals are caught there and wake each
// line's waits.
#include "lineboard.h"

#include <QStringList>
#include <functional>

namespace hv52ctl {

void eachLineAtOnce(LineBoard &board, const QStringList &names, const std::function<void(int line)> &work);

} // namespace hv52ctl
