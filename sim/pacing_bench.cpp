// Pacing accuracy: how late paced answers leave, and reach a master, compared
// with their wire-time deadline. Not a test; run by hand:
//   hv52sim_pacing_bench [exchanges=300] [baud=115200]
#include "sim/simulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace hv52sim;
using Clock = std::chrono::steady_clock;

static void report(const char *what, std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    auto at = [&](double q) { return us[size_t(q * double(us.size() - 1))]; };
    std::printf("%-34s min %7.1f  median %7.1f  p99 %7.1f  max %7.1f us\n", what, us.front(), at(0.5), at(0.99),
                us.back());
}

int main(int argc, char **argv)
{
    int exchanges = argc > 1 ? std::atoi(argv[1]) : 300;
    int baud = argc > 2 ? std::atoi(argv[2]) : 115200;
    char dir[] = "/tmp/hv52pace.XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    Simulator sim(Module::T516);
    std::string err;
    if (!sim.start(dir, 1, &err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    sim.setPacing(baud, 0);
    int fd = open(sim.linkPath().c_str(), O_RDWR | O_NOCTTY);
    termios t;
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);

    std::vector<uint8_t> req{1, 3, 0x0E, 0x40, 0, 2};
    Simulator::appendCrc(req);
    const size_t answerSize = 9;
    const double wireUs = (double(req.size()) + 3.5 + double(answerSize) + 3.5) * 10.0 * 1e6 / baud;
    std::vector<double> sendLate, arriveLate;
    for (int i = 0; i < exchanges; ++i) {
        sim.clearLog();
        if (write(fd, req.data(), req.size()) != ssize_t(req.size()))
            return 1;
        size_t got = 0;
        uint8_t buf[64];
        while (got < answerSize) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0)
                return 1;
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                return 1;
            got += size_t(n);
        }
        Clock::time_point arrived = Clock::now();
        auto frames = sim.frames();
        if (frames.size() != 2)
            return 1;
        auto us = [](Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); };
        sendLate.push_back(us(frames[1].time - frames[0].time) - wireUs);
        arriveLate.push_back(us(arrived - frames[0].time) - wireUs);
    }
    close(fd);
    std::printf("%d exchanges at %d baud, wire time %.1f us\n", exchanges, baud, wireUs);
    report("answer written after deadline", sendLate);
    report("answer at master after deadline", arriveLate);
    return 0;
}
