// The body bytes an HTTP read stream has received and its reader has not
// read yet: a ring of fixed capacity, allocated on the first write, which
// grows only to take a single piece larger than its whole capacity. One
// thread only.
//
// A live stream trickles in and is read as it comes, so the ring is mostly
// empty: it then starts again at its front, and only the pages a burst
// reaches are ever touched.
#pragma once

#include <cstddef>
#include <memory>

namespace orvento {

class ByteRing {
  public:
    explicit ByteRing(std::size_t capacity) : capacity_(capacity) {}

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return storage_ ? storageSize_ : capacity_; }
    std::size_t freeSpace() const { return capacity() - size_; }

    // Appends `bytes` bytes; the ring grows when they do not fit.
    void write(const char* data, std::size_t bytes);
    // Takes up to `wanted` bytes, oldest first; returns how many.
    std::size_t read(unsigned char* out, std::size_t wanted);
    // Frees the memory; the ring is empty.
    void release();

  private:
    const std::size_t capacity_;
    std::unique_ptr<unsigned char[]> storage_;
    std::size_t storageSize_ = 0;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace orvento
