// Soak: 10,000 read exchanges against the simulated module with a random fault
// on about a third of them. Every outcome is checked against the fault that
// was injected, and the peak RSS is printed at 1,000 and 10,000 exchanges:
// a leak per exchange or per port bracket would show as growth between them.
#include "benchsim.h"
#include "link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <sys/resource.h>

#include <cstdio>
#include <random>

using hv52sim::Fault;

namespace {

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Case
{
    Fault fault;
    bool valid; // the read must return the stored value
};

// Faults that end in a failure either at once or at the timeout, and the
// benign ones (pieces and a short delay) that must still read correctly.
const Case kCases[] = {
    {Fault::BadCrc, false},     {Fault::Partial, false},      {Fault::Exception, false},
    {Fault::ExtraBytes, false}, {Fault::OtherAddress, false}, {Fault::OtherFunction, false},
    {Fault::Silent, false},     {Fault::Split, true},         {Fault::Slow, true},
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? atoi(argv[1]) : 10000;
    const int timeoutMs = 25;

    BenchModule module;
    if (!module.start(16))
        return 1;
    hv52sim::Simulator &sim = module.sim;
    sim.setSplit(3, 2);
    sim.setSlowMs(5);

    hv52::Link link;
    link.setArgs({1, 1, 115200, 0});
    link.setResponseTimeout(timeoutMs);
    int messages = 0;

    std::mt19937 random(20261207);
    int done = 0, wrong = 0, faulted = 0;
    long rssAt1000 = 0;
    QElapsedTimer clock;
    clock.start();
    while (done < total) {
        // One port bracket per 27 exchanges, as one poll would.
        const hv52::RunResult result = link.run([&] {
            for (int i = 0; i < 27 && done < total; ++i, ++done) {
                const quint32 stored = random();
                sim.setRegister32(0x0E40, stored);
                const bool inject = random() % 3 == 0;
                const Case c = inject ? kCases[random() % std::size(kCases)] : Case{Fault::None, true};
                sim.setFault(c.fault, inject ? 1 : 0);
                faulted += inject;
                const QString got = link.para_call(1, 0x0E, 0x40);
                const bool ok = c.valid ? got == QString::number(stored) && link.exchangeState() == hv52::Valid
                                        : got == QLatin1String("0") && link.exchangeState() != hv52::Valid;
                if (!ok) {
                    ++wrong;
                    std::fprintf(stderr, "exchange %d, fault %s: got %s state %d\n", done, hv52sim::faultName(c.fault),
                                 qPrintable(got), int(link.exchangeState()));
                }
                if (done + 1 == 1000)
                    rssAt1000 = peakRssKiB();
            }
        });
        if (!result.error.isEmpty()) {
            ++messages;
            std::fprintf(stderr, "message: %s\n", qPrintable(result.error));
        }
    }
    const long rssAtEnd = peakRssKiB();
    std::printf("%d exchanges (%d with a fault), %d outcomes wrong, %d messages, %.1f s\n", done, faulted, wrong,
                messages, clock.elapsed() / 1000.0);
    std::printf("peak RSS after 1,000: %ld KiB; after %d: %ld KiB; growth %ld KiB\n", rssAt1000, done, rssAtEnd,
                rssAtEnd - rssAt1000);
    return wrong == 0 && messages == 0 ? 0 : 1;
}
