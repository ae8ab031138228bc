// hv52ctl's two output streams: standard output stops taking text once a
// write to it failed, standard error always gets its line. The lines of a
// site's run write from several threads: each line whole, with its line's
// name before it, above the status rows on a console.
#include "console.h"
#include "ctl.h"
#include "interrupt.h"
#include "lineboard.h"

#include <QMutex>

#include <cerrno>

namespace hv52ctl {

namespace {

QMutex g_output;

bool put(console::Stream stream, const QString &text)
{
    const LineBoard::Row *row = LineBoard::current();
    if (!row) {
        QMutexLocker lock(&g_output);
        return console::write(stream, text.toUtf8());
    }
    return row->board->print(stream, LineBoard::prefixed(row->prefix, text).toUtf8());
}

} // namespace

void printOut(const QString &text)
{
    // Once a write has failed nothing more goes there: the run stops as on a
    // signal, its messages on stderr and its record still written.
    if (Interrupt::outputLost())
        return;
    if (!put(console::Stream::Out, text))
        Interrupt::outputFailed(errno);
}

void printErr(const QString &text)
{
    put(console::Stream::Err, text.endsWith(u'\n') ? text : text + u'\n');
}

} // namespace hv52ctl
