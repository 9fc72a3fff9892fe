// Counts the test program's operator new calls and the bytes they hold, so a
// test can show what an add leaves behind.
#pragma once
#include <cstddef>

namespace ziptest {

struct HeapUse {
    size_t allocations;  // operator new calls so far
    size_t liveBytes;    // bytes allocated and not yet freed
};

HeapUse CurrentHeapUse();

}  // namespace ziptest
