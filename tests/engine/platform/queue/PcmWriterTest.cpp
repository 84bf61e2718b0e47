// The queue's write-out on its own, against an output that takes a chosen
// number of frames per write and tells a chosen wait: every frame arrives, in
// order, converted where the formats differ, and a full output means a wait,
// never a spin.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/platform/queue/PcmWriter.h"

namespace orvento {
namespace {

using namespace std::chrono_literals;

class ScriptedOutput final : public AudioOutput {
  public:
    ScriptedOutput(PcmFormat format, bool adopts, std::size_t framesPerWrite)
        : format_(format), adopts_(adopts), framesPerWrite_(framesPerWrite) {}

    bool open(const PcmFormat&, std::string&) override { return true; }
    void close() override {}
    PcmFormat format() const override { return format_; }
    bool adopt(const PcmFormat& format) override {
        if (!adopts_ || !samples.empty()) {
            return false;
        }
        format_ = format;
        return true;
    }
    void resume() override {}
    void pause() override {}
    std::size_t write(const float* data, std::size_t frames) override {
        // Full every other time, when told so.
        const std::size_t taken =
            stalls && ++writes_ % 2 == 0 ? 0 : std::min(frames, framesPerWrite_);
        samples.insert(samples.end(), data,
                       data + taken * static_cast<std::size_t>(format_.channels));
        return taken;
    }
    Duration untilWritable() const override { return wait; }
    Duration untilDrained() override { return Duration::zero(); }
    void discard() override {}
    void silenceNow() override {}
    UInt64 framesPlayed() const override { return 0; }

    std::vector<float> samples;
    Duration wait = 5ms;
    bool stalls = false;

  private:
    int writes_ = 0;
    PcmFormat format_;
    const bool adopts_;
    const std::size_t framesPerWrite_;
};

struct Piece {
    PcmFormat format;
    std::size_t frames;
};

struct WriterRow {
    const char* name;
    PcmFormat output;
    bool adopts;
    std::size_t framesPerWrite;
    std::vector<Piece> pieces;
    PcmFormat written;         // the format the output ends with
    std::size_t framesOut;     // frames the output received in all
    bool sameSamples;          // the decoded samples themselves, unconverted
    const char* failure = "";  // words of a conversion that failed
    bool stalls = false;       // the output is full every other write and says "now"
};

class PcmWriterOut : public testing::TestWithParam<WriterRow> {};

TEST_P(PcmWriterOut, WritesEveryFrameOnceAndWaitsWhenTheOutputIsFull) {
    const WriterRow& row = GetParam();
    ScriptedOutput output(row.output, row.adopts, row.framesPerWrite);
    output.stalls = row.stalls;
    output.wait = row.stalls ? AudioOutput::Duration::zero() : AudioOutput::Duration(5ms);
    PcmWriter writer;
    std::vector<float> decoded;
    float next = 0;
    for (const Piece& p : row.pieces) {
        float* at = writer.decoded().append(p.format, p.frames);
        for (std::size_t i = 0; i < p.frames * static_cast<std::size_t>(p.format.channels); ++i) {
            // A slow ramp, smooth enough to pass a resampler unharmed.
            at[i] = next;
            decoded.push_back(next);
            next += 1e-4F;
        }
    }
    writer.endOfData();
    int waits = 0;
    std::string failure;
    while (writer.pending()) {
        const std::size_t before = output.samples.size();
        const std::optional<AudioOutput::Duration> wait = writer.writeTo(output);
        failure += writer.takeFailure();
        if (wait) {
            // An output that took nothing is not offered more at once.
            EXPECT_TRUE(*wait > AudioOutput::Duration::zero() || output.samples.size() > before);
            ASSERT_LT(++waits, 100000) << "no progress";
        }
    }
    EXPECT_EQ(output.format(), row.written);
    const auto channels = static_cast<std::size_t>(row.written.channels);
    EXPECT_EQ(output.samples.size(), row.framesOut * channels);
    if (row.sameSamples) {
        EXPECT_EQ(output.samples, decoded);
    }
    EXPECT_EQ(waits > 0, row.framesPerWrite < row.framesOut);
    EXPECT_NE(failure.find(row.failure), std::string::npos) << failure;
    EXPECT_EQ(failure.empty(), *row.failure == '\0');
}

const PcmFormat kStereo44{44100, 2};
const PcmFormat kMono22{22050, 1};
const PcmFormat kStereo48{48000, 2};

WriterRow row(const char* name, PcmFormat output, bool adopts, std::size_t framesPerWrite,
              std::vector<Piece> pieces, PcmFormat written, std::size_t framesOut, bool sameSamples,
              const char* failure = "", bool stalls = false) {
    return {name,    output,    adopts,      framesPerWrite, std::move(pieces),
            written, framesOut, sameSamples, failure,        stalls};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PcmWriterOut,
    testing::Values(row("SameFormatAtOnce", kStereo44, false, 1 << 20, {{kStereo44, 1000}},
                        kStereo44, 1000, true),
                    row("SameFormatAFewFramesAtATime", kStereo44, false, 7,
                        {{kStereo44, 500}, {kStereo44, 3}}, kStereo44, 503, true),
                    row("AFullOutputIsNotOfferedMoreAtOnce", kStereo44, false, 50,
                        {{kStereo44, 500}}, kStereo44, 500, true, "", true),
                    // An output that takes any format takes the decoder's first.
                    row("AnAdoptingOutputTakesTheFirstFormat", kStereo44, true, 64,
                        {{kMono22, 1000}}, kMono22, 1000, true),
                    // A device keeps its format: the rate and channels are converted, to
                    // the full length once the converter's tail has been written.
                    row("ADeviceGetsItConverted", kStereo44, false, 64, {{kMono22, 1000}},
                        kStereo44, 2000, false),
                    // A format change mid-way: the first part's tail, then the second part.
                    row("AChangeBackToTheOutputsFormat", kStereo48, false, 100,
                        {{kMono22, 441}, {kStereo48, 480}}, kStereo48, 960 + 480, false),
                    row("AnUnusableFormatIsReported", kStereo44, false, 64, {{PcmFormat{0, 2}, 10}},
                        kStereo44, 0, false, "cannot convert")),
    [](const testing::TestParamInfo<WriterRow>& info) { return std::string(info.param.name); });

TEST(PcmWriter, AResetDropsEverythingPending) {
    ScriptedOutput output(kStereo44, false, 10);
    PcmWriter writer;
    writer.decoded().appendSilence(kMono22, 1000);
    writer.endOfData();
    ASSERT_TRUE(writer.writeTo(output).has_value());
    writer.reset();
    EXPECT_FALSE(writer.pending());
    const std::size_t before = output.samples.size();
    EXPECT_FALSE(writer.writeTo(output).has_value());
    EXPECT_EQ(output.samples.size(), before);
}

}  // namespace
}  // namespace orvento
