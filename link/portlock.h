#pragma once

class QSerialPort;

namespace hv52 {

// Takes an exclusive advisory lock on an open serial port, whatever path it
// was opened by. False when another process holds it. Where the system locks
// ports itself (Windows opens a port exclusively), always true.
// portlock_posix.cpp serves Linux and the other POSIX systems,
// portlock_win.cpp Windows.
bool lockDevice(QSerialPort &port);

} // namespace hv52
