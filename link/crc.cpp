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

quint16 crc16(const char *data, qsizetype size)
{
    int crc = 0xFFFF;
    for (qsizetype i = 0; i < size; ++i)
        crc = CrcResult(static_cast<unsigned char>(data[i]), 0xA001, crc);
    return static_cast<quint16>(crc);
}

} // namespace hv52
