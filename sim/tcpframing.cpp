#include "sim/tcpframing.h"
#include "sim/rtuframe.h"

namespace hv52sim {

bool parseTcpFraming(const std::string &name, TcpFraming *framing)
{
    if (name == "rtu")
        *framing = TcpFraming::Rtu;
    else if (name == "mbap")
        *framing = TcpFraming::Mbap;
    else
        return false;
    return true;
}

namespace tcpframe {

size_t length(TcpFraming framing, const std::vector<uint8_t> &buf)
{
    if (framing == TcpFraming::Mbap) {
        if (buf.size() < 7)
            return 0;
        const size_t whole = 6 + (size_t(buf[4]) << 8 | buf[5]);
        return buf.size() >= whole ? whole : 0;
    }
    if (buf.size() < 7)
        return 0;
    const size_t whole = buf[1] == 16 ? 9 + size_t(buf[6]) : 8;
    return buf.size() >= whole ? whole : 0;
}

std::vector<uint8_t> rtuOfMbap(const std::vector<uint8_t> &request)
{
    std::vector<uint8_t> rtu(request.begin() + 6, request.end());
    rtu::appendCrc(rtu);
    return rtu;
}

std::vector<uint8_t> mbapOfRtu(const std::vector<uint8_t> &request, const std::vector<uint8_t> &answer)
{
    if (answer.size() < 4)
        return {};
    const size_t length = answer.size() - 2; // unit identifier and data unit
    std::vector<uint8_t> out{request[0], request[1], 0, 0, uint8_t(length >> 8), uint8_t(length)};
    out.insert(out.end(), answer.begin(), answer.end() - 2);
    return out;
}

} // namespace tcpframe
} // namespace hv52sim
