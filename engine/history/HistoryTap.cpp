#include "engine/history/HistoryTap.h"

namespace orvento {

class HistoryTap::PlayerTap final : public PacketTap {
  public:
    PlayerTap(std::shared_ptr<HistoryTap> owner, std::uint64_t player, std::string station)
        : owner_(std::move(owner)), player_(player), station_(std::move(station)) {}
    void formatKnown(const AudioFormat& format,
                     std::span<const std::uint8_t> magicCookie) override {
        owner_->formatKnown(player_, station_, format, magicCookie);
    }
    void packets(std::span<const std::uint8_t> data,
                 std::span<const PacketDescription> descriptions,
                 std::chrono::steady_clock::time_point arrival) override {
        owner_->packets(player_, data, descriptions, arrival);
    }
    void streamEnded() override { owner_->streamEnded(player_); }

  private:
    const std::shared_ptr<HistoryTap> owner_;
    const std::uint64_t player_;
    const std::string station_;
};

HistoryTap::HistoryTap(std::shared_ptr<StationHistory> history, EventHandler onEvent)
    : history_(std::move(history)),
      onEvent_(std::move(onEvent)),
      detector_([this](const TransmissionDetector::Event& event) {
          // On the feeding thread, inside the detector's feed() or finish().
          if (holding_) {
              held_.push_back(event);
          } else {
              onEvent_(event, detector_.seconds(), station_);
          }
      }) {}

void HistoryTap::releaseHeld(double ranOn) {
    holding_ = false;
    for (const TransmissionDetector::Event& event : held_) {
        onEvent_(event, detector_.seconds() + ranOn, station_);
    }
    held_.clear();
}

std::shared_ptr<PacketTap> HistoryTap::forPlayer(std::string station) {
    std::lock_guard lock(mutex_);
    return std::make_shared<PlayerTap>(shared_from_this(), ++players_, std::move(station));
}

void HistoryTap::formatKnown(std::uint64_t player, const std::string& station,
                             const AudioFormat& format, std::span<const std::uint8_t> magicCookie) {
    std::lock_guard lock(mutex_);
    if (player < newest_) {
        return;  // an older player, after a newer one began
    }
    if (streaming_) {
        // The previous stream never said it ended: it has now.
        releaseHeld(0);
        detector_.finish();
        history_->endStream();
    }
    newest_ = player;
    streaming_ = true;
    station_ = station;
    lastArrival_ = {};
    lastReadSeconds_ = 0;
    format_ = format;
    cookie_.assign(magicCookie.begin(), magicCookie.end());
    if (recorder_) {
        recorder_->formatKnown(format, magicCookie);
    }
    history_->beginStream(format, magicCookie, station);
    decoder_.reset();
    problem_.clear();
    if (makeDecoder(format, decoder_, problem_) == QueueError::None && !magicCookie.empty()) {
        decoder_->setCookie(std::as_bytes(magicCookie));
    }
}

void HistoryTap::packets(std::uint64_t player, std::span<const std::uint8_t> data,
                         std::span<const PacketDescription> descriptions,
                         std::chrono::steady_clock::time_point arrival) {
    std::lock_guard lock(mutex_);
    if (player != newest_ || !streaming_) {
        return;
    }
    if (recorder_) {
        recorder_->packets(data, descriptions, arrival);
    }
    // A server's opening burst (a reconnection's too) comes faster than the
    // audio plays, and only its newest audio is live. The detector's events
    // wait until a read comes at the station's own pace (no sooner after the
    // one before than half the audio that one held), so that where they lie
    // in time is reckoned from the burst's end, not from however much of it
    // had come when they were found.
    const double sinceLastRead = std::chrono::duration<double>(arrival - lastArrival_).count();
    const bool paced = lastArrival_ != std::chrono::steady_clock::time_point{} &&
                       sinceLastRead >= lastReadSeconds_ / 2;
    if (paced) {
        // What came last was live when it came; the audio has run on since.
        releaseHeld(sinceLastRead);
    }
    holding_ = !paced;
    lastArrival_ = arrival;
    const double fedBefore = detector_.seconds();
    if (descriptions.empty()) {
        // Linear PCM: a run of whole frames.
        const std::uint32_t frames =
            format_.bytesPerFrame > 0
                ? static_cast<std::uint32_t>(data.size() / format_.bytesPerFrame)
                : 0;
        history_->append(data, frames, arrival, detector_.seconds());
        feed(data, false);
        lastReadSeconds_ = detector_.seconds() - fedBefore;
        return;
    }
    for (const PacketDescription& description : descriptions) {
        if (description.startOffset < 0 ||
            static_cast<std::uint64_t>(description.startOffset) + description.byteSize >
                data.size()) {
            continue;
        }
        const auto packet =
            data.subspan(static_cast<std::size_t>(description.startOffset), description.byteSize);
        const std::uint32_t frames =
            description.framesInPacket != 0 ? description.framesInPacket : format_.framesPerPacket;
        history_->append(packet, frames, arrival, detector_.seconds());
        feed(packet, true);
    }
    lastReadSeconds_ = detector_.seconds() - fedBefore;
}

void HistoryTap::feed(std::span<const std::uint8_t> packet, bool wholePacket) {
    if (!decoder_) {
        return;
    }
    decoded_.clear();
    decoder_->decode(std::as_bytes(packet), wholePacket, decoded_);
    feedDecoded();
}

void HistoryTap::feedDecoded() {
    for (const PcmBuffer::Piece& piece : decoded_.pieces()) {
        detector_.feed(decoded_.samples(piece), piece.frames, piece.format.sampleRate,
                       piece.format.channels);
    }
}

void HistoryTap::streamEnded(std::uint64_t player) {
    std::lock_guard lock(mutex_);
    if (player != newest_ || !streaming_) {
        return;
    }
    releaseHeld(0);
    if (decoder_) {
        decoded_.clear();
        decoder_->flush(decoded_);
        feedDecoded();
        decoder_.reset();
    }
    detector_.finish();
    history_->endStream();
    streaming_ = false;
    if (recorder_) {
        recorder_->streamEnded();
    }
}

void HistoryTap::setRecorder(std::shared_ptr<PacketTap> recorder) {
    std::lock_guard lock(mutex_);
    if (recorder_ && streaming_) {
        recorder_->streamEnded();
    }
    recorder_ = std::move(recorder);
    if (recorder_ && streaming_) {
        recorder_->formatKnown(format_, cookie_);
    }
}

std::string HistoryTap::decoderProblem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

}  // namespace orvento
