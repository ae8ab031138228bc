#include "progress.h"
#include "console.h"

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
    if (m_on)
        put(kRestart + text);
}

void Progress::clear()
{
    if (m_on)
        put(kRestart);
}

} // namespace hv52ctl
