#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "allocation_counter.h"
#include "crc32.h"
#include "deflate.h"
#include "deflate_harness.h"
#include "memory_streams.h"

using namespace deflatetest;

namespace {

Bytes repeated(uint8_t byte, uint32_t count)
{
    return Bytes(count, byte);
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// Bytes below alphabetSize with no 3-byte string repeated anywhere, so that
// the only matches are the ones a test plants.
Bytes withoutRepeats(uint32_t length, uint32_t seed, uint32_t alphabetSize)
{
    Bytes out = randomBytes(length, seed);
    for (auto& b : out)
        b = uint8_t(b % alphabetSize);
    std::vector<uint8_t> seen(1 << 24, 0);
    for (uint32_t i = 0; i + 2 < length; ++i) {
        for (uint32_t tries = 0;; ++tries) {
            uint32_t key = uint32_t(out[i]) << 16 | uint32_t(out[i + 1]) << 8 | out[i + 2];
            if (!seen[key]) {
                seen[key] = 1;
                break;
            }
            if (tries == alphabetSize)
                ADD_FAILURE() << "alphabet too small for " << length;
            out[i + 2] = uint8_t((out[i + 2] + 1) % alphabetSize);
        }
    }
    return out;
}

// A 64-byte alphabet keeps such data coded with 6-bit codes rather than
// stored, and leaves bytes of 64 and above for planted strings.
Bytes withoutRepeats(uint32_t length, uint32_t seed)
{
    return withoutRepeats(length, seed, 64);
}

// A block-structured view of one compressed input, checked against zlib.
struct RoundTrip {
    CompressResult compressed;
    StreamTrace trace;
};

RoundTrip roundTrip(const Bytes& input, const CompressOptions& options = CompressOptions())
{
    RoundTrip r;
    r.compressed = compress(input, options);
    EXPECT_EQ(r.compressed.errorText, "");
    EXPECT_EQ(r.compressed.reportedSize, r.compressed.stream.size());
    Bytes inflated;
    std::string message;
    EXPECT_TRUE(inflateRaw(r.compressed.stream, inflated, message)) << message;
    EXPECT_TRUE(inflated == input) << "zlib gives " << inflated.size() << " bytes for "
                                   << input.size();
    r.trace = traceStream(r.compressed.stream);
    EXPECT_EQ(r.trace.error, "");
    EXPECT_TRUE(r.trace.output == input);
    if (!r.trace.blocks.empty()) {
        for (size_t i = 0; i + 1 < r.trace.blocks.size(); ++i)
            EXPECT_FALSE(r.trace.blocks[i].final) << "block " << i;
        EXPECT_TRUE(r.trace.blocks.back().final);
    }
    for (const BlockTrace& block : r.trace.blocks) {
        EXPECT_LE(block.longestLiteralCode, 15u);
        EXPECT_LE(block.longestLengthCode, 7u);
    }
    return r;
}

bool hasMatch(const StreamTrace& trace, uint32_t position, uint32_t length, uint32_t distance)
{
    for (const MatchTrace& m : trace.matches)
        if (m.position == position && m.length == length && m.distance == distance)
            return true;
    return false;
}

}  // namespace

TEST(Crc32, KnownValuesAndContinuation)
{
    const char* digits = "123456789";
    EXPECT_EQ(updateCrc32(0, digits, 9), 0xCBF43926u);
    EXPECT_EQ(updateCrc32(0, digits, 0), 0u);
    EXPECT_EQ(updateCrc32(0x12345678, nullptr, 10), 0u);
    EXPECT_EQ(updateCrc32(updateCrc32(0, digits, 4), digits + 4, 5), 0xCBF43926u);

    // Every split and every misalignment against the plain bitwise definition,
    // by whichever way updateCrc32 takes here and by table lookups alone.
    Bytes data = randomBytes(1000, 7);
    auto bitwise = [](const uint8_t* p, size_t n) {
        uint32_t crc = 0xFFFFFFFF;
        for (size_t i = 0; i < n; ++i) {
            crc ^= p[i];
            for (int b = 0; b < 8; ++b)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
        return ~crc;
    };
    using Crc = uint32_t (*)(uint32_t, const void*, uint32_t);
    for (Crc crcOf : {updateCrc32, updateCrc32ByTables}) {
        for (uint32_t offset = 0; offset < 9; ++offset)
            for (uint32_t split = 0; split < 40; ++split) {
                uint32_t n = 900;
                uint32_t crc = crcOf(crcOf(0, data.data() + offset, split),
                                     data.data() + offset + split, n - split);
                ASSERT_EQ(crc, bitwise(data.data() + offset, n)) << offset << "/" << split;
            }

        // Long runs are folded in several stretches at once and joined: lengths
        // around the stretch sizes, and splits that leave a stretch part done.
        Bytes longData = randomBytes(40000, 8);
        for (uint32_t n : {6143u, 6144u, 6145u, 12295u, 18432u, 39999u})
            for (uint32_t split : {0u, 1u, 2047u, 6144u}) {
                if (split > n)
                    continue;
                const uint8_t* p = longData.data() + 1;
                uint32_t crc = crcOf(crcOf(0, p, split), p + split, n - split);
                ASSERT_EQ(crc, bitwise(p, n)) << n << "/" << split;
            }
    }
}

// Where the processor multiplies carry-less, runs of 64 bytes or more are
// folded 16 bytes at a time, four blocks side by side: every length around
// the block and step sizes, at every alignment, from registers that are not 0.
TEST(Crc32, CarrylessFoldingEqualsTableLookups)
{
    if (!carrylessCrc32Available())
        GTEST_SKIP() << "this processor has no carry-less multiplication";
    Bytes data = randomBytes(70000, 9);
    uint32_t start = 0x9E3779B9u;
    for (uint32_t offset = 0; offset < 17; ++offset)
        for (uint32_t n = 0; n < 400; ++n, start = start * 69069u + 1) {
            const uint8_t* p = data.data() + offset;
            ASSERT_EQ(updateCrc32(start, p, n), updateCrc32ByTables(start, p, n)) << offset << "/" << n;
        }
    for (uint32_t n : {4095u, 65536u, 69983u})
        ASSERT_EQ(updateCrc32(1, data.data() + 3, n), updateCrc32ByTables(1, data.data() + 3, n)) << n;
}

TEST(Deflate, EmptyInputIsOneFixedEndOfBlock)
{
    for (bool failure : {false, true}) {
        CompressOptions options;
        options.signalEndWithFailure = failure;
        RoundTrip r = roundTrip(Bytes(), options);
        EXPECT_EQ(r.compressed.stream, (Bytes{0x03, 0x00}));
        EXPECT_EQ(r.compressed.reportedSize, 2u);
    }
}

TEST(Deflate, RoundTripsThroughZlib)
{
    struct Case {
        const char* name;
        Bytes input;
    };
    const Bytes random64k = randomBytes(65536, 3);
    const Case cases[] = {
        {"one byte", Bytes{'x'}},
        {"two bytes", Bytes{'x', 'y'}},
        {"three equal bytes", Bytes{'a', 'a', 'a'}},
        {"four equal bytes", repeated('a', 4)},
        {"run of 300", repeated(0, 300)},
        {"run of 1 MiB", repeated(0xAB, 1 << 20)},
        {"text 65273", textLike(65273, 1)},
        {"text 65274", textLike(65274, 1)},
        {"text 65275", textLike(65275, 1)},
        {"text 65536", textLike(65536, 2)},
        {"text 65537", textLike(65537, 2)},
        {"text 3 MiB", textLike(3 << 20, 5)},
        {"random 100", randomBytes(100, 1)},
        {"random 65536", random64k},
        {"random 1 MiB", randomBytes(1 << 20, 9)},
        {"random then run", concat({random64k, repeated('z', 100000), random64k})},
        {"run then random", concat({repeated('z', 100000), random64k})},
        {"text then random", concat({textLike(200000, 3), randomBytes(300000, 4), textLike(100000, 5)})},
        {"period 32506", concat({randomBytes(32506, 6), randomBytes(32506, 6), randomBytes(32506, 6)})},
        {"period 32768", concat({randomBytes(32768, 6), randomBytes(32768, 6), randomBytes(32768, 6)})},
        {"period 258", [] {
             Bytes unit = randomBytes(258, 8);
             Bytes out;
             for (int i = 0; i < 2000; ++i)
                 out.insert(out.end(), unit.begin(), unit.end());
             return out;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        roundTrip(c.input);
    }
}

TEST(Deflate, ShortReadsAndSmallOutputBuffersGiveTheSameStream)
{
    const Bytes input = concat({textLike(150000, 11), randomBytes(70000, 12), textLike(90000, 13)});
    const Bytes reference = compress(input).stream;
    struct Variant {
        uint32_t chunk;
        uint32_t outputSize;
    };
    for (Variant v : {Variant{1, 16384}, Variant{7, 16384}, Variant{300, 16384},
                      Variant{0, 2}, Variant{0, 3}, Variant{0, 17}, Variant{4093, 255}}) {
        SCOPED_TRACE(std::to_string(v.chunk) + "/" + std::to_string(v.outputSize));
        CompressOptions options;
        options.maxReadChunk = v.chunk;
        options.outputSize = v.outputSize;
        RoundTrip r = roundTrip(input, options);
        EXPECT_EQ(r.compressed.stream, reference);
        EXPECT_LE(r.compressed.largestFlush, std::max<uint32_t>(v.outputSize, 65535));
    }
}

TEST(Deflate, ReadsFillTheWindow)
{
    CompressResult r = compress(textLike(1 << 20, 4));
    // The first read asks for the whole window, later ones for half of it or
    // more: about one read per 32 KiB of input.
    EXPECT_EQ(r.largestReadRequest, WINDOW_SIZE);
    EXPECT_LE(r.reads, (1u << 20) / 32768 + 3);
}

TEST(Deflate, ShortInputsAreLiterals)
{
    for (const Bytes& input : {Bytes{'a'}, Bytes{'a', 'a'}, Bytes{'a', 'b'}}) {
        RoundTrip r = roundTrip(input);
        EXPECT_TRUE(r.trace.matches.empty());
        ASSERT_EQ(r.trace.blocks.size(), 1u);
        EXPECT_EQ(r.trace.blocks[0].type, 1);
    }
}

TEST(Deflate, RunIsTwoLiteralsThenDistanceOneMatches)
{
    RoundTrip r = roundTrip(repeated('q', 1000));
    ASSERT_FALSE(r.trace.matches.empty());
    // Position 0 is never a match source, so the match starts at 2.
    EXPECT_EQ(r.trace.matches[0].position, 2u);
    uint32_t covered = 2;
    for (const MatchTrace& m : r.trace.matches) {
        EXPECT_EQ(m.distance, 1u);
        EXPECT_LE(m.length, 258u);
        covered += m.length;
    }
    EXPECT_EQ(covered, 1000u);
}

TEST(Deflate, ThreeByteMatchesFarBackAreDropped)
{
    // "XYZ" planted at 100 and again 4096 or 4097 bytes later, in data that
    // has no other repeated 3-byte string.
    for (uint32_t distance : {4096u, 4097u}) {
        Bytes input = withoutRepeats(20000, 21);
        const uint8_t planted[3] = {0xF1, 0xF2, 0xF3};
        std::memcpy(&input[100], planted, 3);
        std::memcpy(&input[100 + distance], planted, 3);
        // Keep the planted copies from extending into longer matches.
        input[99] = 0x41;
        input[100 + distance - 1] = 0x42;
        input[103] = 0x43;
        input[103 + distance] = 0x44;
        RoundTrip r = roundTrip(input);
        EXPECT_EQ(hasMatch(r.trace, 100 + distance, 3, distance), distance <= FAR_MATCH_LIMIT)
            << distance;
    }
}

TEST(Deflate, ThreeByteMatchBehindAHashCollisionIsFound)
{
    // "XYZ" at 100 and 300; between them a string with the same hash but a
    // different first byte (bit 5 of the first byte leaves the 15-bit hash),
    // so the search at 300 meets the collision first and the 3-byte match,
    // whose fourth byte differs, second.
    Bytes input = withoutRepeats(20000, 21);
    const uint8_t planted[3] = {0xF1, 0xF2, 0xF3};
    const uint8_t colliding[3] = {0xD1, 0xF2, 0xF3};
    std::memcpy(&input[100], planted, 3);
    std::memcpy(&input[200], colliding, 3);
    std::memcpy(&input[300], planted, 3);
    input[99] = 0x41;
    input[299] = 0x42;
    input[103] = 0x43;
    input[303] = 0x44;
    RoundTrip r = roundTrip(input);
    EXPECT_TRUE(hasMatch(r.trace, 300, 3, 200));
}

uint32_t stringHash(const Bytes& data, size_t i)
{
    return ((uint32_t(data[i]) << 10) ^ (uint32_t(data[i + 1]) << 5) ^ data[i + 2]) & HASH_MASK;
}

// Plants a 16-byte marker at first and at second whose hash no other string
// of the input shares, so the hash chain holds exactly these two.
Bytes plantUniqueMarker(Bytes input, uint32_t first, uint32_t second)
{
    for (uint32_t seed = 1;; ++seed) {
        Bytes marker = randomBytes(16, seed);
        for (auto& b : marker)
            b |= 0x80;
        Bytes candidate = input;
        std::memcpy(&candidate[first], marker.data(), marker.size());
        std::memcpy(&candidate[second], marker.data(), marker.size());
        const uint32_t h = stringHash(candidate, first);
        bool unique = true;
        for (size_t i = 0; i + 2 < candidate.size() && unique; ++i)
            unique = i == first || i == second || stringHash(candidate, i) != h;
        if (unique)
            return candidate;
    }
}

TEST(Deflate, FarthestMatchIs32506Back)
{
    // The hash head's entry is searched up to 32506 back.
    for (uint32_t distance : {32505u, 32506u, 32507u}) {
        Bytes input = plantUniqueMarker(withoutRepeats(80000, 31), 1000, 1000 + distance);
        RoundTrip r = roundTrip(input);
        bool found = hasMatch(r.trace, 1000 + distance, 16, distance);
        EXPECT_EQ(found, distance <= MAX_MATCH_DISTANCE) << distance;
    }
    // Through the chain (a nearer string with the same first 3 bytes in
    // front), only nearer than 32506.
    for (uint32_t distance : {32505u, 32506u}) {
        Bytes input = plantUniqueMarker(withoutRepeats(80000, 32), 1000, 1000 + distance);
        std::memcpy(&input[1000 + distance - 50], &input[1000], 3);
        input[1000 + distance - 50 + 3] = uint8_t(input[1003] ^ 0x55);
        RoundTrip r = roundTrip(input);
        bool found = hasMatch(r.trace, 1000 + distance, 16, distance);
        EXPECT_EQ(found, distance < MAX_MATCH_DISTANCE) << "chain " << distance;
    }
}

TEST(Deflate, IncompressibleDataIsStoredWithSmallGrowth)
{
    struct Case {
        const char* name;
        Bytes input;
        uint32_t textBytes;  // compressible prefix
    };
    const Case cases[] = {
        {"random 32767", randomBytes(32767, 1), 0},
        {"random 65536", randomBytes(65536, 2), 0},
        {"random 65537", randomBytes(65537, 3), 0},
        {"random 1 MiB", randomBytes(1 << 20, 4), 0},
        {"random 3 MiB", randomBytes(3 << 20, 5), 0},
        // No match at all: every block is 32767 literals, a length that
        // drifts against the window's halves.
        {"no matches 1 MiB", withoutRepeats(1 << 20, 6, 256), 0},
        {"text then random", concat({textLike(123457, 7), randomBytes(1 << 20, 8)}), 123457},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RoundTrip r = roundTrip(c.input);
        // Every incompressible block is stored, 5 bytes of header each.
        uint32_t storedBlocks = 0, storedBytes = 0, codedOutput = 0;
        for (const BlockTrace& block : r.trace.blocks) {
            if (block.type == 0) {
                ++storedBlocks;
                storedBytes += block.outputBytes;
            } else {
                codedOutput += block.outputBytes;
            }
        }
        // Only the block where text turns into random bytes may be coded.
        EXPECT_LE(codedOutput, c.textBytes + (c.textBytes ? 65536 : 0));
        if (c.textBytes == 0) {
            EXPECT_EQ(r.compressed.stream.size(), c.input.size() + 5 * storedBlocks);
            // At most one block more than 32 KiB pieces would need.
            EXPECT_LE(storedBlocks, (c.input.size() + 32767) / 32768 + 1);
        }
    }
}

TEST(Deflate, StoredBlockLayout)
{
    Bytes input = randomBytes(1000, 5);
    RoundTrip r = roundTrip(input);
    const Bytes& s = r.compressed.stream;
    ASSERT_EQ(s.size(), 1005u);
    EXPECT_EQ(s[0], 0x01);  // final bit, type 00, zero padding
    EXPECT_EQ(s[1], 1000 & 0xFF);
    EXPECT_EQ(s[2], 1000 >> 8);
    EXPECT_EQ(s[3], uint8_t(~1000 & 0xFF));
    EXPECT_EQ(s[4], uint8_t(~1000 >> 8));
    EXPECT_TRUE(std::equal(input.begin(), input.end(), s.begin() + 5));
}

TEST(Deflate, BlocksEndEarlyOnlyWhenMatchesAreFewButLong)
{
    // Few long matches: the estimate ends the block at a multiple of 4096 symbols.
    Bytes sparse;
    Bytes chunk = randomBytes(3000, 41);
    for (int i = 0; i < 60; ++i) {
        Bytes fresh = randomBytes(40, uint32_t(100 + i));
        sparse.insert(sparse.end(), fresh.begin(), fresh.end());
        sparse.insert(sparse.end(), chunk.begin(), chunk.begin() + 200);
    }
    Bytes text = textLike(400000, 42);
    Bytes input = concat({sparse, textLike(1000, 1), randomBytes(40000, 43)});
    RoundTrip early = roundTrip(concat({text, input}));
    bool endedEarly = false;
    for (size_t i = 0; i + 1 < early.trace.blocks.size(); ++i) {
        const BlockTrace& b = early.trace.blocks[i];
        if (b.type != 0 && b.symbols < 32767) {
            EXPECT_EQ(b.symbols % 4096, 0u) << "block " << i;
            endedEarly = true;
        }
    }
    EXPECT_TRUE(endedEarly);

    // Many matches: blocks run to the 32767-symbol limit.
    RoundTrip full = roundTrip(textLike(2 << 20, 44));
    ASSERT_GE(full.trace.blocks.size(), 2u);
    for (size_t i = 0; i + 1 < full.trace.blocks.size(); ++i)
        EXPECT_EQ(full.trace.blocks[i].symbols, 32767u) << "block " << i;
}

TEST(Deflate, RunEndingExactlyAtTheSymbolLimit)
{
    // 2 literals + 32765 matches of 258 = 32767 symbols: the block ends on
    // the last symbol and the final block is empty.
    Bytes run = repeated('r', 2 + 258u * 32765u);
    RoundTrip r = roundTrip(run);
    ASSERT_EQ(r.trace.blocks.size(), 2u);
    EXPECT_EQ(r.trace.blocks[0].symbols, 32767u);
    EXPECT_FALSE(r.trace.blocks[0].final);
    EXPECT_EQ(r.trace.blocks[1].type, 1);
    EXPECT_EQ(r.trace.blocks[1].symbols, 0u);
    EXPECT_EQ(r.trace.blocks[1].bitsBeforePadding, 10u);
}

TEST(Deflate, SkewedFrequenciesNeedLengthLimitedTrees)
{
    // Fibonacci-like frequencies make an unlimited Huffman tree deeper than
    // 15 levels; literals only, so the distance tree gets its forced codes.
    Bytes input;
    uint64_t a = 1, b = 1;
    for (int symbol = 0; symbol < 24; ++symbol) {
        for (uint64_t i = 0; i < a && input.size() < 200000; ++i)
            input.push_back(uint8_t(symbol * 10));
        uint64_t next = a + b;
        a = b;
        b = next;
    }
    // Spread the symbols so that no 3-byte string repeats often enough for
    // matches: interleave by a fixed permutation.
    Bytes spread(input.size());
    uint64_t j = 0;
    for (size_t i = 0; i < input.size(); ++i) {
        spread[i] = input[j];
        j = (j + 7919) % input.size();
    }
    RoundTrip r = roundTrip(spread);
    bool sawDynamic = false;
    for (const BlockTrace& block : r.trace.blocks)
        if (block.type == 2) {
            sawDynamic = true;
            EXPECT_LE(block.longestLiteralCode, 15u);
        }
    EXPECT_TRUE(sawDynamic);

    // The code-length alphabet at its 7-bit limit: many distinct literal
    // code lengths with skewed run structure.
    Bytes varied;
    for (int symbol = 0; symbol < 256; ++symbol) {
        uint32_t count = 1u + uint32_t(symbol * symbol * symbol) % 997u;
        varied.insert(varied.end(), count, uint8_t(symbol));
    }
    std::reverse(varied.begin(), varied.end());
    roundTrip(varied);
}

TEST(Deflate, LiteralOnlyDynamicBlockAnnouncesTwoDistanceCodes)
{
    // 64 symbols and no repeated string: 6-bit codes beat fixed and stored.
    RoundTrip r = roundTrip(withoutRepeats(30000, 61));
    EXPECT_TRUE(r.trace.matches.empty());
    ASSERT_FALSE(r.trace.blocks.empty());
    EXPECT_EQ(r.trace.blocks[0].distanceCodes, 2u);
    EXPECT_EQ(r.trace.blocks[0].type, 2);
}

TEST(Deflate, LostOutputIsReported)
{
    const Bytes input = textLike(400000, 71);
    for (uint32_t failAfter : {0u, 1u, 3u}) {
        CompressOptions options;
        options.failWritesAfter = failAfter;
        CompressResult r = compress(input, options);
        EXPECT_EQ(r.errorText, "output lost") << failAfter;
    }
    // A stored block whose bytes cannot be written.
    CompressOptions options;
    options.failWritesAfter = 1;
    CompressResult r = compress(randomBytes(100000, 72), options);
    EXPECT_EQ(r.errorText, "output lost");
}

TEST(Deflate, FreshContextAfterAFailedEntry)
{
    CompressOptions failing;
    failing.failWritesAfter = 0;
    EXPECT_NE(compress(textLike(50000, 81), failing).errorText, "");
    Bytes input = textLike(50000, 82);
    RoundTrip r = roundTrip(input);
    EXPECT_EQ(r.compressed.stream, compress(input).stream);
}

TEST(Deflate, OneContextForManyEntriesGivesTheStreamsOfNewOnes)
{
    // As the archive writer uses it: whatever an entry leaves behind (a slid
    // window, a latched error, lost output) must not show in the next stream.
    CompressOptions failing;
    failing.failWritesAfter = 1;
    struct Entry {
        Bytes input;
        CompressOptions options;
    };
    const Entry entries[] = {
        {textLike(300000, 101), {}},
        {textLike(5000, 102), {}},
        {randomBytes(100000, 103), {}},
        {Bytes(), {}},
        {Bytes{'z'}, {}},
        {textLike(400000, 104), failing},
        {concat({textLike(70000, 105), repeated('a', 3000)}), {}},
        {textLike(20000, 106), {}},
    };
    DeflateContext* shared = createDeflateContext();
    ASSERT_NE(shared, nullptr);
    for (size_t i = 0; i < sizeof entries / sizeof entries[0]; ++i) {
        CompressResult reused = compressOn(*shared, entries[i].input, entries[i].options);
        CompressResult fresh = compress(entries[i].input, entries[i].options);
        EXPECT_TRUE(reused.stream == fresh.stream) << "entry " << i;
        EXPECT_EQ(reused.reportedSize, fresh.reportedSize) << "entry " << i;
        EXPECT_EQ(reused.errorText, fresh.errorText) << "entry " << i;
    }
    destroyDeflateContext(shared);
}

TEST(Deflate, MissingCallbacksAreRefused)
{
    DeflateContext* context = createDeflateContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(runDeflate(*context), 0u);
    EXPECT_NE(context->errorText, nullptr);
    destroyDeflateContext(context);
}

TEST(Deflate, NothingIsAllocatedWhileCompressing)
{
    const Bytes input = concat({textLike(300000, 91), randomBytes(100000, 92)});
    Bytes output(input.size() + 1000);
    uint8_t ioBuffer[DEFLATE_OUTPUT_SIZE];
    MemoryStreams f{&input, 0, output.data(), output.size(), 0};
    uint32_t beforeContext = allocationCount();
    DeflateContext* context = createDeflateContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(allocationCount(), beforeContext + 1);  // the counter sees the context
    attachMemoryStreams(*context, f, ioBuffer, sizeof ioBuffer);
    uint32_t before = allocationCount();
    uint32_t size = runDeflate(*context);
    EXPECT_EQ(allocationCount(), before);
    EXPECT_EQ(context->errorText, nullptr);
    EXPECT_EQ(size, f.written);
    destroyDeflateContext(context);
    output.resize(f.written);
    Bytes inflated;
    std::string message;
    EXPECT_TRUE(inflateRaw(output, inflated, message)) << message;
    EXPECT_TRUE(inflated == input);
}
