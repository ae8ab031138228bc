// Linux and other POSIX systems: SIGINT, SIGTERM and SIGHUP through a pipe
// to the Qt loop. interrupt_win.cpp is the Windows half.
#include "session.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace hv52ctl {

namespace {

int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_interrupted = 0; // the signal that came first, 0 for none

extern "C" void onSignal(int number)
{
    if (g_interrupted == 0)
        g_interrupted = number;
    const char byte = 1;
    // Nothing to do about a full pipe: one byte in it already wakes the loop.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
}

} // namespace

Interrupt::Interrupt()
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no pipe: the signals keep their default action
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {}
        emit raised();
    });
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        // Started with a signal ignored (Ctrl-C in a background job of a
        // script, SIGHUP under nohup): stay so.
        struct sigaction previous = {};
        if (sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        // A second signal of the kind takes the default action: the way out
        // of anything stuck.
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        sigaction(number, &action, nullptr);
    }
}

Interrupt &Interrupt::instance()
{
    static Interrupt *interrupt = new Interrupt; // lives as long as the process
    return *interrupt;
}

bool Interrupt::arrived()
{
    return g_interrupted != 0;
}

QString Interrupt::text()
{
    switch (g_interrupted) {
    case SIGTERM:
        return QStringLiteral("已中断（SIGTERM）");
    case SIGHUP:
        return QStringLiteral("已中断（SIGHUP）");
    default:
        return QStringLiteral("已中断（Ctrl-C）");
    }
}

} // namespace hv52ctl
