// PacketTap: sees the stream's own compressed packets as the player parses
// them, for a history of what was heard, a recording or a live edge.
//
// Threads: every call comes on the player's worker thread, from inside its
// parse call or its teardown, in stream order. A tap must not block the
// worker for long: it reads nothing from the network meanwhile.
//
// Order, per stream: formatKnown, then any number of packets, then
// streamEnded (also for a stream that failed, was stopped or never got as far
// as its format). A tap given to several players in turn (a reconnection)
// sees each stream so, one after the other.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "engine/base/AudioFormat.h"

namespace orvento {

class PacketTap {
  public:
    virtual ~PacketTap() = default;
    // Once per stream, when the parser knows the format, before that stream's
    // first packets. The cookie is empty for formats without one.
    virtual void formatKnown(const AudioFormat& format,
                             std::span<const std::uint8_t> magicCookie) = 0;
    // Every parsed packet in stream order, also those the player does not
    // play; descriptions are empty for constant-size formats (linear PCM),
    // whose data is then one plain run of bytes. arrival: when the bytes came
    // off the network.
    virtual void packets(std::span<const std::uint8_t> data,
                         std::span<const PacketDescription> descriptions,
                         std::chrono::steady_clock::time_point arrival) = 0;
    // The stream ended, for any cause.
    virtual void streamEnded() = 0;
};

}  // namespace orvento
