#include "crc32.h"


namespace {

// Eight tables: table[k][b] is the CRC of byte b followed by k zero bytes,
// which lets one step fold in eight bytes at once.
struct Crc32Tables {
    uint32_t table[8][256];

    constexpr Crc32Tables() : table()
    {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t value = b;
            for (int bit = 0; bit < 8; ++bit)
                value = (value >> 1) ^ ((value & 1u) ? 0xEDB88320u : 0u);
            table[0][b] = value;
        }
        for (uint32_t b = 0; b < 256; ++b)
            for (int k = 1; k < 8; ++k)
                table[k][b] = (table[k - 1][b] >> 8) ^ table[0][table[k - 1][b] & 0xFF];
    }
};

constexpr Crc32Tables CRC_TABLES;

inline uint32_t loadLittleEndian32(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

}  // namespace

uint32_t updateCrc32(uint32_t crc, const void* data, uint32_t length)
{
    if (data == nullptr)
        return 0;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    const auto& t = CRC_TABLES.table;
    uint32_t value = ~crc;
    while (length >= 8) {
        uint32_t low = loadLittleEndian32(bytes) ^ value;
        uint32_t high = loadLittleEndian32(bytes + 4);
        value = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
                t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
                t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
        bytes += 8;
        length -= 8;
    }
    while (length-- > 0)
        value = (value >> 8) ^ t[0][(value ^ *bytes++) & 0xFF];
    return ~value;
}
