// Pelorin: the stream player. One object plays one HTTP audio stream, once.
//
// Lifecycle. The owner creates the object with initWithURL (it then holds the
// only reference), registers observers, calls start() once and may call
// stop(). start() hands the work to a worker thread (owned by a
// WorkerRegistry), which holds a reference of its own until its last step:
// it opens the streaming parser and the HTTP GET stream, and then serves its run loop, where the
// stream's events and, inside them, the parser's callbacks arrive. The worker sleeps in the run
// loop until something happens: an event of the stream, a stop, the queue's
// report that it stopped. The parser's ready event creates the output queue
// with kBufferCount buffers of kBufferSize bytes; packets are copied into the
// buffer ring and handed to the queue, which is started once it holds a lead
// (below). While the next buffer of the ring is still queued the worker
// waits: it then reads nothing from the network (this is the only flow
// control). When playback is over the worker tears down (stream, parser,
// queue) and ends. An object is never restarted: each attempt needs a new
// object.
//
// Packets. The parser's packets are copied into the buffer ring (a
// PacketRing, engine/player/PacketRing.h, which says when a buffer goes to the queue
// and when the queue starts); at the end of the stream the last, partly
// filled buffer goes too and the queue is started if it has not yet been.
// The live edge (LiveEdgePolicy.h) cuts only a live stream: one whose
// response declared its length is a recording and plays whole.
//
// Ends. A response that declared its length ends complete once all of it
// came and played out (endedComplete). Any other end after audio, however
// orderly (a live stream without a length, an "ICY 200 OK" answer, a close,
// a reset, a stall), is a drop, which an owner may answer by connecting again.
//
// Stopping. stop() takes effect at any moment. Before the queue was started
// (before start(), before the stream is open, while the format is still
// unknown, while the lead gathers) it tells its observers true and then
// false on the caller's thread before it returns, and the worker ends without
// opening what it has not opened yet, closes what it has, and shows no alert.
// Once the queue was started (also while the last audio plays out after the
// end of the stream) it stops the queue at once, and the queue's report that
// it stopped tells false. Either way it wakes the worker wherever it waits
// (its run loop, or the ring's wait for a free buffer). A stop during the
// queue's start waits for that start to return. Only the first stop() has an
// effect, and none after the worker has ended.
//
// Observation. Every setIsPlaying stores the value and then calls each
// observer's isPlayingChanged synchronously on the setter's thread, also when
// the value did not change:
//   - the queue's own thread: true once the queue runs; false when it stopped
//     (end of stream played out, or after a stop);
//   - the caller's thread of stop(), when the queue had not been started yet:
//     true and then false before stop() returns;
//   - the worker thread, on its failure path (the same true-then-false when
//     the queue had not been started).
// A stop after the queue was started and before it reported running is told
// true and then false by that report, on the queue's thread.
// An observer may remove itself, and drop its reference to the object, inside
// a notification. Once removeObserver returns, that observer is not called
// again (a notification running on another thread is waited for; one running
// on the remover's own thread is the caller's own). An observer must
// therefore not wait, inside a notification, for a thread that registers or
// removes observers of the same object.
//
// Learning that a player has ended. Some players end without ever reporting
// isPlaying: no URL, a stream or parser that could not be opened. Every
// player's worker, as its very last step after its teardown, calls each
// observer's playerEnded once, on the worker thread; after
// that hasEnded() is true and waitUntilEnded() returns. An owner that waits
// for "not playing" to drop the player should also treat hasEnded as the end.
//
// Failures. Each failing platform status that the engine tests writes the
// error line of formatStatusError (engine/player/StatusErrorLog.h) to the platform's
// log (EngineServices::logLine). Fatal conditions only set `failed`; the
// worker, woken by the event that failed, then calls stop(), shows one alert
// through the AlertService ("Audio Error" / "Attempt to play streaming audio
// failed." / "OK", looked up in the "Errors" table of the LocalizedStrings)
// and tears down. A stream or parser that cannot be opened ends the worker
// without an alert and without notifications. At the end of the stream a
// queue that cannot be flushed, or told to stop once it has played out, is a
// failure like any other. failureReason() says, in a few words, what the
// first failure was.
//
// Teardown. The stream is closed and released by exactly one of stop(), the
// end of the stream and the teardown. The teardown closes the parser and
// disposes of the queue (also one that was created but never started); a
// step that fails is logged and tried again, with the others still to do, in
// up to kTeardownAttempts rounds, after which the worker ends regardless (a
// player whose queue could not be disposed of is then kept alive until the
// process ends, since that queue may still call it back). When
// stop()'s immediate queue stop fails, the worker does not wait for the queue
// to report that it stopped: it tears down, and the disposal silences it.
//
// Threads and locks. The owner's thread calls initWithURL, start, stop and the
// observer registration; the worker runs startInternal, the stream's events
// and the parser's callbacks; the queue's thread runs handleBufferComplete and
// handleRunningChange. The ring guards its in-use flags and the worker's wait
// for a free buffer itself; `mutex2` makes each copy into a queue buffer, the
// queue's start together with the setting of `started`, and the end of the
// stream's flush and drained stop, exclusive with stop()'s test of `started`
// and its immediate stop (so a stop either finds the queue started and stops
// it, or finds it not started and keeps it from starting), and the teardown
// takes the queue away under it. No code path holds both. Flags crossing
// threads are atomics. The queue's running reports are told apart by their
// count, never by the published play state, which a stop may already have
// changed.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/demux/FileTypeHint.h"
#include "engine/player/AlertService.h"
#include "engine/player/CatchUp.h"
#include "engine/player/EngineServices.h"
#include "engine/player/LiveEdgePolicy.h"
#include "engine/player/LocalizedStrings.h"
#include "engine/player/PacketRing.h"
#include "engine/player/PacketTap.h"
#include "engine/player/PlayOutGate.h"
#include "engine/player/ResumeTrail.h"
#include "engine/player/WorkerRegistry.h"

namespace orvento {

inline constexpr std::size_t kReadChunkSize = 32768;  // bytes asked for in one read

// Attempts of a teardown whose queue disposal fails.
inline constexpr int kTeardownAttempts = 3;

// Reasons of failureReason() that are the engine's own words.
inline constexpr std::string_view kNotAnAudioStreamReason = "not an audio stream";
inline constexpr std::string_view kUnstreamableMp4Reason =
    "MP4 whose index comes after its data cannot be streamed";
inline constexpr std::string_view kNoSoundOutputReason =
    "No sound output is available: is PulseAudio or PipeWire running?";
// Any other output that does not start; the output's own words follow.
inline constexpr std::string_view kOutputCannotStartReason = "the sound output could not start";
// A failing step of the player, in words; its status is in the diagnostic log.
inline constexpr std::string_view kParserCannotOpenReason = "the audio reader could not be opened";
inline constexpr std::string_view kUnreadableAudioReason = "the stream's audio could not be read";
inline constexpr std::string_view kUnknownFormatReason = "the stream's audio format is not known";
inline constexpr std::string_view kOutputCannotOpenReason = "the sound output could not be opened";
inline constexpr std::string_view kOutputRefusedAudioReason = "the sound output refused the audio";
inline constexpr std::string_view kOutputCannotFinishReason =
    "the sound output could not play out the end";

// The alert's texts: keys of the "Errors" table.
inline constexpr std::string_view kErrorsTable = "Errors";
inline constexpr std::string_view kAlertTitleKey = "Audio Error";
inline constexpr std::string_view kAlertMessageKey = "Attempt to play streaming audio failed.";
inline constexpr std::string_view kAlertButtonKey = "OK";

class Pelorin;

class PelorinObserver {
  public:
    virtual ~PelorinObserver() = default;
    // Every setIsPlaying; the new state is object.isPlaying().
    virtual void isPlayingChanged(Pelorin& object) = 0;
    // The worker's last step, once.
    virtual void playerEnded(Pelorin& /*object*/) {}
    // A live stream ended (its server closed) and what the player holds is
    // playing out: the drop is known now, before playback ends. Once, on the
    // worker.
    virtual void playingOut(Pelorin& /*object*/) {}
};

// What a player runs on. Empty members get the defaults: the real services
// playing to the sound device, alerts on standard error, no translations, the
// shared worker registry.
struct PelorinServices {
    std::shared_ptr<EngineServices> platform{};
    std::shared_ptr<AlertService> alerts{};
    std::shared_ptr<const LocalizedStrings> strings{};
    WorkerRegistry* workers = nullptr;
    // Sees every parsed packet of the player's stream (PacketTap.h); none when
    // empty.
    std::shared_ptr<PacketTap> tap{};
    // The live edge's target lag in seconds (LiveEdgePolicy.h): audio older
    // than that when it arrives is not played (of a live stream; a recording
    // plays whole). None: everything the server sends is played, its opening
    // burst too. With `catchUp`, it cuts the opening burst of a press only
    // (what was said before the listener pressed play is not owed to them,
    // what was said since start() is): the deliveries of the connection's
    // first kOpeningBurstSeconds, when the trail has heard nothing yet. After that, and on a
    // reconnection, the catch-up sheds what is behind without losing a word.
    std::optional<double> liveEdgeSeconds{};
    // Live without losing a word: a live stream's decoded audio passes
    // through it (CatchUp.h), which sheds the queue's backlog beyond its
    // target by the quiet between transmissions, and by speech played
    // faster, instead of the live edge's skipping. None: not used.
    std::shared_ptr<CatchUpStage> catchUp{};
    // Where a station's listener left off (ResumeTrail.h), shared by its
    // players in turn: a live stream's opening burst is lined up with the
    // frames the last one handed to its queue, and plays on after them.
    // None: every connection plays from its own start.
    std::shared_ptr<ResumeTrail> resume{};
};

class Pelorin : public std::enable_shared_from_this<Pelorin>,
                private PacketRing::Owner,
                private HttpStream::Listener,
                private StreamParser::Listener,
                private OutputQueue::Listener {
    struct Private {};

  public:
    // A player for `url` (none is allowed: that player ends without
    // playing). No thread, network or platform call yet.
    static std::shared_ptr<Pelorin> initWithURL(std::optional<Url> url,
                                                PelorinServices services = {});

    Pelorin(Private, std::optional<Url> url, PelorinServices services);
    ~Pelorin() override;
    Pelorin(const Pelorin&) = delete;
    Pelorin& operator=(const Pelorin&) = delete;

    // The queue starts only once `gate` is open: the player before this one
    // plays out first (PlayOutGate.h). Before start().
    void playAfter(std::shared_ptr<PlayOutGate> gate) { playAfter_ = std::move(gate); }
    // Starts the worker and returns at once. Once per object; later calls do
    // nothing.
    void start();

    // Stops playback at once, at any moment (see Stopping above); does not
    // wait for the worker. Only the first call has an effect, and none after
    // the worker has ended. Any thread.
    void stop();

    bool isPlaying() const { return isPlaying_.load(); }

    // How far behind live the playing is, in seconds; none without a live
    // edge or before the first audio kept. Any thread.
    std::optional<double> behindLiveSeconds() const;

    // What the first failure was, in a few words for a user, empty while
    // nothing failed: the words of the step that failed (the k...Reason texts
    // above, then the output's own words where it has some); the read stream's error
    // text (the server's status line when the response was not a success);
    // kNotAnAudioStreamReason; kUnstreamableMp4Reason; kNoSoundOutputReason
    // when no sound device could be opened, kOutputCannotStartReason with the
    // output's words when another output could not start. Also set for a player
    // without a URL and for a stream or parser that could not be opened,
    // which end without an alert. Set before the failure alert and
    // before the failure path's notifications. Any thread.
    std::string failureReason() const;

    // Playback ended because the whole stream came: the response declared
    // its length (a recording, not a live station), all of it arrived, and
    // the queue was told to play it out. False for a stream that declared no
    // length (its end is a drop, however orderly), after a failure and after
    // a stop. Meaningful once isPlaying has been told false or the player
    // has ended. Any thread.
    bool endedComplete() const {
        return wholeStreamCame_.load() && !failed_.load() && !stopCalled_.load();
    }

    // How long, in seconds, the running output queue has had nothing to play
    // (the network brings too little); 0 before the queue started and once
    // playback is over. Any thread.
    double outputStarvedSeconds();
    // Bytes of the response body read so far. Any thread.
    std::uint64_t bytesReceived() const { return bytesReceived_.load(); }

    // Registering an observer twice has it called twice.
    void addObserver(PelorinObserver* observer);
    void removeObserver(PelorinObserver* observer);

    // The worker has finished its last step (see the header comment).
    bool hasEnded() const;
    // Waits until hasEnded() or `timeout`; returns hasEnded().
    bool waitUntilEnded(std::chrono::milliseconds timeout) const;

  private:
    // Worker (Pelorin.cpp).
    void startInternal();
    void teardown();
    void showFailureAlert();
    void setIsPlaying(bool value);
    void notifyObservers(void (PelorinObserver::*event)(Pelorin&));
    void reportEnded();
    // Closes and destroys the stream if this caller is the one that takes it.
    bool closeStream();
    // Opens the parser and the stream unless a stop came first; false when
    // either could not be opened.
    bool open();
    // Serves the run loop until playback is over or failed.
    void serveUntilOver();
    bool over() const;
    // Makes the worker look at its flags again, wherever it waits.
    void wakeWorker();
    void logStatusError(const char* operation, StatusCode status);
    // Keeps `reason` if it is the first failure's, then raises `failed`.
    // Worker only.
    void fail(std::string reason) override;
    // fail() with the words of a failing step (and the service's own words).
    void failStep(std::string_view operation, std::string detail = {});
    // Keeps `reason` if no failure was kept yet, without raising `failed`.
    void noteFailureReason(std::string reason);

    // Read stream (PelorinReadStream.cpp). The stream's listener hands each
    // event to handleReadStreamEvent.
    void onStreamEvent(HttpStream& stream, HttpStream::Event event) override;
    void handleReadStreamEvent(HttpStream& stream, HttpStream::Event event);
    void handleBytesAvailable(HttpStream& stream);
    void handleEndEncountered();

    // Queue set-up and running state (PelorinQueue.cpp).
    void handleStreamProperty(StreamProperty property) override;
    // The queue's listener: each call goes to the handler below it.
    void runningChanged(bool running) override;
    void handleRunningChange();
    void createQueue();
    void passMagicCookie();
    // The parser's magic cookie; none when it cannot be read (logged when
    // `logFailures`).
    std::optional<std::vector<std::uint8_t>> magicCookie(bool logFailures);
    void tellTapFormat();

    // Packet buffering (PelorinPackets.cpp): the ring's owner.
    void handleStreamPackets(std::span<const std::byte> bytes,
                             std::span<const PacketDescription> descriptions) override;
    // Packets to be played (the tap sees them, the live edge may cut them).
    void playPackets(std::span<const std::byte> bytes,
                     std::span<const PacketDescription> descriptions);
    void bufferComplete(OutputQueue::Buffer& buffer) override;
    void handleBufferComplete(OutputQueue::Buffer& buffer);
    QueueError enqueueBuffer(OutputQueue::Buffer& buffer,
                             std::span<const PacketDescription> descs) override;
    // Starts the queue under mutex2 unless a stop came first; true when it
    // runs. A failed start raises `failed`.
    bool startQueue() override;
    void handedOver() override { tellUpstream(); }
    // Tells the catch-up what is received and not in the queue yet.
    void tellUpstream();
    bool beginCopy() override;
    void endCopy() override;
    bool finished() const override { return finished_.load(); }
    bool failed() const override { return failed_.load(); }

    // Set at creation, never changed.
    const std::optional<Url> url_;
    const std::shared_ptr<EngineServices> platform_;
    const std::shared_ptr<AlertService> alerts_;
    const std::shared_ptr<const LocalizedStrings> strings_;
    WorkerRegistry* const workers_;
    const std::shared_ptr<PacketTap> tap_;
    const std::unique_ptr<LiveEdgePolicy> liveEdge_;
    const bool liveEdgeOpensOnly_;  // beside a catch-up: the opening burst only
    const std::shared_ptr<CatchUpStage> catchUp_;
    const std::shared_ptr<ResumeTrail> resume_;
    std::shared_ptr<PlayOutGate> playAfter_;             // set before start()
    std::chrono::steady_clock::time_point startedAt_{};  // by start(), before the worker runs

    // Worker only.
    std::unique_ptr<StreamParser> audioFileStream_;
    bool discontinuous_ = false;
    // When the bytes being parsed came off the network, for the tap; and
    // whether the tap has been told this stream's format.
    std::chrono::steady_clock::time_point arrival_{};
    std::optional<std::chrono::steady_clock::time_point> firstArrival_;
    bool tapFormatTold_ = false;
    // The body length the response declared; none for a live stream, which
    // alone the live edge cuts. Known from the first read on.
    std::optional<std::uint64_t> declaredLength_;
    // The chunk being parsed (its size, and the ring's bytes taken when it
    // began) and the bytes left in the stream after its read.
    std::size_t chunkBytes_ = 0;
    std::size_t chunkParsed_ = 0;  // of chunkBytes_, what the parser has delivered
    std::uint64_t chunkMark_ = 0;
    std::size_t streamBytes_ = 0;
    // The stream's format, once known, for the trail; and the opening burst
    // held back until it is lined up with the trail.
    AudioFormat format_{};
    std::unique_ptr<ResumeMatcher> resumeMatcher_;

    // Filled by the worker; buffers come back on the queue's thread, and a
    // stop wakes a worker waiting for one.
    PacketRing ring_{*this};

    // Crossing threads. audioQueue: set by the worker; read by stop(), which
    // reads it, and the teardown clears it, under mutex2. stream: taken with
    // an exchange, so exactly one of stop(), the end of stream and the
    // teardown closes and destroys it. It owns what it points to.
    std::atomic<OutputQueue*> audioQueue_{nullptr};
    std::atomic<HttpStream*> stream_{nullptr};
    std::atomic<bool> isPlaying_{false};
    std::atomic<bool> started_{false};   // written by the worker only
    std::atomic<bool> failed_{false};    // set by the worker only
    std::atomic<bool> finished_{false};  // set by stop() and handleRunningChange
    std::atomic<bool> startCalled_{false};
    std::atomic<bool> stopCalled_{false};
    std::atomic<bool> stopFailed_{false};          // stop()'s immediate queue stop failed
    std::atomic<std::uint64_t> bytesReceived_{0};  // written by the worker only
    std::atomic<bool> wholeStreamCame_{false};     // written by the worker only
    std::atomic<bool> catchingUp_{false};          // the queue got catchUp_; by the worker
    // The queue's running-state reports so far: they alternate, starting with
    // "running", so an odd count means it runs. Written by the queue's thread.
    std::atomic<unsigned> runningReports_{0};

    // A copy into a queue buffer, and the queue's start with the setting of
    // `started`, against stop()'s test of `started` and its immediate stop.
    std::mutex mutex2_;

    // The worker's run loop, for waking it: set by the worker as it starts,
    // cleared as it ends.
    std::mutex loopMutex_;
    std::shared_ptr<RunLoop> workerLoop_;  // guarded by loopMutex_

    mutable std::mutex reasonMutex_;
    std::string failureReason_;  // guarded by reasonMutex_; set once

    // Observers. notifyMutex_ is held while observers are called, so that a
    // removal from another thread waits for a running notification; it is
    // recursive so an observer can remove itself.
    mutable std::recursive_mutex notifyMutex_;
    std::vector<PelorinObserver*> observers_;  // guarded by notifyMutex_

    mutable std::mutex endMutex_;
    mutable std::condition_variable endCond_;
    bool ended_ = false;  // guarded by endMutex_

    // The queue audioQueue_ points to, owned here: made by the worker, let
    // go by the teardown once disposed of. Last, so that a queue whose
    // disposal failed is closed before anything it calls back goes.
    std::unique_ptr<OutputQueue> ownedQueue_;
};

}  // namespace orvento
