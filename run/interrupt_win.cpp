// Windows: Ctrl+C, Ctrl+Break and closing the console window (also logging
// off and shutting down) come to a console handler on a thread of their own.
// It notes the cause and wakes the Qt loop with a queued call, as the POSIX
// handler's pipe does. A second Ctrl+C or Ctrl+Break is left to the system,
// which ends the process: the way out of anything stuck. A closed console
// ends the process once the handler returns, so the handler holds it back
// while the run finishes its group and reports (Windows allows some seconds).
#include "interrupt.h"

#include <QMetaObject>

#include <cstdlib>

#include <windows.h>

namespace hv52run {

namespace {

Interrupt *g_self = nullptr;

BOOL WINAPI onConsoleEvent(DWORD type)
{
    Interrupt::Cause cause;
    switch (type) {
    case CTRL_C_EVENT:
        cause = Interrupt::Cause::CtrlC;
        break;
    case CTRL_BREAK_EVENT:
        cause = Interrupt::Cause::CtrlBreak;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        cause = Interrupt::Cause::ConsoleClosed;
        break;
    default:
        return FALSE;
    }
    const bool first = !Interrupt::arrived();
    if (!first && cause != Interrupt::Cause::ConsoleClosed)
        return FALSE;
    Interrupt::note(cause);
    QMetaObject::invokeMethod(g_self, &Interrupt::raised, Qt::QueuedConnection);
    if (cause == Interrupt::Cause::ConsoleClosed) {
        // The process ends when the run returns from main, or when Windows
        // stops waiting for it.
        Sleep(INFINITE);
    }
    return TRUE;
}

} // namespace

// No signal asks for a stop at once here: a second Ctrl+C or Ctrl+Break,
// left to the system, is that way.
void Interrupt::endNow()
{
    std::_Exit(kQuitStatus);
}

void Interrupt::installHandlers()
{
    g_self = this;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace hv52run
