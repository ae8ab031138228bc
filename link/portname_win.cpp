// Windows: port number n is COMn. From COM10 on only the device namespace
// reaches the port; QSerialPort adds "\\.\" to any COM name itself, so the
// name stays the one the operator knows.
#include "portname.h"

namespace hv52 {

QString serialDeviceName(int n)
{
    return portLabel(n);
}

} // namespace hv52
