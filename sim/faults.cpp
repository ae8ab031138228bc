#include "sim/faults.h"
#include "sim/rtuframe.h"

#include <algorithm>

namespace hv52sim {

// Indexed by Fault; --fault takes these names.
const char *const kFaultNames[] = {"none",  "silent", "bad-crc",       "partial",        "exception", "extra-bytes",
                                   "split", "slow",   "other-address", "other-function", "held",      "refuse-write"};
constexpr int kFaults = int(sizeof kFaultNames / sizeof kFaultNames[0]);

const char *faultName(Fault f)
{
    const int i = int(f);
    return i >= 0 && i < kFaults ? kFaultNames[i] : "?";
}

bool parseFault(const std::string &name, Fault *f)
{
    for (int i = 0; i < kFaults; ++i) {
        if (name == kFaultNames[i]) {
            *f = Fault(i);
            return true;
        }
    }
    return false;
}

void FaultPlan::set(Fault fault, int count, uint8_t address)
{
    m_fault = fault;
    m_count = fault == Fault::None ? 0 : count;
    m_address = address;
}

void FaultPlan::setSplit(int pieces, int gapMs)
{
    m_splitPieces = pieces;
    m_splitGapMs = gapMs;
}

void FaultPlan::setSlowMs(int ms)
{
    m_slowMs = ms;
}

void FaultPlan::setHeld(int heldMs, int followMs)
{
    m_heldMs = std::max(0, heldMs);
    m_heldFollowMs = followMs;
}

void FaultPlan::setOtherAddress(uint8_t address)
{
    m_otherAddress = address;
}

int FaultPlan::refuseAt() const
{
    return m_count != 0 && m_fault == Fault::RefuseWrite ? m_address : -1;
}

Delivery FaultPlan::take(const std::vector<uint8_t> &request, std::vector<uint8_t> &a, bool refused)
{
    Delivery out;
    const bool refusing = m_count != 0 && m_fault == Fault::RefuseWrite;
    // A refusal is the whole fault; other faults change an answer of the
    // module they target.
    const bool consumed =
        refusing ? refused : !a.empty() && m_count != 0 && (m_address == 0 || m_address == request[0]);
    if (consumed) {
        if (!refusing)
            out.fault = m_fault;
        if (m_count > 0 && --m_count == 0)
            m_fault = Fault::None;
    }
    if (a.empty())
        return out;
    if (out.fault == Fault::Split) {
        out.pieces = std::max(1, m_splitPieces);
        out.gapMs = std::max(0, m_splitGapMs);
    }
    if (out.fault == Fault::Slow)
        out.delayMs = std::max(0, m_slowMs);
    out.heldMs = m_heldMs;
    out.followMs = m_heldFollowMs;
    if (out.fault == Fault::OtherAddress) {
        int other = m_otherAddress >= 0 ? m_otherAddress : request[0] % 247 + 1;
        a[0] = uint8_t(other);
    }
    return out;
}

std::vector<uint8_t> FaultPlan::takeHeld()
{
    std::vector<uint8_t> late;
    late.swap(m_held);
    return late;
}

void mangle(Fault f, const std::vector<uint8_t> &request, std::vector<uint8_t> &a)
{
    switch (f) {
    case Fault::BadCrc:
        a.back() ^= 0xFF;
        break;
    case Fault::Partial:
        a.resize(3);
        break;
    case Fault::Exception:
        a = rtu::exceptionFrame(request[0], request[1], 4);
        break;
    case Fault::ExtraBytes:
        a.push_back(0x00);
        a.push_back(0xFF);
        break;
    case Fault::OtherAddress:
        a.resize(a.size() - 2);
        rtu::appendCrc(a);
        break;
    case Fault::OtherFunction:
        a[1] = uint8_t((a[1] & 0x80) | ((a[1] + 1) & 0x7F));
        a.resize(a.size() - 2);
        rtu::appendCrc(a);
        break;
    default:
        break;
    }
}

size_t pieceLength(size_t size, int pieces, int i)
{
    return size / size_t(pieces) + (size_t(i) < size % size_t(pieces) ? 1 : 0);
}

} // namespace hv52sim
