// What every platform shares of a stop from outside: the cause, its text,
// and a standard output that failed.
#include "interrupt.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace hv52run {

namespace {

// Lock-free, so a signal handler may store into them.
std::atomic<int> g_cause{int(Interrupt::Cause::None)};
std::atomic<bool> g_outputLost{false};
// The groups of writes in progress, in every line's thread, and whether a
// stop at once waits for them. Each side stores before it loads the other's
// (sequentially consistent), so one of them always sees the other.
std::atomic<int> g_groups{0};
std::atomic<bool> g_quit{false};
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

void Interrupt::quitAtOnce()
{
    g_quit.store(true);
    if (g_groups.load() == 0)
        endNow();
}

Interrupt::Group::Group()
{
    g_groups.fetch_add(1);
    if (!g_quit.load())
        return;
    // A stop at once came before this group's first write: it is not sent.
    if (g_groups.fetch_sub(1) == 1)
        endNow();
    for (;;) // another line's group ends the process when it is written
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

Interrupt::Group::~Group()
{
    if (g_groups.fetch_sub(1) == 1 && g_quit.load())
        endNow();
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
    case Cause::Operator:
        return QStringLiteral("已中断（操作员停止）");
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

void Interrupt::stopByOperator()
{
    note(Cause::Operator);
    if (g_instance)
        QMetaObject::invokeMethod(g_instance, &Interrupt::wake, Qt::QueuedConnection);
}

void Interrupt::forgetOperatorStop()
{
    int stop = int(Cause::Operator);
    g_cause.compare_exchange_strong(stop, int(Cause::None));
}

bool Interrupt::outputLost()
{
    return g_outputLost.load();
}

void Interrupt::wake()
{
    emit raised();
}

} // namespace hv52run
