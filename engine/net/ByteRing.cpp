#include "engine/net/ByteRing.h"

#include <algorithm>
#include <cstring>

namespace orvento {

void ByteRing::write(const char* data, std::size_t bytes) {
    if (bytes == 0) {
        return;
    }
    if (!storage_) {
        storageSize_ = std::max(capacity_, bytes);
        storage_ = std::make_unique_for_overwrite<unsigned char[]>(storageSize_);
    } else if (bytes > freeSpace()) {
        const std::size_t biggerSize = size_ + bytes;
        auto bigger = std::make_unique_for_overwrite<unsigned char[]>(biggerSize);
        read(bigger.get(), size_);
        size_ = biggerSize - bytes;
        head_ = 0;
        storage_ = std::move(bigger);
        storageSize_ = biggerSize;
    }
    const std::size_t tail = (head_ + size_) % storageSize_;
    const std::size_t first = std::min(bytes, storageSize_ - tail);
    std::memcpy(storage_.get() + tail, data, first);
    std::memcpy(storage_.get(), data + first, bytes - first);
    size_ += bytes;
}

std::size_t ByteRing::read(unsigned char* out, std::size_t wanted) {
    const std::size_t bytes = std::min(wanted, size_);
    if (bytes == 0) {
        return 0;
    }
    const std::size_t first = std::min(bytes, storageSize_ - head_);
    std::memcpy(out, storage_.get() + head_, first);
    std::memcpy(out + first, storage_.get(), bytes - first);
    size_ -= bytes;
    // Emptied: the next bytes go to the front, onto pages already in use.
    head_ = size_ == 0 ? 0 : (head_ + bytes) % storageSize_;
    return bytes;
}

void ByteRing::release() {
    storage_.reset();
    storageSize_ = 0;
    head_ = 0;
    size_ = 0;
}

}  // namespace orvento
