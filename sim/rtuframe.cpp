#include "sim/rtuframe.h"

namespace hv52sim {
namespace rtu {

uint16_t crc16(const uint8_t *data, size_t size)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

void appendCrc(std::vector<uint8_t> &frame)
{
    uint16_t c = crc16(frame.data(), frame.size());
    frame.push_back(uint8_t(c));
    frame.push_back(uint8_t(c >> 8));
}

bool crcGood(const std::vector<uint8_t> &f)
{
    if (f.size() < 4)
        return false;
    uint16_t crc = crc16(f.data(), f.size() - 2);
    return f[f.size() - 2] == uint8_t(crc) && f[f.size() - 1] == uint8_t(crc >> 8);
}

std::vector<uint8_t> exceptionFrame(uint8_t address, uint8_t fn, uint8_t code)
{
    std::vector<uint8_t> a{address, uint8_t(fn | 0x80), code};
    appendCrc(a);
    return a;
}

std::string hex(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            s += ' ';
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

} // namespace rtu
} // namespace hv52sim
