// Linux and other POSIX systems: the terminal's minimum-read count.
#include "wakeup.h"

#include <QSerialPort>

#include <sys/ioctl.h>
#include <termios.h>

namespace hv52 {

bool setMinimumRead(QSerialPort &port, int bytes)
{
    const int handle = port.handle();
    termios tio;
    if (handle < 0 || ::tcgetattr(handle, &tio) != 0)
        return false;
    // Non-canonical reads with no inter-byte timer: poll() reports the port
    // readable once VMIN bytes are in; a read still takes whatever is there.
    const int count = qBound(1, bytes, 255);
    if (tio.c_cc[VMIN] == count && tio.c_cc[VTIME] == 0)
        return true;
    tio.c_cc[VMIN] = cc_t(count);
    tio.c_cc[VTIME] = 0;
    return ::tcsetattr(handle, TCSANOW, &tio) == 0;
}

int pendingBytes(QSerialPort &port)
{
    const int handle = port.handle();
    int count = 0;
    if (handle < 0 || ::ioctl(handle, FIONREAD, &count) != 0)
        return -1;
    return count;
}

} // namespace hv52
