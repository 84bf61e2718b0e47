#include "tests/engine/player/HookedParser.h"

#include <utility>

namespace orvento {

StreamParserCreation HookedParser::open(HookedServices& platform, StreamParser::Listener& listener,
                                        AudioFileType hint) {
    ServiceCall call{ServiceOp::AudioFileStreamOpen, static_cast<std::uint32_t>(hint)};
    const std::optional<StatusCode> faked = platform.before(call);
    if (faked && *faked != kSuccess) {
        platform.after(call, *faked);
        return {nullptr, static_cast<ParserError>(*faked)};
    }
    StreamParser::Listener* heard = &listener;
    platform.interpose(heard);
    auto parser = std::make_unique<HookedParser>(platform, makeStreamParser(*heard, hint));
    call.parser = parser.get();
    platform.after(call, kSuccess);
    return {std::move(parser), ParserError::None};
}

HookedParser::HookedParser(HookedServices& platform, std::unique_ptr<StreamParser> parser)
    : platform_(platform), parser_(std::move(parser)) {}

HookedParser::~HookedParser() {
    ServiceCall call{ServiceOp::AudioFileStreamClose, 0, this};
    platform_.unfakeable(call, [&] { parser_.reset(); });
}

ParserError HookedParser::feed(std::span<const std::byte> bytes, Continuity continuity) {
    ServiceCall call{ServiceOp::AudioFileStreamParseBytes, static_cast<std::uint32_t>(continuity),
                     this};
    return platform_.hooked<ParserError>(call, [&] { return parser_->feed(bytes, continuity); });
}

template <typename T, typename Getter>
ParserResult<T> HookedParser::get(StreamProperty property, Getter&& getter) const {
    ServiceCall call{ServiceOp::AudioFileStreamGetProperty, static_cast<std::uint32_t>(property),
                     this};
    if (const std::optional<StatusCode> faked = platform_.before(call);
        faked && *faked != kSuccess) {
        platform_.after(call, *faked);
        return static_cast<ParserError>(*faked);
    }
    ParserResult<T> result = getter();
    platform_.after(call, result ? kSuccess : static_cast<StatusCode>(result.error()));
    return result;
}

ParserResult<AudioFileType> HookedParser::fileFormat() const {
    return get<AudioFileType>(StreamProperty::FileFormat, [&] { return parser_->fileFormat(); });
}

ParserResult<AudioFormat> HookedParser::dataFormat() const {
    return get<AudioFormat>(StreamProperty::DataFormat, [&] { return parser_->dataFormat(); });
}

ParserResult<std::span<const std::uint8_t>> HookedParser::magicCookie() const {
    return get<std::span<const std::uint8_t>>(StreamProperty::MagicCookie,
                                              [&] { return parser_->magicCookie(); });
}

}  // namespace orvento
