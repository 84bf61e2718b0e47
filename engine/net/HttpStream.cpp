#include "engine/net/HttpStream.h"

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

namespace {

// One read of the engine (32 KiB) plus 64 KiB ahead of it.
constexpr std::size_t kBufferCapacity = std::size_t{96} * 1024;
// A paused transfer resumes once the reader has drained the buffer to here.
constexpr std::size_t kResumeLevel = kBufferCapacity / 2;
constexpr long kMaxRedirects = 5;
// The SHOUTcast status line. Exactly this text: a shorter alias such as "ICY"
// would let "ICY 404 Not Found" pass as success.
constexpr const char* kIcyStatusLine = "ICY 200 OK";

bool validOptions(const HttpStream::Options& options) {
    const auto positive = [](double seconds) { return std::isfinite(seconds) && seconds > 0; };
    return positive(options.connectTimeout.count()) && positive(options.stallTimeout.count()) &&
           std::isfinite(options.readBatchInterval.count()) &&
           options.readBatchInterval.count() >= 0;
}

// The stream itself. Shared: the owner's handle, the loop's sources and
// every listener call in progress hold it, so it outlives whichever of them
// ends last.
class CurlHttpStream final : public HttpStream,
                             public std::enable_shared_from_this<CurlHttpStream> {
  public:
    CurlHttpStream(Url url, const Options& options) : url_(std::move(url)), options_(options) {}
    ~CurlHttpStream() override;
    CurlHttpStream(const CurlHttpStream&) = delete;
    CurlHttpStream& operator=(const CurlHttpStream&) = delete;

    bool open() override;
    void setListener(Listener* listener) override;
    void schedule(RunLoop& loop) override;
    std::optional<std::size_t> read(std::span<std::byte> buffer) override;
    void close() override;
    std::string errorText() const override;
    std::optional<std::uint64_t> declaredLength() const override {
        std::lock_guard lock(mutex_);
        return declaredLength_;
    }
    std::uint64_t batchingDelays() const override {
        return batchingDelays_.load(std::memory_order_relaxed);
    }
    std::size_t bufferedBytes() const override { return buffer_.size(); }

  private:
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
    void deliver(Listener* listener, Event event);
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

    // Set by close on any thread; read everywhere.
    std::atomic<bool> closed_{false};

    // Written by the API calls on any thread, guarded by mutex_.
    mutable std::mutex mutex_;
    const Url url_;
    const Options options_;
    bool opened_ = false;
    Listener* listener_ = nullptr;
    std::shared_ptr<RunLoop> loop_;  // set once by schedule, never cleared
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
    bool offerPending_ = false;    // bytesAvailable is due on a pass
    bool readSinceOffer_ = false;  // the listener read after the last bytesAvailable
    bool terminalReported_ = false;
    bool delivering_ = false;  // a listener call is running
};

// The owner's handle: closes the stream when it goes.
class OwnedHttpStream final : public HttpStream {
  public:
    explicit OwnedHttpStream(std::shared_ptr<CurlHttpStream> stream) : stream_(std::move(stream)) {}
    ~OwnedHttpStream() override { stream_->close(); }
    OwnedHttpStream(const OwnedHttpStream&) = delete;
    OwnedHttpStream& operator=(const OwnedHttpStream&) = delete;

    bool open() override { return stream_->open(); }
    void setListener(Listener* listener) override { stream_->setListener(listener); }
    void schedule(RunLoop& loop) override { stream_->schedule(loop); }
    std::optional<std::size_t> read(std::span<std::byte> buffer) override {
        return stream_->read(buffer);
    }
    void close() override { stream_->close(); }
    std::string errorText() const override { return stream_->errorText(); }
    std::optional<std::uint64_t> declaredLength() const override {
        return stream_->declaredLength();
    }
    std::uint64_t batchingDelays() const override { return stream_->batchingDelays(); }
    std::size_t bufferedBytes() const override { return stream_->bufferedBytes(); }

  private:
    const std::shared_ptr<CurlHttpStream> stream_;
};

}  // namespace

std::unique_ptr<HttpStream> HttpStream::create(const Url& url, const Options& options) {
    if (!validOptions(options)) {
        return nullptr;
    }
    initialiseCurl();
    return std::make_unique<OwnedHttpStream>(std::make_shared<CurlHttpStream>(url, options));
}

CurlHttpStream::~CurlHttpStream() {
    // Scheduled streams are kept alive by their loop until teardown, so no
    // libcurl handle can be left here.
    assert(multi_ == nullptr && easy_ == nullptr);
}

bool CurlHttpStream::open() {
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(mutex_);
        if (opened_ || closed_.load()) {
            errorText_ = "The stream was already opened or closed.";
            return false;
        }
        if (url_.scheme() != "http" && url_.scheme() != "https") {
            errorText_ =
                "Only http and https addresses can be played: " + withoutPassword(url_.string());
            return false;
        }
        opened_ = true;
        loop = loop_;
    }
    if (loop && loop->isCurrent()) {
        startIfReady();
    } else if (loop) {
        loop->post([self = shared_from_this()] { self->startIfReady(); });
    }
    return true;
}

void CurlHttpStream::setListener(Listener* listener) {
    std::lock_guard lock(mutex_);
    listener_ = listener;
}

void CurlHttpStream::schedule(RunLoop& loop) {
    {
        std::lock_guard lock(mutex_);
        if (loop_ || closed_.load()) {
            return;
        }
        loop_ = loop.shared_from_this();
    }
    if (loop.isCurrent()) {
        attach();
    } else {
        loop.post([self = shared_from_this()] { self->attach(); });
    }
}

std::optional<std::size_t> CurlHttpStream::read(std::span<std::byte> buffer) {
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
        return std::nullopt;
    }
    if (buffer.empty()) {
        return 0;
    }
    const std::size_t bytes =
        buffer_.read(reinterpret_cast<unsigned char*>(buffer.data()), buffer.size());
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
        return bytes;
    }
    if (transferFailed_ || tornDown_) {
        return std::nullopt;
    }
    return 0;
}

void CurlHttpStream::close() {
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
        loop->post([self = shared_from_this()] { self->teardown(); });
    }
}

std::string CurlHttpStream::errorText() const {
    std::lock_guard lock(mutex_);
    return errorText_;
}

void CurlHttpStream::setErrorText(std::string text) {
    std::lock_guard lock(mutex_);
    errorText_ = std::move(text);
}

void CurlHttpStream::attach() {
    if (attached_ || closed_.load()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        ownLoop_ = loop_.get();
    }
    attached_ = true;
    // The source holds the stream until teardown removes it; at the loop's
    // shutdown it tears the stream down on the loop's thread.
    dispatchSource_ = ownLoop_->addSignalledSource(
        [self = shared_from_this()] { self->onDispatch(); }, [this] { teardown(); });
    if (dispatchSource_ == 0) {
        tornDown_ = true;  // the loop is already shut down
        return;
    }
    startIfReady();
}

void CurlHttpStream::startIfReady() {
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

void CurlHttpStream::startTransfer() {
    const Options& options = options_;
    CurlTransfer::Settings settings;
    settings.url = url_.string();
    settings.maxRedirects = kMaxRedirects;
    settings.connectTimeout =
        std::chrono::milliseconds(std::lround(options.connectTimeout.count() * 1000));
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
    option(CURLOPT_WRITEFUNCTION, &CurlHttpStream::curlWriteCallback);
    option(CURLOPT_WRITEDATA, this);
    option(CURLOPT_HTTP200ALIASES, aliases_);
    option(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    if (set != CURLE_OK) {
        fail(std::string("The network library refused a setting: ") + curl_easy_strerror(set));
        return;
    }
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlHttpStream::curlSocketCallback);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlHttpStream::curlTimerCallback);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);

    curlTimer_ = ownLoop_->addTimer([this] {
        const RunLoop::Clock::time_point at = RunLoop::Clock::now();
        if (const std::uint64_t taken = socketAction(CURL_SOCKET_TIMEOUT, 0); taken > 0) {
            afterRead(CURL_SOCKET_BAD, taken, at, false);
        }
    });
    stallTimer_ = ownLoop_->addTimer([this] { checkStall(); });
    stallSeconds_ = options.stallTimeout.count();
    lastProgress_ = RunLoop::Clock::now();
    ownLoop_->armTimer(stallTimer_, RunLoop::Seconds(stallSeconds_));
    batchTimer_ = ownLoop_->addTimer([this] { endBatch(); });
    batching_.emplace(options.readBatchInterval.count());
    batching_->restart(lastProgress_);

    // Adding the handle asks, through the timer callback, for a first
    // socket action on the next pass: the transfer starts there.
    const CURLMcode added = curl_multi_add_handle(multi_, easy_);
    if (added != CURLM_OK) {
        fail(std::string("The network library could not start a transfer: ") +
             curl_multi_strerror(added));
    }
}

void CurlHttpStream::finishTransfer(CURLcode result) {
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

void CurlHttpStream::noteDeclaredLength() {
    const std::optional<std::uint64_t> length = transfer_.declaredLength();
    std::lock_guard lock(mutex_);
    declaredLength_ = length;
}

void CurlHttpStream::fail(std::string text) {
    if (transferDone_ || transferFailed_) {
        return;
    }
    transferFailed_ = true;
    setErrorText(std::move(text));
    stopTransfer();
    signalDispatch();
}

// Never called from inside a libcurl callback.
void CurlHttpStream::stopTransfer() {
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

void CurlHttpStream::teardown() {
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

void CurlHttpStream::signalDispatch() {
    if (dispatchSource_ != 0) {
        ownLoop_->signal(dispatchSource_);
    }
}

// The stream's work on one pass of the loop: resume a paused transfer whose
// buffer has drained, then report at most one event.
void CurlHttpStream::onDispatch() {
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

    Listener* listener = nullptr;
    {
        std::lock_guard lock(mutex_);
        listener = listener_;
    }
    const bool offering = offerPending_ && listener != nullptr;
    if (offering && !buffer_.empty()) {
        offerPending_ = false;
        readSinceOffer_ = false;
        deliver(listener, Event::bytesAvailable);
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
        deliver(listener, Event::end);
    } else if (transferFailed_) {
        terminalReported_ = true;
        deliver(listener, Event::error);
    }
}

void CurlHttpStream::deliver(Listener* listener, Event event) {
    if (listener == nullptr || closed_.load()) {
        return;
    }
    // From here the dispatch has begun: a close that returns meanwhile does
    // not stop it, and this reference keeps the stream alive through it.
    const std::shared_ptr<CurlHttpStream> hold = shared_from_this();
    delivering_ = true;
    listener->onStreamEvent(*this, event);
    delivering_ = false;
}

void CurlHttpStream::resume() {
    paused_ = false;
    lastProgress_ = RunLoop::Clock::now();
    // The time spent paused says nothing about the stream's rate: judge it
    // afresh.
    batching_->restart(lastProgress_);
    ownLoop_->armTimer(stallTimer_, RunLoop::Seconds(stallSeconds_));
    // May call the write callback at once, which may pause again.
    const CURLcode resumed = curl_easy_pause(easy_, CURLPAUSE_CONT);
    if (resumed != CURLE_OK) {
        fail(std::string("The transfer could not be resumed: ") + curl_easy_strerror(resumed));
    }
}

void CurlHttpStream::checkStall() {
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
        ownLoop_->armTimer(stallTimer_, RunLoop::Seconds(stallSeconds_ - idle));
        return;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", stallSeconds_);
    fail(std::string("The server sent no data for ") + seconds + " seconds.");
}

void CurlHttpStream::drainMultiInfo() {
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

void CurlHttpStream::onSocketReady(curl_socket_t socket, short revents) {
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
std::uint64_t CurlHttpStream::socketAction(curl_socket_t socket, int mask) {
    const std::uint64_t before = bodyBytes_;
    int running = 0;
    curl_multi_socket_action(multi_, socket, mask, &running);
    drainMultiInfo();
    return bodyBytes_ - before;
}

// Notes a read that took `taken` body bytes at `at` and decides, when it was
// a read of `socket` (not of libcurl's timer), whether to leave that socket
// unwatched for reading for a batching interval.
void CurlHttpStream::afterRead(curl_socket_t socket, std::uint64_t taken,
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
    ownLoop_->armTimer(batchTimer_, RunLoop::Seconds(batching_->interval()));
}

// Ends the batching delay: the socket is watched for what libcurl asked for
// again, and what arrived meanwhile is read at once rather than after one
// more pass of the loop.
void CurlHttpStream::endBatch() {
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

void CurlHttpStream::updateSocket(curl_socket_t socket, int what) {
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
    sockets_[socket] = {
        ownLoop_->addFdWatch(socket, events,
                             [this, socket](short revents) { onSocketReady(socket, revents); }),
        events};
}

std::size_t CurlHttpStream::onWrite(const char* data, std::size_t bytes) {
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

int CurlHttpStream::curlSocketCallback(CURL* /*easy*/, curl_socket_t socket, int what, void* self,
                                       void* /*socketData*/) {
    static_cast<CurlHttpStream*>(self)->updateSocket(socket, what);
    return 0;
}

int CurlHttpStream::curlTimerCallback(CURLM* /*multi*/, long timeoutMs, void* self) {
    auto* stream = static_cast<CurlHttpStream*>(self);
    if (timeoutMs < 0) {
        stream->ownLoop_->disarmTimer(stream->curlTimer_);
    } else {
        stream->ownLoop_->armTimer(stream->curlTimer_, std::chrono::milliseconds(timeoutMs));
    }
    return 0;
}

std::size_t CurlHttpStream::curlWriteCallback(char* data, std::size_t size, std::size_t count,
                                              void* self) {
    return static_cast<CurlHttpStream*>(self)->onWrite(data, size * count);
}

}  // namespace orvento
