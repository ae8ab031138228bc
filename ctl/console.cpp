// What both systems do with a stream that is no console: the bytes as they
// are, whole and flushed.
#include "console.h"

#include <cerrno>

namespace hv52ctl::console {

bool writeBytes(FILE *file, const QByteArray &utf8)
{
    errno = 0;
    const bool whole = std::fwrite(utf8.constData(), 1, size_t(utf8.size()), file) == size_t(utf8.size());
    if (std::fflush(file) == 0 && whole)
        return true;
    if (errno == 0)
        errno = EIO;
    std::clearerr(file);
    return false;
}

} // namespace hv52ctl::console
