#include "engine/audio/PcmWriter.h"

#include <chrono>

namespace orvento {

bool PcmWriter::pending() const {
    return convertedDone_ < converted_.size() || piece_ < decoded_.pieces().size() ||
           flushConverter_;
}

double PcmWriter::pendingSeconds() const {
    double seconds = 0;
    const auto& pieces = decoded_.pieces();
    for (std::size_t i = piece_; i < pieces.size(); ++i) {
        const std::size_t done = i == piece_ ? pieceDone_ : 0;
        seconds += static_cast<double>(pieces[i].frames - done) / pieces[i].format.sampleRate;
    }
    return seconds;
}

void PcmWriter::reset() {
    decoded_.clear();
    piece_ = 0;
    pieceDone_ = 0;
    converter_.reset();
    converted_.clear();
    convertedDone_ = 0;
    flushConverter_ = false;
}

std::optional<AudioOutput::Duration> PcmWriter::writeTo(AudioOutput& output) {
    // After a write the output did not take whole: how long to wait.
    const auto afterPartialWrite = [&output](std::size_t taken) {
        const AudioOutput::Duration wait = output.untilWritable();
        return taken == 0 && wait <= AudioOutput::Duration::zero()
                   ? AudioOutput::Duration(std::chrono::milliseconds(1))
                   : wait;
    };
    for (;;) {
        const PcmFormat out = output.format();
        const auto channels = static_cast<std::size_t>(out.channels);
        if (convertedDone_ < converted_.size()) {
            const std::size_t frames = (converted_.size() - convertedDone_) / channels;
            const std::size_t taken = output.write(converted_.data() + convertedDone_, frames);
            convertedDone_ += taken * channels;
            if (taken < frames) {
                return afterPartialWrite(taken);
            }
        }
        converted_.clear();
        convertedDone_ = 0;
        const auto& pieces = decoded_.pieces();
        if (piece_ >= pieces.size()) {
            decoded_.clear();
            piece_ = 0;
            if (flushConverter_) {
                flushConverter_ = false;
                if (converter_.active()) {
                    converter_.flush(converted_);
                    converter_.reset();
                    continue;
                }
            }
            return std::nullopt;
        }
        const PcmBuffer::Piece& piece = pieces[piece_];
        if (!(piece.format == out) && output.adopt(piece.format)) {
            continue;  // nothing written yet: the output takes the decoder's format
        }
        if (piece.format == out) {
            if (converter_.active()) {
                // Back to the output's own format: first the converter's tail.
                converter_.flush(converted_);
                converter_.reset();
                continue;
            }
            const std::size_t left = piece.frames - pieceDone_;
            const std::size_t taken =
                output.write(decoded_.samples(piece) + pieceDone_ * channels, left);
            pieceDone_ += taken;
            if (taken < left) {
                return afterPartialWrite(taken);
            }
        } else {
            const float* from = decoded_.samples(piece) +
                                pieceDone_ * static_cast<std::size_t>(piece.format.channels);
            if (!converter_.convert(piece.format, out, from, piece.frames - pieceDone_,
                                    converted_)) {
                failure_ = "cannot convert the decoded audio to the output's format";
            }
        }
        ++piece_;
        pieceDone_ = 0;
    }
}

}  // namespace orvento
