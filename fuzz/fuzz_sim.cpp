// The simulated module's answer to arbitrary request frames.
//
// Input: module (value % 3: T516, T540, T528), module address (1 + value % 247),
// then frames, each as: flags, length (value % 64), that many bytes.
//   flags & 1: the first byte is replaced by the module's address.
//   flags & 2: a correct CRC is appended (random CRCs almost never match,
//              and a frame with a wrong one never gets past the check).
// The frames go to one module in turn, so writes can change later reads.
#include "sim/simulator.h"

#include "check.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using hv52sim::Module;
using hv52sim::Simulator;

namespace {

// Bitwise CRC-16 of the serial line, apart from the simulator's own.
uint16_t referenceCrc(const uint8_t *p, size_t n)
{
    uint32_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            const bool differ = ((p[i] >> bit) ^ crc) & 1;
            crc >>= 1;
            if (differ)
                crc ^= 0xA001;
        }
    }
    return uint16_t(crc);
}

bool crcOk(const std::vector<uint8_t> &f)
{
    if (f.size() < 2)
        return false;
    const uint16_t crc = referenceCrc(f.data(), f.size() - 2);
    return f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8);
}

void checkAnswer(const std::vector<uint8_t> &request, const std::vector<uint8_t> &answer, uint8_t address)
{
    const bool addressed = request.size() >= 4 && crcOk(request) && request[0] == address;
    if (!addressed) {
        // Broken frames, other slaves' frames and broadcasts get no answer.
        CHECK(answer.empty());
        return;
    }
    if (answer.empty())
        return;
    CHECK(answer.size() >= 5);
    CHECK(crcOk(answer));
    CHECK(answer[0] == address);
    const uint8_t fn = request[1];
    if (answer[1] == (fn | 0x80)) {
        // Exception answer: address, function | 0x80, code, CRC.
        CHECK(answer.size() == 5);
        CHECK(answer[2] >= 1 && answer[2] <= 4);
        return;
    }
    CHECK(answer[1] == fn);
    if (fn == 3) {
        // Exactly the registers asked for, with their byte count.
        CHECK(request.size() == 8);
        const unsigned count = unsigned(request[4]) << 8 | request[5];
        CHECK(count >= 1 && count <= 125);
        CHECK(answer[2] == 2 * count);
        CHECK(answer.size() == 5 + 2 * count);
    } else if (fn == 16) {
        // Echo of address, function, first register and count.
        CHECK(answer.size() == 8);
        CHECK(std::equal(answer.begin(), answer.begin() + 6, request.begin()));
    } else {
        CHECK(false && "a normal answer for a function the module does not have");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    static const Module modules[] = {Module::T516, Module::T540, Module::T528};
    const Module module = modules[data[0] % 3];
    const uint8_t address = uint8_t(1 + data[1] % 247);
    Simulator sim(module, address);

    size_t at = 2;
    while (at + 2 <= size) {
        const uint8_t flags = data[at];
        const size_t length = std::min<size_t>(data[at + 1] % 64, size - at - 2);
        at += 2;
        std::vector<uint8_t> frame(data + at, data + at + length);
        at += length;
        if ((flags & 1) && !frame.empty())
            frame[0] = address;
        if (flags & 2) {
            const uint16_t crc = referenceCrc(frame.data(), frame.size());
            frame.push_back(uint8_t(crc));
            frame.push_back(uint8_t(crc >> 8));
        }
        checkAnswer(frame, sim.handleRequest(frame), address);
    }
    return 0;
}
