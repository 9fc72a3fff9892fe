// Fuzz target: any input must compress without an error text to a stream
// that zlib inflates back to the same bytes. The first byte picks read sizes,
// output buffer size and whether the data is repeated (to slide the window
// and fill whole blocks); the rest is the data.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "deflate_harness.h"

using namespace deflatetest;

namespace {

Bytes shapeInput(const uint8_t* data, size_t size, CompressOptions& options)
{
    if (size == 0)
        return Bytes();
    static const uint32_t READ_CHUNKS[8] = {0, 1, 2, 7, 100, 4096, 30000, 0};
    static const uint32_t OUTPUT_SIZES[8] = {16384, 2, 3, 5, 64, 1000, 16384, 16384};
    const uint8_t control = data[0];
    options.maxReadChunk = READ_CHUNKS[control & 7];
    options.outputSize = OUTPUT_SIZES[(control >> 3) & 7];
    options.signalEndWithFailure = (control & 0x40) != 0;
    Bytes body(data + 1, data + size);
    if ((control & 0x80) != 0 && size > 2) {
        // Repeat the body, changing one byte per copy, up to about 300 KB.
        Bytes unit = body;
        uint32_t copies = 1 + uint32_t(300000 / (unit.size() + 1)) % 4096;
        for (uint32_t i = 1; i < copies && body.size() < 300000; ++i) {
            unit[i % unit.size()] ^= uint8_t(i);
            body.insert(body.end(), unit.begin(), unit.end());
        }
    }
    return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CompressOptions options;
    Bytes input = shapeInput(data, size, options);
    CompressResult result = compress(input, options);
    Bytes inflated;
    std::string message;
    if (!result.errorText.empty() || result.reportedSize != result.stream.size() ||
        !inflateRaw(result.stream, inflated, message) || inflated != input) {
        std::fprintf(stderr, "round trip failed: %zu bytes in, error '%s', reported %u of %zu, %s\n",
                     input.size(), result.errorText.c_str(), result.reportedSize,
                     result.stream.size(), message.c_str());
        std::abort();
    }
    // The archive writer keeps one context for all entries: whatever the
    // inputs before left in it, the stream must be that of a new context.
    static DeflateContext* shared = createDeflateContext();
    if (compressOn(*shared, input, options).stream != result.stream) {
        std::fprintf(stderr, "a used context gave another stream for %zu bytes\n", input.size());
        std::abort();
    }
    return 0;
}

#ifdef DEFLATE_FUZZ_LOOP
// Without libFuzzer: random inputs of mixed structure for a bounded time.
#include <chrono>

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    uint32_t seed = 1;
    for (; std::chrono::steady_clock::now() < end; ++seed) {
        Bytes noise = randomBytes(8, seed);
        uint32_t length = (uint32_t(noise[0]) << 8 | noise[1]) % (noise[2] & 1 ? 70000 : 3000);
        Bytes input = (noise[3] & 1) ? randomBytes(length, seed) : textLike(length, seed);
        for (uint32_t i = 0; i + 1 < input.size(); i += 1 + noise[4])
            input[i] = uint8_t(input[i] & noise[5]);
        if (!input.empty())
            input[0] = noise[6];
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%u inputs\n", seed - 1);
    return 0;
}
#endif
