// A streaming parser behind HookedServices's hooks: each of its operations
// passes before() and after() with the ServiceOp it stands for
// (see HookedServices::makeStreamParser), and its listener passes
// interpose() when it is made. Otherwise it is the parser it wraps.
#pragma once

#include <memory>

#include "engine/demux/StreamParser.h"
#include "tests/engine/player/HookedServices.h"

namespace orvento {

class HookedParser final : public StreamParser {
  public:
    // What HookedServices::makeStreamParser returns.
    static StreamParserCreation open(HookedServices& platform, StreamParser::Listener& listener,
                                     AudioFileType hint);

    HookedParser(HookedServices& platform, std::unique_ptr<StreamParser> parser);
    // AudioFileStreamClose: destroys the parser between the hooks, whatever
    // before() says.
    ~HookedParser() override;
    HookedParser(const HookedParser&) = delete;
    HookedParser& operator=(const HookedParser&) = delete;

    ParserError feed(std::span<const std::byte> bytes, Continuity continuity) override;
    ParserResult<AudioFileType> fileFormat() const override;
    ParserResult<AudioFormat> dataFormat() const override;
    ParserResult<std::span<const std::uint8_t>> magicCookie() const override;
    bool readyToProducePackets() const override { return parser_->readyToProducePackets(); }
    ParserDiagnostics diagnostics() const override { return parser_->diagnostics(); }

  private:
    template <typename T, typename Getter>
    ParserResult<T> get(StreamProperty property, Getter&& getter) const;

    HookedServices& platform_;
    std::unique_ptr<StreamParser> parser_;  // null once destroyed
};

}  // namespace orvento
