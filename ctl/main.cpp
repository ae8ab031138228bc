// hv52ctl: reads, sets, resets, saves and applies the HV52 I/O modules'
// values, watches them and finds modules on a line, from a command line.
#include "ctl.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    // A program without windows needs no GLib main loop under Qt's own: the
    // plain one starts sooner, and does not wake itself (a write to its
    // eventfd) each time a socket switches its write notifier, which the
    // GLib one did twice on every exchange over TCP. Children are not told.
    const bool chosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!chosen)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (!chosen)
        qunsetenv("QT_NO_GLIB");
    QCoreApplication::setApplicationName(QStringLiteral("hv52ctl"));
    return hv52ctl::run(QCoreApplication::arguments());
}
