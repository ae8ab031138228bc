#include "sim/simulator.h"
#include "sim/framerecord.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace hv52sim {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

ModuleInfo moduleInfo(Module m)
{
    switch (m) {
    case Module::T516:
        return {2, 2, 3};
    case Module::T528:
        return {2, 2, 0};
    case Module::T540:
        return {0, 7, 0};
    }
    return {0, 0, 0};
}

const char *moduleName(Module m)
{
    switch (m) {
    case Module::T516:
        return "t516";
    case Module::T540:
        return "t540";
    case Module::T528:
        return "t528";
    }
    return "?";
}

bool parseModule(const std::string &name, Module *m)
{
    std::string n = name;
    for (char &c : n)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    for (Module x : {Module::T516, Module::T540, Module::T528}) {
        if (n == moduleName(x)) {
            *m = x;
            return true;
        }
    }
    return false;
}

static const struct
{
    Fault fault;
    const char *name;
} kFaultNames[] = {
    {Fault::None, "none"},
    {Fault::Silent, "silent"},
    {Fault::BadCrc, "bad-crc"},
    {Fault::Partial, "partial"},
    {Fault::Exception, "exception"},
    {Fault::ExtraBytes, "extra-bytes"},
    {Fault::Split, "split"},
    {Fault::Slow, "slow"},
    {Fault::OtherAddress, "other-address"},
    {Fault::OtherFunction, "other-function"},
    {Fault::Held, "held"},
    {Fault::RefuseWrite, "refuse-write"},
};

const char *faultName(Fault f)
{
    for (const auto &e : kFaultNames)
        if (e.fault == f)
            return e.name;
    return "?";
}

bool parseFault(const std::string &name, Fault *f)
{
    for (const auto &e : kFaultNames) {
        if (name == e.name) {
            *f = e.fault;
            return true;
        }
    }
    return false;
}

namespace {

// What a mapped register is; decides access and which values a write accepts.
enum Role : uint8_t {
    Unmapped = 0,
    ReadOnly,
    ResetCmd,
    RelayCmd,
    InputModeReg,
    AnalogSignalReg,
    AnalogSourceReg,
    AnalogLimitReg,
};

// The speeds a master can choose, with their termios codes: Debian 12's glibc
// reads a terminal's speed only as such a code, and with it a pseudo-terminal
// keeps one speed for both directions, so the output speed is the line's.
const struct
{
    int baud;
    speed_t code;
} kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

// The output speed set on a terminal fd, in bit/s; 0 when unknown.
int speedOf(int fd)
{
    termios t;
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        return 0;
    const speed_t code = cfgetospeed(&t);
    for (const auto &s : kSpeeds)
        if (s.code == code)
            return s.baud;
    return 0;
}

timespec toTimespec(Clock::time_point tp)
{
    // libstdc++ and libc++ implement steady_clock with CLOCK_MONOTONIC, so its
    // time points can be handed to clock_nanosleep directly.
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(tp.time_since_epoch()).count();
    timespec ts;
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    return ts;
}

timespec durationTimespec(Clock::duration d)
{
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    if (ns < 0)
        ns = 0;
    timespec ts;
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    return ts;
}

// An encoded exception answer from the module at address.
std::vector<uint8_t> exceptionFrame(uint8_t address, uint8_t fn, uint8_t code)
{
    std::vector<uint8_t> a{address, uint8_t(fn | 0x80), code};
    Simulator::appendCrc(a);
    return a;
}

// One module on the line: its kind, address and registers. Guarded by the
// line's mutex.
struct Unit
{
    Unit(Module m, uint8_t a) : module(m), info(moduleInfo(m)), address(a)
    {
        buildMap();
        setInitialValues();
    }

    const Module module;
    const ModuleInfo info;
    const uint8_t address;
    std::vector<uint16_t> values = std::vector<uint16_t>(65536, 0);
    std::vector<uint8_t> roles = std::vector<uint8_t>(65536, Unmapped);

    void buildMap();
    void setInitialValues();
    uint32_t get32(uint16_t r) const { return (uint32_t(values[r]) << 16) | values[uint16_t(r + 1)]; }
    void set32(uint16_t r, uint32_t v)
    {
        values[r] = uint16_t(v >> 16);
        values[uint16_t(r + 1)] = uint16_t(v);
    }
    bool accepts(uint16_t r, uint16_t v) const;
    void applyWrite(uint16_t r, uint16_t v);
    // f has a good CRC and is for this address or a broadcast.
    std::vector<uint8_t> answer(const std::vector<uint8_t> &f, bool refuseWrites);
    std::vector<uint8_t> exception(uint8_t fn, uint8_t code) const { return exceptionFrame(address, fn, code); }
    void demoStep(unsigned ticks);
};

} // namespace

struct Simulator::Impl
{
    const int recordId = FrameRecord::newModule();
    Impl(Module m, uint8_t a) : module(m), address(a)
    {
        units.push_back(std::make_unique<Unit>(m, a));
        byAddress[a] = units.back().get();
    }

    // The first module, the one the single-address calls address.
    const Module module;
    const uint8_t address;

    mutable std::mutex mu; // registers, faults, settings, log
    mutable std::condition_variable logChanged;
    std::vector<std::unique_ptr<Unit>> units; // in the order added
    Unit *byAddress[256] = {};

    Fault fault = Fault::None;
    int faultCount = 0;
    uint8_t faultAddress = 0; // 0: every module
    int splitPieces = 3;
    int splitGapMs = 20;
    int slowMs = 500;
    int heldMs = 10;
    int heldFollowMs = -1;
    std::vector<uint8_t> heldAnswer; // the answer a Held fault keeps back
    int otherAddress = -1;
    int baud = 0;
    int turnaroundUs = 0;
    int listenSpeed = 0;
    bool demo = false;
    unsigned demoTicks = 0;

    std::deque<Frame> log;
    size_t logCapacity = 0;
    size_t requests = 0;
    std::function<void(const Frame &)> frameCallback;
    std::function<void(const std::vector<uint8_t> &)> writeCallback;

    // Link state, changed only under lifeMu by start/stop/unplug/replug.
    std::mutex lifeMu;
    bool started = false;
    bool plugged = false;
    std::string dir;
    int port = -1;
    std::string link;
    std::string device; // guarded by mu for readers
    int masterFd = -1;
    int heldSlaveFd = -1;
    int wakeFds[2] = {-1, -1};
    std::thread thread;
    std::atomic<bool> stopRequested{false};

    // --- modules (mu held) ---
    Unit *unitAt(uint8_t a) const { return byAddress[a]; }
    std::vector<uint8_t> answer(const std::vector<uint8_t> &f, int refuseAt, bool *refused);
    void demoStepLocked();

    // --- link and service thread ---
    bool openPty(std::string *error);
    bool createLink(std::string *error);
    void removeLink();
    void closeFds();
    void startThread();
    void stopThread();
    void serve();
    Clock::duration silence() const;
    bool hears() const;
    void handleFrame(const std::vector<uint8_t> &request, Clock::time_point lastByte, bool heard);
    bool sleepUntil(Clock::time_point deadline);
    void writeLine(const std::vector<uint8_t> &bytes);
    void record(bool fromMaster, const std::vector<uint8_t> &bytes, Clock::time_point t, bool notify);
    void notifyFrame(const Frame &f);
};

// ---------------------------------------------------------------- registers

void Unit::buildMap()
{
    for (int k = 0; k < info.relays; ++k) {
        roles[regs::relayCount(k)] = ReadOnly;
        roles[regs::relayCount(k) + 1] = ReadOnly;
        roles[regs::relayState(k)] = ReadOnly;
        roles[regs::relayCommand(k)] = RelayCmd;
    }
    for (int n = 0; n < info.inputs; ++n) {
        roles[regs::inputCount(n)] = ReadOnly;
        roles[regs::inputCount(n) + 1] = ReadOnly;
        roles[regs::inputState(n)] = ReadOnly;
        roles[regs::inputOnTime(n)] = ReadOnly;
        roles[regs::inputOnTime(n) + 1] = ReadOnly;
        roles[regs::inputMode(n)] = InputModeReg;
    }
    for (int k = 0; k < info.analogOutputs; ++k) {
        roles[regs::analogValue(k)] = ReadOnly;
        roles[regs::analogSignal(k)] = AnalogSignalReg;
        roles[regs::analogSource(k)] = AnalogSourceReg;
        roles[regs::analogLower(k)] = AnalogLimitReg;
        roles[regs::analogUpper(k)] = AnalogLimitReg;
    }
    roles[regs::reset] = ResetCmd;
}

// Non-zero values so a first poll of a fresh module shows something.
void Unit::setInitialValues()
{
    static const uint32_t relayCounts[] = {1520, 37};
    for (int k = 0; k < info.relays; ++k) {
        set32(regs::relayCount(k), relayCounts[k]);
        values[regs::relayState(k)] = k == 0 ? regs::on : regs::off;
        values[regs::relayCommand(k)] = k == 0 ? regs::cmdOperate : regs::cmdAlarm;
    }
    for (int n = 0; n < info.inputs; ++n) {
        set32(regs::inputCount(n), n == 0 ? 70000u : n == 1 ? 1234u : uint32_t(11 * (n + 1)));
        set32(regs::inputOnTime(n), n == 0 ? 864000u : uint32_t(36000 / (n + 1)));
        values[regs::inputState(n)] = n % 2 == 0 ? regs::on : regs::off;
        values[regs::inputMode(n)] = 0;
    }
    for (int k = 0; k < info.analogOutputs; ++k) {
        values[regs::analogValue(k)] = uint16_t(1200 + 400 * k); // 12, 16, 20 mA
        values[regs::analogSignal(k)] = 0;
        values[regs::analogSource(k)] = uint16_t(1 + k);
        values[regs::analogLower(k)] = 0;
        values[regs::analogUpper(k)] = 10000;
    }
    values[regs::reset] = 0;
}

bool Unit::accepts(uint16_t r, uint16_t v) const
{
    switch (roles[r]) {
    case ResetCmd:
        if (v == regs::resetRelay1 || v == regs::resetRelay2 || v == regs::resetRelays)
            return info.relays > 0;
        if (v == regs::resetInputs)
            return true;
        return v >= regs::resetInput(0) && v < regs::resetInput(info.inputs);
    case RelayCmd:
        return v == regs::cmdAlarm || v == regs::cmdHost || v == regs::cmdOperate || v == regs::cmdRestore;
    case InputModeReg:
    case AnalogSignalReg:
        return v <= 1;
    case AnalogSourceReg:
        return v <= 29;
    case AnalogLimitReg:
        return true;
    default:
        return false;
    }
}

void Unit::applyWrite(uint16_t r, uint16_t v)
{
    switch (roles[r]) {
    case ResetCmd:
        // A command, not a setting: the register keeps reading 0.
        if (v == regs::resetRelay1 || v == regs::resetRelays)
            set32(regs::relayCount(0), 0);
        if (v == regs::resetRelay2 || v == regs::resetRelays)
            set32(regs::relayCount(1), 0);
        for (int n = 0; n < info.inputs; ++n) {
            if (v == regs::resetInputs || v == regs::resetInput(n)) {
                set32(regs::inputCount(n), 0);
                set32(regs::inputOnTime(n), 0);
            }
        }
        break;
    case RelayCmd: {
        int k = r - regs::relayCommand(0);
        values[r] = v;
        if (v == regs::cmdOperate) {
            values[regs::relayState(k)] = regs::on;
            set32(regs::relayCount(k), get32(regs::relayCount(k)) + 1);
        } else if (v == regs::cmdRestore) {
            values[regs::relayState(k)] = regs::off;
        }
        break;
    }
    default:
        values[r] = v;
        break;
    }
}

std::vector<uint8_t> Unit::answer(const std::vector<uint8_t> &f, bool refuseWrites)
{
    const bool broadcast = f[0] == 0;
    const uint8_t fn = f[1];

    if (fn == 3) {
        if (broadcast)
            return {}; // nobody may answer a broadcast
        if (f.size() != 8)
            return exception(fn, 3);
        const unsigned first = unsigned(f[2]) << 8 | f[3];
        const unsigned count = unsigned(f[4]) << 8 | f[5];
        if (count == 0 || count > 125)
            return exception(fn, 3);
        if (first + count > 0x10000)
            return exception(fn, 2);
        for (unsigned r = first; r < first + count; ++r)
            if (roles[r] == Unmapped)
                return exception(fn, 2);
        std::vector<uint8_t> a{address, fn, uint8_t(2 * count)};
        for (unsigned r = first; r < first + count; ++r) {
            a.push_back(uint8_t(values[r] >> 8));
            a.push_back(uint8_t(values[r]));
        }
        Simulator::appendCrc(a);
        return a;
    }

    if (fn == 16) {
        // A module whose settings memory fails takes no write at all.
        if (refuseWrites)
            return broadcast ? std::vector<uint8_t>{} : exception(fn, 4);
        if (f.size() < 9 || f.size() != 9u + f[6])
            return broadcast ? std::vector<uint8_t>{} : exception(fn, 3);
        const unsigned first = unsigned(f[2]) << 8 | f[3];
        const unsigned count = unsigned(f[4]) << 8 | f[5];
        std::vector<uint8_t> err;
        if (count == 0 || count > 123 || f[6] != 2 * count) {
            err = exception(fn, 3);
        } else if (first + count > 0x10000) {
            err = exception(fn, 2);
        } else {
            for (unsigned r = first; r < first + count && err.empty(); ++r)
                if (roles[r] == Unmapped || roles[r] == ReadOnly)
                    err = exception(fn, 2);
            for (unsigned i = 0; i < count && err.empty(); ++i) {
                uint16_t v = uint16_t(f[7 + 2 * i] << 8 | f[8 + 2 * i]);
                if (!accepts(uint16_t(first + i), v))
                    err = exception(fn, 3);
            }
        }
        if (!err.empty())
            return broadcast ? std::vector<uint8_t>{} : err;
        // All checked first, so a refused write changes nothing.
        for (unsigned i = 0; i < count; ++i)
            applyWrite(uint16_t(first + i), uint16_t(f[7 + 2 * i] << 8 | f[8 + 2 * i]));
        if (broadcast)
            return {}; // broadcast writes take effect silently
        std::vector<uint8_t> a(f.begin(), f.begin() + 6);
        Simulator::appendCrc(a);
        return a;
    }

    if (broadcast)
        return {};
    return exception(fn, 1);
}

void Unit::demoStep(unsigned ticks)
{
    // Input n toggles every n+1 steps so the inputs do not move in lockstep.
    for (int n = 0; n < info.inputs; ++n) {
        const uint16_t st = regs::inputState(n);
        if (values[st] == regs::on)
            set32(regs::inputOnTime(n), get32(regs::inputOnTime(n)) + 10);
        if (ticks % unsigned(n + 1) == 0) {
            if (values[st] == regs::on) {
                values[st] = regs::off;
            } else {
                values[st] = regs::on;
                set32(regs::inputCount(n), get32(regs::inputCount(n)) + 1);
            }
        }
    }
    // Analog outputs ramp 4..20 mA in 0.25 mA steps.
    for (int k = 0; k < info.analogOutputs; ++k) {
        uint16_t &v = values[regs::analogValue(k)];
        v = v >= 2000 ? 400 : uint16_t(v + 25);
    }
}

// refuseAt: the module refusing writes (0: every module, -1: none). *refused
// tells whether the request was a write that some module refused.
std::vector<uint8_t> Simulator::Impl::answer(const std::vector<uint8_t> &f, int refuseAt, bool *refused)
{
    *refused = false;
    if (f.size() < 4)
        return {};
    uint16_t crc = crc16(f.data(), f.size() - 2);
    if (f[f.size() - 2] != uint8_t(crc) || f[f.size() - 1] != uint8_t(crc >> 8))
        return {};
    const bool write = f[1] == 16;
    auto refuses = [&](const Unit &u) { return refuseAt == 0 || refuseAt == u.address; };
    if (f[0] == 0) {
        // Every module on the line hears a broadcast; none answers.
        for (const auto &u : units) {
            *refused = *refused || (write && refuses(*u));
            u->answer(f, refuses(*u));
        }
        return {};
    }
    Unit *u = unitAt(f[0]);
    if (!u)
        return {};
    *refused = write && refuses(*u);
    return u->answer(f, refuses(*u));
}

void Simulator::Impl::demoStepLocked()
{
    for (const auto &u : units)
        u->demoStep(demoTicks);
    ++demoTicks;
}

// ------------------------------------------------------------------- link

bool Simulator::Impl::openPty(std::string *error)
{
    auto fail = [&](const char *what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        closeFds();
        return false;
    };
    masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0)
        return fail("posix_openpt");
    if (grantpt(masterFd) != 0)
        return fail("grantpt");
    if (unlockpt(masterFd) != 0)
        return fail("unlockpt");
    char name[128];
    if (ptsname_r(masterFd, name, sizeof name) != 0)
        return fail("ptsname_r");
    // Without raw mode the line discipline echoes requests and mangles
    // control characters.
    termios t;
    if (tcgetattr(masterFd, &t) != 0)
        return fail("tcgetattr");
    cfmakeraw(&t);
    if (tcsetattr(masterFd, TCSANOW, &t) != 0)
        return fail("tcsetattr");
    int fl = fcntl(masterFd, F_GETFL);
    fcntl(masterFd, F_SETFL, fl | O_NONBLOCK);
    // Held open for the whole run: with no slave fd open the master side sees
    // hang-ups, e.g. between a tool's close and its next open. It also keeps
    // the slave's settings alive, so the speed a tool sets can be read here.
    heldSlaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (heldSlaveFd < 0)
        return fail(name);
    if (tcgetattr(heldSlaveFd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(heldSlaveFd, TCSANOW, &t);
    }
    std::lock_guard<std::mutex> lk(mu);
    device = name;
    return true;
}

bool Simulator::Impl::createLink(std::string *error)
{
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error)
            *error = "no such directory: " + dir;
        return false;
    }
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            if (error)
                *error = link + " exists and is not a symlink";
            return false;
        }
        ::unlink(link.c_str()); // left behind by a run that did not stop cleanly
    }
    std::string dev;
    {
        std::lock_guard<std::mutex> lk(mu);
        dev = device;
    }
    if (symlink(dev.c_str(), link.c_str()) != 0) {
        if (error)
            *error = "symlink " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void Simulator::Impl::removeLink()
{
    std::string dev;
    {
        std::lock_guard<std::mutex> lk(mu);
        dev = device;
    }
    // Only our own link: another simulator may have taken the name since.
    char target[256];
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = 0;
        if (dev == target)
            ::unlink(link.c_str());
    }
}

void Simulator::Impl::closeFds()
{
    if (masterFd >= 0)
        ::close(masterFd);
    if (heldSlaveFd >= 0)
        ::close(heldSlaveFd);
    masterFd = heldSlaveFd = -1;
    std::lock_guard<std::mutex> lk(mu);
    device.clear();
}

void Simulator::Impl::startThread()
{
    stopRequested = false;
    thread = std::thread([this] { serve(); });
}

void Simulator::Impl::stopThread()
{
    if (!thread.joinable())
        return;
    stopRequested = true;
    char c = 1;
    (void)!::write(wakeFds[1], &c, 1);
    thread.join();
    while (::read(wakeFds[0], &c, 1) > 0) {}
}

// -------------------------------------------------------- service thread

Clock::duration Simulator::Impl::silence() const
{
    // 3.5 characters of 10 bits, never below 1.75 ms (the fixed value for
    // fast lines); 1.75 ms when the line speed is unknown.
    std::lock_guard<std::mutex> lk(mu);
    Clock::duration d = 1750us;
    if (baud > 0)
        d = std::max(d, Clock::duration(std::chrono::nanoseconds(35000000000LL / baud)));
    return d;
}

// Whether bytes arriving now are heard: the master's end is at the listening
// speed, or none is set. Read on each arrival because a tool sets its speed
// when it opens the port and QSerialPort restores the old one on close.
bool Simulator::Impl::hears() const
{
    int want;
    {
        std::lock_guard<std::mutex> lk(mu);
        want = listenSpeed;
    }
    return want == 0 || speedOf(heldSlaveFd) == want;
}

void Simulator::Impl::serve()
{
    // Default timer slack (50 us) would blur the pacing deadlines.
    prctl(PR_SET_TIMERSLACK, 1UL);
    std::vector<uint8_t> buf;
    bool misheard = false; // some byte in buf came at another speed
    Clock::time_point lastByte{};
    Clock::time_point nextDemo = Clock::now() + 1s;
    uint8_t chunk[512];

    // Length of the frame at the start of buf by its function code, 0 while
    // not yet known or when only silence can end it.
    auto framedLength = [&]() -> size_t {
        if (buf.size() < 2)
            return 0;
        if (buf[1] == 3)
            return 8;
        if (buf[1] == 16)
            return buf.size() < 7 ? 0 : 9u + buf[6];
        return 0;
    };

    while (!stopRequested) {
        const Clock::duration gap = silence();
        Clock::time_point deadline = nextDemo;
        if (!buf.empty())
            deadline = std::min(deadline, lastByte + gap);
        pollfd fds[2] = {{masterFd, POLLIN, 0}, {wakeFds[0], POLLIN, 0}};
        timespec ts = durationTimespec(deadline - Clock::now());
        int r = ppoll(fds, 2, &ts, nullptr);
        if (stopRequested)
            break;
        if (r < 0 && errno != EINTR)
            break;
        Clock::time_point now = Clock::now();

        // Silence first: bytes waiting now most likely came after the gap.
        if (!buf.empty() && now >= lastByte + gap) {
            // An unfinished function 3/16 frame is dropped like any broken frame.
            if (buf.size() >= 2 && (buf[1] == 3 || buf[1] == 16))
                record(true, buf, lastByte, true);
            else
                handleFrame(buf, lastByte, !misheard);
            buf.clear();
        }
        if (r > 0 && (fds[0].revents & POLLIN)) {
            ssize_t n = ::read(masterFd, chunk, sizeof chunk);
            if (n > 0) {
                lastByte = Clock::now();
                if (buf.empty())
                    misheard = false;
                if (!hears())
                    misheard = true;
                buf.insert(buf.end(), chunk, chunk + n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                std::this_thread::sleep_for(10ms); // EIO: no slave open; avoid spinning
            }
        } else if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
            std::this_thread::sleep_for(10ms);
        }
        // Complete function 3/16 frames go out at once, without waiting for silence.
        bool handled = false;
        for (size_t len = framedLength(); len > 0 && buf.size() >= len; len = framedLength()) {
            std::vector<uint8_t> frame(buf.begin(), buf.begin() + long(len));
            buf.erase(buf.begin(), buf.begin() + long(len));
            handleFrame(frame, lastByte, !misheard);
            handled = true;
        }
        // Time spent answering was not silence on the line for what remains.
        if (handled && !buf.empty())
            lastByte = Clock::now();

        now = Clock::now();
        if (now >= nextDemo) {
            {
                std::lock_guard<std::mutex> lk(mu);
                if (demo)
                    demoStepLocked();
            }
            nextDemo += 1s;
            if (nextDemo <= now)
                nextDemo = now + 1s;
        }
    }
}

void Simulator::Impl::handleFrame(const std::vector<uint8_t> &request, Clock::time_point lastByte, bool heard)
{
    record(true, request, lastByte, true);
    if (!heard)
        return; // garbage to a module at another speed: no answer, no effect
    std::vector<uint8_t> a;
    Fault f = Fault::None;
    int pieces = 1, gapMs = 0, delayMs = 0, lineBaud = 0, turnaround = 0, held = 0, follow = -1;
    {
        std::lock_guard<std::mutex> lk(mu);
        const bool refusing = faultCount != 0 && fault == Fault::RefuseWrite;
        bool refused = false;
        a = answer(request, refusing ? faultAddress : -1, &refused);
        // A refusal is the whole fault; other faults change an answer of the
        // module they target.
        const bool consumed =
            refusing ? refused : !a.empty() && faultCount != 0 && (faultAddress == 0 || faultAddress == request[0]);
        if (consumed) {
            if (!refusing)
                f = fault;
            if (faultCount > 0 && --faultCount == 0)
                fault = Fault::None;
        }
        if (a.empty())
            return;
        if (f == Fault::Split) {
            pieces = std::max(1, splitPieces);
            gapMs = std::max(0, splitGapMs);
        }
        if (f == Fault::Slow)
            delayMs = std::max(0, slowMs);
        held = heldMs;
        follow = heldFollowMs;
        lineBaud = baud;
        turnaround = turnaroundUs;
        if (f == Fault::OtherAddress) {
            int other = otherAddress >= 0 ? otherAddress : request[0] % 247 + 1;
            a[0] = uint8_t(other);
        }
    }
    std::vector<uint8_t> late;
    {
        std::lock_guard<std::mutex> lk(mu);
        late.swap(heldAnswer);
    }
    if (!late.empty()) {
        // The answer held back from the request before goes out now, where
        // this request's own answer is expected.
        if (!sleepUntil(lastByte + std::chrono::milliseconds(held)))
            return;
        Clock::time_point at = Clock::now();
        record(false, late, at, false);
        writeLine(late);
        notifyFrame(Frame{false, late, at});
        if (follow < 0)
            return;
        lastByte = Clock::now() + std::chrono::milliseconds(follow);
        delayMs = 0;
        f = Fault::None;
    }
    switch (f) {
    case Fault::Held: {
        std::lock_guard<std::mutex> lk(mu);
        heldAnswer = a;
        return;
    }
    case Fault::Silent:
        return;
    case Fault::BadCrc:
        a.back() ^= 0xFF;
        break;
    case Fault::Partial:
        a.resize(3);
        break;
    case Fault::Exception:
        a = exceptionFrame(request[0], request[1], 4);
        break;
    case Fault::ExtraBytes:
        a.push_back(0x00);
        a.push_back(0xFF);
        break;
    case Fault::OtherAddress:
        a.resize(a.size() - 2);
        appendCrc(a);
        break;
    case Fault::OtherFunction:
        a[1] = uint8_t((a[1] & 0x80) | ((a[1] + 1) & 0x7F));
        a.resize(a.size() - 2);
        appendCrc(a);
        break;
    default:
        break;
    }

    Clock::time_point due = lastByte + std::chrono::milliseconds(delayMs);
    if (lineBaud > 0) {
        // Wire time of request and answer, each followed by a 3.5 character gap.
        double bits = (double(request.size()) + 3.5 + double(a.size()) + 3.5) * 10.0;
        due += std::chrono::nanoseconds(int64_t(bits * 1e9 / lineBaud)) + std::chrono::microseconds(turnaround);
    }
    if (!sleepUntil(due))
        return;

    // Logged before the write so a master that has the answer finds it logged.
    Clock::time_point sentAt = Clock::now();
    record(false, a, sentAt, false);
    pieces = std::min<int>(pieces, int(a.size()));
    size_t pos = 0;
    Clock::time_point pieceAt = sentAt;
    for (int i = 0; i < pieces; ++i) {
        size_t len = a.size() / size_t(pieces) + (size_t(i) < a.size() % size_t(pieces) ? 1 : 0);
        if (i > 0 && !sleepUntil(pieceAt += std::chrono::milliseconds(gapMs)))
            return;
        writeLine(std::vector<uint8_t>(a.begin() + long(pos), a.begin() + long(pos + len)));
        pos += len;
    }
    notifyFrame(Frame{false, a, sentAt});
}

// Sleeps to an absolute deadline: interruptible by stop() while far away,
// clock_nanosleep and a short spin for the last stretch so pacing stays
// within tens of us.
bool Simulator::Impl::sleepUntil(Clock::time_point deadline)
{
    for (;;) {
        if (stopRequested)
            return false;
        Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        if (left > 3ms) {
            pollfd p{wakeFds[0], POLLIN, 0};
            timespec ts = durationTimespec(left - 2ms);
            ppoll(&p, 1, &ts, nullptr);
            continue;
        }
        // Wake-ups come some tens of us late here, so sleep to just short of
        // the deadline and spin the rest.
        if (left > 150us) {
            timespec ts = toTimespec(deadline - 100us);
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {}
            continue;
        }
        while (Clock::now() < deadline) {}
        return true;
    }
}

void Simulator::Impl::writeLine(const std::vector<uint8_t> &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(masterFd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            // Nobody reads the port and its buffer is full: like a real line,
            // what cannot be delivered is lost.
            pollfd p{masterFd, POLLOUT, 0};
            if (poll(&p, 1, 100) <= 0)
                break;
        } else {
            break;
        }
    }
    std::function<void(const std::vector<uint8_t> &)> cb;
    {
        std::lock_guard<std::mutex> lk(mu);
        cb = writeCallback;
    }
    if (cb)
        cb(bytes);
}

void Simulator::Impl::record(bool fromMaster, const std::vector<uint8_t> &bytes, Clock::time_point t, bool notify)
{
    if (fromMaster)
        FrameRecord::heard(recordId, bytes);
    {
        std::lock_guard<std::mutex> lk(mu);
        log.push_back(Frame{fromMaster, bytes, t});
        if (logCapacity > 0 && log.size() > logCapacity)
            log.pop_front();
        if (fromMaster)
            ++requests;
    }
    logChanged.notify_all();
    if (notify)
        notifyFrame(Frame{fromMaster, bytes, t});
}

void Simulator::Impl::notifyFrame(const Frame &f)
{
    std::function<void(const Frame &)> cb;
    {
        std::lock_guard<std::mutex> lk(mu);
        cb = frameCallback;
    }
    if (cb)
        cb(f);
}

// ----------------------------------------------------------------- public

Simulator::Simulator(Module module, uint8_t address) : d(new Impl(module, address))
{
    if (pipe2(d->wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        d->wakeFds[0] = d->wakeFds[1] = -1;
}

Simulator::~Simulator()
{
    stop();
    if (d->wakeFds[0] >= 0)
        ::close(d->wakeFds[0]);
    if (d->wakeFds[1] >= 0)
        ::close(d->wakeFds[1]);
}

bool Simulator::start(const std::string &dir, int port, std::string *error)
{
    std::lock_guard<std::mutex> lk(d->lifeMu);
    if (d->started) {
        if (error)
            *error = "already started on " + d->link;
        return false;
    }
    if (d->wakeFds[0] < 0) {
        if (error)
            *error = "pipe2 failed";
        return false;
    }
    if (port < 0) {
        if (error)
            *error = "port must not be negative";
        return false;
    }
    d->dir = dir;
    d->port = port;
    d->link = dir + "/com" + std::to_string(port);
    if (!d->openPty(error) || !d->createLink(error)) {
        d->closeFds();
        d->link.clear();
        return false;
    }
    {
        std::lock_guard<std::mutex> l2(d->mu);
        d->requests = 0;
        d->log.clear();
    }
    d->startThread();
    d->started = d->plugged = true;
    return true;
}

void Simulator::stop()
{
    std::lock_guard<std::mutex> lk(d->lifeMu);
    if (!d->started)
        return;
    d->stopThread();
    if (d->plugged)
        d->removeLink();
    d->closeFds();
    d->started = d->plugged = false;
}

bool Simulator::running() const
{
    std::lock_guard<std::mutex> lk(d->lifeMu);
    return d->started && d->plugged;
}

std::string Simulator::linkPath() const
{
    std::lock_guard<std::mutex> lk(d->lifeMu);
    return d->link;
}

std::string Simulator::devicePath() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    return d->device;
}

void Simulator::unplug()
{
    std::lock_guard<std::mutex> lk(d->lifeMu);
    if (!d->started || !d->plugged)
        return;
    d->stopThread();
    d->removeLink();
    d->closeFds();
    d->plugged = false;
}

bool Simulator::replug(std::string *error)
{
    std::lock_guard<std::mutex> lk(d->lifeMu);
    if (!d->started) {
        if (error)
            *error = "not started";
        return false;
    }
    if (d->plugged)
        return true;
    if (!d->openPty(error))
        return false;
    if (!d->createLink(error)) {
        d->closeFds();
        return false;
    }
    d->startThread();
    d->plugged = true;
    return true;
}

Module Simulator::module() const
{
    return d->module;
}
uint8_t Simulator::address() const
{
    return d->address;
}

bool Simulator::addModule(Module module, uint8_t address)
{
    if (address < 1 || address > 247)
        return false;
    std::lock_guard<std::mutex> lk(d->mu);
    if (d->byAddress[address])
        return false;
    d->units.push_back(std::make_unique<Unit>(module, address));
    d->byAddress[address] = d->units.back().get();
    return true;
}

std::vector<BusModule> Simulator::modules() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    std::vector<BusModule> out;
    for (const auto &u : d->units)
        out.push_back({u->module, u->address});
    return out;
}

void Simulator::setRegister(uint16_t r, uint16_t value)
{
    setRegister(d->address, r, value);
}

void Simulator::setRegister32(uint16_t first, uint32_t value)
{
    setRegister32(d->address, first, value);
}

uint16_t Simulator::reg(uint16_t r) const
{
    return reg(d->address, r);
}

uint32_t Simulator::reg32(uint16_t first) const
{
    return reg32(d->address, first);
}

bool Simulator::setRegister(uint8_t address, uint16_t r, uint16_t value)
{
    std::lock_guard<std::mutex> lk(d->mu);
    Unit *u = d->unitAt(address);
    if (u)
        u->values[r] = value;
    return u != nullptr;
}

bool Simulator::setRegister32(uint8_t address, uint16_t first, uint32_t value)
{
    std::lock_guard<std::mutex> lk(d->mu);
    Unit *u = d->unitAt(address);
    if (u)
        u->set32(first, value);
    return u != nullptr;
}

uint16_t Simulator::reg(uint8_t address, uint16_t r) const
{
    std::lock_guard<std::mutex> lk(d->mu);
    const Unit *u = d->unitAt(address);
    return u ? u->values[r] : 0;
}

uint32_t Simulator::reg32(uint8_t address, uint16_t first) const
{
    std::lock_guard<std::mutex> lk(d->mu);
    const Unit *u = d->unitAt(address);
    return u ? u->get32(first) : 0;
}

void Simulator::setFault(Fault fault, int count)
{
    setFault(fault, count, 0);
}

void Simulator::setFault(Fault fault, int count, uint8_t address)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->fault = fault;
    d->faultCount = fault == Fault::None ? 0 : count;
    d->faultAddress = address;
}

uint8_t Simulator::faultAddress() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    return d->faultAddress;
}

Fault Simulator::fault() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    return d->faultCount == 0 ? Fault::None : d->fault;
}

void Simulator::setSplit(int pieces, int gapMs)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->splitPieces = pieces;
    d->splitGapMs = gapMs;
}

void Simulator::setSlowMs(int ms)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->slowMs = ms;
}

void Simulator::setHeld(int heldMs, int followMs)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->heldMs = std::max(0, heldMs);
    d->heldFollowMs = followMs;
}

void Simulator::setOtherAddress(uint8_t address)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->otherAddress = address;
}

void Simulator::setPacing(int baud, int turnaroundUs)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->baud = std::max(0, baud);
    d->turnaroundUs = std::max(0, turnaroundUs);
}

bool Simulator::isStandardSpeed(int baud)
{
    for (const auto &s : kSpeeds)
        if (s.baud == baud)
            return true;
    return false;
}

bool Simulator::setListenSpeed(int baud)
{
    if (baud != 0 && !isStandardSpeed(baud))
        return false;
    std::lock_guard<std::mutex> lk(d->mu);
    d->listenSpeed = baud;
    return true;
}

int Simulator::listenSpeed() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    return d->listenSpeed;
}

int Simulator::lineSpeed() const
{
    std::lock_guard<std::mutex> lk(d->lifeMu);
    return d->plugged ? speedOf(d->heldSlaveFd) : 0;
}

void Simulator::setDemo(bool on)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->demo = on;
}

void Simulator::demoStep()
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->demoStepLocked();
}

std::vector<Frame> Simulator::frames() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    return std::vector<Frame>(d->log.begin(), d->log.end());
}

void Simulator::clearLog()
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->log.clear();
    d->requests = 0;
}

void Simulator::setLogCapacity(size_t maxFrames)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->logCapacity = maxFrames;
    while (maxFrames > 0 && d->log.size() > maxFrames)
        d->log.pop_front();
}

size_t Simulator::requestCount() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    return d->requests;
}

bool Simulator::waitForRequests(size_t n, int timeoutMs) const
{
    std::unique_lock<std::mutex> lk(d->mu);
    return d->logChanged.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return d->requests >= n; });
}

void Simulator::onFrame(std::function<void(const Frame &)> callback)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->frameCallback = std::move(callback);
}

void Simulator::onWrite(std::function<void(const std::vector<uint8_t> &)> callback)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->writeCallback = std::move(callback);
}

std::vector<uint8_t> Simulator::handleRequest(const std::vector<uint8_t> &frame)
{
    FrameRecord::heard(d->recordId, frame);
    std::lock_guard<std::mutex> lk(d->mu);
    bool refused;
    return d->answer(frame, -1, &refused);
}

uint16_t Simulator::crc16(const uint8_t *data, size_t size)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

uint16_t Simulator::crc16(const std::vector<uint8_t> &data)
{
    return crc16(data.data(), data.size());
}

void Simulator::appendCrc(std::vector<uint8_t> &frame)
{
    uint16_t c = crc16(frame);
    frame.push_back(uint8_t(c));
    frame.push_back(uint8_t(c >> 8));
}

std::string Simulator::hex(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            s += ' ';
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

} // namespace hv52sim
