#include "deflate_harness.h"

#include <cstring>
#include <memory>

namespace deflatetest {

namespace {

struct MemorySource {
    const Bytes* input;
    size_t position;
    const CompressOptions* options;
    CompressResult* result;
    uint32_t flushes;
};

uint32_t readFromMemory(DeflateContext* context, uint8_t* buffer, uint32_t size)
{
    MemorySource& source = *static_cast<MemorySource*>(context->owner);
    source.result->reads++;
    if (size > source.result->largestReadRequest)
        source.result->largestReadRequest = size;
    size_t left = source.input->size() - source.position;
    if (left == 0)
        return source.options->signalEndWithFailure ? DEFLATE_READ_FAILED : DEFLATE_READ_END;
    uint32_t n = size;
    if (source.options->maxReadChunk != 0 && n > source.options->maxReadChunk)
        n = source.options->maxReadChunk;
    if (n > left)
        n = uint32_t(left);
    std::memcpy(buffer, source.input->data() + source.position, n);
    source.position += n;
    return n;
}

void flushToMemory(void* owner, uint8_t* buffer, uint32_t* fill)
{
    MemorySource& source = *static_cast<MemorySource*>(owner);
    if (*fill == 0)
        return;
    if (source.flushes >= source.options->failWritesAfter)
        return;  // a write that failed: nothing taken, fill left as it was
    source.flushes++;
    if (*fill > source.result->largestFlush)
        source.result->largestFlush = *fill;
    source.result->stream.insert(source.result->stream.end(), buffer, buffer + *fill);
    *fill = 0;
}

}  // namespace

CompressResult compressOn(DeflateContext& context, const Bytes& input, const CompressOptions& options)
{
    CompressResult result;
    MemorySource source{&input, 0, &options, &result, 0};
    std::unique_ptr<uint8_t[]> output(new uint8_t[options.outputSize]);
    context.owner = &source;
    context.readCallback = readFromMemory;
    context.flushCallback = flushToMemory;
    context.outputBuffer = output.get();
    context.outputSize = options.outputSize;
    result.reportedSize = runDeflate(context);
    if (context.errorText != nullptr)
        result.errorText = context.errorText;
    return result;
}

CompressResult compress(const Bytes& input, const CompressOptions& options)
{
    DeflateContext* context = createDeflateContext();
    if (context == nullptr) {
        CompressResult result;
        result.errorText = "no context";
        return result;
    }
    CompressResult result = compressOn(*context, input, options);
    destroyDeflateContext(context);
    return result;
}

namespace {

const uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DISTANCE_BASE[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct DecodeError {
    std::string text;
};

struct BitReader {
    const Bytes& data;
    size_t bitPosition = 0;

    uint32_t bits(uint32_t count)
    {
        uint32_t value = 0;
        for (uint32_t i = 0; i < count; ++i) {
            size_t byte = bitPosition >> 3;
            if (byte >= data.size())
                throw DecodeError{"stream ends inside a block"};
            value |= uint32_t((data[byte] >> (bitPosition & 7)) & 1) << i;
            ++bitPosition;
        }
        return value;
    }
};

// Canonical decoding table: counts per length and symbols in code order.
struct Code {
    uint16_t counts[16] = {};
    std::vector<uint16_t> symbols;
    uint32_t longest = 0;

    void build(const uint8_t* lengths, uint32_t n, bool allowIncomplete)
    {
        std::memset(counts, 0, sizeof counts);
        for (uint32_t i = 0; i < n; ++i) {
            counts[lengths[i]]++;
            if (lengths[i] > longest)
                longest = lengths[i];
        }
        counts[0] = 0;
        int32_t left = 1;
        for (int len = 1; len < 16; ++len) {
            left <<= 1;
            left -= counts[len];
            if (left < 0)
                throw DecodeError{"oversubscribed code"};
        }
        if (left != 0 && !allowIncomplete)
            throw DecodeError{"incomplete code"};
        uint16_t offsets[16];
        offsets[1] = 0;
        for (int len = 1; len < 15; ++len)
            offsets[len + 1] = uint16_t(offsets[len] + counts[len]);
        symbols.assign(n, 0);
        for (uint32_t i = 0; i < n; ++i)
            if (lengths[i] != 0)
                symbols[offsets[lengths[i]]++] = uint16_t(i);
    }

    uint32_t decode(BitReader& in) const
    {
        int32_t code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; ++len) {
            code |= int32_t(in.bits(1));
            int32_t count = counts[len];
            if (code - count < first)
                return symbols[size_t(index + (code - first))];
            index += count;
            first += count;
            first <<= 1;
            code <<= 1;
        }
        throw DecodeError{"bad code"};
    }
};

}  // namespace

StreamTrace traceStream(const Bytes& stream)
{
    StreamTrace trace;
    BitReader in{stream};
    try {
        bool final = false;
        while (!final) {
            BlockTrace block;
            size_t blockStartBit = in.bitPosition;
            size_t outputAtStart = trace.output.size();
            final = block.final = in.bits(1) != 0;
            block.type = int(in.bits(2));
            if (block.type == 0) {
                in.bitPosition = (in.bitPosition + 7) & ~size_t(7);
                uint32_t length = in.bits(16);
                uint32_t complement = in.bits(16);
                if ((length ^ 0xFFFF) != complement)
                    throw DecodeError{"stored length check"};
                for (uint32_t i = 0; i < length; ++i)
                    trace.output.push_back(uint8_t(in.bits(8)));
                block.symbols = length;
            } else if (block.type == 1 || block.type == 2) {
                uint8_t lengths[320] = {};
                Code literals, distances;
                if (block.type == 1) {
                    for (int i = 0; i < 288; ++i)
                        lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
                    literals.build(lengths, 288, false);
                    for (int i = 0; i < 30; ++i)
                        lengths[i] = 5;
                    distances.build(lengths, 30, true);
                } else {
                    block.literalCodes = in.bits(5) + 257;
                    block.distanceCodes = in.bits(5) + 1;
                    block.lengthCodes = in.bits(4) + 4;
                    uint8_t codeLengthLengths[19] = {};
                    for (uint32_t i = 0; i < block.lengthCodes; ++i)
                        codeLengthLengths[CODE_LENGTH_ORDER[i]] = uint8_t(in.bits(3));
                    Code codeLengths;
                    codeLengths.build(codeLengthLengths, 19, false);
                    uint32_t total = block.literalCodes + block.distanceCodes;
                    for (uint32_t i = 0; i < total;) {
                        uint32_t symbol = codeLengths.decode(in);
                        uint32_t repeat = 1, value = symbol;
                        if (symbol == 16) {
                            if (i == 0)
                                throw DecodeError{"repeat without a length"};
                            value = lengths[i - 1];
                            repeat = 3 + in.bits(2);
                        } else if (symbol == 17) {
                            value = 0;
                            repeat = 3 + in.bits(3);
                        } else if (symbol == 18) {
                            value = 0;
                            repeat = 11 + in.bits(7);
                        }
                        if (i + repeat > total)
                            throw DecodeError{"code lengths overrun"};
                        while (repeat--)
                            lengths[i++] = uint8_t(value);
                    }
                    if (lengths[256] == 0)
                        throw DecodeError{"no end-of-block code"};
                    literals.build(lengths, block.literalCodes, false);
                    distances.build(lengths + block.literalCodes, block.distanceCodes, false);
                    block.longestLiteralCode = literals.longest;
                    block.longestLengthCode = codeLengths.longest;
                }
                for (;;) {
                    uint32_t symbol = literals.decode(in);
                    if (symbol == 256)
                        break;
                    ++block.symbols;
                    if (symbol < 256) {
                        trace.output.push_back(uint8_t(symbol));
                        continue;
                    }
                    symbol -= 257;
                    if (symbol >= 29)
                        throw DecodeError{"bad length code"};
                    uint32_t length = LENGTH_BASE[symbol] + in.bits(LENGTH_EXTRA[symbol]);
                    uint32_t distanceSymbol = distances.decode(in);
                    if (distanceSymbol >= 30)
                        throw DecodeError{"bad distance code"};
                    uint32_t distance =
                        DISTANCE_BASE[distanceSymbol] + in.bits(DISTANCE_EXTRA[distanceSymbol]);
                    if (distance > trace.output.size())
                        throw DecodeError{"distance too far back"};
                    trace.matches.push_back({uint32_t(trace.output.size()), length, distance});
                    size_t from = trace.output.size() - distance;
                    for (uint32_t i = 0; i < length; ++i)
                        trace.output.push_back(trace.output[from + i]);
                }
            } else {
                throw DecodeError{"reserved block type"};
            }
            block.bitsBeforePadding = uint32_t(in.bitPosition - blockStartBit);
            block.outputBytes = uint32_t(trace.output.size() - outputAtStart);
            trace.blocks.push_back(block);
        }
        size_t usedBytes = (in.bitPosition + 7) >> 3;
        if (usedBytes != stream.size())
            trace.error = "trailing bytes after the final block";
        for (size_t bit = in.bitPosition; bit < usedBytes * 8; ++bit)
            if ((stream[bit >> 3] >> (bit & 7)) & 1)
                trace.error = "padding bits not zero";
    } catch (const DecodeError& e) {
        trace.error = e.text;
    }
    return trace;
}

Bytes randomBytes(uint32_t length, uint32_t seed)
{
    Bytes out(length);
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (uint32_t i = 0; i < length; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        out[i] = uint8_t(state >> 24);
    }
    return out;
}

Bytes textLike(uint32_t length, uint32_t seed)
{
    static const char* const WORDS[] = {
        "the", "registry", "value", "of", "service", "driver", "HKEY_LOCAL_MACHINE", "system",
        "software", "and", "installed", "version", "package", "file", "a", "to", "is", "in",
        "Windows", "control", "set", "parameters", "start", "type", "error", "image", "path"};
    const uint32_t wordCount = sizeof WORDS / sizeof WORDS[0];
    Bytes random = randomBytes(length + 16, seed);
    Bytes out;
    out.reserve(length);
    for (uint32_t i = 0; out.size() < length; ++i) {
        const char* word = WORDS[random[i % random.size()] % wordCount];
        out.insert(out.end(), word, word + std::strlen(word));
        uint8_t r = random[(i * 7 + 3) % random.size()];
        out.push_back(r % 11 == 0 ? '\n' : r % 7 == 0 ? ',' : ' ');
        if (r % 13 == 0)
            out.push_back(uint8_t('0' + r % 10));
    }
    out.resize(length);
    return out;
}

}  // namespace deflatetest
