// Compressor callbacks over memory that allocate nothing: the input is read
// from a byte vector and the stream is copied into a buffer sized beforehand.
// Shared by the allocation test and the benchmark.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "deflate.h"

struct MemoryStreams {
    const std::vector<uint8_t>* input;
    size_t readPosition;
    uint8_t* output;
    size_t outputCapacity;
    size_t written;
};

inline uint32_t readMemory(DeflateContext* context, uint8_t* buffer, uint32_t size) {
    MemoryStreams& m = *static_cast<MemoryStreams*>(context->owner);
    size_t n = std::min<size_t>(size, m.input->size() - m.readPosition);
    std::memcpy(buffer, m.input->data() + m.readPosition, n);
    m.readPosition += n;
    return uint32_t(n);
}

// Leaves the fill as it is when the output buffer is full, which the
// compressor reports as lost output.
inline void flushMemory(void* owner, uint8_t* buffer, uint32_t* fill) {
    MemoryStreams& m = *static_cast<MemoryStreams*>(owner);
    if (*fill == 0 || m.written + *fill > m.outputCapacity)
        return;
    std::memcpy(m.output + m.written, buffer, *fill);
    m.written += *fill;
    *fill = 0;
}

// The context reads and writes through the streams, with ioBuffer as its
// output buffer, as the archive writer sets it up for one entry.
inline void attachMemoryStreams(DeflateContext& context, MemoryStreams& streams, uint8_t* ioBuffer,
                                uint32_t ioBufferSize) {
    context.owner = &streams;
    context.readCallback = readMemory;
    context.flushCallback = flushMemory;
    context.outputBuffer = ioBuffer;
    context.outputSize = ioBufferSize;
}
