// hv52ctl's two output streams: standard output stops taking text once a
// write to it failed, standard error always gets its line.
#include "console.h"
#include "ctl.h"
#include "interrupt.h"

#include <cerrno>

namespace hv52ctl {

void printOut(const QString &text)
{
    // Once a write has failed nothing more goes there: the run stops as on a
    // signal, its messages on stderr and its record still written.
    if (Interrupt::outputLost())
        return;
    if (!console::write(console::Stream::Out, text.toUtf8()))
        Interrupt::outputFailed(errno);
}

void printErr(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.endsWith('\n'))
        bytes += '\n';
    console::write(console::Stream::Err, bytes);
}

} // namespace hv52ctl
