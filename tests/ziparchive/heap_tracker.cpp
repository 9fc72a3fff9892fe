#include "heap_tracker.h"

#include <cstdlib>
#include <new>

namespace {

// Each block carries its size in front, kept to 16 bytes for alignment.
const size_t PREFIX = 16;
size_t allocations = 0;
size_t liveBytes = 0;

void* allocate(size_t size) {
    void* block = std::malloc(size + PREFIX);
    if (block == nullptr)
        return nullptr;
    *static_cast<size_t*>(block) = size;
    ++allocations;
    liveBytes += size;
    return static_cast<char*>(block) + PREFIX;
}

void release(void* pointer) {
    if (pointer == nullptr)
        return;
    void* block = static_cast<char*>(pointer) - PREFIX;
    liveBytes -= *static_cast<size_t*>(block);
    std::free(block);
}

}  // namespace

namespace ziptest {

HeapUse CurrentHeapUse() {
    return HeapUse{allocations, liveBytes};
}

}  // namespace ziptest

void* operator new(size_t size) {
    void* pointer = allocate(size);
    if (pointer == nullptr)
        throw std::bad_alloc();
    return pointer;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* pointer) noexcept {
    release(pointer);
}
void operator delete[](void* pointer) noexcept {
    release(pointer);
}
void operator delete(void* pointer, size_t) noexcept {
    release(pointer);
}
void operator delete[](void* pointer, size_t) noexcept {
    release(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
    release(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
    release(pointer);
}
