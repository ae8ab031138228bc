// Platforms without a terminal minimum-read count (Windows): the reader wakes
// at every byte, as the port delivers them.
#include "wakeup.h"

namespace hv52 {

bool setMinimumRead(qintptr, int)
{
    return false;
}

int pendingBytes(qintptr)
{
    return -1;
}

} // namespace hv52
