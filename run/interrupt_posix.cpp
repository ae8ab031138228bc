// Linux and other POSIX systems: SIGINT, SIGTERM and SIGHUP through a pipe
// to the Qt loop, SIGQUIT the stop at once, SIGPIPE ignored so that a closed output is a failed write
// (seen by printOut), and a watch on a pipe or socket as standard output
// that sees its reader leave while nothing is being printed.
#include "interrupt.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hv52run {

namespace {

int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int number)
{
    const int saved = errno;
    Interrupt::note(number == SIGTERM  ? Interrupt::Cause::Terminate
                    : number == SIGHUP ? Interrupt::Cause::HangUp
                                       : Interrupt::Cause::CtrlC);
    const char byte = 1;
    // Nothing to do about a full pipe: one byte in it already wakes the loop.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

extern "C" void onQuit(int)
{
    Interrupt::quitAtOnce();
}

} // namespace

void Interrupt::endNow()
{
    static const char text[] = "已立即停止（SIGQUIT），未写出报告和记录。\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, sizeof text - 1);
    ::_exit(kQuitStatus);
}

void Interrupt::installHandlers()
{
    // A closed output must not kill the run before its record is written.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);

    // A pipe or socket tells when its reader has gone (POLLERR, POLLHUP)
    // without a write; a terminal or a file has no reader to lose. Asked for
    // as an exception notifier, which fires on those alone.
    struct stat out = {};
    if (::fstat(STDOUT_FILENO, &out) == 0 && (S_ISFIFO(out.st_mode) || S_ISSOCK(out.st_mode))) {
        auto *watch = new QSocketNotifier(STDOUT_FILENO, QSocketNotifier::Exception, this);
        connect(watch, &QSocketNotifier::activated, this, [watch] {
            pollfd p = {STDOUT_FILENO, 0, 0};
            if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP)) != 0) {
                watch->setEnabled(false); // it would fire on every turn of the loop
                outputFailed(EPIPE);
            }
        });
    }

    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no pipe: the signals keep their default action
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {}
        wake();
    });
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        // Started with a signal ignored (Ctrl-C in a background job of a
        // script, SIGHUP under nohup): stay so.
        struct sigaction previous = {};
        if (sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        // Each signal again while the run ends is the same request (one
        // hang-up comes twice: from the kernel and from the shell); SIGQUIT
        // is the way out at once.
        action.sa_handler = number == SIGQUIT ? onQuit : onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(number, &action, nullptr);
    }
}

} // namespace hv52run
