// CRC-32 of ZIP entries (reflected polynomial 0xEDB88320).
#pragma once

#include <cstdint>

// Continues crc over length bytes of data; start a new CRC with 0. A NULL
// data pointer gives 0, whatever crc was.
uint32_t updateCrc32(uint32_t crc, const void* data, uint32_t length);

// The two ways updateCrc32 takes, for tests that compare them: table lookups
// only, and (for 64 bytes or more, where the processor can) carry-less
// multiplication.
uint32_t updateCrc32ByTables(uint32_t crc, const void* data, uint32_t length);
bool carrylessCrc32Available();
