// Raw deflate compressor of the archive writer (level 8, lazy matching).
// Nothing here knows Windows or the archive: input arrives through
// readCallback, output leaves through flushCallback.
#pragma once

#include <cstdint>

const int32_t DEFLATE_LEVEL = 8;

const uint32_t LITERAL_CODES = 286;        // literal/length alphabet in use
const uint32_t DISTANCE_CODES = 30;
const uint32_t BIT_LENGTH_CODES = 19;
const uint32_t FIXED_LITERAL_CODES = 288;  // the fixed code also defines 286 and 287
const uint32_t HEAP_SIZE = 2 * LITERAL_CODES + 1;

const uint32_t WINDOW_SIZE = 65536;
const uint32_t WINDOW_HALF = 32768;
const uint32_t HASH_SIZE = 32768;
const uint32_t HASH_MASK = 0x7FFF;
const uint32_t HASH_SHIFT = 5;

const uint32_t MIN_MATCH_LENGTH = 3;
const uint32_t MAX_MATCH_LENGTH = 258;
const uint32_t REFILL_THRESHOLD = MAX_MATCH_LENGTH + MIN_MATCH_LENGTH + 1;  // 262
const uint32_t MAX_MATCH_DISTANCE = WINDOW_HALF - REFILL_THRESHOLD;         // 32506
const uint32_t FAR_MATCH_LIMIT = 4096;
const uint32_t SLIDE_THRESHOLD = WINDOW_HALF + MAX_MATCH_DISTANCE;          // 65274

const uint32_t SYMBOL_BUFFER_SIZE = 32768;
const uint32_t FLAG_BUFFER_SIZE = SYMBOL_BUFFER_SIZE / 8;
const uint32_t DEFLATE_OUTPUT_SIZE = 16384;  // the writer's ioBuffer

// Both "end of input" answers of a read callback.
const uint32_t DEFLATE_READ_END = 0;
const uint32_t DEFLATE_READ_FAILED = 0xFFFFFFFF;

struct DeflateContext;

// Places up to size bytes into buffer and returns how many; 0 or
// DEFLATE_READ_FAILED ends the input.
typedef uint32_t (*DeflateReadCallback)(DeflateContext* context, uint8_t* buffer, uint32_t size);
// Writes buffer[0 .. *fill) and sets *fill to 0 once the bytes are taken; a
// callback that could not write leaves *fill as it was.
typedef void (*DeflateFlushCallback)(void* owner, uint8_t* buffer, uint32_t* fill);

// While a tree is built: frequency and parent index. Afterwards: the code
// (bit-reversed, ready to send) and its length in bits.
struct HuffmanNode {
    uint16_t freqOrCode;
    uint16_t parentOrLength;
};

struct TreeDescriptor {
    HuffmanNode* dynamicTree;
    const HuffmanNode* staticTree;  // none for the bit-length tree
    const int32_t* extraBits;
    int32_t extraBase;
    int32_t elements;
    int32_t maxLength;
    int32_t maxCode;  // largest code with a nonzero frequency, set per block
};

// One per entry; about 300 KiB, so it lives on the heap
// (createDeflateContext), never on the stack.
struct DeflateContext {
    void* owner;  // the ArchiveWriter; not owned
    int32_t level;
    DeflateReadCallback readCallback;
    DeflateFlushCallback flushCallback;

    HuffmanNode literalTree[HEAP_SIZE];
    HuffmanNode distanceTree[2 * DISTANCE_CODES + 1];
    HuffmanNode staticLiteralTree[FIXED_LITERAL_CODES];
    HuffmanNode staticDistanceTree[DISTANCE_CODES];
    HuffmanNode bitLengthTree[2 * BIT_LENGTH_CODES + 1];
    TreeDescriptor literalDesc;
    TreeDescriptor distanceDesc;
    TreeDescriptor bitLengthDesc;
    uint16_t bitLengthCounts[16];
    int32_t heap[HEAP_SIZE];
    int32_t heapLength;
    int32_t heapMax;
    uint8_t depth[HEAP_SIZE];
    uint8_t lengthToCode[256];
    uint8_t distanceToCode[512];
    int32_t lengthBase[29];
    int32_t distanceBase[DISTANCE_CODES];

    uint8_t literalBuffer[SYMBOL_BUFFER_SIZE];
    uint16_t distanceBuffer[SYMBOL_BUFFER_SIZE];
    uint8_t flagBuffer[FLAG_BUFFER_SIZE];
    uint32_t literalCount;
    uint32_t distanceCount;
    uint32_t flagCount;
    uint8_t pendingFlags;
    uint8_t flagBit;
    uint32_t optimalBits;
    uint32_t staticBits;
    uint32_t compressedBytes;
    uint32_t compressedExtraBits;

    int32_t flushMode;
    uint32_t bitBuffer;
    int32_t bitCount;
    uint8_t* outputBuffer;  // not owned
    uint32_t outputFill;
    uint32_t outputSize;
    uint32_t bitsSent;

    uint8_t window[WINDOW_SIZE];
    // Window positions (below 65536) in 16 bits: half the cache footprint
    // of the chain walk, which dominates the compressor's time.
    uint16_t chain[WINDOW_HALF];
    uint16_t hashHead[HASH_SIZE];
    uint32_t windowSize;
    int32_t blockStart;
    int32_t slideEnabled;
    uint32_t hash;
    uint32_t previousLength;
    uint32_t position;
    uint32_t matchStart;
    int32_t endOfInput;
    uint32_t lookahead;
    uint32_t maxChain;
    uint32_t maxLazy;
    uint32_t goodLength;
    int32_t niceLength;

    const char* errorText;  // latched; nullptr = no error
};

// Records a failed consistency check; a later text replaces an earlier one and
// compression goes on. Any text makes the entry fail.
inline void latch(DeflateContext& c, const char* text)
{
    c.errorText = text;
}

// Allocates a context and resets it; nullptr when memory is short.
DeflateContext* createDeflateContext();
void destroyDeflateContext(DeflateContext* context);

// Descriptors set, everything else zero.
void resetDeflateContext(DeflateContext& context);

// Compresses the whole input of one entry. Before the call, on a context from
// createDeflateContext, the caller sets owner, readCallback, flushCallback,
// outputBuffer and outputSize (at least 2 bytes; the writer gives its
// 16384-byte ioBuffer). Returns the compressed size in bytes, which equals
// the bytes handed to flushCallback; errorText is set when the stream
// cannot be trusted (an internal check failed, or output was lost).
uint32_t runDeflate(DeflateContext& context);

// Extra bits per length code (257..285), distance code and code-length code.
extern const int32_t LENGTH_EXTRA_BITS[29];
extern const int32_t DISTANCE_EXTRA_BITS[DISTANCE_CODES];
extern const int32_t BIT_LENGTH_EXTRA_BITS[BIT_LENGTH_CODES];

// Matcher internals, declared for the block coder and for tests.
uint32_t compressLazy(DeflateContext& context);
uint32_t searchMatchChain(DeflateContext& context, uint32_t candidate);
void loadMoreInput(DeflateContext& context);

// Block coder.
void ct_init(DeflateContext& context);
int ct_tally(DeflateContext& context, uint32_t distance, uint32_t lengthOrLiteral);
uint32_t finishBlock(DeflateContext& context, const uint8_t* bytes, uint32_t blockLength, bool last);
// Smallest coded size in bytes (fixed or dynamic, header bits included) of
// the open block as it stands; leaves the block untouched.
uint32_t codedBlockSize(DeflateContext& context);
