#pragma once
#include <QByteArray>
#include <QString>

namespace hv52 {

// A text file's bytes as the system's own tools read it: on Windows UTF-8
// with a byte-order mark and CRLF line ends (Notepad before Windows 10 1903
// and Excel take a file without the mark for the ANSI code page), elsewhere
// plain UTF-8 with LF. textfile_posix.cpp, textfile_win.cpp.
QByteArray textFileBytes(const QString &text);

} // namespace hv52
