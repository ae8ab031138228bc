// Windows: a console shows the text in UTF-16 through WriteConsoleW, whatever
// its code page (cmd.exe and PowerShell start on 936 or 437, where UTF-8
// bytes would be garbled). A file or pipe gets the UTF-8 bytes in binary
// mode: the C library's text mode would put a CR before every LF, doubling
// the CRs of a text that has them.
#include "console.h"

#include <QString>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace hv52ctl::console {

namespace {

HANDLE handleOf(Stream stream)
{
    return GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool onConsole(Stream stream)
{
    DWORD mode = 0;
    const HANDLE h = handleOf(stream);
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

bool enableSequences(Stream stream)
{
    DWORD mode = 0;
    const HANDLE h = handleOf(stream);
    return GetConsoleMode(h, &mode) != 0 && SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

} // namespace

bool isConsole(Stream stream)
{
    // _isatty() is also true of NUL, which is no console.
    return onConsole(stream);
}

int columns(Stream stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (onConsole(stream) && GetConsoleScreenBufferInfo(handleOf(stream), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

bool write(Stream stream, const QByteArray &utf8)
{
    FILE *file = stream == Stream::Out ? stdout : stderr;
    if (onConsole(stream)) {
        // The progress line clears itself with "\033[K": a console of
        // Windows 10 and later does that once asked to.
        static const bool vt[] = {enableSequences(Stream::Out), enableSequences(Stream::Err)};
        Q_UNUSED(vt);
        std::fflush(file);
        const QString text = QString::fromUtf8(utf8);
        const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
        DWORD left = DWORD(text.size());
        while (left > 0) {
            DWORD written = 0;
            if (!WriteConsoleW(handleOf(stream), wide, left, &written, nullptr) || written == 0) {
                errno = EIO;
                return false;
            }
            wide += written;
            left -= written;
        }
        return true;
    }
    static const bool binary[] = {_setmode(_fileno(stdout), _O_BINARY) != -1,
                                  _setmode(_fileno(stderr), _O_BINARY) != -1};
    Q_UNUSED(binary);
    return writeBytes(file, utf8);
}

} // namespace hv52ctl::console
