// While it lives, the calling thread's floating point flushes numbers too
// small to be normal (below about 1e-308 for a double) to zero, and reads them
// as zero. A recursive filter fed silence decays into that range, where every
// multiply takes the processor a slow path, many times the cost of a normal
// one; nothing audible or measurable is that small.
#pragma once

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace orvento {

class FlushDenormals {
  public:
#if defined(__SSE2__)
    // Flush to zero (bit 15) and denormals are zero (bit 6).
    FlushDenormals() : saved_(_mm_getcsr()) {
        _mm_setcsr(saved_ | 0x8040U);
    }
    ~FlushDenormals() {
        _mm_setcsr(saved_);
    }
#else
    FlushDenormals() = default;
#endif
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;

#if defined(__SSE2__)
  private:
    unsigned int saved_;
#endif
};

}  // namespace orvento
