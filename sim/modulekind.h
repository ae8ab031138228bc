// The kinds of simulated module and what each has.
#pragma once

#include <string>

namespace hv52sim {

enum class Module {
    T516,
    T540,
    T528
};

struct ModuleInfo
{
    int relays;        // T516/T528: 2, T540: 0
    int inputs;        // T516/T528: 2, T540: 7
    int analogOutputs; // T516: 3, others: 0
};
ModuleInfo moduleInfo(Module m);
const char *moduleName(Module m);                     // "t516", "t540", "t528"
bool parseModule(const std::string &name, Module *m); // accepts "t516", "T516", ...

} // namespace hv52sim
