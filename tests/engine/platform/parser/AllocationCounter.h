// Counts heap allocations made through operator new on the calling thread.
// Linking AllocationCounter.cpp replaces the program's global allocator.
#pragma once

namespace orvento::test {

void startCountingAllocations();
// The allocations since the matching start.
long stopCountingAllocations();

}  // namespace orvento::test
