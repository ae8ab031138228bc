// hv52sim: runs simulated modules on a pseudo-terminal until SIGINT/SIGTERM.
#include "sim/simulator.h"
#include "sim/tcpserver.h"

#include <algorithm>
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
                      "       hv52sim --bus KIND@A,KIND@A,... --dir DIR --port N [options]\n"
                      "       hv52sim --module t516|t540|t528 --tcp PORT [--framing rtu|mbap] [options]\n"
                      "       hv52sim --bus KIND@A,KIND@A,... --tcp PORT [--framing rtu|mbap] [options]\n"
                      "Simulates one module, or a line of them, as Modbus RTU slaves on a pseudo-terminal\n"
                      "linked as DIR/comN. Prints one line when the link is ready, runs until\n"
                      "SIGINT/SIGTERM, then removes it.\n"
                      "\n"
                      "  --bus LIST           several modules on one line instead of --module: comma-separated\n"
                      "                       KIND@ADDRESS entries, e.g. t516@1,t516@2,t528@3,t540@4; each\n"
                      "                       address 1..247 and used once\n"
                      "  --tcp PORT           serve on 127.0.0.1:PORT instead of a pseudo-terminal (0: any free\n"
                      "                       port), as a serial device server or Modbus TCP gateway would\n"
                      "  --framing F          with --tcp: rtu (RTU frames passed through, default) or mbap\n"
                      "                       (Modbus TCP; the unit identifier is the bus address)\n"
                      "  --tcp-fault NAME     with --tcp: none, silent, late (held until the next request),\n"
                      "                       drop (3 bytes, then the connection closed); --fault-count times\n"
                      "  --address A          bus address of --module, 1..247 (default 1)\n"
                      "  --speed B            answer only a master whose port is set to B bit/s: 1200, 2400,\n"
                      "                       4800, 9600, 19200, 38400, 57600 or 115200 (default: any speed;\n"
                      "                       requests at another speed are logged, not answered)\n"
                      "  --baud B             line speed used by --pace (default: --speed, else 9600)\n"
                      "  --pace               delay answers by the wire time of request and answer at --baud\n"
                      "  --turnaround-us U    extra delay before each paced answer (default 0)\n"
                      "  --fault NAME         none, silent, bad-crc, partial, exception, extra-bytes,\n"
                      "                       split, slow, other-address, other-function, held,\n"
                      "                       refuse-write (writes answered with exception 04, no effect)\n"
                      "  --fault-count N      answers the fault applies to (default -1: all); refuse-write:\n"
                      "                       writes refused\n"
                      "  --fault-address A    only the module at A misbehaves (default: every module)\n"
                      "  --split-pieces P     pieces of a split answer (default 3)\n"
                      "  --split-gap-ms G     gap between pieces (default 20)\n"
                      "  --slow-ms D          delay of a slow answer (default 500)\n"
                      "  --held-ms H          a held answer goes out H ms after the next request (default 10)\n"
                      "  --held-follow-ms F   that request's own answer F ms later (default -1: lost)\n"
                      "  --other-address A    address used by other-address (default: the answering module's\n"
                      "                       address + 1)\n"
                      "  --set [A:]REG=VALUE  set a register of the module at A (default: the first module)\n"
                      "                       before starting (repeatable; 0x.. allowed)\n"
                      "  --set32 [A:]REG=VALUE\n"
                      "                       set a register pair, high half first (repeatable)\n"
                      "  --log                print every frame on the line: '-> ' request, '<- ' answer, in hex\n"
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

// The modules of --bus LIST ("t516@1,t528@3"), in the order given.
std::vector<hv52sim::BusModule> parseBus(const std::string &list)
{
    std::vector<hv52sim::BusModule> bus;
    bool taken[256] = {};
    size_t at = 0;
    for (;;) {
        const size_t comma = list.find(',', at);
        const std::string entry = list.substr(at, comma == std::string::npos ? comma : comma - at);
        const size_t sep = entry.find('@');
        if (sep == std::string::npos)
            usageError("--bus: expected KIND@ADDRESS, got '" + entry + "'");
        const std::string kind = entry.substr(0, sep), addressText = entry.substr(sep + 1);
        hv52sim::BusModule m{};
        if (!hv52sim::parseModule(kind, &m.module))
            usageError("--bus: unknown module '" + kind + "' in '" + entry + "' (t516, t540 or t528)");
        char *end = nullptr;
        errno = 0;
        const long a = std::strtol(addressText.c_str(), &end, 10);
        if (addressText.empty() || *end != 0 || errno != 0 || a < 1 || a > 247)
            usageError("--bus: address must be 1..247 in '" + entry + "'");
        if (taken[a])
            usageError("--bus: address " + std::to_string(a) + " given twice, again in '" + entry + "'");
        taken[a] = true;
        m.address = uint8_t(a);
        bus.push_back(m);
        if (comma == std::string::npos)
            return bus;
        at = comma + 1;
    }
}

// A register setting of --set/--set32: [A:]REG=VALUE, A 0 for the first module.
struct Setting
{
    std::string text;
    uint8_t address;
    uint16_t reg;
    uint32_t value;
};

// "t516@1 t528@3" for the ready line.
std::string describe(const std::vector<hv52sim::BusModule> &bus)
{
    std::string out;
    for (const auto &m : bus)
        out += (out.empty() ? "" : " ") + std::string(hv52sim::moduleName(m.module)) + "@" + std::to_string(m.address);
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    using hv52sim::Simulator;
    std::string moduleText, busText, dir;
    bool busGiven = false, addressGiven = false;
    int faultAddress = 0;
    int port = -1, address = 1, baud = 0, speed = 0, turnaroundUs = 0;
    bool pace = false, logFrames = false, demo = true;
    hv52sim::Fault fault = hv52sim::Fault::None;
    int faultCount = -1, splitPieces = 3, splitGapMs = 20, slowMs = 500, otherAddress = -1, heldMs = 10,
        heldFollowMs = -1;
    std::vector<Setting> set16, set32;
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
            const std::string v = value();
            const size_t eq = v.find('=');
            if (eq == std::string::npos)
                usageError(opt + ": expected [A:]REG=VALUE, got '" + v + "'");
            const size_t colon = v.substr(0, eq).find(':');
            Setting s{v, 0, 0, 0};
            if (colon != std::string::npos)
                s.address = uint8_t(number(opt, v.substr(0, colon), 1, 247));
            const size_t regAt = colon == std::string::npos ? 0 : colon + 1;
            s.reg = uint16_t(number(opt, v.substr(regAt, eq - regAt), 0, 0xFFFF));
            s.value = uint32_t(number(opt, v.substr(eq + 1), 0, maxValue));
            return s;
        };
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (opt == "--module") {
            moduleText = value();
        } else if (opt == "--bus") {
            busText = value();
            busGiven = true;
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
            addressGiven = true;
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
        } else if (opt == "--fault-address") {
            faultAddress = int(number(opt, value(), 1, 247));
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
    std::vector<hv52sim::BusModule> bus;
    if (busGiven) {
        if (!moduleText.empty())
            usageError("--bus and --module exclude each other");
        if (addressGiven)
            usageError("--address is for --module; --bus gives each module its address");
        bus = parseBus(busText);
    } else {
        hv52sim::Module module;
        if (moduleText.empty())
            usageError("--module or --bus is required");
        if (!hv52sim::parseModule(moduleText, &module))
            usageError("unknown module '" + moduleText + "' (t516, t540 or t528)");
        bus.push_back({module, uint8_t(address)});
    }
    auto onLine = [&](int a) {
        return std::any_of(bus.begin(), bus.end(), [a](const hv52sim::BusModule &m) { return m.address == a; });
    };
    for (auto *settings : {&set16, &set32}) {
        for (Setting &s : *settings) {
            if (s.address == 0)
                s.address = bus[0].address;
            else if (!onLine(s.address))
                usageError((settings == &set16 ? "--set" : "--set32") + std::string(": no module at address ")
                           + std::to_string(s.address) + " in '" + s.text + "'");
        }
    }
    if (faultAddress > 0 && !onLine(faultAddress))
        usageError("--fault-address: no module at address " + std::to_string(faultAddress));
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

    Simulator sim(bus[0].module, bus[0].address);
    for (size_t i = 1; i < bus.size(); ++i)
        sim.addModule(bus[i].module, bus[i].address);
    for (const auto &s : set16)
        sim.setRegister(s.address, s.reg, uint16_t(s.value));
    for (const auto &s : set32)
        sim.setRegister32(s.address, s.reg, s.value);
    sim.setFault(fault, faultCount, uint8_t(faultAddress));
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

    // One module keeps the ready line tools already look for.
    const std::string who =
        busGiven ? describe(bus)
                 : std::string(hv52sim::moduleName(bus[0].module)) + " at address " + std::to_string(bus[0].address);
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
        std::printf("hv52sim: %s ready on 127.0.0.1:%d (%s)\n", who.c_str(), server.port(),
                    framing == hv52sim::TcpFraming::Mbap ? "Modbus TCP" : "RTU over TCP");
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
    std::printf("hv52sim: %s ready on %s (%s)\n", who.c_str(), sim.linkPath().c_str(), sim.devicePath().c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&sigs, &sig);
    sim.stop();
    return 0;
}
