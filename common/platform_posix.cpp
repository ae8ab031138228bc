// Linux and the other POSIX systems: fontconfig finds a CJK font for any
// family the windows ask for; nothing to set.
#include "platform.h"

namespace hv52 {

void preparePlatform() {}

} // namespace hv52
