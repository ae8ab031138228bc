// Frames on a TCP connection to the simulated line: RTU frames passed
// through as a serial device server does, or Modbus TCP (MBAP header, the
// unit identifier as the bus address) as a gateway does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hv52sim {

enum class TcpFraming {
    Rtu,
    Mbap
};
bool parseTcpFraming(const std::string &name, TcpFraming *framing); // "rtu", "mbap"

namespace tcpframe {

// Length of the whole frame at the front of buf, 0 while it is not all in.
size_t length(TcpFraming framing, const std::vector<uint8_t> &buf);
// The RTU frame a gateway puts on the line for a whole MBAP request.
std::vector<uint8_t> rtuOfMbap(const std::vector<uint8_t> &request);
// The MBAP answer to request of the line's RTU answer; empty for none.
std::vector<uint8_t> mbapOfRtu(const std::vector<uint8_t> &request, const std::vector<uint8_t> &answer);

} // namespace tcpframe
} // namespace hv52sim
