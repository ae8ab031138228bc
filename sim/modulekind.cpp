#include "sim/modulekind.h"

#include <cctype>

namespace hv52sim {

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

} // namespace hv52sim
