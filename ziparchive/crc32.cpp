#include "crc32.h"

namespace {

const uint32_t POLYNOMIAL = 0xEDB88320u;  // reflected: bit 31 is x^0

// Eight tables: table[k][b] is the CRC of byte b followed by k zero bytes,
// which lets one step fold in eight bytes at once.
struct Crc32Tables {
    uint32_t table[8][256];

    constexpr Crc32Tables() : table()
    {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t value = b;
            for (int bit = 0; bit < 8; ++bit)
                value = (value >> 1) ^ ((value & 1u) ? POLYNOMIAL : 0u);
            table[0][b] = value;
        }
        for (uint32_t b = 0; b < 256; ++b)
            for (int k = 1; k < 8; ++k)
                table[k][b] = (table[k - 1][b] >> 8) ^ table[0][table[k - 1][b] & 0xFF];
    }
};

constexpr Crc32Tables CRC_TABLES;

// Three stretches of LANE_BYTES are folded at the same time, each into a
// CRC register of its own, so that the processor works on three independent
// chains of table lookups; the registers are then joined.
const uint32_t LANE_BYTES = 2048;

// The register value x^(8 * LANE_BYTES): what a register holding x^0 becomes
// after LANE_BYTES zero bytes.
constexpr uint32_t laneShift()
{
    uint32_t value = 0x80000000u;
    for (uint32_t i = 0; i < LANE_BYTES; ++i)
        value = (value >> 8) ^ CRC_TABLES.table[0][value & 0xFF];
    return value;
}

constexpr uint32_t LANE_SHIFT = laneShift();

// a times b modulo the polynomial, both in the reflected form.
uint32_t multiplyModulo(uint32_t a, uint32_t b)
{
    uint32_t product = 0;
    for (uint32_t bit = 0x80000000u; bit != 0; bit >>= 1) {
        if (a & bit)
            product ^= b;
        b = (b >> 1) ^ ((b & 1u) ? POLYNOMIAL : 0u);
    }
    return product;
}

inline uint32_t loadLittleEndian32(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

inline uint32_t foldEight(uint32_t value, const uint8_t* bytes)
{
    const auto& t = CRC_TABLES.table;
    uint32_t low = loadLittleEndian32(bytes) ^ value;
    uint32_t high = loadLittleEndian32(bytes + 4);
    return t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
           t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
           t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
}

}  // namespace

uint32_t updateCrc32(uint32_t crc, const void* data, uint32_t length)
{
    if (data == nullptr)
        return 0;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t value = ~crc;
    while (length >= 3 * LANE_BYTES) {
        // The second and third stretches start from 0; the register after
        // all three is first * x^(16 * LANE_BYTES) + second * x^(8 * LANE_BYTES) + third.
        uint32_t first = value, second = 0, third = 0;
        for (uint32_t i = 0; i < LANE_BYTES; i += 8) {
            first = foldEight(first, bytes + i);
            second = foldEight(second, bytes + LANE_BYTES + i);
            third = foldEight(third, bytes + 2 * LANE_BYTES + i);
        }
        value = multiplyModulo(multiplyModulo(first, LANE_SHIFT) ^ second, LANE_SHIFT) ^ third;
        bytes += 3 * LANE_BYTES;
        length -= 3 * LANE_BYTES;
    }
    for (; length >= 8; length -= 8, bytes += 8)
        value = foldEight(value, bytes);
    while (length-- > 0)
        value = (value >> 8) ^ CRC_TABLES.table[0][(value ^ *bytes++) & 0xFF];
    return ~value;
}
