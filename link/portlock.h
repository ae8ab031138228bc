#pragma once
#include <QtGlobal>

namespace hv52 {

// Takes an exclusive advisory lock on an open serial device, whatever path
// it was opened by. False when another process holds it. Where the system
// locks ports itself (Windows opens a port exclusively), always true.
bool lockDevice(qintptr handle);

} // namespace hv52
