#include "tests/engine/player/HookedHttpStream.h"

#include <utility>

#include "tests/engine/player/HookedServices.h"

namespace orvento {

// The stream an event carries to the engine's listener: the stream the event
// was dispatched for (alive through the call), read through the hooks. Lives
// on the stack of one listener call.
class HookedHttpStream::EventStream final : public HttpStream {
  public:
    EventStream(HookedServices& platform, HttpStream& stream, const HttpStream* id)
        : platform_(platform), stream_(stream), id_(id) {}

    bool open() override { return stream_.open(); }
    void setListener(Listener* listener) override { stream_.setListener(listener); }
    void schedule(RunLoop& loop) override { stream_.schedule(loop); }
    std::optional<std::size_t> read(std::span<std::byte> buffer) override {
        return hookedRead(platform_, stream_, id_, buffer);
    }
    void close() override { stream_.close(); }
    std::string errorText() const override { return stream_.errorText(); }
    std::optional<std::uint64_t> declaredLength() const override {
        return stream_.declaredLength();
    }
    std::uint64_t batchingDelays() const override { return stream_.batchingDelays(); }
    std::size_t bufferedBytes() const override { return stream_.bufferedBytes(); }

  private:
    HookedServices& platform_;
    HttpStream& stream_;
    const HttpStream* const id_;
};

class HookedHttpStream::Relay final : public HttpStream::Listener {
  public:
    Relay(HookedServices& platform, Listener* engine, const HttpStream* id)
        : platform_(platform), engine_(engine), id_(id) {}

    void onStreamEvent(HttpStream& stream, Event event) override {
        EventStream hooked(platform_, stream, id_);
        engine_->onStreamEvent(hooked, event);
    }

  private:
    HookedServices& platform_;
    Listener* const engine_;
    const HttpStream* const id_;  // identifies the stream in the calls; never dereferenced
};

HookedHttpStream::HookedHttpStream(HookedServices& platform, std::unique_ptr<HttpStream> stream)
    : platform_(platform), stream_(std::move(stream)) {}

HookedHttpStream::~HookedHttpStream() {
    ServiceCall call{ServiceOp::HttpStreamDestroy};
    call.stream = this;
    platform_.unfakeable(call, [&] {
        stream_.reset();  // closes it
        // An event whose dispatch began before the close may still be on its
        // way to the relay on the owning thread: the relay goes there, after it.
        if (relay_ && loop_ && !loop_->isCurrent()) {
            loop_->post([relay = std::move(relay_)] {});
        }
        relay_.reset();
    });
}

bool HookedHttpStream::open() {
    ServiceCall call{ServiceOp::HttpStreamOpen};
    call.stream = this;
    const bool opened = !platform_.before(call) && stream_->open();
    platform_.after(call, opened ? kSuccess : 1);
    return opened;
}

void HookedHttpStream::setListener(Listener* listener) {
    ServiceCall call{ServiceOp::HttpStreamSetListener};
    call.stream = this;
    if (platform_.before(call)) {
        platform_.after(call, 1);
        return;
    }
    std::shared_ptr<Relay> relay;
    if (listener != nullptr) {
        platform_.interpose(listener);
        relay = std::make_shared<Relay>(platform_, listener, this);
    }
    stream_->setListener(relay.get());
    // A relay replaced on another thread than the owning one may still be in
    // a dispatch: it goes on the owning thread.
    if (relay_ && loop_ && !loop_->isCurrent()) {
        loop_->post([old = std::move(relay_)] {});
    }
    relay_ = std::move(relay);
    platform_.after(call, kSuccess);
}

void HookedHttpStream::schedule(RunLoop& loop) {
    ServiceCall call{ServiceOp::HttpStreamSchedule};
    call.stream = this;
    platform_.unfakeable(call, [&] {
        if (!loop_) {
            loop_ = loop.shared_from_this();
        }
        stream_->schedule(loop);
    });
}

std::optional<std::size_t> HookedHttpStream::read(std::span<std::byte> buffer) {
    return hookedRead(platform_, *stream_, this, buffer);
}

std::optional<std::size_t> HookedHttpStream::hookedRead(HookedServices& platform,
                                                        HttpStream& stream, const HttpStream* id,
                                                        std::span<std::byte> buffer) {
    ServiceCall call{ServiceOp::HttpStreamRead};
    call.stream = id;
    const std::optional<StatusCode> faked = platform.before(call);
    StatusCode result = -1;
    if (faked) {
        result = *faked;
    } else if (const std::optional<std::size_t> count = stream.read(buffer)) {
        result = static_cast<StatusCode>(*count);
    }
    platform.after(call, result);
    if (result < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(result);
}

void HookedHttpStream::close() {
    ServiceCall call{ServiceOp::HttpStreamClose};
    call.stream = this;
    platform_.unfakeable(call, [&] { stream_->close(); });
}

std::string HookedHttpStream::errorText() const {
    return stream_->errorText();
}

std::optional<std::uint64_t> HookedHttpStream::declaredLength() const {
    return stream_->declaredLength();
}

std::uint64_t HookedHttpStream::batchingDelays() const {
    return stream_->batchingDelays();
}

std::size_t HookedHttpStream::bufferedBytes() const {
    return stream_->bufferedBytes();
}

}  // namespace orvento
