// One simulated module's registers: which exist for its kind, what each
// accepts, what a write does, and its answer to a read or write of them.
// Not thread-safe; the line that holds it guards it.
#pragma once

#include "sim/modulekind.h"

#include <cstdint>
#include <vector>

namespace hv52sim {

class ModuleMap
{
public:
    // At its start values.
    ModuleMap(Module m, uint8_t a);

    const Module module;
    const ModuleInfo info;
    const uint8_t address;
    // Any register, mapped or not; setters store any value.
    std::vector<uint16_t> values = std::vector<uint16_t>(65536, 0);

    uint32_t get32(uint16_t r) const { return (uint32_t(values[r]) << 16) | values[uint16_t(r + 1)]; }
    void set32(uint16_t r, uint32_t v)
    {
        values[r] = uint16_t(v >> 16);
        values[uint16_t(r + 1)] = uint16_t(v);
    }
    // f has a good CRC and is for this address or a broadcast; empty when
    // nothing is to be sent.
    std::vector<uint8_t> answer(const std::vector<uint8_t> &f, bool refuseWrites);
    // One demo step: inputs toggle, counts and ON times grow, outputs ramp.
    void demoStep(unsigned ticks);

private:
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
    std::vector<uint8_t> roles = std::vector<uint8_t>(65536, Unmapped);

    void buildMap();
    void setInitialValues();
    bool accepts(uint16_t r, uint16_t v) const;
    void applyWrite(uint16_t r, uint16_t v);
    std::vector<uint8_t> exception(uint8_t fn, uint8_t code) const;
};

} // namespace hv52sim
