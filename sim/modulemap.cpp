#include "sim/modulemap.h"
#include "sim/registers.h"
#include "sim/rtuframe.h"

namespace hv52sim {

ModuleMap::ModuleMap(Module m, uint8_t a) : module(m), info(moduleInfo(m)), address(a)
{
    buildMap();
    setInitialValues();
}

void ModuleMap::buildMap()
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
void ModuleMap::setInitialValues()
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

bool ModuleMap::accepts(uint16_t r, uint16_t v) const
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

void ModuleMap::applyWrite(uint16_t r, uint16_t v)
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

std::vector<uint8_t> ModuleMap::answer(const std::vector<uint8_t> &f, bool refuseWrites)
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
        rtu::appendCrc(a);
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
        rtu::appendCrc(a);
        return a;
    }

    if (broadcast)
        return {};
    return exception(fn, 1);
}

void ModuleMap::demoStep(unsigned ticks)
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

std::vector<uint8_t> ModuleMap::exception(uint8_t fn, uint8_t code) const
{
    return rtu::exceptionFrame(address, fn, code);
}

} // namespace hv52sim
