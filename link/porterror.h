#pragma once
#include <functional>

class QObject;

namespace hv52 {

// Closes a serial port that reported a read, write or resource error, from
// inside that report. POSIX (porterror_posix.cpp): at once, since an unplugged
// terminal reports read errors as fast as the loop spins until it is closed.
// Windows (porterror_win.cpp): once the report has returned, since the
// overlapped notifier that emits it is deleted by the close and would return
// into freed memory (a crash on pulling a USB adapter).
void closeAfterPortError(QObject *context, std::function<void()> close);

} // namespace hv52
