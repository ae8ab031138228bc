// hv52sim: runs one simulated module on a pseudo-terminal until SIGINT/SIGTERM.
#include "sim/simulator.h"
#include "sim/tcpserver.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <signal.h>

namespace {

const char kUsage[] = "usage: hv52sim --module t516|t540|t528 --dir DIR --port N [options]\n"
                      "       hv52sim --module t516|t540|t528 --tcp PORT [--framing rtu|mbap] [options]\n"
                      "Simulates one module as a Modbus RTU slave on a pseudo-terminal linked as DIR/comN.\n"
                      "Prints one line when the link is ready, runs until SIGINT/SIGTERM, then removes it.\n"
                      "\n"
                      "  --tcp PORT           serve on 127.0.0.1:PORT instead of a pseudo-terminal (0: any free\n"
                      "                       port), as a serial device server or Modbus TCP gateway would\n"
                      "  --framing F          with --tcp: rtu (RTU frames passed through, default) or mbap\n"
                      "                       (Modbus TCP; the unit identifier is the bus address)\n"
                      "  --tcp-fault NAME     with --tcp: none, silent, late (held until the next request),\n"
                      "                       drop (3 bytes, then the connection closed); --fault-count times\n"
                      "  --address A          bus address, 1..247 (default 1)\n"
                      "  --speed B            answer only a master whose port is set to B bit/s: 1200, 2400,\n"
                      "                       4800, 9600, 19200, 38400, 57600 or 115200 (default: any speed;\n"
                      "                       requests at another speed are logged, not answered)\n"
                      "  --baud B             line speed used by --pace (default: --speed, else 9600)\n"
                      "  --pace               delay answers by the wire time of request and answer at --baud\n"
                      "  --turnaround-us U    extra delay before each paced answer (default 0)\n"
                      "  --fault NAME         none, silent, bad-crc, partial, exception, extra-bytes,\n"
                      "                       split, slow, other-address, other-function, held\n"
                      "  --fault-count N      answers the fault applies to (default -1: all)\n"
                      "  --split-pieces P     pieces of a split answer (default 3)\n"
                      "  --split-gap-ms G     gap between pieces (default 20)\n"
                      "  --slow-ms D          delay of a slow answer (default 500)\n"
                      "  --held-ms H          a held answer goes out H ms after the next request (default 10)\n"
                      "  --held-follow-ms F   that request's own answer F ms later (default -1: lost)\n"
                      "  --other-address A    address used by other-address (default address + 1)\n"
                      "  --set REG=VALUE      set a register before starting (repeatable; 0x.. allowed)\n"
                      "  --set32 REG=VALUE    set a register pair, high half first (repeatable)\n"
                      "  --log                print every frame: '-> ' request, '<- ' answer, in hex\n"
                      "  --no-demo            keep the registers still (default: inputs change every second)\n"
                      "  --help               this text\n";

[[noreturn]] void usageError(const std::string &msg)
{
    std::fprintf(stderr, "hv52sim: %s\n(see hv52sim --help)\n", msg.c_str());
    std::exit(2);
}

long number(const std::string &opt, const std::string &text, long lo, long hi)
{
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != 0 || errno != 0 || v < lo || v > hi)
        usageError(opt + ": expected a number in " + std::to_string(lo) + ".." + std::to_string(hi) + ", got '" + text
                   + "'");
    return v;
}

} // namespace

int main(int argc, char **argv)
{
    using hv52sim::Simulator;
    std::string moduleText, dir;
    int port = -1, address = 1, baud = 0, speed = 0, turnaroundUs = 0;
    bool pace = false, logFrames = false, demo = true;
    hv52sim::Fault fault = hv52sim::Fault::None;
    int faultCount = -1, splitPieces = 3, splitGapMs = 20, slowMs = 500, otherAddress = -1, heldMs = 10,
        heldFollowMs = -1;
    std::vector<std::pair<uint16_t, uint32_t>> set16, set32;
    int tcpPort = -1;
    hv52sim::TcpFraming framing = hv52sim::TcpFraming::Rtu;
    hv52sim::TcpFault tcpFault = hv52sim::TcpFault::None;

    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usageError(opt + " needs a value");
            return argv[++i];
        };
        auto assignment = [&](long maxValue) {
            std::string v = value();
            size_t eq = v.find('=');
            if (eq == std::string::npos)
                usageError(opt + ": expected REG=VALUE, got '" + v + "'");
            return std::make_pair(uint16_t(number(opt, v.substr(0, eq), 0, 0xFFFF)),
                                  uint32_t(number(opt, v.substr(eq + 1), 0, maxValue)));
        };
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (opt == "--module") {
            moduleText = value();
        } else if (opt == "--dir") {
            dir = value();
        } else if (opt == "--port") {
            port = int(number(opt, value(), 0, 9999));
        } else if (opt == "--tcp") {
            tcpPort = int(number(opt, value(), 0, 65535));
        } else if (opt == "--framing") {
            const std::string name = value();
            if (!hv52sim::parseTcpFraming(name, &framing))
                usageError("--framing: expected rtu or mbap, got '" + name + "'");
        } else if (opt == "--tcp-fault") {
            const std::string name = value();
            if (name == "none")
                tcpFault = hv52sim::TcpFault::None;
            else if (name == "silent")
                tcpFault = hv52sim::TcpFault::Silent;
            else if (name == "late")
                tcpFault = hv52sim::TcpFault::Late;
            else if (name == "drop")
                tcpFault = hv52sim::TcpFault::Drop;
            else
                usageError("--tcp-fault: expected none, silent, late or drop, got '" + name + "'");
        } else if (opt == "--address") {
            address = int(number(opt, value(), 1, 247));
        } else if (opt == "--baud") {
            baud = int(number(opt, value(), 300, 4000000));
        } else if (opt == "--speed") {
            std::string v = value();
            speed = int(number(opt, v, 1, 4000000));
            if (!Simulator::isStandardSpeed(speed))
                usageError("--speed: expected one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, "
                           "115200, got '"
                           + v + "'");
        } else if (opt == "--pace") {
            pace = true;
        } else if (opt == "--turnaround-us") {
            turnaroundUs = int(number(opt, value(), 0, 10000000));
        } else if (opt == "--fault") {
            std::string name = value();
            if (!hv52sim::parseFault(name, &fault))
                usageError("unknown fault '" + name + "'");
        } else if (opt == "--fault-count") {
            faultCount = int(number(opt, value(), -1, 1000000000));
        } else if (opt == "--split-pieces") {
            splitPieces = int(number(opt, value(), 1, 256));
        } else if (opt == "--split-gap-ms") {
            splitGapMs = int(number(opt, value(), 0, 60000));
        } else if (opt == "--held-ms") {
            heldMs = int(number(opt, value(), 0, 600000));
        } else if (opt == "--held-follow-ms") {
            heldFollowMs = int(number(opt, value(), -1, 600000));
        } else if (opt == "--slow-ms") {
            slowMs = int(number(opt, value(), 0, 600000));
        } else if (opt == "--other-address") {
            otherAddress = int(number(opt, value(), 0, 255));
        } else if (opt == "--set") {
            set16.push_back(assignment(0xFFFF));
        } else if (opt == "--set32") {
            set32.push_back(assignment(0xFFFFFFFFL));
        } else if (opt == "--log") {
            logFrames = true;
        } else if (opt == "--no-demo") {
            demo = false;
        } else {
            usageError("unknown option '" + opt + "'");
        }
    }
    hv52sim::Module module;
    if (moduleText.empty())
        usageError("--module is required");
    if (!hv52sim::parseModule(moduleText, &module))
        usageError("unknown module '" + moduleText + "' (t516, t540 or t528)");
    if (tcpPort < 0 && dir.empty())
        usageError("--dir is required");
    if (tcpPort < 0 && port < 0)
        usageError("--port is required");

    // Blocked before the service thread exists so that it inherits the mask
    // and sigwait() below receives them.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    Simulator sim(module, uint8_t(address));
    for (auto &s : set16)
        sim.setRegister(s.first, uint16_t(s.second));
    for (auto &s : set32)
        sim.setRegister32(s.first, s.second);
    sim.setFault(fault, faultCount);
    sim.setSplit(splitPieces, splitGapMs);
    sim.setSlowMs(slowMs);
    sim.setHeld(heldMs, heldFollowMs);
    if (otherAddress >= 0)
        sim.setOtherAddress(uint8_t(otherAddress));
    sim.setListenSpeed(speed);
    // A module paced at one speed and listening at another makes no sense, so
    // --speed alone sets both.
    if (pace)
        sim.setPacing(baud > 0 ? baud : speed > 0 ? speed : 9600, turnaroundUs);
    sim.setDemo(demo);
    sim.setLogCapacity(1000); // a long run must not grow without bound
    if (logFrames) {
        sim.onFrame([](const hv52sim::Frame &f) {
            std::printf("%s %s\n", f.fromMaster ? "->" : "<-", Simulator::hex(f.bytes).c_str());
            std::fflush(stdout);
        });
    }

    std::string error;
    if (tcpPort >= 0) {
        hv52sim::TcpServer server(sim, framing);
        server.setFault(tcpFault, faultCount);
        if (logFrames) {
            server.onFrame([](char direction, const std::vector<uint8_t> &bytes) {
                std::printf("%s %s\n", direction == '>' ? "->" : "<-", Simulator::hex(bytes).c_str());
                std::fflush(stdout);
            });
        }
        if (!server.start(tcpPort, &error)) {
            std::fprintf(stderr, "hv52sim: cannot listen on 127.0.0.1:%d: %s\n", tcpPort, error.c_str());
            return 1;
        }
        std::printf("hv52sim: %s at address %d ready on 127.0.0.1:%d (%s)\n", hv52sim::moduleName(module), address,
                    server.port(), framing == hv52sim::TcpFraming::Mbap ? "Modbus TCP" : "RTU over TCP");
        std::fflush(stdout);
        // The inputs change once a second unless --no-demo, as on the
        // pseudo-terminal.
        const timespec second{1, 0};
        while (sigtimedwait(&sigs, nullptr, &second) < 0) {
            if (demo)
                sim.demoStep();
        }
        server.stop();
        return 0;
    }
    if (!sim.start(dir, port, &error)) {
        std::fprintf(stderr, "hv52sim: cannot start: %s\n", error.c_str());
        return 1;
    }
    std::printf("hv52sim: %s at address %d ready on %s (%s)\n", hv52sim::moduleName(module), address,
                sim.linkPath().c_str(), sim.devicePath().c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&sigs, &sig);
    sim.stop();
    return 0;
}
