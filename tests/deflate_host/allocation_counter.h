// Every operator new of the test program is counted (replaced in
// allocation_counter.cpp), so a test can show that a call allocates nothing.
#pragma once

#include <cstdint>

uint32_t allocationCount();
