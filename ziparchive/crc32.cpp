#include "crc32.h"

uint32_t updateCrc32(uint32_t crc, const void* data, uint32_t length)
{
    if (data == nullptr)
        return 0;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    crc = ~crc;
    for (uint32_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}
