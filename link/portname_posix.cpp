// POSIX systems: port number n is a terminal device, or a name the operator
// put in $HV52_SERIAL_DIR (usually a symlink to a USB adapter).
#include "portname.h"
#include <QDir>

namespace hv52 {

QString serialDeviceName(int n)
{
    const QString dir = qEnvironmentVariable("HV52_SERIAL_DIR");
    if (!dir.isEmpty())
        return QDir(dir).filePath(QStringLiteral("com%1").arg(n));
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
}

} // namespace hv52
