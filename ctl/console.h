#pragma once
// hv52ctl's standard output and error as the system has them: a console
// (a terminal) or a file or pipe. The Chinese text is UTF-8 inside; each
// system gets it its own way (console_posix.cpp, console_win.cpp).
#include <QByteArray>

#include <cstdio>

namespace hv52ctl::console {

enum class Stream {
    Out,
    Err
};

// Whether the stream is a console the operator watches: the progress line
// that rewrites itself goes there only.
bool isConsole(Stream stream);

// The columns of the console window behind the stream; 80 when it is no
// console or does not say.
int columns(Stream stream);

// Writes UTF-8 text whole and flushes it. False when it could not, errno
// then saying why (EPIPE: the reader is gone).
bool write(Stream stream, const QByteArray &utf8);

// The bytes to a file or pipe, whole and flushed, as write() says.
bool writeBytes(FILE *file, const QByteArray &utf8);

} // namespace hv52ctl::console
