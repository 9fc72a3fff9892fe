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

// The next links of a window position's hash chain: link[0] is the previous
// position with the same hash (0 = none), link[1] the one before that, and so
// on. One load gives a search four links, so the walk waits on memory once per
// four candidates instead of once per candidate.
const uint32_t CHAIN_LINKS = 4;
struct alignas(8) ChainEntry {
    uint16_t link[CHAIN_LINKS];
};
static_assert(sizeof(ChainEntry) == 2 * CHAIN_LINKS, "the matcher moves an entry's links as 32-bit words");

// About 492 KiB, so it lives on the heap (createDeflateContext), never on the
// stack. The archive writer keeps one for the archive's life; runDeflate
// resets, for every entry, all that the compressor reads before it writes it.
struct DeflateContext {
    // Set by the caller before each runDeflate.
    void* owner;  // the ArchiveWriter; not owned
    DeflateReadCallback readCallback;
    DeflateFlushCallback flushCallback;
    uint8_t* outputBuffer;  // not owned
    uint32_t outputSize;

    // Per-entry state, cleared as a whole at the start of every entry.
    int32_t level;
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
    uint32_t outputFill;
    uint32_t bitsSent;

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
    // End of the per-entry state.

    // Cleared per entry by runDeflate (hashHead; window, whose bytes past
    // the input a comparison may read), or written before they are read (a
    // chain entry when its position is inserted, the symbol buffers up to
    // their counts).
    uint16_t hashHead[HASH_SIZE];
    // Window positions (below 65536) in 16 bits: half the cache footprint
    // of the chain walk, which dominates the compressor's time.
    ChainEntry chain[WINDOW_HALF];
    uint8_t window[WINDOW_SIZE];
    uint8_t literalBuffer[SYMBOL_BUFFER_SIZE];
    uint16_t distanceBuffer[SYMBOL_BUFFER_SIZE];
    uint8_t flagBuffer[FLAG_BUFFER_SIZE];
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
// createDeflateContext (new, or used for earlier entries), the caller sets
// owner, readCallback, flushCallback, outputBuffer and outputSize (at least 2
// bytes; the writer gives its 16384-byte ioBuffer). Returns the compressed
// size in bytes, which equals the bytes handed to flushCallback; errorText is
// set when the stream cannot be trusted (an internal check failed, or output
// was lost). An entry's stream does not depend on what the context did before.
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
// Adds a literal (distance 0) or a match of length lengthOrLiteral + 3 to the
// open block; nonzero when the block should end here.
inline int ct_tally(DeflateContext& context, uint32_t distance, uint32_t lengthOrLiteral);
uint32_t finishBlock(DeflateContext& context, const uint8_t* bytes, uint32_t blockLength, bool last);
// Smallest coded size in bytes (fixed or dynamic, header bits included) of
// the open block as it stands; leaves the block untouched.
uint32_t codedBlockSize(DeflateContext& context);

// ---- tally, inline: the matcher calls it once per symbol -----------------------

const uint32_t LENGTH_CODE_BASE = 257;
const uint32_t EARLY_END_INTERVAL = 4096;
const uint32_t MAX_BLOCK_SYMBOLS = SYMBOL_BUFFER_SIZE - 1;

// DISTANCE_CODES (no code) for a value beyond the table.
inline uint32_t distanceCode(const DeflateContext& c, uint32_t distanceMinusOne)
{
    if (distanceMinusOne < 256)
        return c.distanceToCode[distanceMinusOne];
    if (distanceMinusOne < WINDOW_HALF)
        return c.distanceToCode[256 + (distanceMinusOne >> 7)];
    return DISTANCE_CODES;
}

// Counts a match; latches "ct_tally: bad match" for one the block cannot code.
void tallyBadMatch(DeflateContext& context, uint32_t distanceMinusOne, uint32_t lengthMinus3);
// Whether the block, at a multiple of EARLY_END_INTERVAL symbols, codes so
// poorly by a rough estimate that a new block with trees of its own may do better.
bool blockEndsEarly(const DeflateContext& context);

inline int ct_tally(DeflateContext& c, uint32_t distance, uint32_t lengthOrLiteral)
{
    c.literalBuffer[c.literalCount++] = uint8_t(lengthOrLiteral);
    if (distance == 0) {
        c.literalTree[lengthOrLiteral & 0xFF].freqOrCode++;
    } else {
        uint32_t v = (distance - 1) & 0xFFFF;
        uint32_t code = distanceCode(c, v);
        if (v >= MAX_MATCH_DISTANCE || (lengthOrLiteral & 0xFFFF) > 255 || code >= DISTANCE_CODES) {
            tallyBadMatch(c, v, lengthOrLiteral);
        } else {
            c.literalTree[LENGTH_CODE_BASE + c.lengthToCode[lengthOrLiteral]].freqOrCode++;
            c.distanceTree[code].freqOrCode++;
        }
        c.distanceBuffer[c.distanceCount++] = uint16_t(v);
        c.pendingFlags |= c.flagBit;
    }
    c.flagBit = uint8_t(c.flagBit << 1);
    if ((c.literalCount & 7) == 0) {
        c.flagBuffer[c.flagCount++] = c.pendingFlags;
        c.pendingFlags = 0;
        c.flagBit = 1;
        if ((c.literalCount % EARLY_END_INTERVAL) == 0 && blockEndsEarly(c))
            return 1;
    }
    return c.literalCount == MAX_BLOCK_SYMBOLS || c.distanceCount == SYMBOL_BUFFER_SIZE;
}
