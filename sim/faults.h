// Faults put on the answers on purpose: which answers they take, and what
// they make of them. Not thread-safe; the simulator guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hv52sim {

// Misbehaviour for the next N answers. Faults touch only requests a module
// would answer (its address, good CRC); ignored requests stay ignored.
enum class Fault {
    None,
    Silent,        // no answer at all
    BadCrc,        // the answer with its last CRC byte inverted
    Partial,       // only the first 3 bytes of the answer
    Exception,     // addr, fn|0x80, 04, crc, whatever was asked
    ExtraBytes,    // the answer followed by 00 FF in the same write
    Split,         // the answer in P pieces, G ms apart (setSplit)
    Slow,          // the answer after D ms (setSlowMs)
    OtherAddress,  // a valid answer from another bus address (setOtherAddress)
    OtherFunction, // a valid answer whose function code is one higher (3 -> 4)
    Held,          // the answer held back and sent H ms after the next request
                   // arrives, in place of that request's own answer, which
                   // follows F ms later or is lost (setHeld)
    RefuseWrite,   // every write (function 16, broadcasts too) refused with
                   // exception 04 and without effect; reads answered as usual.
                   // Counts refused writes, not answers.
};
const char *faultName(Fault f); // "silent", "bad-crc", ...
bool parseFault(const std::string &name, Fault *f);

// How one answer goes out: the fault it carries and when its bytes leave.
struct Delivery
{
    Fault fault = Fault::None;
    int pieces = 1;  // written in this many pieces ...
    int gapMs = 0;   // ... this far apart
    int delayMs = 0; // after the line's own time
    int heldMs = 0;  // a held answer before it goes out this long after the next request
    int followMs = -1;
};

class FaultPlan
{
public:
    // count > 0: the next count answers; -1: every answer; 0: none. address:
    // only the module there misbehaves; 0: every module.
    void set(Fault fault, int count, uint8_t address);
    Fault fault() const { return m_count == 0 ? Fault::None : m_fault; }
    uint8_t address() const { return m_address; }
    void setSplit(int pieces, int gapMs);
    void setSlowMs(int ms);
    void setHeld(int heldMs, int followMs);
    void setOtherAddress(uint8_t address);

    // The module whose writes are refused now: 0 every module, -1 none.
    int refuseAt() const;
    // Counts the request against the fault: a refused write when writes are
    // refused, else an answer of the module the fault targets. Says how the
    // answer a goes out, and gives an other-address answer its address.
    Delivery take(const std::vector<uint8_t> &request, std::vector<uint8_t> &a, bool refused);

    // The answer a held fault keeps back until the next request.
    void hold(const std::vector<uint8_t> &a) { m_held = a; }
    std::vector<uint8_t> takeHeld();

private:
    Fault m_fault = Fault::None;
    int m_count = 0;
    uint8_t m_address = 0; // 0: every module
    int m_splitPieces = 3;
    int m_splitGapMs = 20;
    int m_slowMs = 500;
    int m_heldMs = 10;
    int m_heldFollowMs = -1;
    int m_otherAddress = -1; // -1: the answering module's address + 1
    std::vector<uint8_t> m_held;
};

// What fault f makes of answer a to request (split, slow and held faults
// change when it goes out, not its bytes).
void mangle(Fault f, const std::vector<uint8_t> &request, std::vector<uint8_t> &a);

// Bytes in piece i of an answer of size bytes written in pieces (1..size).
size_t pieceLength(size_t size, int pieces, int i);

} // namespace hv52sim
