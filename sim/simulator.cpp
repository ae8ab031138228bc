#include "sim/simulator.h"
#include "sim/framerecord.h"
#include "sim/pacing.h"
#include "sim/ptyline.h"
#include "sim/rtuframe.h"
#include "sim/rtuframer.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace hv52sim {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Simulator::Impl
{
    const int recordId = FrameRecord::newModule();
    Impl(Module m, uint8_t a) : module(m), address(a), bus(m, a) {}

    // The first module, the one the single-address calls address.
    const Module module;
    const uint8_t address;

    mutable std::mutex mu; // modules, faults, settings, observers
    Bus bus;
    FaultPlan faults;
    Pacing pacing;
    int listenSpeed = 0;
    bool demo = false;

    FrameLog log;
    std::function<void(const Frame &)> frameCallback;
    std::function<void(const std::vector<uint8_t> &)> writeCallback;

    // Link state, changed only under lifeMu by start/stop/unplug/replug.
    std::mutex lifeMu;
    bool started = false;
    bool plugged = false;
    std::string dir;
    int port = -1;
    std::string link;
    PtyLine line;
    std::thread thread;

    void startThread();
    void stopThread();
    void serve();
    Clock::duration silence() const;
    bool hears() const;
    void handleFrame(const std::vector<uint8_t> &request, Clock::time_point lastByte, bool heard);
    void writeLine(const std::vector<uint8_t> &bytes);
    void record(bool fromMaster, const std::vector<uint8_t> &bytes, Clock::time_point t, bool notify);
    void notifyFrame(const Frame &f);
};

void Simulator::Impl::startThread()
{
    line.allowWaits();
    thread = std::thread([this] { serve(); });
}

void Simulator::Impl::stopThread()
{
    if (!thread.joinable())
        return;
    line.stopWaits();
    thread.join();
    line.drainWakeup();
}

// -------------------------------------------------------- service thread

Clock::duration Simulator::Impl::silence() const
{
    std::lock_guard<std::mutex> lk(mu);
    return pacing.silence();
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
    return want == 0 || line.speed() == want;
}

void Simulator::Impl::serve()
{
    PtyLine::sharpenTimers();
    RtuFramer framer;
    Clock::time_point nextDemo = Clock::now() + 1s;
    uint8_t chunk[512];

    while (!line.waitsStopped()) {
        const Clock::duration gap = silence();
        Clock::time_point deadline = nextDemo;
        if (!framer.empty())
            deadline = std::min(deadline, framer.lastByte() + gap);
        const PtyLine::Ready ready = line.wait(deadline);
        if (line.waitsStopped())
            break;
        if (ready == PtyLine::Ready::Failed)
            break;
        Clock::time_point now = Clock::now();

        // Silence first: bytes waiting now most likely came after the gap.
        if (!framer.empty() && now >= framer.lastByte() + gap) {
            const bool heard = framer.heard();
            bool unfinished;
            const std::vector<uint8_t> frame = framer.takeAll(&unfinished);
            // An unfinished function 3/16 frame is dropped like any broken frame.
            if (unfinished)
                record(true, frame, framer.lastByte(), true);
            else
                handleFrame(frame, framer.lastByte(), heard);
        }
        if (ready == PtyLine::Ready::Data) {
            long n = line.read(chunk, sizeof chunk);
            if (n > 0) {
                const Clock::time_point at = Clock::now();
                framer.add(chunk, size_t(n), at, hears());
            } else if (n < 0) {
                std::this_thread::sleep_for(10ms); // avoid spinning
            }
        } else if (ready == PtyLine::Ready::HangUp) {
            std::this_thread::sleep_for(10ms);
        }
        // Complete function 3/16 frames go out at once, without waiting for silence.
        bool handled = false;
        for (std::vector<uint8_t> frame = framer.takeFramed(); !frame.empty(); frame = framer.takeFramed()) {
            handleFrame(frame, framer.lastByte(), framer.heard());
            handled = true;
        }
        // Time spent answering was not silence on the line for what remains.
        if (handled && !framer.empty())
            framer.restartSilence(Clock::now());

        now = Clock::now();
        if (now >= nextDemo) {
            {
                std::lock_guard<std::mutex> lk(mu);
                if (demo)
                    bus.demoStep();
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
    Delivery how;
    Pacing paced;
    {
        std::lock_guard<std::mutex> lk(mu);
        bool refused = false;
        a = bus.answer(request, faults.refuseAt(), &refused);
        how = faults.take(request, a, refused);
        if (a.empty())
            return;
        paced = pacing;
    }
    std::vector<uint8_t> late;
    {
        std::lock_guard<std::mutex> lk(mu);
        late = faults.takeHeld();
    }
    if (!late.empty()) {
        // The answer held back from the request before goes out now, where
        // this request's own answer is expected.
        if (!line.sleepUntil(lastByte + std::chrono::milliseconds(how.heldMs)))
            return;
        Clock::time_point at = Clock::now();
        record(false, late, at, false);
        writeLine(late);
        notifyFrame(Frame{false, late, at});
        if (how.followMs < 0)
            return;
        lastByte = Clock::now() + std::chrono::milliseconds(how.followMs);
        how.delayMs = 0;
        how.fault = Fault::None;
    }
    if (how.fault == Fault::Held) {
        std::lock_guard<std::mutex> lk(mu);
        faults.hold(a);
        return;
    }
    if (how.fault == Fault::Silent)
        return;
    mangle(how.fault, request, a);

    const Clock::time_point due =
        paced.due(lastByte + std::chrono::milliseconds(how.delayMs), request.size(), a.size());
    if (!line.sleepUntil(due))
        return;

    // Logged before the write so a master that has the answer finds it logged.
    Clock::time_point sentAt = Clock::now();
    record(false, a, sentAt, false);
    const int pieces = std::min<int>(how.pieces, int(a.size()));
    size_t pos = 0;
    Clock::time_point pieceAt = sentAt;
    for (int i = 0; i < pieces; ++i) {
        size_t len = pieceLength(a.size(), pieces, i);
        if (i > 0 && !line.sleepUntil(pieceAt += std::chrono::milliseconds(how.gapMs)))
            return;
        writeLine(std::vector<uint8_t>(a.begin() + long(pos), a.begin() + long(pos + len)));
        pos += len;
    }
    notifyFrame(Frame{false, a, sentAt});
}

void Simulator::Impl::writeLine(const std::vector<uint8_t> &bytes)
{
    line.write(bytes);
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
    log.add(Frame{fromMaster, bytes, t});
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

Simulator::Simulator(Module module, uint8_t address) : d(new Impl(module, address)) {}

Simulator::~Simulator()
{
    stop();
}

bool Simulator::start(const std::string &dir, int port, std::string *error)
{
    std::lock_guard<std::mutex> lk(d->lifeMu);
    if (d->started) {
        if (error)
            *error = "already started on " + d->link;
        return false;
    }
    if (!d->line.hasWakeup()) {
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
    if (!d->line.open(error) || !d->line.createLink(d->dir, d->link, error)) {
        d->line.close();
        d->link.clear();
        return false;
    }
    d->log.clear();
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
        d->line.removeLink(d->link);
    d->line.close();
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
    return d->line.device();
}

void Simulator::unplug()
{
    std::lock_guard<std::mutex> lk(d->lifeMu);
    if (!d->started || !d->plugged)
        return;
    d->stopThread();
    d->line.removeLink(d->link);
    d->line.close();
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
    if (!d->line.open(error))
        return false;
    if (!d->line.createLink(d->dir, d->link, error)) {
        d->line.close();
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
    std::lock_guard<std::mutex> lk(d->mu);
    return d->bus.add(module, address);
}

std::vector<BusModule> Simulator::modules() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    return d->bus.modules();
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
    ModuleMap *u = d->bus.at(address);
    if (u)
        u->values[r] = value;
    return u != nullptr;
}

bool Simulator::setRegister32(uint8_t address, uint16_t first, uint32_t value)
{
    std::lock_guard<std::mutex> lk(d->mu);
    ModuleMap *u = d->bus.at(address);
    if (u)
        u->set32(first, value);
    return u != nullptr;
}

uint16_t Simulator::reg(uint8_t address, uint16_t r) const
{
    std::lock_guard<std::mutex> lk(d->mu);
    const ModuleMap *u = d->bus.at(address);
    return u ? u->values[r] : 0;
}

uint32_t Simulator::reg32(uint8_t address, uint16_t first) const
{
    std::lock_guard<std::mutex> lk(d->mu);
    const ModuleMap *u = d->bus.at(address);
    return u ? u->get32(first) : 0;
}

void Simulator::setFault(Fault fault, int count)
{
    setFault(fault, count, 0);
}

void Simulator::setFault(Fault fault, int count, uint8_t address)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->faults.set(fault, count, address);
}

uint8_t Simulator::faultAddress() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    return d->faults.address();
}

Fault Simulator::fault() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    return d->faults.fault();
}

void Simulator::setSplit(int pieces, int gapMs)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->faults.setSplit(pieces, gapMs);
}

void Simulator::setSlowMs(int ms)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->faults.setSlowMs(ms);
}

void Simulator::setHeld(int heldMs, int followMs)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->faults.setHeld(heldMs, followMs);
}

void Simulator::setOtherAddress(uint8_t address)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->faults.setOtherAddress(address);
}

void Simulator::setPacing(int baud, int turnaroundUs)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->pacing.set(baud, turnaroundUs);
}

bool Simulator::isStandardSpeed(int baud)
{
    return PtyLine::isStandardSpeed(baud);
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
    return d->plugged ? d->line.speed() : 0;
}

void Simulator::setDemo(bool on)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->demo = on;
}

void Simulator::demoStep()
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->bus.demoStep();
}

std::vector<Frame> Simulator::frames() const
{
    return d->log.frames();
}

void Simulator::clearLog()
{
    d->log.clear();
}

void Simulator::setLogCapacity(size_t maxFrames)
{
    d->log.setCapacity(maxFrames);
}

size_t Simulator::requestCount() const
{
    return d->log.requests();
}

bool Simulator::waitForRequests(size_t n, int timeoutMs) const
{
    return d->log.waitForRequests(n, timeoutMs);
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
    return d->bus.answer(frame, -1, &refused);
}

uint16_t Simulator::crc16(const uint8_t *data, size_t size)
{
    return rtu::crc16(data, size);
}

uint16_t Simulator::crc16(const std::vector<uint8_t> &data)
{
    return rtu::crc16(data.data(), data.size());
}

void Simulator::appendCrc(std::vector<uint8_t> &frame)
{
    rtu::appendCrc(frame);
}

std::string Simulator::hex(const std::vector<uint8_t> &bytes)
{
    return rtu::hex(bytes);
}

} // namespace hv52sim
