#pragma once

class QSerialPort;

namespace hv52 {

// Makes an open serial port wake its reader only once `bytes` bytes are
// buffered (at least 1), so that an answer costs one or two wake-ups instead
// of one a byte. False where the platform has no such setting: the reader
// then wakes at every byte, as before. wakeup_posix.cpp serves Linux and the
// other POSIX systems, wakeup_win.cpp Windows.
bool setMinimumRead(QSerialPort &port, int bytes);
// Bytes the terminal holds that the reader has not taken yet; -1 where the
// platform cannot tell (the caller then takes them as if there were some).
int pendingBytes(QSerialPort &port);

} // namespace hv52
