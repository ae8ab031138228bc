// The modules on one RS-485 line: each at its own address, all hearing a
// broadcast. Not thread-safe; the simulator guards it.
#pragma once

#include "sim/modulekind.h"
#include "sim/modulemap.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace hv52sim {

struct BusModule
{
    Module module;
    uint8_t address;
};

class Bus
{
public:
    // The line's first module.
    Bus(Module module, uint8_t address);

    // false, and no change, when address is outside 1..247 or taken.
    bool add(Module module, uint8_t address);
    ModuleMap *at(uint8_t address) const { return m_byAddress[address]; }
    std::vector<BusModule> modules() const; // in the order added

    // The line's answer to one complete frame, applying its effect on the
    // module addressed (every module for a broadcast); empty when no module
    // answers. refuseAt: the module refusing writes (0: every module, -1:
    // none); *refused tells whether the frame was a write some module refused.
    std::vector<uint8_t> answer(const std::vector<uint8_t> &f, int refuseAt, bool *refused);

    // A demo step in every module.
    void demoStep();

private:
    std::vector<std::unique_ptr<ModuleMap>> m_modules; // in the order added
    ModuleMap *m_byAddress[256] = {};
    unsigned m_demoTicks = 0;
};

} // namespace hv52sim
