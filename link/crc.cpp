#include "crc.h"

namespace hv52 {

int CrcResult(int Data, int Genpoly, int CrcData)
{
    // Bits of the byte are tested least significant first against the low bit
    // of the check value, as the reflected algorithm requires.
    for (int bit = 0; bit < 8; ++bit) {
        const bool differ = ((Data >> bit) ^ CrcData) & 1;
        CrcData >>= 1;
        if (differ)
            CrcData ^= Genpoly;
    }
    return CrcData;
}

namespace {

// CrcResult of every byte from 0: a byte then costs one lookup, not eight
// shifts.
struct CrcTable
{
    quint16 entry[256];
    CrcTable()
    {
        for (int byte = 0; byte < 256; ++byte)
            entry[byte] = static_cast<quint16>(CrcResult(byte, 0xA001, 0));
    }
};

} // namespace

quint16 crc16(const char *data, qsizetype size)
{
    static const CrcTable table;
    quint16 crc = 0xFFFF;
    for (qsizetype i = 0; i < size; ++i)
        crc = static_cast<quint16>((crc >> 8) ^ table.entry[(crc ^ static_cast<unsigned char>(data[i])) & 0xFF]);
    return crc;
}

} // namespace hv52
