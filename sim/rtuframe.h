// Bytes of Modbus RTU frames: the CRC, exception answers, hex for logs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hv52sim {
namespace rtu {

uint16_t crc16(const uint8_t *data, size_t size);
void appendCrc(std::vector<uint8_t> &frame); // low byte first
// Whether the last two bytes are the CRC of the rest (false below 4 bytes).
bool crcGood(const std::vector<uint8_t> &frame);
// An encoded exception answer from the module at address.
std::vector<uint8_t> exceptionFrame(uint8_t address, uint8_t fn, uint8_t code);
std::string hex(const std::vector<uint8_t> &bytes); // "01 03 0E 40"

} // namespace rtu
} // namespace hv52sim
