// Huffman half of the compressor: buffers the symbols of a block, builds its
// trees, picks the smallest of the stored, fixed and dynamic forms and writes
// the bits through the flush callback.
#include "deflate.h"

const int32_t LENGTH_EXTRA_BITS[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int32_t DISTANCE_EXTRA_BITS[DISTANCE_CODES] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,
                                                     4, 4, 5, 5, 6, 6, 7,  7,  8,  8,
                                                     9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const int32_t BIT_LENGTH_EXTRA_BITS[BIT_LENGTH_CODES] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                        0, 0, 0, 0, 0, 0, 2, 3, 7};

namespace {

const uint8_t BIT_LENGTH_ORDER[BIT_LENGTH_CODES] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                    11, 4,  12, 3, 13, 2, 14, 1, 15};
const uint32_t END_OF_BLOCK = 256;
const uint32_t MAX_CODE_LENGTH = 15;
const uint32_t REPEAT_PREVIOUS = 16;  // 3..6 times, 2 extra bits
const uint32_t REPEAT_ZERO_SHORT = 17;  // 3..10 zeros, 3 extra bits
const uint32_t REPEAT_ZERO_LONG = 18;   // 11..138 zeros, 7 extra bits

uint32_t reverseBits(uint32_t code, uint32_t length)
{
    uint32_t result = 0;
    for (uint32_t i = 0; i < length; ++i) {
        result = (result << 1) | (code & 1);
        code >>= 1;
    }
    return result;
}

// ---- bit output -------------------------------------------------------------

inline void handOver(DeflateContext& c, uint8_t* buffer, uint32_t* fill)
{
    c.flushCallback(c.owner, buffer, fill);
}

// A word or byte that finds no room after the callback had its chance is
// dropped; the stream is then broken, so it is latched rather than ignored.
inline void putShort(DeflateContext& c, uint32_t word)
{
    if (c.outputFill >= c.outputSize - 1)
        handOver(c, c.outputBuffer, &c.outputFill);
    if (c.outputFill < c.outputSize - 1) {
        c.outputBuffer[c.outputFill] = uint8_t(word);
        c.outputBuffer[c.outputFill + 1] = uint8_t(word >> 8);
        c.outputFill += 2;
    } else {
        latch(c, "output lost");
    }
}

inline void putByte(DeflateContext& c, uint32_t byte)
{
    if (c.outputFill >= c.outputSize)
        handOver(c, c.outputBuffer, &c.outputFill);
    if (c.outputFill < c.outputSize)
        c.outputBuffer[c.outputFill++] = uint8_t(byte);
    else
        latch(c, "output lost");
}

inline void putBits(DeflateContext& c, uint32_t value, int32_t length)
{
    if (length < 1 || length > 15)
        latch(c, "invalid length");
    c.bitsSent += uint32_t(length);
    c.bitBuffer |= value << c.bitCount;
    c.bitCount += length;
    if (c.bitCount > 16) {
        putShort(c, c.bitBuffer);
        c.bitCount -= 16;
        c.bitBuffer = value >> (length - c.bitCount);
    }
}

inline void sendCode(DeflateContext& c, const HuffmanNode& node)
{
    putBits(c, node.freqOrCode, node.parentOrLength);
}

void flushBitBuffer(DeflateContext& c)
{
    if (c.bitCount > 8)
        putShort(c, c.bitBuffer);
    else if (c.bitCount > 0)
        putByte(c, c.bitBuffer);
    handOver(c, c.outputBuffer, &c.outputFill);
    c.bitBuffer = 0;
    c.bitCount = 0;
    c.bitsSent = (c.bitsSent + 7) & ~7u;
}

void emitStoredBlock(DeflateContext& c, const uint8_t* bytes, uint32_t length)
{
    flushBitBuffer(c);
    putShort(c, length & 0xFFFF);
    putShort(c, ~length & 0xFFFF);
    c.bitsSent += 32;
    handOver(c, c.outputBuffer, &c.outputFill);
    // The callback could not take the header: its bytes must not be
    // silently replaced by the block's fill count below.
    if (c.outputFill != 0)
        latch(c, "output lost");
    // Handed over straight from the window; the callback never writes to it.
    uint32_t storedFill = length;
    handOver(c, const_cast<uint8_t*>(bytes), &storedFill);
    if (storedFill != 0)
        latch(c, "output lost");
    c.outputFill = 0;
    c.bitsSent += 8 * length;
}

// ---- trees --------------------------------------------------------------------

inline bool comesBefore(const HuffmanNode* tree, const uint8_t* depth, int32_t n, int32_t m)
{
    return tree[n].freqOrCode < tree[m].freqOrCode ||
           (tree[n].freqOrCode == tree[m].freqOrCode && depth[n] <= depth[m]);
}

void heapSiftDown(DeflateContext& c, const HuffmanNode* tree, int32_t k)
{
    int32_t v = c.heap[k];
    int32_t j = k << 1;
    while (j <= c.heapLength) {
        if (j < c.heapLength && comesBefore(tree, c.depth, c.heap[j + 1], c.heap[j]))
            ++j;
        if (comesBefore(tree, c.depth, v, c.heap[j]))
            break;
        c.heap[k] = c.heap[j];
        k = j;
        j <<= 1;
    }
    c.heap[k] = v;
}

void computeBitLengths(DeflateContext& c, TreeDescriptor& desc)
{
    HuffmanNode* tree = desc.dynamicTree;
    const HuffmanNode* staticTree = desc.staticTree;
    const int32_t maxLength = desc.maxLength;
    const int32_t maxCode = desc.maxCode;
    int32_t overflow = 0;

    for (auto& count : c.bitLengthCounts)
        count = 0;
    tree[c.heap[c.heapMax]].parentOrLength = 0;

    int32_t h = c.heapMax + 1;
    for (; h < int32_t(HEAP_SIZE); ++h) {
        int32_t n = c.heap[h];
        int32_t bits = tree[tree[n].parentOrLength].parentOrLength + 1;
        if (bits > maxLength) {
            bits = maxLength;
            ++overflow;
        }
        tree[n].parentOrLength = uint16_t(bits);
        if (n > maxCode)
            continue;
        c.bitLengthCounts[bits]++;
        int32_t extra = n >= desc.extraBase ? desc.extraBits[n - desc.extraBase] : 0;
        uint32_t frequency = tree[n].freqOrCode;
        c.optimalBits += frequency * uint32_t(bits + extra);
        if (staticTree != nullptr)
            c.staticBits += frequency * uint32_t(staticTree[n].parentOrLength + extra);
    }
    if (overflow == 0)
        return;

    // Move overflowed leaves up: each step turns a leaf at some shorter
    // length into an internal node with two leaves one level deeper.
    do {
        int32_t bits = maxLength - 1;
        while (c.bitLengthCounts[bits] == 0)
            --bits;
        c.bitLengthCounts[bits]--;
        c.bitLengthCounts[bits + 1] += 2;
        c.bitLengthCounts[maxLength]--;
        overflow -= 2;
    } while (overflow > 0);

    // Hand the lengths out again, longest to the least frequent codes.
    h = HEAP_SIZE;
    for (int32_t bits = maxLength; bits != 0; --bits) {
        int32_t n = c.bitLengthCounts[bits];
        while (n != 0) {
            int32_t m = c.heap[--h];
            if (m > maxCode)
                continue;
            if (tree[m].parentOrLength != bits) {
                c.optimalBits += uint32_t((bits - int32_t(tree[m].parentOrLength)) *
                                          int32_t(tree[m].freqOrCode));
                tree[m].parentOrLength = uint16_t(bits);
            }
            --n;
        }
    }
}

void assignCodes(DeflateContext& c, HuffmanNode* tree, int32_t largest)
{
    uint16_t nextCode[MAX_CODE_LENGTH + 1];
    uint32_t code = 0;
    for (uint32_t bits = 1; bits <= MAX_CODE_LENGTH; ++bits) {
        code = ((code + c.bitLengthCounts[bits - 1]) << 1) & 0xFFFF;
        nextCode[bits] = uint16_t(code);
    }
    if (code + c.bitLengthCounts[MAX_CODE_LENGTH] != 32768)
        latch(c, "inconsistent bit counts");
    for (int32_t n = 0; n <= largest; ++n) {
        uint32_t length = tree[n].parentOrLength;
        if (length == 0)
            continue;
        tree[n].freqOrCode = uint16_t(reverseBits(nextCode[length]++, length));
    }
}

void buildHuffmanTree(DeflateContext& c, TreeDescriptor& desc)
{
    HuffmanNode* tree = desc.dynamicTree;
    const HuffmanNode* staticTree = desc.staticTree;
    const int32_t elements = desc.elements;
    int32_t maxCode = -1;

    c.heapLength = 0;
    c.heapMax = HEAP_SIZE;
    for (int32_t n = 0; n < elements; ++n) {
        if (tree[n].freqOrCode != 0) {
            c.heap[++c.heapLength] = maxCode = n;
            c.depth[n] = 0;
        } else {
            tree[n].parentOrLength = 0;
        }
    }

    // A decoder needs at least two codes; the forced ones cost nothing in
    // either estimate once their length is counted.
    while (c.heapLength < 2) {
        int32_t node = c.heap[++c.heapLength] = (maxCode < 2 ? ++maxCode : 0);
        tree[node].freqOrCode = 1;
        c.depth[node] = 0;
        c.optimalBits--;
        if (staticTree != nullptr)
            c.staticBits -= staticTree[node].parentOrLength;
    }
    desc.maxCode = maxCode;

    for (int32_t n = c.heapLength / 2; n >= 1; --n)
        heapSiftDown(c, tree, n);

    int32_t node = elements;
    do {
        int32_t n = c.heap[1];
        c.heap[1] = c.heap[c.heapLength--];
        heapSiftDown(c, tree, 1);
        int32_t m = c.heap[1];
        c.heap[--c.heapMax] = n;
        c.heap[--c.heapMax] = m;
        tree[node].freqOrCode = uint16_t(tree[n].freqOrCode + tree[m].freqOrCode);
        c.depth[node] = uint8_t((c.depth[n] >= c.depth[m] ? c.depth[n] : c.depth[m]) + 1);
        tree[n].parentOrLength = tree[m].parentOrLength = uint16_t(node);
        c.heap[1] = node++;
        heapSiftDown(c, tree, 1);
    } while (c.heapLength >= 2);
    c.heap[--c.heapMax] = c.heap[1];

    computeBitLengths(c, desc);
    assignCodes(c, tree, maxCode);
}

// The run-length walk over a tree's code lengths that both the counting and
// the sending pass make. The sink gets plain(length, times) for lengths sent
// as they are and repeat(code, extraValue, extraBits) for codes 16, 17, 18.
// The caller has set the length of node largest + 1 to 0xFFFF, a value no
// code length has, so that the last run ends at the largest code.
template <typename Sink>
void walkTreeRuns(DeflateContext& c, const HuffmanNode* tree, int32_t largest, Sink& sink)
{
    int32_t previous = -1;
    int32_t next = tree[0].parentOrLength;
    int32_t count = 0;
    int32_t limit = next == 0 ? 138 : 7;
    int32_t minimum = next == 0 ? 3 : 4;

    for (int32_t n = 0; n <= largest; ++n) {
        int32_t current = next;
        next = tree[n + 1].parentOrLength;
        if (++count < limit && current == next)
            continue;
        if (count < minimum) {
            sink.plain(current, count);
        } else if (current != 0) {
            if (current != previous) {
                sink.plain(current, 1);
                --count;
            }
            if (count < 3 || count > 6)
                latch(c, " 3_6?");
            sink.repeat(REPEAT_PREVIOUS, count - 3, 2);
        } else if (count <= 10) {
            sink.repeat(REPEAT_ZERO_SHORT, count - 3, 3);
        } else {
            sink.repeat(REPEAT_ZERO_LONG, count - 11, 7);
        }
        count = 0;
        previous = current;
        if (next == 0) {
            limit = 138;
            minimum = 3;
        } else if (current == next) {
            limit = 6;
            minimum = 3;
        } else {
            limit = 7;
            minimum = 4;
        }
    }
}

struct RunCounter {
    HuffmanNode* bitLengthTree;
    void plain(int32_t length, int32_t times)
    {
        bitLengthTree[length].freqOrCode = uint16_t(bitLengthTree[length].freqOrCode + times);
    }
    void repeat(uint32_t code, int32_t, int32_t) { bitLengthTree[code].freqOrCode++; }
};

struct RunSender {
    DeflateContext& c;
    void plain(int32_t length, int32_t times)
    {
        while (times-- > 0)
            sendCode(c, c.bitLengthTree[length]);
    }
    void repeat(uint32_t code, int32_t extraValue, int32_t extraBits)
    {
        sendCode(c, c.bitLengthTree[code]);
        putBits(c, uint32_t(extraValue) & ((1u << extraBits) - 1), extraBits);
    }
};

// Adds the block's run-coded lengths of tree to the code-length frequencies.
void countTreeRuns(DeflateContext& c, HuffmanNode* tree, int32_t largest)
{
    tree[largest + 1].parentOrLength = 0xFFFF;
    RunCounter counter{c.bitLengthTree};
    walkTreeRuns(c, tree, largest, counter);
}

// Sends them; relies on the end mark that countTreeRuns left in this block.
void emitTreeRuns(DeflateContext& c, const HuffmanNode* tree, int32_t largest)
{
    RunSender sender{c};
    walkTreeRuns(c, tree, largest, sender);
}

void emitBlockSymbols(DeflateContext& c, const HuffmanNode* literalTree,
                      const HuffmanNode* distanceTree)
{
    uint32_t distanceIndex = 0;
    uint32_t flagIndex = 0;
    uint32_t flags = 0;
    for (uint32_t s = 0; s < c.literalCount; ++s) {
        if ((s & 7) == 0)
            flags = c.flagBuffer[flagIndex++];
        uint32_t value = c.literalBuffer[s];
        if ((flags & 1) == 0) {
            sendCode(c, literalTree[value]);
        } else {
            uint32_t code = c.lengthToCode[value];
            sendCode(c, literalTree[code + LENGTH_CODE_BASE]);
            int32_t extra = LENGTH_EXTRA_BITS[code];
            if (extra != 0)
                putBits(c, value - uint32_t(c.lengthBase[code]), extra);
            uint32_t distance = c.distanceBuffer[distanceIndex++];
            code = distanceCode(c, distance);
            if (code >= DISTANCE_CODES) {
                latch(c, "bad d_code");
                code = DISTANCE_CODES - 1;  // keep the table reads in bounds
            }
            sendCode(c, distanceTree[code]);
            extra = DISTANCE_EXTRA_BITS[code];
            if (extra != 0)
                putBits(c, distance - uint32_t(c.distanceBase[code]), extra);
        }
        flags >>= 1;
    }
    sendCode(c, literalTree[END_OF_BLOCK]);
}

void startBlock(DeflateContext& c)
{
    for (uint32_t n = 0; n < LITERAL_CODES; ++n)
        c.literalTree[n].freqOrCode = 0;
    for (uint32_t n = 0; n < DISTANCE_CODES; ++n)
        c.distanceTree[n].freqOrCode = 0;
    for (uint32_t n = 0; n < BIT_LENGTH_CODES; ++n)
        c.bitLengthTree[n].freqOrCode = 0;
    c.literalTree[END_OF_BLOCK].freqOrCode = 1;
    c.optimalBits = 0;
    c.staticBits = 0;
    c.literalCount = 0;
    c.distanceCount = 0;
    c.flagCount = 0;
    c.pendingFlags = 0;
    c.flagBit = 1;
}

struct BlockSizes {
    uint32_t dynamicBytes;  // both with the 3 header bits, rounded up
    uint32_t fixedBytes;
    int32_t lastBitLengthIndex;
};

// The cheaper of the two coded forms; the stored form is weighed against it.
inline uint32_t smallerCodedSize(const BlockSizes& sizes)
{
    return sizes.fixedBytes <= sizes.dynamicBytes ? sizes.fixedBytes : sizes.dynamicBytes;
}

// Builds the block's trees (frequencies become codes) and works out both
// coded sizes.
BlockSizes buildBlockTrees(DeflateContext& c)
{
    buildHuffmanTree(c, c.literalDesc);
    buildHuffmanTree(c, c.distanceDesc);
    countTreeRuns(c, c.literalTree, c.literalDesc.maxCode);
    countTreeRuns(c, c.distanceTree, c.distanceDesc.maxCode);
    buildHuffmanTree(c, c.bitLengthDesc);

    int32_t last = BIT_LENGTH_CODES - 1;
    for (; last >= 3; --last)
        if (c.bitLengthTree[BIT_LENGTH_ORDER[last]].parentOrLength != 0)
            break;
    c.optimalBits += 3 * uint32_t(last + 1) + 5 + 5 + 4;

    BlockSizes sizes;
    sizes.dynamicBytes = (c.optimalBits + 3 + 7) >> 3;
    sizes.fixedBytes = (c.staticBits + 3 + 7) >> 3;
    sizes.lastBitLengthIndex = last;
    return sizes;
}

// Gives count table entries from start on the code, never past tableSize;
// returns the entry after them.
uint32_t fillCodeRange(uint8_t* table, uint32_t tableSize, uint32_t start, uint32_t code,
                       uint32_t count)
{
    for (uint32_t i = start; i < start + count && i < tableSize; ++i)
        table[i] = uint8_t(code);
    return start + count;
}

}  // namespace

void ct_init(DeflateContext& c)
{
    c.compressedBytes = 0;
    c.compressedExtraBits = 0;
    if (c.staticDistanceTree[0].parentOrLength != 0)
        return;

    uint32_t length = 0;
    for (uint32_t code = 0; code < 28; ++code) {
        c.lengthBase[code] = int32_t(length);
        length = fillCodeRange(c.lengthToCode, 256, length, code, 1u << LENGTH_EXTRA_BITS[code]);
    }
    if (length != 256)
        latch(c, "ct_init: length != 256");
    // Length 258 has code 285 of its own, not the top of code 284's range.
    c.lengthToCode[255] = 28;

    uint32_t distance = 0;
    for (uint32_t code = 0; code < 16; ++code) {
        c.distanceBase[code] = int32_t(distance);
        distance = fillCodeRange(c.distanceToCode, 256, distance, code,
                                 1u << DISTANCE_EXTRA_BITS[code]);
    }
    if (distance != 256)
        latch(c, "ct_init: dist != 256");
    // From distance 257 on the table is indexed by (distance - 1) / 128.
    distance >>= 7;
    for (uint32_t code = 16; code < DISTANCE_CODES; ++code) {
        c.distanceBase[code] = int32_t(distance << 7);
        distance = fillCodeRange(c.distanceToCode + 256, 256, distance, code,
                                 1u << (DISTANCE_EXTRA_BITS[code] - 7));
    }
    if (distance != 256)
        latch(c, "ct_init: 256+dist != 512");

    for (auto& count : c.bitLengthCounts)
        count = 0;
    for (uint32_t n = 0; n < FIXED_LITERAL_CODES; ++n) {
        uint32_t bits = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
        c.staticLiteralTree[n].parentOrLength = uint16_t(bits);
        c.bitLengthCounts[bits]++;
    }
    assignCodes(c, c.staticLiteralTree, FIXED_LITERAL_CODES - 1);

    for (uint32_t n = 0; n < DISTANCE_CODES; ++n) {
        c.staticDistanceTree[n].parentOrLength = 5;
        c.staticDistanceTree[n].freqOrCode = uint16_t(reverseBits(n, 5));
    }
    startBlock(c);
}

void tallyBadMatch(DeflateContext& c, uint32_t distanceMinusOne, uint32_t lengthMinus3)
{
    latch(c, "ct_tally: bad match");
    uint32_t code = distanceCode(c, distanceMinusOne);
    if (code >= DISTANCE_CODES)
        code = DISTANCE_CODES - 1;  // keep the count in bounds
    c.literalTree[LENGTH_CODE_BASE + c.lengthToCode[lengthMinus3 & 0xFF]].freqOrCode++;
    c.distanceTree[code].freqOrCode++;
}

bool blockEndsEarly(const DeflateContext& c)
{
    if (c.level <= 2)
        return false;
    uint32_t estimate = c.literalCount * 8;
    for (uint32_t d = 0; d < DISTANCE_CODES; ++d)
        estimate += c.distanceTree[d].freqOrCode * uint32_t(5 + DISTANCE_EXTRA_BITS[d]);
    uint32_t inputCovered = c.position - uint32_t(c.blockStart);
    return c.distanceCount < c.literalCount / 2 && estimate / 8 < inputCovered / 2;
}

uint32_t codedBlockSize(DeflateContext& c)
{
    // Tree building turns frequencies into codes; keep them for the real end.
    uint16_t literalFrequencies[LITERAL_CODES];
    uint16_t distanceFrequencies[DISTANCE_CODES];
    for (uint32_t n = 0; n < LITERAL_CODES; ++n)
        literalFrequencies[n] = c.literalTree[n].freqOrCode;
    for (uint32_t n = 0; n < DISTANCE_CODES; ++n)
        distanceFrequencies[n] = c.distanceTree[n].freqOrCode;
    uint32_t optimalBits = c.optimalBits;
    uint32_t staticBits = c.staticBits;

    BlockSizes sizes = buildBlockTrees(c);

    for (uint32_t n = 0; n < LITERAL_CODES; ++n)
        c.literalTree[n].freqOrCode = literalFrequencies[n];
    for (uint32_t n = 0; n < DISTANCE_CODES; ++n)
        c.distanceTree[n].freqOrCode = distanceFrequencies[n];
    for (uint32_t n = 0; n < BIT_LENGTH_CODES; ++n)
        c.bitLengthTree[n].freqOrCode = 0;
    c.optimalBits = optimalBits;
    c.staticBits = staticBits;
    return smallerCodedSize(sizes);
}

uint32_t finishBlock(DeflateContext& c, const uint8_t* bytes, uint32_t blockLength, bool last)
{
    c.flagBuffer[c.flagCount] = c.pendingFlags;
    BlockSizes sizes = buildBlockTrees(c);
    uint32_t best = smallerCodedSize(sizes);
    const uint32_t lastFlag = last ? 1 : 0;

    if (blockLength + 4 <= best && bytes != nullptr) {
        putBits(c, lastFlag, 3);
        c.compressedBytes += ((c.compressedExtraBits + 3 + 7) >> 3) + blockLength + 4;
        c.compressedExtraBits = 0;
        emitStoredBlock(c, bytes, blockLength);
    } else {
        uint32_t blockBits;
        if (sizes.fixedBytes == best) {
            putBits(c, 2 + lastFlag, 3);
            emitBlockSymbols(c, c.staticLiteralTree, c.staticDistanceTree);
            blockBits = c.staticBits;
        } else {
            putBits(c, 4 + lastFlag, 3);
            int32_t lcodes = c.literalDesc.maxCode + 1;
            int32_t dcodes = c.distanceDesc.maxCode + 1;
            int32_t blcodes = sizes.lastBitLengthIndex + 1;
            if (lcodes < 257 || dcodes < 1 || blcodes < 4)
                latch(c, "not enough codes");
            if (lcodes > 286 || dcodes > 30 || blcodes > 19)
                latch(c, "too many codes");
            putBits(c, uint32_t(lcodes - 257), 5);
            putBits(c, uint32_t(dcodes - 1), 5);
            putBits(c, uint32_t(blcodes - 4), 4);
            for (int32_t i = 0; i < blcodes; ++i)
                putBits(c, c.bitLengthTree[BIT_LENGTH_ORDER[i]].parentOrLength, 3);
            emitTreeRuns(c, c.literalTree, lcodes - 1);
            emitTreeRuns(c, c.distanceTree, dcodes - 1);
            emitBlockSymbols(c, c.literalTree, c.distanceTree);
            blockBits = c.optimalBits;
        }
        c.compressedExtraBits += blockBits + 3;
        c.compressedBytes += c.compressedExtraBits >> 3;
        c.compressedExtraBits &= 7;
    }
    if (c.compressedBytes * 8 + c.compressedExtraBits != c.bitsSent)
        latch(c, "bad compressed size");
    startBlock(c);
    if (last) {
        flushBitBuffer(c);
        if (c.outputFill != 0)
            latch(c, "output lost");
        c.compressedExtraBits += 7;
    }
    return c.compressedBytes + (c.compressedExtraBits >> 3);
}
