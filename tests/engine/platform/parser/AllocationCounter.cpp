#include "tests/engine/platform/parser/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool tCounting = false;
thread_local long tAllocations = 0;

void* countedAlloc(std::size_t size) {
    if (tCounting) {
        ++tAllocations;
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

}  // namespace

void* operator new(std::size_t size) {
    return countedAlloc(size);
}
void* operator new[](std::size_t size) {
    return countedAlloc(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace orvento::test {

void startCountingAllocations() {
    tAllocations = 0;
    tCounting = true;
}

long stopCountingAllocations() {
    tCounting = false;
    return tAllocations;
}

}  // namespace orvento::test
