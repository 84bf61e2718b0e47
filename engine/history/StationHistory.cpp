#include "engine/history/StationHistory.h"

#include <algorithm>
#include <cstring>

namespace orvento {

namespace {
// The ring's first size; it doubles from there as the window fills.
constexpr std::size_t kInitialRing = std::size_t{64} << 10;
}  // namespace

StationHistory::StationHistory(std::chrono::seconds window, std::size_t maxBytes)
    : maxBytes_(maxBytes), ringLimit_(maxBytes / 4 * 3), window_(window) {}

void StationHistory::setWindow(std::chrono::seconds window) {
    std::lock_guard lock(mutex_);
    window_ = window;
}

std::size_t StationHistory::recordLimit() const {
    return (maxBytes_ - ringLimit_) / sizeof(Record);
}

void StationHistory::beginStream(const AudioFormat& format, std::span<const std::uint8_t> cookie,
                                 std::string station) {
    std::lock_guard lock(mutex_);
    const bool afterGap = !segments_.empty();
    segments_.push_back(Segment{nextSegment_++, format,
                                std::vector<std::uint8_t>(cookie.begin(), cookie.end()), afterGap,
                                std::move(station)});
    streaming_ = true;
}

void StationHistory::endStream() {
    std::lock_guard lock(mutex_);
    streaming_ = false;
}

void StationHistory::append(std::span<const std::uint8_t> packet, std::uint32_t frames,
                            Clock::time_point arrival, double seconds) {
    std::lock_guard lock(mutex_);
    if (!streaming_ || packet.empty() || packet.size() > ringLimit_) {
        return;
    }
    // Age first, then room: the window and the byte bound both hold after
    // every append.
    while (!records_.empty() && records_.front().arrival < arrival - window_) {
        dropOldest();
    }
    const auto held = [this] { return records_.empty() ? 0 : head_ - records_.front().at; };
    if (held() + packet.size() > ring_.size()) {
        growRing(held() + packet.size());
    }
    while (!records_.empty() &&
           (held() + packet.size() > ring_.size() || records_.size() >= recordLimit())) {
        dropOldest();
    }
    writeAt(head_, packet);
    records_.push_back(Record{head_, static_cast<std::uint32_t>(packet.size()), frames, seconds,
                              arrival, segments_.back().id});
    head_ += packet.size();
}

void StationHistory::dropOldest() {
    const std::uint64_t segment = records_.front().segment;
    records_.pop_front();
    // A segment without packets goes too, unless it is the stream being
    // written.
    while (segments_.size() > 1 && segments_.front().id <= segment &&
           (records_.empty() || records_.front().segment != segments_.front().id)) {
        segments_.pop_front();
    }
}

void StationHistory::growRing(std::size_t needed) {
    if (ring_.size() >= ringLimit_) {
        return;
    }
    std::size_t size = std::max(ring_.size(), kInitialRing);
    while (size < needed) {
        size *= 2;
    }
    size = std::min(size, ringLimit_);
    // The bytes kept keep their positions modulo the new size.
    std::vector<std::uint8_t> kept;
    for (const Record& record : records_) {
        copyOut(record, kept);
    }
    ring_.assign(size, 0);
    if (!records_.empty()) {
        writeAt(records_.front().at, kept);
    }
}

void StationHistory::writeAt(std::uint64_t at, std::span<const std::uint8_t> bytes) {
    const std::size_t start = at % ring_.size();
    const std::size_t first = std::min(bytes.size(), ring_.size() - start);
    std::memcpy(ring_.data() + start, bytes.data(), first);
    std::memcpy(ring_.data(), bytes.data() + first, bytes.size() - first);
}

void StationHistory::copyOut(const Record& record, std::vector<std::uint8_t>& to) const {
    const std::size_t start = record.at % ring_.size();
    const std::size_t first = std::min<std::size_t>(record.size, ring_.size() - start);
    to.insert(to.end(), ring_.begin() + static_cast<std::ptrdiff_t>(start),
              ring_.begin() + static_cast<std::ptrdiff_t>(start + first));
    to.insert(to.end(), ring_.begin(),
              ring_.begin() + static_cast<std::ptrdiff_t>(record.size - first));
}

template <typename Wanted>
std::vector<StationHistory::Excerpt> StationHistory::collect(Wanted wanted) const {
    std::lock_guard lock(mutex_);
    std::vector<Excerpt> excerpts;
    std::uint64_t segment = ~std::uint64_t{0};
    for (const Record& record : records_) {
        if (!wanted(record)) {
            continue;
        }
        if (excerpts.empty() || record.segment != segment) {
            segment = record.segment;
            const auto found = std::find_if(segments_.begin(), segments_.end(),
                                            [&](const Segment& s) { return s.id == segment; });
            Excerpt excerpt;
            excerpt.format = found->format;
            excerpt.cookie = found->cookie;
            excerpt.fromSeconds = record.seconds;
            excerpt.firstArrival = record.arrival;
            excerpt.afterGap = found->afterGap;
            excerpt.station = found->station;
            excerpts.push_back(std::move(excerpt));
        }
        Excerpt& excerpt = excerpts.back();
        if (excerpt.format.formatId != kFormatLinearPcm) {
            excerpt.descriptions.push_back(PacketDescription{
                static_cast<std::int64_t>(excerpt.bytes.size()), record.frames, record.size});
        }
        copyOut(record, excerpt.bytes);
        excerpt.toSeconds =
            record.seconds +
            (excerpt.format.sampleRate > 0 ? record.frames / excerpt.format.sampleRate : 0.0);
    }
    return excerpts;
}

std::vector<StationHistory::Excerpt> StationHistory::between(double fromSeconds,
                                                             double toSeconds) const {
    return collect([&](const Record& record) {
        return record.seconds <= toSeconds && record.seconds >= fromSeconds - kLeadInSeconds;
    });
}

std::vector<StationHistory::Excerpt> StationHistory::since(Clock::time_point from) const {
    return collect([&](const Record& record) { return record.arrival >= from; });
}

std::size_t StationHistory::packetCount() const {
    std::lock_guard lock(mutex_);
    return records_.size();
}

std::size_t StationHistory::packetBytes() const {
    std::lock_guard lock(mutex_);
    return records_.empty() ? 0 : head_ - records_.front().at;
}

std::size_t StationHistory::memoryBytes() const {
    std::lock_guard lock(mutex_);
    return ring_.size() + records_.size() * sizeof(Record);
}

std::size_t StationHistory::segmentCount() const {
    std::lock_guard lock(mutex_);
    return segments_.size();
}

}  // namespace orvento
