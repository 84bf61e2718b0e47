// An HTTP stream whose operations pass HookedServices's hooks: what
// HookedServices::makeHttpStream returns around the real stream.
//
// Each operation is one ServiceCall (its `stream` is this object) with the
// ServiceOp it stands for: open HttpStreamOpen,
// setListener HttpStreamSetListener, schedule HttpStreamSchedule,
// read HttpStreamRead, close HttpStreamClose, the destructor
// HttpStreamDestroy. A faked read returns the faked status as its count, a
// negative one as a failed read; a faked open fails. errorText(),
// declaredLength(), batchingDelays() and bufferedBytes() are not hooked.
//
// The listener passes HookedServices::interpose first. It is then called with
// a stream whose reads pass the hooks as this object's do, and which stays
// usable for the whole call even when another thread destroys this object
// meanwhile (HttpStream.h, "Ownership"). The contracts are HttpStream's.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/net/HttpStream.h"

namespace orvento {

class HookedServices;

class HookedHttpStream final : public HttpStream {
  public:
    HookedHttpStream(HookedServices& platform, std::unique_ptr<HttpStream> stream);
    ~HookedHttpStream() override;
    HookedHttpStream(const HookedHttpStream&) = delete;
    HookedHttpStream& operator=(const HookedHttpStream&) = delete;

    bool open() override;
    void setListener(Listener* listener) override;
    void schedule(RunLoop& loop) override;
    std::optional<std::size_t> read(std::span<std::byte> buffer) override;
    void close() override;
    std::string errorText() const override;
    std::optional<std::uint64_t> declaredLength() const override;
    std::uint64_t batchingDelays() const override;
    std::size_t bufferedBytes() const override;

  private:
    class Relay;
    class EventStream;

    // A read of `stream` between the hooks, as a call about `id`.
    static std::optional<std::size_t> hookedRead(HookedServices& platform, HttpStream& stream,
                                                 const HttpStream* id, std::span<std::byte> buffer);

    HookedServices& platform_;
    std::unique_ptr<HttpStream> stream_;
    // Passes the stream's events to the engine's listener. Shared so that it
    // outlives, on the owning thread, an event whose dispatch began before
    // this object went.
    std::shared_ptr<Relay> relay_;
    std::shared_ptr<RunLoop> loop_;  // set by schedule
};

}  // namespace orvento
