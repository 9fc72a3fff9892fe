// Counts the program's operator new calls, so a test can show whether work
// grows its allocations with the size of its input, and lets large ones fail.
#pragma once
#include <cstddef>

size_t AllocationCount();

// From now on, allocations of more than bytes fail with std::bad_alloc; 0 ends that.
void FailAllocationsOver(size_t bytes);
