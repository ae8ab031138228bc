#pragma once
// A program whose standard output is a pipe that the reader closes after a
// number of lines, as `| head -n N` does, to see what a closed output does
// to it. POSIX only.
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace hv52test {

struct ClosedPipeRun
{
    int status = -1; // -1: it did not end normally (killed by SIGPIPE, say)
    QByteArray out;  // what the reader took before it left
    QString err;
};

// Runs `program` with `args`, its standard output a pipe whose reading end
// is closed once `lines` whole lines came (0: at once, before it prints
// anything). The program starts with SIGPIPE at its default action, as from
// a shell.
inline ClosedPipeRun runWithOutputClosed(const QString &program, const QStringList &args, int lines,
                                         int timeoutMs = 60000)
{
    ClosedPipeRun r;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return r;
    QProcess p;
    // Qt sets up no pipe of its own for standard output; the child puts
    // this one there (dup2 clears close-on-exec on the copy).
    p.setStandardOutputFile(QProcess::nullDevice());
    const int writeEnd = pipe[1];
    p.setChildProcessModifier([writeEnd] {
        ::dup2(writeEnd, STDOUT_FILENO);
        ::signal(SIGPIPE, SIG_DFL);
    });
    p.start(program, args);
    ::close(pipe[1]);
    if (!p.waitForStarted()) {
        ::close(pipe[0]);
        return r;
    }
    QElapsedTimer clock;
    clock.start();
    while (r.out.count('\n') < lines && clock.elapsed() < timeoutMs) {
        pollfd ready = {pipe[0], POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(pipe[0], buffer, sizeof buffer);
        if (n <= 0)
            break; // it ended on its own
        r.out.append(buffer, int(n));
    }
    ::close(pipe[0]);
    if (!p.waitForFinished(int(std::max<qint64>(1000, timeoutMs - clock.elapsed()))))
        p.kill();
    p.waitForFinished();
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace hv52test
