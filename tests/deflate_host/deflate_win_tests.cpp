// The compressor as the 32-bit programs run it: round trips under Wine,
// read back with the test decoder (zlib is a host-only dependency). The host
// tests hold the full table; this shows the Windows build gives the same.
#include <cstdio>

#include <gtest/gtest.h>

#include "crc32.h"
#include "deflate_harness.h"

using namespace deflatetest;

TEST(DeflateOnWindows, RoundTripsAcrossSlidesAndBlockForms)
{
    struct Case {
        const char* name;
        Bytes input;
    };
    Bytes mixed = textLike(200000, 3);
    Bytes noise = randomBytes(150000, 4);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    const Case cases[] = {
        {"empty", Bytes()},
        {"one byte", Bytes{'x'}},
        {"run", Bytes(300000, 'r')},
        {"text 3 MiB", textLike(3 << 20, 9)},
        {"random", randomBytes(200000, 5)},
        {"text then random", mixed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CompressResult r = compress(c.input);
        EXPECT_EQ(r.errorText, "");
        EXPECT_EQ(r.reportedSize, r.stream.size());
        StreamTrace trace = traceStream(r.stream);
        EXPECT_EQ(trace.error, "");
        EXPECT_TRUE(trace.output == c.input);
    }
    // The same stream as on the host for this input.
    EXPECT_EQ(compress(textLike(3 << 20, 9)).stream.size(), 632771u);
}

TEST(DeflateOnWindows, Crc32)
{
    EXPECT_EQ(updateCrc32(0, "123456789", 9), 0xCBF43926u);
    Bytes data = randomBytes(100000, 1);
    EXPECT_EQ(updateCrc32(updateCrc32(0, data.data(), 33333), data.data() + 33333, 66667),
              updateCrc32(0, data.data(), 100000));
    // The 32-bit build folds carry-less where the processor can, on a stack
    // that the platform aligns to 4 bytes only: lengths around the block sizes.
    for (uint32_t offset : {0u, 1u, 7u})
        for (uint32_t n : {0u, 63u, 64u, 65u, 79u, 80u, 127u, 128u, 129u, 1000u, 99990u})
            EXPECT_EQ(updateCrc32(12345, data.data() + offset, n),
                      updateCrc32ByTables(12345, data.data() + offset, n)) << offset << "/" << n;
    printf("[ measure  ] carry-less CRC-32: %s\n", carrylessCrc32Available() ? "yes" : "no");
}
