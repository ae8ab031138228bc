// What every platform shares of a stop from outside: the cause, its text,
// and a standard output that failed.
#include "interrupt.h"

#include <atomic>
#include <cerrno>

namespace hv52ctl {

namespace {

// Lock-free, so a signal handler may store into them.
std::atomic<int> g_cause{int(Interrupt::Cause::None)};
std::atomic<bool> g_outputLost{false};
Interrupt *g_instance = nullptr;

} // namespace

static_assert(std::atomic<int>::is_always_lock_free, "a signal handler stores the cause");

Interrupt::Interrupt()
{
    installHandlers();
}

Interrupt &Interrupt::install()
{
    static Interrupt *interrupt = g_instance = new Interrupt; // lives as long as the process
    return *interrupt;
}

void Interrupt::note(Cause cause)
{
    int none = int(Cause::None);
    g_cause.compare_exchange_strong(none, int(cause));
}

Interrupt::Cause Interrupt::cause()
{
    return Cause(g_cause.load());
}

QString Interrupt::text()
{
    switch (cause()) {
    case Cause::CtrlBreak:
        return QStringLiteral("已中断（Ctrl-Break）");
    case Cause::ConsoleClosed:
        return QStringLiteral("已中断（控制台已关闭）");
    case Cause::Terminate:
        return QStringLiteral("已中断（SIGTERM）");
    case Cause::HangUp:
        return QStringLiteral("已中断（SIGHUP）");
    case Cause::OutputClosed:
        return QStringLiteral("已中断（标准输出已关闭）");
    case Cause::OutputFailed:
        return QStringLiteral("已中断（无法写入标准输出）");
    case Cause::None:
    case Cause::CtrlC:
        break;
    }
    return QStringLiteral("已中断（Ctrl-C）");
}

void Interrupt::outputFailed(int error)
{
    if (g_outputLost.exchange(true))
        return;
    note(error == EPIPE ? Cause::OutputClosed : Cause::OutputFailed);
    if (g_instance)
        g_instance->wake();
}

bool Interrupt::outputLost()
{
    return g_outputLost.load();
}

void Interrupt::wake()
{
    emit raised();
}

} // namespace hv52ctl
