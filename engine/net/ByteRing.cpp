#include "engine/net/ByteRing.h"

#include <algorithm>
#include <cstring>

namespace orvento {

void ByteRing::write(const char* data, std::size_t bytes) {
    if (storage_.empty()) {
        storage_.resize(std::max(capacity_, bytes));
    } else if (bytes > freeSpace()) {
        std::vector<unsigned char> bigger(size_ + bytes);
        read(bigger.data(), size_);
        size_ = bigger.size() - bytes;
        head_ = 0;
        storage_.swap(bigger);
    }
    const std::size_t tail = (head_ + size_) % storage_.size();
    const std::size_t first = std::min(bytes, storage_.size() - tail);
    std::memcpy(storage_.data() + tail, data, first);
    std::memcpy(storage_.data(), data + first, bytes - first);
    size_ += bytes;
}

std::size_t ByteRing::read(unsigned char* out, std::size_t wanted) {
    const std::size_t bytes = std::min(wanted, size_);
    if (bytes == 0) {
        return 0;
    }
    const std::size_t first = std::min(bytes, storage_.size() - head_);
    std::memcpy(out, storage_.data() + head_, first);
    std::memcpy(out + first, storage_.data(), bytes - first);
    head_ = (head_ + bytes) % storage_.size();
    size_ -= bytes;
    return bytes;
}

void ByteRing::release() {
    std::vector<unsigned char>().swap(storage_);
    head_ = 0;
    size_ = 0;
}

}  // namespace orvento
