// Drives the compressor from memory and reads its output back, with zlib's
// raw inflater (an independent reader) and with a small decoder that records
// the stream's structure for the tests that check block and match choices.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "deflate.h"

namespace deflatetest {

typedef std::vector<uint8_t> Bytes;

struct CompressOptions {
    uint32_t maxReadChunk = 0;       // 0: reads deliver all they are asked for
    bool signalEndWithFailure = false;  // end of input as 0xFFFFFFFF instead of 0
    uint32_t outputSize = DEFLATE_OUTPUT_SIZE;
    uint32_t failWritesAfter = 0xFFFFFFFF;  // flushes that succeed before writes fail
};

struct CompressResult {
    Bytes stream;               // every byte handed to the flush callback
    uint32_t reportedSize = 0;  // runDeflate's result
    std::string errorText;      // empty: none latched
    uint32_t largestFlush = 0;
    uint32_t reads = 0;
    uint32_t largestReadRequest = 0;
};

// On a new context.
CompressResult compress(const Bytes& input, const CompressOptions& options = CompressOptions());
// On a context that may have compressed other inputs before, as the archive
// writer's does.
CompressResult compressOn(DeflateContext& context, const Bytes& input,
                          const CompressOptions& options = CompressOptions());

// zlib raw inflate (zlib_inflate.cpp, host only); false with a message when
// the stream is not valid or does not end where it should.
bool inflateRaw(const Bytes& stream, Bytes& output, std::string& message);

struct BlockTrace {
    int type = -1;  // 0 stored, 1 fixed, 2 dynamic
    bool final = false;
    uint32_t symbols = 0;  // literals and matches, end code excluded
    uint32_t outputBytes = 0;
    uint32_t literalCodes = 0, distanceCodes = 0, lengthCodes = 0;  // dynamic header
    uint32_t longestLiteralCode = 0, longestLengthCode = 0;
    uint32_t bitsBeforePadding = 0;  // bits of this block (header included)
};

struct MatchTrace {
    uint32_t position;  // output offset where the match starts
    uint32_t length;
    uint32_t distance;
};

struct StreamTrace {
    std::vector<BlockTrace> blocks;
    std::vector<MatchTrace> matches;
    Bytes output;
    std::string error;  // empty when the stream decoded
};

StreamTrace traceStream(const Bytes& stream);

// Deterministic inputs.
Bytes randomBytes(uint32_t length, uint32_t seed);
Bytes textLike(uint32_t length, uint32_t seed);

}  // namespace deflatetest
