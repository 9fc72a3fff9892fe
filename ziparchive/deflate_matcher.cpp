// LZ77 half of the compressor: a 64 KiB sliding window, 15-bit hash chains
// and lazy evaluation at level 8; literals and matches go to the block coder.
#include "deflate.h"

#include <cstring>
#include <new>

namespace {

struct LevelParameters {
    uint32_t goodLength;
    uint32_t maxLazy;
    int32_t niceLength;
    uint32_t maxChain;
};

// Rows by level 0..8; only level 8 is used.
const LevelParameters LEVEL_TABLE[9] = {
    {0, 0, 0, 0},       {4, 4, 8, 4},       {4, 5, 16, 8},
    {4, 6, 32, 32},     {4, 4, 16, 16},     {8, 16, 32, 32},
    {8, 16, 128, 128},  {8, 32, 128, 256},  {32, 128, 258, 1024},
};

inline bool endsInput(uint32_t readResult)
{
    return readResult == DEFLATE_READ_END || readResult == DEFLATE_READ_FAILED;
}

// Returns the previous position with the same hash (0 = none). The new chain
// entry takes the candidate and the first three links of the candidate's own
// entry. Where that entry already belongs to a newer position (the candidate
// is 32768 or more back) the copied links are wrong, but a walk never reaches
// them: it stops at the candidate, which is then too far back. Likewise the
// links behind a 0, which may be left from an earlier entry: a walk stops at
// the 0. So the links a walk follows are those of the one-link chain.
inline uint32_t insertString(DeflateContext& c, uint32_t p)
{
    const uint32_t hash = ((c.hash << HASH_SHIFT) ^ c.window[p + 2]) & HASH_MASK;
    c.hash = hash;
    uint32_t candidate = c.hashHead[hash];
    // The links as two 32-bit words, shifted by one link in registers
    // (little-endian: link[0] is the low half of the first word). Named
    // words, not arrays: the 32-bit build kept arrays on the stack.
    static_assert(CHAIN_LINKS == 4, "an entry is moved as two 32-bit words");
    const uint16_t* older = c.chain[candidate & HASH_MASK].link;
    uint32_t olderLow, olderHigh;
    std::memcpy(&olderLow, older, 4);
    std::memcpy(&olderHigh, older + 2, 4);
    const uint32_t newerLow = (olderLow << 16) | candidate;
    const uint32_t newerHigh = (olderHigh << 16) | (olderLow >> 16);
    uint16_t* newer = c.chain[p & HASH_MASK].link;
    std::memcpy(newer, &newerLow, 4);
    std::memcpy(newer + 2, &newerHigh, 4);
    c.hashHead[hash] = uint16_t(p);
    return candidate;
}

// Starts the loads that inserting the next position will wait on (its hash
// head and that head's chain entry), so that they overlap the search at this
// one. Reads only; nothing depends on the values.
inline void touchNextInsertion(const DeflateContext& c)
{
    uint32_t nextHash = ((c.hash << HASH_SHIFT) ^ c.window[c.position + 3]) & HASH_MASK;
    uint32_t head = *static_cast<const volatile uint16_t*>(&c.hashHead[nextHash]);
    (void)*static_cast<const volatile uint16_t*>(&c.chain[head & HASH_MASK].link[0]);
}

inline uint32_t load32(const uint8_t* p)
{
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// The widest word the machine compares in one step.
typedef uintptr_t Word;

inline Word loadWord(const uint8_t* p)
{
    Word value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

inline uint32_t firstDifferentByte(Word difference)
{
    // Words are loaded little-endian: the lowest set bit is the first byte.
    if (sizeof(Word) == 8)
        return uint32_t(__builtin_ctzll(difference)) >> 3;
    return uint32_t(__builtin_ctz(uint32_t(difference))) >> 3;
}

// How many leading bytes of scan and match are equal, at most 258, given that
// bytes 0 to 2 are (bytes 0 and 1 by the quick test, byte 2 by the hash).
// Never reads past offset 258. Out of line: few candidates get this far, and
// the walk keeps its registers.
__attribute__((noinline)) uint32_t matchedLength(const uint8_t* scan, const uint8_t* match)
{
    uint32_t length = MIN_MATCH_LENGTH;
    do {
        Word difference = loadWord(scan + length) ^ loadWord(match + length);
        if (difference != 0) {
            length += firstDifferentByte(difference);
            return length < MAX_MATCH_LENGTH ? length : MAX_MATCH_LENGTH;
        }
        length += sizeof(Word);
    } while (length < MAX_MATCH_LENGTH);
    return MAX_MATCH_LENGTH;
}

// The quick rejection. A candidate can beat bestLength only if bytes 0 to
// bestLength all equal the scan's, so any of them may be tested: the four up
// to bestLength and the first four (bytes 0 to 2 while bestLength is 2).
// It rejects every candidate that the two byte pairs would, and more of them,
// but none that the full comparison would have taken.
struct QuickTest {
    const uint8_t* endBase;  // window + the offset of the four bytes up to bestLength
    uint32_t endWord;
    uint32_t startWord;
    uint32_t mask;
};

inline QuickTest quickTestFor(const uint8_t* window, const uint8_t* scan, uint32_t bestLength)
{
    QuickTest t;
    const uint32_t endOffset = bestLength >= 3 ? bestLength - 3 : 0;
    t.endBase = window + endOffset;
    t.mask = bestLength >= 3 ? 0xFFFFFFFFu : 0x00FFFFFFu;
    t.endWord = load32(scan + endOffset);
    t.startWord = load32(scan);
    return t;
}

// Two tests, the end word first: it rejects most candidates alone, and the
// start word is then loaded only for the few it lets through. Masked is false
// where bestLength is known to be at least 3, so that the mask is all ones.
inline bool startWordMatches(const QuickTest& t, const uint8_t* window, uint32_t candidate,
                             uint32_t mask)
{
    return ((load32(window + candidate) ^ t.startWord) & mask) == 0;
}

template <bool Masked>
inline bool mayBeLonger(const QuickTest& t, const uint8_t* window, uint32_t candidate)
{
    const uint32_t mask = Masked ? t.mask : 0xFFFFFFFFu;
    if (((load32(t.endBase + candidate) ^ t.endWord) & mask) != 0)
        return false;
    return startWordMatches(t, window, candidate, mask);
}

// One search's state. The walk keeps only the quick test and the chain in
// registers; a candidate that passes the quick test goes out of line.
struct Search {
    QuickTest test;
    const uint8_t* window;
    const uint8_t* scan;
    uint32_t bestLength;
    uint32_t niceLength;
    uint32_t matchStart;
    bool brokenChain;
};

// Compares a candidate that passed the quick test; true when its match is
// long enough to end the search.
__attribute__((noinline)) bool endsWithCandidate(Search& s, uint32_t candidate)
{
    uint32_t length = matchedLength(s.scan, s.window + candidate);
    if (length <= s.bestLength)
        return false;
    s.matchStart = candidate;
    s.bestLength = length;
    if (length >= s.niceLength)
        return true;
    s.test = quickTestFor(s.window, s.scan, length);
    return false;
}

template <bool Masked>
inline bool endsSearch(Search& s, uint32_t candidate)
{
    return mayBeLonger<Masked>(s.test, s.window, candidate) && endsWithCandidate(s, candidate);
}

// The rest of the quick test for a candidate whose end word passed, then
// endsWithCandidate. Out of line, like it: few candidates get this far.
__attribute__((noinline)) bool endsWithCandidatePastEndWord(Search& s, uint32_t offset,
                                                             uint32_t lowest)
{
    const uint32_t candidate = offset + lowest;
    return startWordMatches(s.test, s.window, candidate, s.test.mask) &&
           endsWithCandidate(s, candidate);
}

// Visits up to budget - 1 links of the candidate's chain, above limit and
// below the search position. Masked as for mayBeLonger: bestLength only
// grows, so a walk that starts at 3 or more may drop the mask.
template <bool Masked>
void walkLinks(Search& s, const ChainEntry* chain, uint32_t candidate, uint32_t budget,
               uint32_t limit)
{
    // Follows a link: the chain ends at or below limit; a link not below
    // the position is a broken chain. One unsigned test for both, on the
    // link's offset above lowest, which also addresses the quick test's end
    // word (its base moved up by lowest): the 32-bit build then keeps the
    // walk in registers, at six instructions per link.
    const uint32_t lowest = limit + 1;
    const uint32_t span = uint32_t(s.scan - s.window) - lowest;
    const uint8_t* endAbove = s.test.endBase + lowest;
    uint32_t endWord = s.test.endWord;
    auto endsAt = [&](uint32_t link) {
        const uint32_t offset = link - lowest;
        if (offset >= span) {
            // link > limit, told from the offset (a link below lowest wraps
            // it to 0 - lowest or more), so that the link need not be kept.
            s.brokenChain = offset < 0u - lowest;
            return true;
        }
        const uint32_t mask = Masked ? s.test.mask : 0xFFFFFFFFu;
        if (((load32(endAbove + offset) ^ endWord) & mask) != 0)
            return false;
        if (endsWithCandidatePastEndWord(s, offset, lowest))
            return true;
        endAbove = s.test.endBase + lowest;  // a longer match moves the test
        endWord = s.test.endWord;
        return false;
    };

    // The budget counts the candidates compared, this one included; it is
    // taken four links at a time. Each entry holds the next four links; the
    // address of the entry after it, that of its last link, is taken first,
    // so that the processor loads it while the four are compared.
    uint32_t remaining = budget - 1;
    const uint16_t* links = chain[candidate & HASH_MASK].link;
    while (remaining >= CHAIN_LINKS) {
        const uint16_t* aheadLinks = chain[links[CHAIN_LINKS - 1] & HASH_MASK].link;
#pragma GCC unroll 8
        for (uint32_t k = 0; k < CHAIN_LINKS; ++k)
            if (endsAt(links[k]))
                return;
        remaining -= CHAIN_LINKS;
        links = aheadLinks;
    }
    for (uint32_t k = 0; k < remaining; ++k)
        if (endsAt(links[k]))
            return;
}

// Visits the candidate and then up to budget - 1 links of its chain.
void walkChain(Search& s, const ChainEntry* chain, uint32_t candidate, uint32_t budget,
               uint32_t limit)
{
    s.brokenChain = false;
    if (endsSearch<true>(s, candidate))
        return;
    if (s.bestLength >= MIN_MATCH_LENGTH)
        walkLinks<false>(s, chain, candidate, budget, limit);
    else
        walkLinks<true>(s, chain, candidate, budget, limit);
}

// Both hash tables hold 16-bit positions; two are rebased per 32-bit step:
// v becomes v - 32768 when its top bit is set (v & 0x7FFF), else 0.
void rebaseHalfWords(void* table, size_t bytes)
{
    uint8_t* p = static_cast<uint8_t*>(table);
    for (size_t i = 0; i < bytes; i += 4) {
        uint32_t w;
        std::memcpy(&w, p + i, 4);
        w &= ((w >> 15) & 0x00010001u) * 0x7FFFu;
        std::memcpy(p + i, &w, 4);
    }
}

void slideWindow(DeflateContext& c)
{
    std::memcpy(c.window, c.window + WINDOW_HALF, WINDOW_HALF);
    c.matchStart -= WINDOW_HALF;
    c.position -= WINDOW_HALF;
    c.blockStart -= int32_t(WINDOW_HALF);
    rebaseHalfWords(c.hashHead, sizeof c.hashHead);
    rebaseHalfWords(c.chain, sizeof c.chain);
}

void setDescriptors(DeflateContext& c)
{
    c.literalDesc = {c.literalTree, c.staticLiteralTree, LENGTH_EXTRA_BITS, 257, 286, 15, 0};
    c.distanceDesc = {c.distanceTree, c.staticDistanceTree, DISTANCE_EXTRA_BITS, 0, 30, 15, 0};
    c.bitLengthDesc = {c.bitLengthTree, nullptr, BIT_LENGTH_EXTRA_BITS, 0, 19, 7, 0};
}

// Brings a context, new or used for earlier entries, to the state a new
// context has, as far as anything the entry reads before writing it: the
// per-entry fields and the window (a comparison near the end of the input
// reads bytes past it). hashHead is cleared by runDeflate.
void startEntry(DeflateContext& c)
{
    uint8_t* first = reinterpret_cast<uint8_t*>(&c.level);
    uint8_t* end = reinterpret_cast<uint8_t*>(&c.errorText + 1);
    std::memset(first, 0, size_t(end - first));
    setDescriptors(c);
    std::memset(c.window, 0, sizeof c.window);
}

inline const uint8_t* blockBytes(const DeflateContext& c)
{
    return c.blockStart >= 0 ? c.window + c.blockStart : nullptr;
}

// Ends the open block at end (a window position) and opens the next there.
inline void endBlockAt(DeflateContext& c, uint32_t end)
{
    finishBlock(c, blockBytes(c), end - uint32_t(c.blockStart), false);
    c.blockStart = int32_t(end);
}

// A slide is due and would push the open block's first bytes out of the
// window, after which the block could no longer be stored. When storing it
// now is no larger than coding it, end it here so that incompressible data
// grows by a stored block's header only.
void endStorableBlockBeforeSlide(DeflateContext& c, bool byteWaiting)
{
    if (c.position < SLIDE_THRESHOLD || c.blockStart < 0 ||
        uint32_t(c.blockStart) >= WINDOW_HALF || c.literalCount == 0)
        return;
    uint32_t end = c.position - (byteWaiting ? 1 : 0);
    uint32_t length = end - uint32_t(c.blockStart);
    if (length + 4 <= codedBlockSize(c))
        endBlockAt(c, end);
}

}  // namespace

DeflateContext* createDeflateContext()
{
    DeflateContext* context = new (std::nothrow) DeflateContext;
    if (context != nullptr)
        resetDeflateContext(*context);
    return context;
}

void destroyDeflateContext(DeflateContext* context)
{
    delete context;
}

void resetDeflateContext(DeflateContext& c)
{
    // memset, not assignment: a temporary of this size would not fit a thread stack.
    std::memset(&c, 0, sizeof c);
    setDescriptors(c);
}

uint32_t runDeflate(DeflateContext& c)
{
    // Every per-entry field starts at zero (no error, empty bit buffer and
    // output, position and block start 0) but these two.
    startEntry(c);
    c.level = DEFLATE_LEVEL;
    c.flushMode = 1;
    if (c.outputBuffer == nullptr || c.outputSize < 2 || c.readCallback == nullptr ||
        c.flushCallback == nullptr) {
        latch(c, "bad output");
        return 0;
    }

    ct_init(c);
    if (c.level < 1 || c.level > 8)
        latch(c, "bad pack level");

    c.slideEnabled = 0;
    if (c.windowSize == 0) {
        c.slideEnabled = 1;
        c.windowSize = WINDOW_SIZE;
    }
    for (uint32_t i = 0; i < HASH_SIZE; ++i)
        c.hashHead[i] = 0;

    const LevelParameters& row = LEVEL_TABLE[DEFLATE_LEVEL];
    c.goodLength = row.goodLength;
    c.maxLazy = row.maxLazy;
    c.niceLength = row.niceLength;
    c.maxChain = row.maxChain;

    c.lookahead = c.readCallback(&c, c.window, WINDOW_SIZE);
    if (endsInput(c.lookahead)) {
        c.endOfInput = 1;
        c.lookahead = 0;
    } else {
        c.endOfInput = 0;
        if (c.lookahead < REFILL_THRESHOLD)
            loadMoreInput(c);
        c.hash = ((uint32_t(c.window[0]) << HASH_SHIFT) ^ c.window[1]) & HASH_MASK;
    }
    return compressLazy(c);
}

void loadMoreInput(DeflateContext& c)
{
    do {
        uint32_t free = c.windowSize - c.position - c.lookahead;
        if (c.position >= SLIDE_THRESHOLD && c.slideEnabled) {
            slideWindow(c);
            free += WINDOW_HALF;
        }
        if (c.endOfInput)
            return;
        if (free < 2)
            latch(c, "more < 2");
        uint32_t n = c.readCallback(&c, c.window + c.position + c.lookahead, free);
        if (endsInput(n))
            c.endOfInput = 1;
        else
            c.lookahead += n;
    } while (c.lookahead < REFILL_THRESHOLD && !c.endOfInput);
}

uint32_t searchMatchChain(DeflateContext& c, uint32_t candidate)
{
    uint32_t budget = c.maxChain;
    if (c.previousLength >= c.goodLength)
        budget >>= 2;
    uint32_t bestLength = c.previousLength;
    const uint32_t position = c.position;
    const uint32_t limit = position > MAX_MATCH_DISTANCE ? position - MAX_MATCH_DISTANCE : 0;

    // The comparison reads up to window[position + 258]; never search where
    // that would leave the window.
    if (position > c.windowSize - REFILL_THRESHOLD || c.windowSize > WINDOW_SIZE) {
        latch(c, "insufficient lookahead");
        return bestLength;
    }
    if (candidate >= position) {
        latch(c, "no future");
        return bestLength;
    }
    Search search;
    search.window = c.window;
    search.scan = c.window + position;
    search.bestLength = bestLength;
    search.niceLength = uint32_t(c.niceLength);
    search.matchStart = c.matchStart;
    search.test = quickTestFor(search.window, search.scan, bestLength);
    walkChain(search, c.chain, candidate, budget, limit);
    if (search.brokenChain)
        latch(c, "no future");
    c.matchStart = search.matchStart;
    return search.bestLength;
}

uint32_t compressLazy(DeflateContext& c)
{
    uint32_t matchLength = MIN_MATCH_LENGTH - 1;
    bool matchAvailable = false;

    while (c.lookahead != 0) {
        // With fewer than 3 bytes left no string is inserted and no match
        // can begin.
        uint32_t candidate = 0;
        if (c.lookahead >= MIN_MATCH_LENGTH)
            candidate = insertString(c, c.position);

        if (c.lookahead > MIN_MATCH_LENGTH)
            touchNextInsertion(c);

        c.previousLength = matchLength;
        const uint32_t previousMatch = c.matchStart;
        matchLength = MIN_MATCH_LENGTH - 1;

        if (candidate != 0 && c.previousLength < c.maxLazy &&
            c.position - candidate <= MAX_MATCH_DISTANCE) {
            if (c.niceLength > int32_t(c.lookahead))
                c.niceLength = int32_t(c.lookahead);
            matchLength = searchMatchChain(c, candidate);
            if (matchLength > c.lookahead)
                matchLength = c.lookahead;
            // A 3-byte match far back costs more bits than three literals.
            if (matchLength == MIN_MATCH_LENGTH && c.position - c.matchStart > FAR_MATCH_LIMIT)
                matchLength = MIN_MATCH_LENGTH - 1;
        }

        if (c.previousLength >= MIN_MATCH_LENGTH && matchLength <= c.previousLength) {
            // The match found at the previous position is at least as good.
            const uint32_t maxInsert = c.position + c.lookahead - MIN_MATCH_LENGTH;
            int endBlock = ct_tally(c, c.position - 1 - previousMatch,
                                    c.previousLength - MIN_MATCH_LENGTH);
            c.lookahead -= c.previousLength - 1;
            const uint32_t matchEnd = c.position + c.previousLength - 1;
            const uint32_t lastInsert = matchEnd - 1 <= maxInsert ? matchEnd - 1 : maxInsert;
            for (uint32_t p = c.position + 1; p <= lastInsert; ++p)
                insertString(c, p);
            c.position = matchEnd;
            matchAvailable = false;
            matchLength = MIN_MATCH_LENGTH - 1;
            if (endBlock)
                endBlockAt(c, c.position);
        } else if (matchAvailable) {
            if (ct_tally(c, 0, c.window[c.position - 1]))
                endBlockAt(c, c.position);
            ++c.position;
            --c.lookahead;
        } else {
            matchAvailable = true;
            ++c.position;
            --c.lookahead;
        }

        if (c.lookahead < REFILL_THRESHOLD) {
            endStorableBlockBeforeSlide(c, matchAvailable);
            loadMoreInput(c);
        }
    }

    if (matchAvailable)
        ct_tally(c, 0, c.window[c.position - 1]);
    return finishBlock(c, blockBytes(c), c.position - uint32_t(c.blockStart), true);
}
