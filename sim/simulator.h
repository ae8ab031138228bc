// Simulated HV52 I/O expansion modules: Modbus RTU slaves on a pseudo-terminal.
//
// The simulator opens a pseudo-terminal, keeps its master side for itself and
// publishes the slave side as a symlink DIR/comN, which a tool opens like a
// serial port. A service thread frames requests, answers function 3 reads and
// function 16 writes of the modules' registers, and can misbehave on purpose
// (faults) or take as long as a real line would (pacing).
//
// One module is made with the Simulator; addModule() puts more on the same
// line, as an RS-485 line of meters is wired, each at its own address with its
// own registers. The line answers one request at a time.
//
// Requests for addresses no module has, with a bad CRC, to address 0, or (with
// a listening speed set) sent at another line speed get no answer; broadcast
// (address 0) writes still take effect in every module, as on any Modbus line.
//
// Plain C++17 + POSIX; no Qt. Every public member is thread-safe unless noted.
//
//   #include "sim/simulator.h"
//   hv52sim::Simulator sim(hv52sim::Module::T516);
//   std::string err;
//   if (!sim.start("/tmp/ports", 3, &err)) ...;      // tool opens /tmp/ports/com3
//   sim.setRegister32(hv52sim::regs::inputCount(0), 70000);
//   sim.setFault(hv52sim::Fault::Silent, 1);         // next answer is not sent
//   sim.setListenSpeed(19200);                       // a master at 9600 hears nothing
//   sim.addModule(hv52sim::Module::T528, 7);         // a second meter on the line
//   sim.setFault(hv52sim::Fault::Silent, -1, 7);     // ... which is dead
//   sim.waitForRequests(1, 2000);
#pragma once

#include "sim/bus.h"
#include "sim/faults.h"
#include "sim/framelog.h"
#include "sim/modulekind.h"
#include "sim/registers.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hv52sim {

class Simulator
{
public:
    explicit Simulator(Module module, uint8_t address = 1);
    ~Simulator(); // stop()
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Opens a pseudo-terminal, links DIR/comPORT to its slave side (replacing
    // a stale symlink; DIR must exist) and starts the service thread.
    bool start(const std::string &dir, int port, std::string *error = nullptr);
    // Ends the thread, closes the pseudo-terminal, removes the link.
    void stop();
    bool running() const;
    std::string linkPath() const;   // DIR/comPORT ("" before a successful start)
    std::string devicePath() const; // /dev/pts/N ("" when not running)

    // The cable is pulled: closes both pseudo-terminal fds, so a tool with the
    // port open sees a hang-up / read error, and removes the link.
    void unplug();
    // A new pseudo-terminal behind the same link (devicePath() changes).
    bool replug(std::string *error = nullptr);

    // The module the Simulator was made with.
    Module module() const;
    uint8_t address() const;

    // Another module on the same line, with its own registers at their start
    // values. false, and no change, when address is outside 1..247 or taken.
    bool addModule(Module module, uint8_t address);
    std::vector<BusModule> modules() const; // the first module first, then as added

    // Registers. Setters store any value at any register, mapped or not; what
    // the master can read or write is fixed by the module. Without an address:
    // the first module's; with one, false or 0 when no module has it.
    void setRegister(uint16_t reg, uint16_t value);
    void setRegister32(uint16_t first, uint32_t value);
    uint16_t reg(uint16_t reg) const;
    uint32_t reg32(uint16_t first) const;
    bool setRegister(uint8_t address, uint16_t reg, uint16_t value);
    bool setRegister32(uint8_t address, uint16_t first, uint32_t value);
    uint16_t reg(uint8_t address, uint16_t reg) const;
    uint32_t reg32(uint8_t address, uint16_t first) const;

    // Faults. count > 0: the next count answers; -1: every answer; 0: none.
    // address: only the module there misbehaves, and only its answers count;
    // 0 (and the form without it): every module.
    void setFault(Fault fault, int count = -1);
    void setFault(Fault fault, int count, uint8_t address);
    Fault fault() const;
    uint8_t faultAddress() const;
    void setSplit(int pieces, int gapMs);  // default 3 pieces, 20 ms
    void setSlowMs(int ms);                // default 500 ms
    void setOtherAddress(uint8_t address); // default address + 1
    // A held answer goes out heldMs after the next request; that request's
    // own answer followMs after it, or never when followMs < 0. Default 10, -1.
    void setHeld(int heldMs, int followMs);

    // Line-speed pacing: each answer leaves no earlier than the last request
    // byte's arrival + (request + 3.5 + answer + 3.5) * 10 bits / baud +
    // turnaround. baud 0 turns pacing off. The baud rate also sets the silence
    // that ends frames of other function codes (3.5 characters, >= 1.75 ms).
    void setPacing(int baud, int turnaroundUs = 0);

    // Listening speed: a real module hears only frames sent at its own line
    // speed. With a speed set, a request is answered (and takes effect) only
    // when every byte of it arrived while the master's end of the
    // pseudo-terminal was set to that speed; other requests are still logged.
    // Independent of setPacing(). Speeds: 1200, 2400, 4800, 9600, 19200,
    // 38400, 57600, 115200; 0 = any (the default). false, and no change, for
    // any other value.
    bool setListenSpeed(int baud);
    int listenSpeed() const;
    // The speed the master has set on the line now (a fresh pseudo-terminal
    // is at 38400); 0 when not running or not one of the speeds above.
    int lineSpeed() const;
    static bool isStandardSpeed(int baud);

    // Demo: once a second inputs toggle, their counts and ON times grow, in
    // every module on the line.
    void setDemo(bool on);
    void demoStep(); // one such step, now (what the demo timer calls)

    // Frame log of the whole line (requests include ignored ones: addresses
    // no module has, bad CRC).
    std::vector<Frame> frames() const;
    void clearLog();                       // also resets requestCount()
    void setLogCapacity(size_t maxFrames); // oldest dropped beyond; 0 = unlimited
    size_t requestCount() const;           // requests since start/clearLog
    bool waitForRequests(size_t n, int timeoutMs) const;

    // Observers, called on the service thread: onFrame for every logged frame,
    // onWrite after every write to the line (one call per piece of a split
    // answer; the call may block to hold the next piece back). Set before
    // start() or while no traffic flows.
    void onFrame(std::function<void(const Frame &)> callback);
    void onWrite(std::function<void(const std::vector<uint8_t> &)> callback);

    // The line's answer to one complete request frame, applying its effect
    // on the registers of the module addressed (every module for a
    // broadcast); empty when no module answers. No faults, no log, no I/O:
    // usable without start() (fuzzers, benchmarks).
    std::vector<uint8_t> handleRequest(const std::vector<uint8_t> &frame);

    static uint16_t crc16(const uint8_t *data, size_t size);
    static uint16_t crc16(const std::vector<uint8_t> &data);
    static void appendCrc(std::vector<uint8_t> &frame);        // low byte first
    static std::string hex(const std::vector<uint8_t> &bytes); // "01 03 0E 40"

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace hv52sim
