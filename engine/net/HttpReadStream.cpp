#include "engine/net/HttpReadStream.h"

#include <curl/curl.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/net/ByteRing.h"
#include "engine/net/CurlTransfer.h"

namespace orvento {

class HttpMessage {
  public:
    explicit HttpMessage(CFURLRef url) : url_(std::move(url)) {}
    const CFURLRef& url() const { return url_; }

  private:
    const CFURLRef url_;
};

namespace {

// One read of the engine (32 KiB) plus 64 KiB ahead of it.
constexpr std::size_t kBufferCapacity = std::size_t{96} * 1024;
// A paused transfer resumes once the reader has drained the buffer to here.
constexpr std::size_t kResumeLevel = kBufferCapacity / 2;
constexpr long kMaxRedirects = 5;
// The SHOUTcast status line. Exactly this text: a shorter alias such as "ICY"
// would let "ICY 404 Not Found" pass as success.
constexpr const char* kIcyStatusLine = "ICY 200 OK";

struct Client {
    CFOptionFlags events = 0;
    CFReadStreamClientCallBack callback = nullptr;
    void* info = nullptr;
    void (*releaseInfo)(const void* info) = nullptr;
};

}  // namespace

class HttpReadStream {
  public:
    explicit HttpReadStream(CFURLRef url) : url_(std::move(url)) {}
    ~HttpReadStream();
    HttpReadStream(const HttpReadStream&) = delete;
    HttpReadStream& operator=(const HttpReadStream&) = delete;

    void retain() { refs_.fetch_add(1, std::memory_order_relaxed); }
    void release() {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::unique_ptr<HttpReadStream> last(this);
        }
    }

    bool setOptions(const HttpReadStreamOptions& options);
    bool open();
    void setClient(const Client& client);
    void schedule(RunLoop& loop, CFRunLoopMode mode);
    CFIndex read(std::uint8_t* buffer, CFIndex length);
    void close();
    std::string errorText() const;
    std::optional<std::uint64_t> declaredLength() const {
        std::lock_guard lock(mutex_);
        return declaredLength_;
    }
    std::uint64_t batchingDelays() const { return batchingDelays_.load(std::memory_order_relaxed); }

  private:
    // Holds a reference for a closure that runs later on the loop thread.
    class Ref {
      public:
        explicit Ref(HttpReadStream* stream) : stream_(stream) { stream_->retain(); }
        Ref(const Ref& other) : stream_(other.stream_) { stream_->retain(); }
        Ref& operator=(const Ref&) = delete;
        ~Ref() { stream_->release(); }
        HttpReadStream* operator->() const { return stream_; }

      private:
        HttpReadStream* stream_;
    };

    // Loop thread only, from here on.
    void attach();
    void startIfReady();
    void startTransfer();
    void finishTransfer(CURLcode result);
    void fail(std::string text);
    void noteDeclaredLength();
    void stopTransfer();
    void teardown();
    void onDispatch();
    void deliver(const Client& client, CFStreamEventType type);
    void signalDispatch();
    bool terminalDue() const { return !terminalReported_ && (transferDone_ || transferFailed_); }
    void resume();
    void checkStall();
    void drainMultiInfo();
    void onSocketReady(curl_socket_t socket, short revents);
    std::uint64_t socketAction(curl_socket_t socket, int mask);
    void afterRead(curl_socket_t socket, std::uint64_t taken, RunLoop::Clock::time_point at,
                   bool waitedThroughDelay);
    void endBatch();
    void updateSocket(curl_socket_t socket, int what);
    std::size_t onWrite(const char* data, std::size_t bytes);
    void setErrorText(std::string text);

    static int curlSocketCallback(CURL* easy, curl_socket_t socket, int what, void* self,
                                  void* socketData);
    static int curlTimerCallback(CURLM* multi, long timeoutMs, void* self);
    static std::size_t curlWriteCallback(char* data, std::size_t size, std::size_t count,
                                         void* self);

    std::atomic<int> refs_{1};
    // Set by close on any thread; read everywhere.
    std::atomic<bool> closed_{false};

    // Written by the API calls on any thread, guarded by mutex_.
    mutable std::mutex mutex_;
    const CFURLRef url_;
    HttpReadStreamOptions options_;
    bool opened_ = false;
    Client client_;
    std::shared_ptr<RunLoop> loop_;  // set once by schedule, never cleared
    std::string mode_;
    std::string errorText_;
    std::optional<std::uint64_t> declaredLength_;  // set by the loop thread

    // Owned by the loop thread once the stream is scheduled.
    RunLoop* ownLoop_ = nullptr;  // loop_.get(), set by attach
    bool attached_ = false;
    bool transferStarted_ = false;
    bool tornDown_ = false;
    CURLM* multi_ = nullptr;
    CurlTransfer transfer_;
    CURL* easy_ = nullptr;           // transfer_.easy() while the transfer runs
    curl_slist* aliases_ = nullptr;  // outlives the easy handle that uses it
    struct SocketWatch {
        RunLoop::SourceId source = 0;
        short wanted = 0;  // the events libcurl asked for
    };
    std::map<curl_socket_t, SocketWatch> sockets_;
    RunLoop::SourceId dispatchSource_ = 0;
    RunLoop::SourceId curlTimer_ = 0;
    RunLoop::SourceId stallTimer_ = 0;
    double stallSeconds_ = 0;
    RunLoop::Clock::time_point lastProgress_;
    // Read batching: the socket left unwatched for reading until batchTimer_
    // fires (CURL_SOCKET_BAD: none), and the rule that says when.
    RunLoop::SourceId batchTimer_ = 0;
    curl_socket_t batchedSocket_ = CURL_SOCKET_BAD;
    std::optional<ReadBatching> batching_;
    std::atomic<std::uint64_t> batchingDelays_{0};
    std::uint64_t bodyBytes_ = 0;  // taken into the buffer so far
    ByteRing buffer_{kBufferCapacity};
    bool paused_ = false;          // the write callback returned CURL_WRITEFUNC_PAUSE
    bool transferDone_ = false;    // the whole body has been received
    bool transferFailed_ = false;  // the transfer ended with an error
    bool offerPending_ = false;    // has-bytes-available is due on a pass
    bool readSinceOffer_ = false;  // the client read after the last has-bytes-available
    bool terminalReported_ = false;
    bool delivering_ = false;  // a client callback is running
};

HttpReadStream::~HttpReadStream() {
    // Scheduled streams are kept alive by their loop until teardown, so no
    // libcurl handle can be left here.
    assert(multi_ == nullptr && easy_ == nullptr);
    if (client_.releaseInfo != nullptr) {
        client_.releaseInfo(client_.info);
    }
}

bool HttpReadStream::setOptions(const HttpReadStreamOptions& options) {
    const auto positive = [](double seconds) { return std::isfinite(seconds) && seconds > 0; };
    if (!positive(options.connectTimeoutSeconds) || !positive(options.stallTimeoutSeconds) ||
        !(std::isfinite(options.readBatchSeconds) && options.readBatchSeconds >= 0)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    if (opened_) {
        return false;
    }
    options_ = options;
    return true;
}

bool HttpReadStream::open() {
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(mutex_);
        if (opened_ || closed_.load()) {
            errorText_ = "The stream was already opened or closed.";
            return false;
        }
        if (!url_) {
            errorText_ = "No stream address was given.";
            return false;
        }
        if (url_->scheme() != "http" && url_->scheme() != "https") {
            errorText_ =
                "Only http and https addresses can be played: " + withoutPassword(url_->string());
            return false;
        }
        opened_ = true;
        loop = loop_;
    }
    if (loop && loop->isCurrent()) {
        startIfReady();
    } else if (loop) {
        loop->post([ref = Ref(this)] { ref->startIfReady(); });
    }
    return true;
}

void HttpReadStream::setClient(const Client& client) {
    Client previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(client_, client);
    }
    if (previous.releaseInfo != nullptr) {
        previous.releaseInfo(previous.info);
    }
}

void HttpReadStream::schedule(RunLoop& loop, CFRunLoopMode mode) {
    {
        std::lock_guard lock(mutex_);
        if (loop_ || closed_.load()) {
            return;
        }
        loop_ = loop.shared_from_this();
        mode_ = mode != nullptr ? mode : kCFRunLoopDefaultMode;
    }
    if (loop.isCurrent()) {
        attach();
    } else {
        loop.post([ref = Ref(this)] { ref->attach(); });
    }
}

CFIndex HttpReadStream::read(std::uint8_t* buffer, CFIndex length) {
    if (buffer == nullptr || length < 0) {
        return -1;
    }
    if (closed_.load()) {
        return 0;
    }
    RunLoop* loop = nullptr;
    {
        std::lock_guard lock(mutex_);
        loop = loop_.get();
    }
    if (loop == nullptr) {
        return 0;  // not scheduled: nothing can have arrived
    }
    if (!loop->isCurrent() || loop->isShutDown()) {
        return -1;
    }
    if (length == 0) {
        return 0;
    }
    const std::size_t bytes = buffer_.read(buffer, static_cast<std::size_t>(length));
    if (bytes > 0) {
        readSinceOffer_ = true;
        if (!delivering_ && !buffer_.empty()) {
            offerPending_ = true;  // read outside an event: offer the rest again
        }
        // A paused transfer is resumed from the loop's pass, not here:
        // curl_easy_pause may call the write callback re-entrantly. The end or
        // error may also become due now.
        if (offerPending_ || (paused_ && buffer_.size() <= kResumeLevel) || terminalDue()) {
            signalDispatch();
        }
        return static_cast<CFIndex>(bytes);
    }
    return transferFailed_ || tornDown_ ? -1 : 0;
}

void HttpReadStream::close() {
    if (closed_.exchange(true)) {
        return;
    }
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(mutex_);
        loop = loop_;
    }
    if (!loop) {
        return;
    }
    if (loop->isCurrent()) {
        teardown();
    } else {
        // If the loop is already shut down, its shutdown has torn the stream down.
        loop->post([ref = Ref(this)] { ref->teardown(); });
    }
}

std::string HttpReadStream::errorText() const {
    std::lock_guard lock(mutex_);
    return errorText_;
}

void HttpReadStream::setErrorText(std::string text) {
    std::lock_guard lock(mutex_);
    errorText_ = std::move(text);
}

void HttpReadStream::attach() {
    if (attached_ || closed_.load()) {
        return;
    }
    std::string mode;
    {
        std::lock_guard lock(mutex_);
        ownLoop_ = loop_.get();
        mode = mode_;
    }
    attached_ = true;
    // The source holds the stream until teardown removes it; at the loop's
    // shutdown it tears the stream down on the loop's thread.
    dispatchSource_ = ownLoop_->addSignalledSource(
        mode.c_str(), [ref = Ref(this)] { ref->onDispatch(); }, [this] { teardown(); });
    if (dispatchSource_ == 0) {
        tornDown_ = true;  // the loop is already shut down
        return;
    }
    startIfReady();
}

void HttpReadStream::startIfReady() {
    if (!attached_ || transferStarted_ || tornDown_ || closed_.load()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (!opened_) {
            return;
        }
    }
    transferStarted_ = true;
    startTransfer();
}

void HttpReadStream::startTransfer() {
    std::string url;
    std::string mode;
    HttpReadStreamOptions options;
    {
        std::lock_guard lock(mutex_);
        url = url_->string();
        mode = mode_;
        options = options_;
    }
    CurlTransfer::Settings settings;
    settings.url = url;
    settings.maxRedirects = kMaxRedirects;
    settings.connectTimeout =
        std::chrono::milliseconds(std::lround(options.connectTimeoutSeconds * 1000));
    settings.caFile = options.caFile;
    if (std::string error = transfer_.setUp(settings); !error.empty()) {
        fail(std::move(error));
        return;
    }
    easy_ = transfer_.easy();
    multi_ = curl_multi_init();
    aliases_ = curl_slist_append(nullptr, kIcyStatusLine);
    if (multi_ == nullptr || aliases_ == nullptr) {
        fail("The network library could not start a transfer.");
        return;
    }
    CURLcode set = CURLE_OK;
    const auto option = [&](CURLoption key, auto value) {
        if (set == CURLE_OK) {
            set = curl_easy_setopt(easy_, key, value);
        }
    };
    option(CURLOPT_WRITEFUNCTION, &HttpReadStream::curlWriteCallback);
    option(CURLOPT_WRITEDATA, this);
    option(CURLOPT_HTTP200ALIASES, aliases_);
    option(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    if (set != CURLE_OK) {
        fail(std::string("The network library refused a setting: ") + curl_easy_strerror(set));
        return;
    }
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &HttpReadStream::curlSocketCallback);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &HttpReadStream::curlTimerCallback);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);

    curlTimer_ = ownLoop_->addTimer(mode.c_str(), [this] {
        const RunLoop::Clock::time_point at = RunLoop::Clock::now();
        if (const std::uint64_t taken = socketAction(CURL_SOCKET_TIMEOUT, 0); taken > 0) {
            afterRead(CURL_SOCKET_BAD, taken, at, false);
        }
    });
    stallTimer_ = ownLoop_->addTimer(mode.c_str(), [this] { checkStall(); });
    stallSeconds_ = options.stallTimeoutSeconds;
    lastProgress_ = RunLoop::Clock::now();
    ownLoop_->armTimer(stallTimer_, stallSeconds_);
    batchTimer_ = ownLoop_->addTimer(mode.c_str(), [this] { endBatch(); });
    batching_.emplace(options.readBatchSeconds);
    batching_->restart(lastProgress_);

    // Adding the handle asks, through the timer callback, for a first
    // socket action on the next pass: the transfer starts there.
    const CURLMcode added = curl_multi_add_handle(multi_, easy_);
    if (added != CURLM_OK) {
        fail(std::string("The network library could not start a transfer: ") +
             curl_multi_strerror(added));
    }
}

void HttpReadStream::finishTransfer(CURLcode result) {
    std::string failure = transfer_.failureText(result);
    if (failure.empty()) {
        noteDeclaredLength();
        transferDone_ = true;
        stopTransfer();
        signalDispatch();
        return;
    }
    fail(std::move(failure));
}

void HttpReadStream::noteDeclaredLength() {
    const std::optional<std::uint64_t> length = transfer_.declaredLength();
    std::lock_guard lock(mutex_);
    declaredLength_ = length;
}

void HttpReadStream::fail(std::string text) {
    if (transferDone_ || transferFailed_) {
        return;
    }
    transferFailed_ = true;
    setErrorText(std::move(text));
    stopTransfer();
    signalDispatch();
}

// Never called from inside a libcurl callback.
void HttpReadStream::stopTransfer() {
    if (ownLoop_ != nullptr) {
        ownLoop_->removeSource(curlTimer_);
        ownLoop_->removeSource(stallTimer_);
        ownLoop_->removeSource(batchTimer_);
    }
    curlTimer_ = 0;
    stallTimer_ = 0;
    batchTimer_ = 0;
    batchedSocket_ = CURL_SOCKET_BAD;
    // Removing and cleaning up reports every socket as CURL_POLL_REMOVE
    // through the socket callback, which removes the descriptor watches.
    if (multi_ != nullptr && easy_ != nullptr) {
        curl_multi_remove_handle(multi_, easy_);
    }
    transfer_.release();
    easy_ = nullptr;
    if (multi_ != nullptr) {
        curl_multi_cleanup(multi_);
        multi_ = nullptr;
    }
    for (const auto& [socket, watch] : sockets_) {
        ownLoop_->removeSource(watch.source);
    }
    sockets_.clear();
    curl_slist_free_all(aliases_);
    aliases_ = nullptr;
    paused_ = false;
}

void HttpReadStream::teardown() {
    if (tornDown_) {
        return;
    }
    tornDown_ = true;
    stopTransfer();
    if (ownLoop_ != nullptr) {
        ownLoop_->removeSource(dispatchSource_);
    }
    dispatchSource_ = 0;
    buffer_.release();
}

void HttpReadStream::signalDispatch() {
    if (dispatchSource_ != 0) {
        ownLoop_->signal(dispatchSource_);
    }
}

// The stream's work on one pass of the loop: resume a paused transfer whose
// buffer has drained, then report at most one event.
void HttpReadStream::onDispatch() {
    if (tornDown_) {
        return;
    }
    if (closed_.load()) {
        teardown();
        return;
    }
    if (paused_ && buffer_.size() <= kResumeLevel) {
        resume();
    }

    Client client;
    {
        std::lock_guard lock(mutex_);
        client = client_;
    }
    const bool offering = offerPending_ && client.callback != nullptr &&
                          (client.events & kCFStreamEventHasBytesAvailable) != 0;
    if (offering && !buffer_.empty()) {
        offerPending_ = false;
        readSinceOffer_ = false;
        deliver(client, kCFStreamEventHasBytesAvailable);
        if (tornDown_) {
            return;
        }
        if (closed_.load()) {
            teardown();
            return;
        }
        if (readSinceOffer_ && !buffer_.empty()) {
            offerPending_ = true;
        }
        if (offerPending_ || (paused_ && buffer_.size() <= kResumeLevel) || terminalDue()) {
            signalDispatch();
        }
        return;
    }
    if (terminalReported_) {
        return;
    }
    if (transferDone_ && buffer_.empty()) {
        terminalReported_ = true;
        deliver(client, kCFStreamEventEndEncountered);
    } else if (transferFailed_) {
        terminalReported_ = true;
        deliver(client, kCFStreamEventErrorOccurred);
    }
}

void HttpReadStream::deliver(const Client& client, CFStreamEventType type) {
    if (client.callback == nullptr || (client.events & type) == 0 || closed_.load()) {
        return;
    }
    // From here the dispatch has begun: a close that returns meanwhile does
    // not stop it, and this reference keeps the stream alive through it.
    const Ref hold(this);
    delivering_ = true;
    client.callback(this, type, client.info);
    delivering_ = false;
}

void HttpReadStream::resume() {
    paused_ = false;
    lastProgress_ = RunLoop::Clock::now();
    // The time spent paused says nothing about the stream's rate: judge it
    // afresh.
    batching_->restart(lastProgress_);
    ownLoop_->armTimer(stallTimer_, stallSeconds_);
    // May call the write callback at once, which may pause again.
    const CURLcode resumed = curl_easy_pause(easy_, CURLPAUSE_CONT);
    if (resumed != CURLE_OK) {
        fail(std::string("The transfer could not be resumed: ") + curl_easy_strerror(resumed));
    }
}

void HttpReadStream::checkStall() {
    if (paused_ || easy_ == nullptr) {
        return;
    }
    if (batchedSocket_ != CURL_SOCKET_BAD) {
        // Bytes held in the kernel through a batching delay are no stall:
        // take them before judging.
        endBatch();
        if (paused_ || easy_ == nullptr) {
            return;
        }
    }
    const double idle =
        std::chrono::duration<double>(RunLoop::Clock::now() - lastProgress_).count();
    if (idle < stallSeconds_) {
        ownLoop_->armTimer(stallTimer_, stallSeconds_ - idle);
        return;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", stallSeconds_);
    fail(std::string("The server sent no data for ") + seconds + " seconds.");
}

void HttpReadStream::drainMultiInfo() {
    int left = 0;
    while (multi_ != nullptr) {
        const CURLMsg* message = curl_multi_info_read(multi_, &left);
        if (message == nullptr) {
            return;
        }
        if (message->msg == CURLMSG_DONE) {
            finishTransfer(message->data.result);  // cleans the handles up
            return;
        }
    }
}

void HttpReadStream::onSocketReady(curl_socket_t socket, short revents) {
    if (multi_ == nullptr) {
        return;
    }
    int mask = 0;
    if ((revents & (POLLERR | POLLHUP | POLLNVAL)) == 0) {
        mask |= (revents & POLLIN) != 0 ? CURL_CSELECT_IN : 0;
        mask |= (revents & POLLOUT) != 0 ? CURL_CSELECT_OUT : 0;
    }  // otherwise 0: libcurl examines the socket itself and finds the error
    const RunLoop::Clock::time_point at = RunLoop::Clock::now();
    afterRead(socket, socketAction(socket, mask), at, false);
}

// Lets libcurl act on `socket` (or its timeout) and returns the body bytes
// that took into the buffer.
std::uint64_t HttpReadStream::socketAction(curl_socket_t socket, int mask) {
    const std::uint64_t before = bodyBytes_;
    int running = 0;
    curl_multi_socket_action(multi_, socket, mask, &running);
    drainMultiInfo();
    return bodyBytes_ - before;
}

// Notes a read that took `taken` body bytes at `at` and decides, when it was
// a read of `socket` (not of libcurl's timer), whether to leave that socket
// unwatched for reading for a batching interval.
void HttpReadStream::afterRead(curl_socket_t socket, std::uint64_t taken,
                               RunLoop::Clock::time_point at, bool waitedThroughDelay) {
    const auto it = sockets_.find(socket);
    const bool watchedForReading =
        socket != CURL_SOCKET_BAD && it != sockets_.end() && (it->second.wanted & POLLIN) != 0 &&
        batchedSocket_ == CURL_SOCKET_BAD && multi_ != nullptr && !paused_;
    if (!batching_->delayAfterRead(at, taken, watchedForReading, waitedThroughDelay)) {
        return;
    }
    batchedSocket_ = socket;
    batchingDelays_.fetch_add(1, std::memory_order_relaxed);
    ownLoop_->setFdWatchEvents(it->second.source, static_cast<short>(it->second.wanted & ~POLLIN));
    ownLoop_->armTimer(batchTimer_, batching_->interval());
}

// Ends the batching delay: the socket is watched for what libcurl asked for
// again, and what arrived meanwhile is read at once rather than after one
// more pass of the loop.
void HttpReadStream::endBatch() {
    const curl_socket_t socket = std::exchange(batchedSocket_, CURL_SOCKET_BAD);
    ownLoop_->disarmTimer(batchTimer_);
    const auto it = sockets_.find(socket);
    if (it == sockets_.end() || multi_ == nullptr) {
        return;
    }
    ownLoop_->setFdWatchEvents(it->second.source, it->second.wanted);
    if ((it->second.wanted & POLLIN) == 0) {
        return;  // paused meanwhile: the resume asks for reading again
    }
    const RunLoop::Clock::time_point at = RunLoop::Clock::now();
    // With nothing to read libcurl's receive just meets EAGAIN.
    const std::uint64_t taken = socketAction(socket, CURL_CSELECT_IN);
    afterRead(socket, taken, at, taken > 0);
}

void HttpReadStream::updateSocket(curl_socket_t socket, int what) {
    const auto it = sockets_.find(socket);
    if (what == CURL_POLL_REMOVE) {
        if (it != sockets_.end()) {
            ownLoop_->removeSource(it->second.source);
            sockets_.erase(it);
        }
        if (socket == batchedSocket_) {
            // The descriptor may be reused by a new connection, which must
            // not inherit the delay.
            batchedSocket_ = CURL_SOCKET_BAD;
            ownLoop_->disarmTimer(batchTimer_);
        }
        return;
    }
    const auto events = static_cast<short>(((what & CURL_POLL_IN) != 0 ? POLLIN : 0) |
                                           ((what & CURL_POLL_OUT) != 0 ? POLLOUT : 0));
    if (it != sockets_.end()) {
        it->second.wanted = events;
        // During a batching delay reading waits; writing never does.
        ownLoop_->setFdWatchEvents(it->second.source, socket == batchedSocket_
                                                          ? static_cast<short>(events & ~POLLIN)
                                                          : events);
        return;
    }
    std::string mode;
    {
        std::lock_guard lock(mutex_);
        mode = mode_;
    }
    sockets_[socket] = {
        ownLoop_->addFdWatch(socket, events, mode.c_str(),
                             [this, socket](short revents) { onSocketReady(socket, revents); }),
        events};
}

std::size_t HttpReadStream::onWrite(const char* data, std::size_t bytes) {
    if (closed_.load()) {
        return CURL_WRITEFUNC_PAUSE;  // the teardown is on its way
    }
    if (!transfer_.acceptsBody()) {
        return 0;  // an error page: the transfer fails with the server's answer
    }
    // A piece that does not fit waits inside libcurl, and libcurl stops
    // reading the socket: the server meets TCP backpressure. Only a piece
    // larger than the whole buffer is taken by growing it.
    if (bytes > buffer_.freeSpace() && !(buffer_.empty() && bytes > buffer_.capacity())) {
        paused_ = true;
        ownLoop_->disarmTimer(stallTimer_);
        return CURL_WRITEFUNC_PAUSE;
    }
    if (bodyBytes_ == 0) {
        noteDeclaredLength();  // before the reader can see a byte
    }
    buffer_.write(data, bytes);
    bodyBytes_ += bytes;
    lastProgress_ = RunLoop::Clock::now();
    offerPending_ = true;
    signalDispatch();
    return bytes;
}

int HttpReadStream::curlSocketCallback(CURL* /*easy*/, curl_socket_t socket, int what, void* self,
                                       void* /*socketData*/) {
    static_cast<HttpReadStream*>(self)->updateSocket(socket, what);
    return 0;
}

int HttpReadStream::curlTimerCallback(CURLM* /*multi*/, long timeoutMs, void* self) {
    auto* stream = static_cast<HttpReadStream*>(self);
    if (timeoutMs < 0) {
        stream->ownLoop_->disarmTimer(stream->curlTimer_);
    } else {
        stream->ownLoop_->armTimer(stream->curlTimer_, static_cast<double>(timeoutMs) / 1000.0);
    }
    return 0;
}

std::size_t HttpReadStream::curlWriteCallback(char* data, std::size_t size, std::size_t count,
                                              void* self) {
    return static_cast<HttpReadStream*>(self)->onWrite(data, size * count);
}

CFHTTPMessageRef CFHTTPMessageCreateRequest(CFAllocatorRef /*alloc*/, CFStringRef requestMethod,
                                            CFURLRef url, CFStringRef httpVersion) {
    if (requestMethod == nullptr || !url || httpVersion == nullptr ||
        std::strcmp(requestMethod, "GET") != 0 ||
        std::strcmp(httpVersion, kCFHTTPVersion1_1) != 0) {
        return nullptr;
    }
    return std::make_unique<HttpMessage>(std::move(url)).release();
}

CFReadStreamRef CFReadStreamCreateForHTTPRequest(CFAllocatorRef /*alloc*/,
                                                 CFHTTPMessageRef request) {
    if (request == nullptr) {
        return nullptr;
    }
    initialiseCurl();
    return std::make_unique<HttpReadStream>(request->url()).release();
}

bool CFReadStreamOpen(CFReadStreamRef stream) {
    return stream != nullptr && stream->open();
}

bool CFReadStreamSetClient(CFReadStreamRef stream, CFOptionFlags streamEvents,
                           CFReadStreamClientCallBack clientCB,
                           CFStreamClientContext* clientContext) {
    if (stream == nullptr) {
        return false;
    }
    Client client;
    if (clientCB != nullptr && streamEvents != 0) {
        client.events = streamEvents;
        client.callback = clientCB;
        if (clientContext != nullptr) {
            client.info = clientContext->info;
            client.releaseInfo = clientContext->release;
            if (clientContext->retain != nullptr) {
                clientContext->retain(client.info);
            }
        }
    }
    stream->setClient(client);
    return true;
}

void CFReadStreamScheduleWithRunLoop(CFReadStreamRef stream, CFRunLoopRef runLoop,
                                     CFRunLoopMode runLoopMode) {
    if (stream != nullptr && runLoop != nullptr) {
        stream->schedule(*runLoop, runLoopMode);
    }
}

CFIndex CFReadStreamRead(CFReadStreamRef stream, std::uint8_t* buffer, CFIndex bufferLength) {
    return stream != nullptr ? stream->read(buffer, bufferLength) : -1;
}

void CFReadStreamClose(CFReadStreamRef stream) {
    if (stream != nullptr) {
        stream->close();
    }
}

void CFRelease(CFHTTPMessageRef message) {
    std::unique_ptr<HttpMessage> released(message);
}

void CFRelease(CFReadStreamRef stream) {
    if (stream != nullptr) {
        stream->close();
        stream->release();
    }
}

bool HttpReadStreamSetOptions(CFReadStreamRef stream, const HttpReadStreamOptions& options) {
    return stream != nullptr && stream->setOptions(options);
}

std::string HttpReadStreamErrorText(CFReadStreamRef stream) {
    return stream != nullptr ? stream->errorText() : std::string();
}

std::optional<std::uint64_t> HttpReadStreamDeclaredLength(CFReadStreamRef stream) {
    return stream != nullptr ? stream->declaredLength() : std::nullopt;
}

std::uint64_t HttpReadStreamBatchingDelays(CFReadStreamRef stream) {
    return stream != nullptr ? stream->batchingDelays() : 0;
}

}  // namespace orvento
