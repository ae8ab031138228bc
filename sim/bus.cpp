#include "sim/bus.h"
#include "sim/rtuframe.h"

namespace hv52sim {

Bus::Bus(Module module, uint8_t address)
{
    // The first module's address is the caller's to choose, even 0 or above 247.
    m_modules.push_back(std::make_unique<ModuleMap>(module, address));
    m_byAddress[address] = m_modules.back().get();
}

bool Bus::add(Module module, uint8_t address)
{
    if (address < 1 || address > 247 || m_byAddress[address])
        return false;
    m_modules.push_back(std::make_unique<ModuleMap>(module, address));
    m_byAddress[address] = m_modules.back().get();
    return true;
}

std::vector<BusModule> Bus::modules() const
{
    std::vector<BusModule> out;
    for (const auto &u : m_modules)
        out.push_back({u->module, u->address});
    return out;
}

std::vector<uint8_t> Bus::answer(const std::vector<uint8_t> &f, int refuseAt, bool *refused)
{
    *refused = false;
    if (!rtu::crcGood(f))
        return {};
    const bool write = f[1] == 16;
    auto refuses = [&](const ModuleMap &u) { return refuseAt == 0 || refuseAt == u.address; };
    if (f[0] == 0) {
        // Every module on the line hears a broadcast; none answers.
        for (const auto &u : m_modules) {
            *refused = *refused || (write && refuses(*u));
            u->answer(f, refuses(*u));
        }
        return {};
    }
    ModuleMap *u = at(f[0]);
    if (!u)
        return {};
    *refused = write && refuses(*u);
    return u->answer(f, refuses(*u));
}

void Bus::demoStep()
{
    for (const auto &u : m_modules)
        u->demoStep(m_demoTicks);
    ++m_demoTicks;
}

} // namespace hv52sim
