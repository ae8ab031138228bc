#pragma once
#include <QByteArray>
#include <cstdint>

namespace hv52 {

// Folds one byte into the running CRC-16 of the Modbus serial line. Every caller
// passes 40961 (0xA001, the reflected polynomial) and starts a frame at 0xFFFF.
int CrcResult(int Data, int Genpoly, int CrcData);

// CRC-16 over a whole byte run, start value 0xFFFF.
quint16 crc16(const char *data, qsizetype size);
inline quint16 crc16(const QByteArray &bytes)
{
    return crc16(bytes.constData(), bytes.size());
}

} // namespace hv52
