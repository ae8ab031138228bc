// Linux and other POSIX systems: a terminal takes UTF-8 bytes as they are.
#include "console.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace hv52ctl::console {

bool isConsole(Stream stream)
{
    return ::isatty(stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

bool write(Stream stream, const QByteArray &utf8)
{
    FILE *file = stream == Stream::Out ? stdout : stderr;
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
