#pragma once
#include <QString>

namespace hv52 {

// Device behind port number n: "COMn" on Windows; elsewhere $HV52_SERIAL_DIR/comn
// when that variable is set, otherwise /dev/ttyS(n-1).
QString serialDeviceName(int n);

// How the operator knows the port: always "COMn".
inline QString portLabel(int n)
{
    return QStringLiteral("COM%1").arg(n);
}

} // namespace hv52
