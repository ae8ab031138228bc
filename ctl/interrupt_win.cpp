// Windows: Ctrl+C, Ctrl+Break and closing the console window (also logging
// off and shutting down) come to a console handler on a thread of its own.
// It notes the event and wakes the Qt loop with a queued call, as the POSIX
// handler's pipe does. A second Ctrl+C or Ctrl+Break is left to the system,
// which ends the process: the way out of anything stuck. A closed console
// ends the process once the handler returns, so the handler holds it back
// while the run finishes its group and reports (Windows allows some seconds).
#include "session.h"

#include <QMetaObject>

#include <atomic>
#include <windows.h>

namespace hv52ctl {

namespace {

enum Event { None, CtrlC, CtrlBreak, ConsoleClosed };
std::atomic<int> g_event{None};
Interrupt *g_self = nullptr;

BOOL WINAPI onConsoleEvent(DWORD type)
{
    int event;
    switch (type) {
    case CTRL_C_EVENT:
        event = CtrlC;
        break;
    case CTRL_BREAK_EVENT:
        event = CtrlBreak;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        event = ConsoleClosed;
        break;
    default:
        return FALSE;
    }
    int none = None;
    const bool first = g_event.compare_exchange_strong(none, event);
    if (!first && event != ConsoleClosed)
        return FALSE;
    QMetaObject::invokeMethod(g_self, &Interrupt::raised, Qt::QueuedConnection);
    if (event == ConsoleClosed)
        Sleep(INFINITE); // the process ends when the run returns from main
    return TRUE;
}

} // namespace

Interrupt::Interrupt()
{
    g_self = this;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

Interrupt &Interrupt::instance()
{
    static Interrupt *interrupt = new Interrupt; // lives as long as the process
    return *interrupt;
}

bool Interrupt::arrived()
{
    return g_event.load() != None;
}

QString Interrupt::text()
{
    switch (g_event.load()) {
    case CtrlBreak:
        return QStringLiteral("已中断（Ctrl-Break）");
    case ConsoleClosed:
        return QStringLiteral("已中断（控制台已关闭）");
    default:
        return QStringLiteral("已中断（Ctrl-C）");
    }
}

} // namespace hv52ctl
