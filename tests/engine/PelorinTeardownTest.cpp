// The worker's end: teardown steps that fail are retried a bounded number of
// times and the worker always ends; a failed immediate stop still ends it;
// the file-type hint; shutting the workers down at exit.
#include <gtest/gtest.h>

#include "tests/engine/PlayerHarness.h"

namespace orvento::test {
namespace {

Script shortMp3() {
    return Script::fromFile(fixture("mpeg2_l3.mp3").string());
}

std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines,
                                           const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& l : lines) {
        if (l.starts_with(prefix)) {
            out.push_back(l);
        }
    }
    return out;
}

struct TeardownRow {
    const char* name;
    Op op;
    const char* operation;
    int failures;  // consecutive failing calls
    int calls;     // calls the teardown makes in all
};

class TeardownFault : public testing::TestWithParam<TeardownRow> {};

TEST_P(TeardownFault, IsLoggedRetriedAndTheWorkerEnds) {
    const TeardownRow& row = GetParam();
    PlayerHarness h;
    h.platform->failCall(row.op, fourCharStatus("oops"), 1, row.failures);
    StdoutCapture out;
    h.createFor("/a.mp3", shortMp3()).start();
    ASSERT_TRUE(h.waitEnded());
    const auto lines = linesStartingWith(out.lines(), row.operation);
    EXPECT_EQ(lines.size(), static_cast<std::size_t>(std::min(row.failures, kTeardownAttempts)));
    for (const std::string& l : lines) {
        EXPECT_EQ(l, std::string(row.operation) + " err spoo 1869574259");
    }
    EXPECT_EQ(h.count(row.op), row.calls);
    // The other steps ran exactly once each: nothing is closed twice.
    EXPECT_EQ(h.count(Op::CFReadStreamClose), 1);
    if (row.op != Op::AudioFileStreamClose) {
        EXPECT_EQ(h.count(Op::AudioFileStreamClose), 1);
    }
    if (row.op != Op::AudioQueueDispose) {
        EXPECT_EQ(h.count(Op::AudioQueueDispose), 1);
    }
    EXPECT_TRUE(h.observer.ended());
    EXPECT_EQ(h.observer.values(), (std::vector<bool>{true, false}));
    // A player whose queue is still there is kept: that queue may call it.
    h.player.reset();
    const bool queueLeft = row.op == Op::AudioQueueDispose && row.failures >= kTeardownAttempts;
    EXPECT_EQ(h.weak.expired(), !queueLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TeardownFault,
    testing::Values(TeardownRow{"ParserCloseOnce", Op::AudioFileStreamClose, "AudioFileStreamClose",
                                1, 2},
                    TeardownRow{"ParserCloseAlways", Op::AudioFileStreamClose,
                                "AudioFileStreamClose", 100, kTeardownAttempts},
                    TeardownRow{"DisposeTwice", Op::AudioQueueDispose, "AudioQueueDispose", 2, 3},
                    TeardownRow{"DisposeAlways", Op::AudioQueueDispose, "AudioQueueDispose", 100,
                                kTeardownAttempts}),
    [](const testing::TestParamInfo<TeardownRow>& info) { return info.param.name; });

TEST(StopFault, AFailedImmediateStopIsLoggedAndTheWorkerStillEnds) {
    PlayerHarness h(/*realTimeOutput=*/true);
    h.platform->failCall(Op::AudioQueueStop, fourCharStatus("oops"), 1, 1, 1);
    StdoutCapture out;
    Script live = Script::fromFile(fixture("mpeg25_l3.mp3").string());
    live.repeated();
    Pelorin& player = h.createFor("/live", live);
    player.start();
    ASSERT_TRUE(waitUntil([&] { return h.playing(); }));
    player.stop();
    EXPECT_TRUE(h.access->finished()) << h.diagnostics();
    // The queue did not stop, so it never reports it; the worker ends anyway
    // and its disposal silences the queue.
    ASSERT_TRUE(h.waitEnded());
    EXPECT_EQ(linesStartingWith(out.lines(), "AudioQueueStop"),
              std::vector<std::string>{"AudioQueueStop err spoo 1869574259"});
    EXPECT_EQ(h.countWith(Op::AudioQueueDispose, 1), 1);
    EXPECT_TRUE(h.alerts->alerts().empty()) << h.diagnostics();
    EXPECT_FALSE(h.observer.values().empty());
    EXPECT_FALSE(h.observer.values().back()) << h.diagnostics();
}

TEST(Shutdown, StopsPlayersWhoseOwnerNeverDoesAndJoinsTheirWorkers) {
    PlayerHarness h(/*realTimeOutput=*/true);
    Script live = Script::fromFile(fixture("mpeg25_l3.mp3").string());
    live.repeated();
    Pelorin& player = h.createFor("/live", live);
    player.start();
    h.player.reset();  // the owner lets go without stopping
    ASSERT_TRUE(waitUntil([&] {
        auto p = h.weak.lock();
        return p && p->isPlaying();
    }));
    EXPECT_TRUE(h.workers.shutdown(std::chrono::seconds(10)));
    EXPECT_EQ(h.workers.running(), 0U);
    EXPECT_TRUE(h.weak.expired());
}

struct HintRow {
    const char* url;
    AudioFileTypeID hint;
};

class FileTypeHint : public testing::TestWithParam<HintRow> {};

TEST_P(FileTypeHint, ComesFromThePathsExtensionCaseSensitively) {
    CFURLRef url = Url::fromString(GetParam().url);
    ASSERT_TRUE(url) << GetParam().url;
    EXPECT_EQ(fileTypeHintForURL(url.get()), GetParam().hint) << GetParam().url;
}

INSTANTIATE_TEST_SUITE_P(Rows, FileTypeHint,
                         testing::Values(HintRow{"http://h/a.mp3", kAudioFileMP3Type},
                                         HintRow{"http://h/a.wav", kAudioFileWAVEType},
                                         HintRow{"http://h/a.aifc", kAudioFileAIFCType},
                                         HintRow{"http://h/a.aiff", kAudioFileAIFFType},
                                         HintRow{"http://h/a.m4a", kAudioFileM4AType},
                                         HintRow{"http://h/a.mp4", kAudioFileMPEG4Type},
                                         HintRow{"http://h/a.caf", kAudioFileCAFType},
                                         HintRow{"http://h/a.aac", kAudioFileAAC_ADTSType},
                                         // Case-sensitive: upper case falls to the default.
                                         HintRow{"http://h/A.MP3", kAudioFileMP3Type},
                                         HintRow{"http://h/a.AAC", kAudioFileMP3Type},
                                         // A mount point without an extension.
                                         HintRow{"http://h:8000/live", kAudioFileMP3Type},
                                         HintRow{"http://h/", kAudioFileMP3Type},
                                         // The query and fragment are not part of the path.
                                         HintRow{"http://h/radio.aac?sid=1&x=y.mp3",
                                                 kAudioFileAAC_ADTSType},
                                         HintRow{"http://h/radio.wav#part.mp3", kAudioFileWAVEType},
                                         HintRow{"http://h/dir.aac/stream", kAudioFileMP3Type},
                                         HintRow{"http://h/a.ogg", kAudioFileMP3Type},
                                         HintRow{"http://h/a%2Eaac", kAudioFileAAC_ADTSType}));

TEST(FileTypeHintWithoutUrl, IsMp3) {
    EXPECT_EQ(fileTypeHintForURL(nullptr), kAudioFileMP3Type);
}

}  // namespace
}  // namespace orvento::test
