#include "crc32.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#define CRC32_CARRYLESS 1
#endif

namespace {

const uint32_t POLYNOMIAL = 0xEDB88320u;  // reflected: bit 31 is x^0

// A register value times x, modulo the polynomial.
constexpr uint32_t timesX(uint32_t value)
{
    return (value >> 1) ^ ((value & 1u) ? POLYNOMIAL : 0u);
}

// The register value x^n modulo the polynomial.
constexpr uint32_t powerModulo(uint32_t n)
{
    uint32_t value = 0x80000000u;
    for (uint32_t i = 0; i < n; ++i)
        value = timesX(value);
    return value;
}

// Eight tables: table[k][b] is the CRC of byte b followed by k zero bytes,
// which lets one step fold in eight bytes at once.
struct Crc32Tables {
    uint32_t table[8][256];

    constexpr Crc32Tables() : table()
    {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t value = b;
            for (int bit = 0; bit < 8; ++bit)
                value = timesX(value);
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

// What a register holding x^0 becomes after LANE_BYTES zero bytes.
constexpr uint32_t LANE_SHIFT = powerModulo(8 * LANE_BYTES);

// a times b modulo the polynomial, both in the reflected form.
uint32_t multiplyModulo(uint32_t a, uint32_t b)
{
    uint32_t product = 0;
    for (uint32_t bit = 0x80000000u; bit != 0; bit >>= 1) {
        if (a & bit)
            product ^= b;
        b = timesX(b);
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

// Folds length bytes into the register value by table lookups.
uint32_t foldBytes(uint32_t value, const uint8_t* bytes, uint32_t length)
{
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
    return value;
}

#ifdef CRC32_CARRYLESS

// Carry-less multiplication folds 16 bytes in two multiplications. A 16-byte
// block read little-endian is a 128-bit number whose bit k is the coefficient
// of x^(127 - k), as the register's bit b is that of x^(31 - b). The product of
// two 64-bit halves in this order is x * A * B, so the factor that moves a
// half n bits on is x^(n - 1) modulo the polynomial, placed in the upper 32 bits.
constexpr uint64_t foldFactor(uint32_t bits)
{
    return uint64_t(powerModulo(bits - 1)) << 32;
}

constexpr uint64_t BY_FOUR_LOW = foldFactor(512 + 64), BY_FOUR_HIGH = foldFactor(512);
constexpr uint64_t BY_ONE_LOW = foldFactor(128 + 64), BY_ONE_HIGH = foldFactor(128);

// Four blocks are folded side by side (64 bytes a step), then joined one by one.
const uint32_t CARRYLESS_MINIMUM = 64;

__attribute__((target("sse2,pclmul")))
inline __m128i foldBlock(__m128i block, __m128i factors)
{
    // The lower half holds the higher powers: it moves 64 bits further.
    return _mm_xor_si128(_mm_clmulepi64_si128(block, factors, 0x00),
                         _mm_clmulepi64_si128(block, factors, 0x11));
}

__attribute__((target("sse2")))
inline __m128i loadBlock(const uint8_t* bytes)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// length is at least CARRYLESS_MINIMUM. The stack is realigned because 32-bit
// Windows callers keep it aligned to 4 bytes only.
__attribute__((target("sse2,pclmul"), force_align_arg_pointer))
uint32_t foldCarryless(uint32_t value, const uint8_t* bytes, uint32_t length)
{
    const __m128i byFour = _mm_set_epi64x(int64_t(BY_FOUR_HIGH), int64_t(BY_FOUR_LOW));
    const __m128i byOne = _mm_set_epi64x(int64_t(BY_ONE_HIGH), int64_t(BY_ONE_LOW));
    __m128i a = _mm_xor_si128(loadBlock(bytes), _mm_cvtsi32_si128(int(value)));
    __m128i b = loadBlock(bytes + 16), c = loadBlock(bytes + 32), d = loadBlock(bytes + 48);
    bytes += 64;
    length -= 64;
    for (; length >= 64; length -= 64, bytes += 64) {
        a = _mm_xor_si128(foldBlock(a, byFour), loadBlock(bytes));
        b = _mm_xor_si128(foldBlock(b, byFour), loadBlock(bytes + 16));
        c = _mm_xor_si128(foldBlock(c, byFour), loadBlock(bytes + 32));
        d = _mm_xor_si128(foldBlock(d, byFour), loadBlock(bytes + 48));
    }
    a = _mm_xor_si128(foldBlock(a, byOne), b);
    a = _mm_xor_si128(foldBlock(a, byOne), c);
    a = _mm_xor_si128(foldBlock(a, byOne), d);
    for (; length >= 16; length -= 16, bytes += 16)
        a = _mm_xor_si128(foldBlock(a, byOne), loadBlock(bytes));
    // What is left of the 128 bits is reduced as 16 bytes of data on a zero register.
    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), a);
    return foldBytes(foldBytes(0, rest, 16), bytes, length);
}

bool processorMultipliesCarryless()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    return (edx & bit_SSE2) != 0 && (ecx & bit_PCLMUL) != 0;
}

#endif

}  // namespace

bool carrylessCrc32Available()
{
#ifdef CRC32_CARRYLESS
    static const bool available = processorMultipliesCarryless();
    return available;
#else
    return false;
#endif
}

uint32_t updateCrc32ByTables(uint32_t crc, const void* data, uint32_t length)
{
    if (data == nullptr)
        return 0;
    return ~foldBytes(~crc, static_cast<const uint8_t*>(data), length);
}

uint32_t updateCrc32(uint32_t crc, const void* data, uint32_t length)
{
    if (data == nullptr)
        return 0;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
#ifdef CRC32_CARRYLESS
    if (length >= CARRYLESS_MINIMUM && carrylessCrc32Available())
        return ~foldCarryless(~crc, bytes, length);
#endif
    return ~foldBytes(~crc, bytes, length);
}
