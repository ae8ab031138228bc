// Linux and other POSIX systems: a terminal takes UTF-8 bytes as they are.
#include "console.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace hv52ctl::console {

bool isConsole(Stream stream)
{
    return ::isatty(stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

int columns(Stream stream)
{
    struct winsize size = {};
    if (::ioctl(stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

bool write(Stream stream, const QByteArray &utf8)
{
    return writeBytes(stream == Stream::Out ? stdout : stderr, utf8);
}

} // namespace hv52ctl::console
