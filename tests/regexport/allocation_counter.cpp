#include "allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {
size_t allocations = 0;
size_t failOver = 0;
}

size_t AllocationCount() { return allocations; }

void FailAllocationsOver(size_t bytes) { failOver = bytes; }

void* operator new(size_t size) {
    ++allocations;
    if (failOver != 0 && size > failOver)
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
