// The device lock on POSIX systems: flock() locks the device node itself, so
// two paths to it (a symlink and its target) meet on one lock. Released when
// the port closes its descriptor.
#include "portlock.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/file.h>
#endif

namespace hv52 {

bool lockDevice(qintptr handle)
{
#ifdef Q_OS_UNIX
    if (handle < 0)
        return true;
    int r;
    do {
        r = ::flock(int(handle), LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0 || errno != EWOULDBLOCK;
#else
    Q_UNUSED(handle);
    return true;
#endif
}

} // namespace hv52
