// Figures of the serial exchange against the simulated module on a real
// pseudo-terminal, through QSerialPort:
//   one read exchange (median, 99th percentile), the 27 reads of the T516 poll
//   on one open port, and the CPU the process spends while a request waits out
//   the 1000 ms response timeout.
#include "benchsim.h"
#include "link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The T516 poll's register list: (tp, low address byte).
const std::vector<std::pair<int, int>> kPoll = {
    {1, 0x40}, {0, 0x42}, {1, 0x5E}, {1, 0x43}, {0, 0x45}, {1, 0x60}, {1, 0x20}, {0, 0x22}, {0, 0x80},
    {1, 0x23}, {0, 0x25}, {0, 0x81}, {0, 0x72}, {0, 0x73}, {0, 0x74}, {0, 0xB2}, {0, 0xB6}, {0, 0xBA},
    {0, 0xB3}, {0, 0xB7}, {0, 0xBB}, {0, 0xB4}, {0, 0xB5}, {0, 0xB8}, {0, 0xB9}, {0, 0xBC}, {0, 0xBD}};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(10, atoi(argv[1])) : 2000;

    BenchModule module;
    if (!module.start(64))
        return 1;
    hv52sim::Simulator &sim = module.sim;

    hv52::Link link;
    link.setArgs({1, 1, 115200, 0});
    const auto run = [&link](const std::function<void()> &work) {
        const hv52::RunResult result = link.run(work);
        if (!result.error.isEmpty())
            std::fprintf(stderr, "message: %s\n", qPrintable(result.error));
    };

    std::vector<double> single;
    double pollMs = 0;
    std::vector<double> polls;
    run([&] {
        for (int i = 0; i < 50; ++i) // warm-up
            link.para_call(1, 0x0E, 0x40);
        QElapsedTimer clock;
        for (int i = 0; i < rounds; ++i) {
            clock.start();
            link.para_call(1, 0x0E, 0x40);
            single.push_back(clock.nsecsElapsed() / 1000.0);
        }
        for (int p = 0; p < 50; ++p) {
            clock.start();
            for (const auto &[tp, lo] : kPoll)
                link.para_call(quint8(tp), 0x0E, quint8(lo));
            polls.push_back(clock.nsecsElapsed() / 1e6);
        }
    });
    std::sort(single.begin(), single.end());
    std::sort(polls.begin(), polls.end());
    pollMs = polls[polls.size() / 2];

    // A dead line: the wait must sleep, not spin.
    sim.setFault(hv52sim::Fault::Silent);
    double cpu = 0, wall = 0;
    run([&] {
        QElapsedTimer clock;
        const double before = cpuSeconds();
        clock.start();
        link.para_call(0, 0x0E, 0x42);
        wall = clock.nsecsElapsed() / 1e9;
        cpu = cpuSeconds() - before;
    });

    std::printf("read exchange (2 registers), %d rounds: median %.1f us, p99 %.1f us\n", rounds,
                single[single.size() / 2], single[size_t(single.size() * 0.99)]);
    std::printf("27 sequential reads (T516 poll list), median of 50: %.2f ms (%.1f us per read)\n", pollMs,
                pollMs * 1000 / 27);
    std::printf("1000 ms timeout wait: wall %.1f ms, CPU %.2f ms = %.3f %% of wall\n", wall * 1000, cpu * 1000,
                100 * cpu / wall);
    std::printf("failures counted: %d (the dead-line read only)\n", int(link.failureCount()));
    return link.failureCount() == 1 ? 0 : 1;
}
