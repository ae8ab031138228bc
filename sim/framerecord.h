#pragma once
#include <cstdint>
#include <vector>

namespace hv52sim {

// A record of every request a simulated module hears, for comparing whole
// test runs frame for frame: set HV52_FRAME_RECORD to a folder and each
// process appends to a file of its own there, one line a request:
// "<module> <microseconds since that module's previous request> <hex>".
// Off (and free) when the variable is not set.
class FrameRecord
{
public:
    // A number for a new module, unique in this process.
    static int newModule();
    static void heard(int module, const std::vector<uint8_t> &request);
};

} // namespace hv52sim
