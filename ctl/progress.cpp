#include "progress.h"
#include "console.h"
#include "lineboard.h"

namespace hv52ctl {

namespace {

// Back to the line's start and erased to its end: a shorter text leaves
// nothing of the longer one before it.
const QString kRestart = QStringLiteral("\r\033[K");

void put(const QString &text)
{
    console::write(console::Stream::Err, text.toUtf8());
}

} // namespace

Progress::Progress() : m_on(console::isConsole(console::Stream::Err)) {}

void Progress::show(const QString &text)
{
    // A line of a site: its status row.
    if (const LineBoard::Row *row = LineBoard::current())
        row->board->setRow(row->index, row->prefix + text);
    else if (m_on)
        put(kRestart + text);
}

void Progress::clear()
{
    // A status row stays: the board writes messages above it.
    if (m_on && !LineBoard::current())
        put(kRestart);
}

} // namespace hv52ctl
