#pragma once

#include <cstdint>

namespace hv52sim {

// Register addresses of the module (all 16-bit; 32-bit values span two
// registers, high half first).
namespace regs {
constexpr uint16_t reset = 0x0B00; // write-only command register; reads answer 0
constexpr uint16_t relayCount(int k)
{
    return uint16_t(0x0E20 + 3 * k);
} // 2 regs
constexpr uint16_t relayState(int k)
{
    return uint16_t(0x0E22 + 3 * k);
}
constexpr uint16_t inputCount(int n)
{
    return uint16_t(0x0E40 + 3 * n);
} // 2 regs
constexpr uint16_t inputState(int n)
{
    return uint16_t(0x0E42 + 3 * n);
}
constexpr uint16_t inputOnTime(int n)
{
    return uint16_t(0x0E5E + 2 * n);
} // 2 regs, tenths of s
constexpr uint16_t analogValue(int k)
{
    return uint16_t(0x0E72 + k);
} // hundredths of mA
constexpr uint16_t relayCommand(int k)
{
    return uint16_t(0x0E80 + k);
}
constexpr uint16_t inputMode(int n)
{
    return uint16_t(0x0E8A + n);
} // 0 or 1
constexpr uint16_t analogSignal(int k)
{
    return uint16_t(0x0EB2 + 4 * k);
} // 0 or 1
constexpr uint16_t analogSource(int k)
{
    return uint16_t(0x0EB3 + 4 * k);
} // 0..29
constexpr uint16_t analogLower(int k)
{
    return uint16_t(0x0EB4 + 4 * k);
}
constexpr uint16_t analogUpper(int k)
{
    return uint16_t(0x0EB5 + 4 * k);
}

constexpr uint16_t on = 0x5050;  // relay operated / input ON
constexpr uint16_t off = 0x0000; // what the module reports for released / OFF
constexpr uint16_t cmdAlarm = 0; // relay command values
constexpr uint16_t cmdHost = 1;
constexpr uint16_t cmdOperate = 0x5050;
constexpr uint16_t cmdRestore = 0x3030;

constexpr uint16_t resetRelay1 = 0x6003; // codes for the reset register
constexpr uint16_t resetRelay2 = 0x6004;
constexpr uint16_t resetRelays = 0x6FFF;
constexpr uint16_t resetInput(int n)
{
    return uint16_t(0x6010 + n);
}
constexpr uint16_t resetInputs = 0x601F;
} // namespace regs

} // namespace hv52sim
