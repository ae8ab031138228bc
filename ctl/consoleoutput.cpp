#include "consoleoutput.h"
#include "ctl.h"

namespace hv52ctl {

void ConsoleOutput::message(const QString &text)
{
    m_progress.clear();
    printErr(text);
}

void ConsoleOutput::step(int, const QString &where, const QString &text)
{
    m_progress.show(where + text);
}

void ConsoleOutput::stepDone()
{
    m_progress.clear();
}

ConsoleOutput &ConsoleOutput::standard()
{
    // One for each thread: a site's lines each print from their own, and
    // the progress line follows the thread's status row.
    thread_local ConsoleOutput output;
    return output;
}

} // namespace hv52ctl
