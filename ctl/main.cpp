// hv52ctl: reads, sets, resets, saves and applies the HV52 I/O modules'
// values, watches them and finds modules on a line, from a command line.
#include "ctl.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("hv52ctl"));
    return hv52ctl::run(QCoreApplication::arguments());
}
