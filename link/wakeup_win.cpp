// Windows has no minimum-read count, and QSerialPort keeps an overlapped read
// running that drains the driver's queue into its own buffer: the driver's
// count of waiting bytes says nothing. The reader wakes at every chunk the
// port delivers, and stray bytes are looked for every time.
#include "wakeup.h"

namespace hv52 {

bool setMinimumRead(QSerialPort &, int)
{
    return false;
}

int pendingBytes(QSerialPort &)
{
    return -1;
}

} // namespace hv52
