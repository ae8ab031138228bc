// The device lock on POSIX systems: flock() locks the device node itself, so
// two paths to it (a symlink and its target) meet on one lock. Released when
// the port closes its descriptor.
#include "portlock.h"

#include <QSerialPort>

#include <cerrno>
#include <sys/file.h>

namespace hv52 {

bool lockDevice(QSerialPort &port)
{
    const int fd = port.handle();
    if (fd < 0)
        return true;
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0 || errno != EWOULDBLOCK;
}

} // namespace hv52
