#include "portname.h"
#include <QDir>

namespace hv52 {

QString serialDeviceName(int n)
{
#ifdef Q_OS_WIN
    return portLabel(n);
#else
    const QString dir = qEnvironmentVariable("HV52_SERIAL_DIR");
    if (!dir.isEmpty())
        return QDir(dir).filePath(QStringLiteral("com%1").arg(n));
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

} // namespace hv52
