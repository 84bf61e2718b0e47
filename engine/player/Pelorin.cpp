#include "engine/player/Pelorin.h"

#include <algorithm>
#include <string>
#include <utility>

#include "engine/player/StatusErrorLog.h"

namespace orvento {
namespace {

PelorinServices withDefaults(PelorinServices s) {
    if (!s.platform) {
        s.platform = std::make_shared<EngineServices>();
    }
    if (!s.alerts) {
        s.alerts = std::make_shared<StandardErrorAlertService>();
    }
    if (!s.strings) {
        s.strings = std::make_shared<const LocalizedStrings>();
    }
    if (s.workers == nullptr) {
        s.workers = &WorkerRegistry::shared();
    }
    return s;
}

// What a failing step means to a listener. The status itself, with its
// four-character code, goes only to the diagnostic line logged beside it.
std::string_view failureWords(std::string_view operation) {
    struct Words {
        std::string_view operation;
        std::string_view words;
    };
    static constexpr Words kWords[] = {
        {"AudioFileStreamOpen", kParserCannotOpenReason},
        {"AudioFileStreamParseBytes", kUnreadableAudioReason},
        {"get kAudioFileStreamProperty_DataFormat", kUnknownFormatReason},
        {"AudioQueueNewOutput", kOutputCannotOpenReason},
        {"AudioQueueAllocateBuffer", kOutputCannotOpenReason},
        {"AudioQueueEnqueueBuffer", kOutputRefusedAudioReason},
        {"AudioQueueFlush", kOutputCannotFinishReason},
        {"AudioQueueStop", kOutputCannotFinishReason},
    };
    for (const Words& w : kWords) {
        if (w.operation == operation) {
            return w.words;
        }
    }
    return kOutputRefusedAudioReason;
}

}  // namespace

std::shared_ptr<Pelorin> Pelorin::initWithURL(std::optional<Url> url, PelorinServices services) {
    return std::make_shared<Pelorin>(Private{}, std::move(url), withDefaults(std::move(services)));
}

Pelorin::Pelorin(Private, std::optional<Url> url, PelorinServices services)
    : url_(std::move(url)),
      platform_(std::move(services.platform)),
      alerts_(std::move(services.alerts)),
      strings_(std::move(services.strings)),
      workers_(services.workers),
      tap_(std::move(services.tap)),
      // Beside a catch-up, a reconnection's burst is not cut: it is lined
      // up with what was heard and caught up.
      liveEdge_(services.liveEdgeSeconds &&
                        !(services.catchUp && services.resume && services.resume->heardAny())
                    ? std::make_unique<LiveEdgePolicy>(*services.liveEdgeSeconds)
                    : nullptr),
      liveEdgeOpensOnly_(services.catchUp != nullptr),
      catchUp_(std::move(services.catchUp)),
      resume_(std::move(services.resume)) {}

// By the time the last reference goes, the worker has closed the stream and
// the parser and disposed of the queue; only the members' own destructors run.
Pelorin::~Pelorin() {
    // The teardown has closed any stream; this only guards the ownership.
    closeStream();
}

void Pelorin::start() {
    if (startCalled_.exchange(true)) {
        return;
    }
    startedAt_ = std::chrono::steady_clock::now();
    // The worker's own reference, dropped at its last step.
    std::weak_ptr<Pelorin> weak = weak_from_this();
    workers_->spawn(
        [self = shared_from_this()]() mutable {
            self->startInternal();
            self.reset();
        },
        [weak] {
            if (auto self = weak.lock()) {
                self->stop();
            }
        });
}

bool Pelorin::closeStream() {
    // Destroyed (released) as it goes out of scope.
    const std::unique_ptr<HttpStream> stream(stream_.exchange(nullptr));
    if (stream == nullptr) {
        return false;
    }
    stream->close();
    return true;
}

double Pelorin::outputStarvedSeconds() {
    // Under mutex2, as the teardown takes the queue away.
    std::lock_guard lock(mutex2_);
    OutputQueue* queue = audioQueue_.load();
    if (!started_.load() || finished_.load() || queue == nullptr) {
        return 0;
    }
    return queue->starvedSeconds();
}

void Pelorin::stop() {
    // An observer may drop the owner's reference inside the notifications
    // below while the worker ends at the same time.
    const std::shared_ptr<Pelorin> keepAlive = shared_from_this();
    if (stopCalled_.exchange(true)) {
        return;
    }
    // Null before the worker opened the stream and after the end of the
    // stream closed it; a stream opened meanwhile is the worker's to close.
    closeStream();
    bool neverStarted = false;
    {
        // The worker starts the queue and sets `started` under mutex2 too,
        // and only while `finished` is false: either the queue was started
        // and is stopped here, or it will never be started.
        std::lock_guard lock(mutex2_);
        if (finished_.load()) {
            return;  // playback is over already, or the worker has ended
        }
        finished_.store(true);
        neverStarted = !started_.load();
        if (OutputQueue* queue = audioQueue_.load(); !neverStarted && queue != nullptr) {
            if (QueueError error = queue->stop(true); error != QueueError::None) {
                logStatusError("AudioQueueStop", static_cast<StatusCode>(error));
                // The queue will not report that it stopped: the worker ends
                // without waiting for it, and its disposal silences it.
                stopFailed_.store(true);
            }
        }
    }
    ring_.wake();
    if (playAfter_) {
        playAfter_->wake();
    }
    wakeWorker();
    if (neverStarted) {
        // Nothing played and no queue will report: this call tells it.
        setIsPlaying(true);
        setIsPlaying(false);
    }
}

void Pelorin::wakeWorker() {
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(loopMutex_);
        loop = workerLoop_;
    }
    // Without a loop the worker has not looked at its flags yet, or it no
    // longer waits.
    if (loop) {
        platform_->postToRunLoop(*loop, [] {});
    }
}

void Pelorin::logStatusError(const char* operation, StatusCode status) {
    platform_->logLine(formatStatusError(operation, status));
}

std::string Pelorin::failureReason() const {
    std::lock_guard lock(reasonMutex_);
    return failureReason_;
}

void Pelorin::noteFailureReason(std::string reason) {
    std::lock_guard lock(reasonMutex_);
    if (failureReason_.empty()) {
        failureReason_ = std::move(reason);
    }
}

void Pelorin::fail(std::string reason) {
    noteFailureReason(std::move(reason));
    failed_.store(true);
}

void Pelorin::failStep(std::string_view operation, std::string detail) {
    std::string reason(failureWords(operation));
    if (!detail.empty()) {
        reason += ": " + detail;
    }
    fail(std::move(reason));
}

void Pelorin::setIsPlaying(bool value) {
    isPlaying_.store(value);
    notifyObservers(&PelorinObserver::isPlayingChanged);
}

void Pelorin::notifyObservers(void (PelorinObserver::*event)(Pelorin&)) {
    std::lock_guard lock(notifyMutex_);
    // An observer may add or remove registrations while it is called: walk a
    // snapshot and skip the ones that are gone by the time their turn comes.
    const std::vector<PelorinObserver*> snapshot = observers_;
    for (PelorinObserver* observer : snapshot) {
        if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end()) {
            (observer->*event)(*this);
        }
    }
}

void Pelorin::addObserver(PelorinObserver* observer) {
    if (observer == nullptr) {
        return;
    }
    std::lock_guard lock(notifyMutex_);
    observers_.push_back(observer);
}

void Pelorin::removeObserver(PelorinObserver* observer) {
    std::lock_guard lock(notifyMutex_);
    auto it = std::find(observers_.begin(), observers_.end(), observer);
    if (it != observers_.end()) {
        observers_.erase(it);
    }
}

bool Pelorin::hasEnded() const {
    std::lock_guard lock(endMutex_);
    return ended_;
}

bool Pelorin::waitUntilEnded(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(endMutex_);
    return endCond_.wait_for(lock, timeout, [this] { return ended_; });
}

void Pelorin::reportEnded() {
    {
        std::lock_guard lock(endMutex_);
        ended_ = true;
    }
    endCond_.notify_all();
    notifyObservers(&PelorinObserver::playerEnded);
}

void Pelorin::startInternal() {
    if (!url_) {
        // Nothing to play: end at once, without touching the platform.
        noteFailureReason("no stream address was given");
    } else {
        // Published before any flag is looked at: a stop that finds no loop
        // set its flag early enough for the worker to see it.
        std::lock_guard lock(loopMutex_);
        workerLoop_ = RunLoop::current().shared_from_this();
    }
    if (url_ && !finished_.load()) {
        if (open()) {
            serveUntilOver();
        }
        teardown();
    }
    {
        // From here a stop does nothing: the worker is done.
        std::lock_guard lock(mutex2_);
        finished_.store(true);
    }
    {
        std::lock_guard lock(loopMutex_);
        workerLoop_.reset();
    }
    if (tap_) {
        tap_->streamEnded();
    }
    if (audioQueue_.load() != nullptr) {
        // The queue could not be disposed of and may still call back: this
        // object must outlive it, so it is kept until the process ends.
        static std::mutex keptMutex;
        static std::vector<std::shared_ptr<Pelorin>> kept;
        std::lock_guard lock(keptMutex);
        kept.push_back(shared_from_this());
    }
    reportEnded();
}

bool Pelorin::open() {
    const AudioFileType hint = fileTypeHintForURL(&*url_);
    StreamParserCreation created = platform_->makeStreamParser(*this, hint);
    if (!created.parser) {
        logStatusError("AudioFileStreamOpen", static_cast<StatusCode>(created.error));
        noteFailureReason(std::string(failureWords("AudioFileStreamOpen")));
        return false;
    }
    audioFileStream_ = std::move(created.parser);
    if (finished_.load()) {
        return false;  // stopped meanwhile: no connection is made
    }
    std::unique_ptr<HttpStream> stream = platform_->makeHttpStream(*url_);
    if (stream == nullptr || !stream->open()) {
        std::string why = stream != nullptr ? stream->errorText() : std::string();
        noteFailureReason(why.empty() ? "the stream could not be opened" : std::move(why));
        return false;  // a stream made is released here
    }
    stream->setListener(this);
    stream->schedule(RunLoop::current());
    // Published only now: a stop that came earlier found no stream to close,
    // and none can release the stream half set up. A stop that came meanwhile
    // ends the serving at once, and the teardown closes the stream.
    stream_.store(stream.release());
    return true;
}

bool Pelorin::over() const {
    return finished_.load() && (!isPlaying_.load() || stopFailed_.load());
}

void Pelorin::serveUntilOver() {
    // No time limit: every change that ends the serving happens inside an
    // event on this loop (a failure, a stop on this thread) or comes with a
    // wake (stop(), the queue's report that it stopped).
    constexpr RunLoop::Seconds kNoTimeLimit{1e9};
    for (;;) {
        if (failed_.load()) {
            stop();
            showFailureAlert();
            return;
        }
        if (over()) {
            return;
        }
        platform_->runCurrentLoop(kNoTimeLimit, true);
    }
}

void Pelorin::showFailureAlert() {
    const std::string title = strings_->localizedStringForKey(kAlertTitleKey, "", kErrorsTable);
    const std::string message = strings_->localizedStringForKey(kAlertMessageKey, "", kErrorsTable);
    const std::string button = strings_->localizedStringForKey(kAlertButtonKey, "", kErrorsTable);
    alerts_->showAlert(title, message, button);
}

void Pelorin::teardown() {
    // Each round tries every step still to do, so that one step that keeps
    // failing leaves nothing else behind; a round with a failure is followed
    // by another, up to kTeardownAttempts.
    for (int attempt = 1; attempt <= kTeardownAttempts; ++attempt) {
        bool again = false;
        closeStream();
        // Closing the parser cannot fail.
        audioFileStream_.reset();
        // A queue that was created but never started is disposed of as well:
        // it owns a thread and its buffers. It is taken under mutex2, so a
        // stop() on another thread is either done with it or sees none.
        OutputQueue* queue = nullptr;
        {
            std::lock_guard lock(mutex2_);
            queue = audioQueue_.exchange(nullptr);
        }
        if (queue != nullptr) {
            if (QueueError error = queue->dispose(true); error != QueueError::None) {
                logStatusError("AudioQueueDispose", static_cast<StatusCode>(error));
                audioQueue_.store(queue);
                again = true;
            } else {
                ring_.buffers().fill(nullptr);
                ownedQueue_.reset();
            }
        }
        if (!again) {
            return;
        }
    }
    // Every attempt failed: the worker ends all the same and leaves what could
    // not be released.
}

}  // namespace orvento
