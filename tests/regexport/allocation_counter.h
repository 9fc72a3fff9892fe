// Counts the program's operator new calls, so a test can show that work
// grows its allocations with the size of its input or not.
#pragma once
#include <cstddef>

size_t AllocationCount();
